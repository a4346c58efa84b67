#include "run_text.h"

#include <cstdio>

#include "history_text.h"
#include "utf8_text.h"

namespace kivo {

std::string ReasonText(const fs::Status& status) {
    switch (status.error) {
        case fs::Error::None:
            return "成功";
        case fs::Error::NotFound:
            return "文件不存在";
        case fs::Error::AccessDenied:
            return "拒绝访问";
        case fs::Error::Locked:
            return "文件被其他程序占用";
        case fs::Error::DiskFull:
            return "磁盘空间不足";
        case fs::Error::IsLink:
            return "是链接, 不跟随";
        case fs::Error::NotDirectory:
            return "不是目录";
        case fs::Error::IsDirectory:
            return "是目录";
        case fs::Error::Exists:
            return "已存在";
        case fs::Error::NotEmpty:
            return "目录不为空";
        case fs::Error::NameInvalid:
            return "名称无效";
        case fs::Error::NotSupported:
            return "所在的卷不支持此操作";
        case fs::Error::TooManyLinks:
            return "硬链接数已达上限";
        case fs::Error::Io:
            break;
    }
    return "读写错误 (系统代码 " + std::to_string(status.code) + ")";
}

std::string LogPath(std::string_view rootGbk, const fs::NativeString& relative) {
    std::string out;
    AppendLogPath(out, rootGbk, relative);
    return out;
}

// Without a path object or a conversion for the common case: a clean records every file it deletes.
void AppendLogPath(std::string& out, std::string_view rootGbk, const fs::NativeString& relative) {
    out += rootGbk;
    if (relative.empty()) return;
#ifdef _WIN32
    const char separator = '\\';
#else
    const char separator = '/';
#endif
    if (!rootGbk.empty() && rootGbk.back() != separator && rootGbk.back() != '/') out += separator;
    HistoryText::AppendExactName(out, [&](std::string& text) { fs::AppendUtf8ForLog(text, relative); });
}

std::string ExactName(std::string_view utf8) {
    std::string out;
    HistoryText::AppendExactName(out, [&](std::string& text) { AppendValidUtf8(text, utf8); });
    return out;
}

std::string Decimal(uint64_t value) {
    return std::to_string(value);
}

void AppendCivilTime(std::string& out, const fs::CivilTime& t) {
    if (t.year < 0 || t.year > 9999) {
        char wide[64];
        std::snprintf(wide, sizeof wide, "%d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                      t.minute, t.second);
        out += wide;
        return;
    }
    // By hand: this runs once for every file a clean deletes.
    char text[] = "0000-00-00 00:00:00";
    auto put = [&](int at, int value, int digits) {
        for (int i = at + digits - 1; i >= at; --i, value /= 10) text[i] = char('0' + value % 10);
    };
    put(0, t.year, 4), put(5, t.month, 2), put(8, t.day, 2);
    put(11, t.hour, 2), put(14, t.minute, 2), put(17, t.second, 2);
    out.append(text, sizeof text - 1);
}

fs::NativeString JoinNative(const fs::NativeString& relative, const fs::NativeString& name) {
    if (relative.empty()) return name;
    fs::NativeString out = relative;
    out += std::filesystem::path::preferred_separator;
    out += name;
    return out;
}

}  // namespace kivo
