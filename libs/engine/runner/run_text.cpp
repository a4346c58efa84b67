#include "run_text.h"

#include "shared_files.h"
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
    std::string out(rootGbk);
    if (relative.empty()) return out;
#ifdef _WIN32
    const char separator = '\\';
#else
    const char separator = '/';
#endif
    if (!out.empty() && out.back() != separator && out.back() != '/') out += separator;
    return out + fs::GbkForLog(std::filesystem::path(relative));
}

std::string GbkFromUtf8Lossy(std::string_view utf8) {
    if (auto all = shared::GbkFromUtf8(utf8)) return *all;
    std::string out;
    size_t pos = 0;
    while (pos < utf8.size()) {
        size_t start = pos;
        if (!NextCodePoint(utf8, pos)) {
            out += '?';
            pos = start + 1;
            continue;
        }
        auto one = shared::GbkFromUtf8(utf8.substr(start, pos - start));
        out += one ? *one : std::string("?");
    }
    return out;
}

std::string Decimal(uint64_t value) {
    return std::to_string(value);
}

fs::NativeString JoinNative(const fs::NativeString& relative, const fs::NativeString& name) {
    if (relative.empty()) return name;
    fs::NativeString out = relative;
    out += std::filesystem::path::preferred_separator;
    out += name;
    return out;
}

}  // namespace kivo
