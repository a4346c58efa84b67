#include "entry_name.h"

#include <algorithm>
#include <array>

#include "utf8_text.h"

namespace kivo {
namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

// Windows device names, also when followed by an extension ("nul.txt") or blanks.
bool IsReservedName(std::string_view segment) {
    std::string base(segment.substr(0, segment.find('.')));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    std::transform(base.begin(), base.end(), base.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; });
    static constexpr std::array<std::string_view, 6> kPlain = {"CON", "PRN",    "AUX",
                                                               "NUL", "CONIN$", "CONOUT$"};
    if (std::find(kPlain.begin(), kPlain.end(), base) != kPlain.end()) return true;
    if (base.size() >= 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
        std::string_view digit = std::string_view(base).substr(3);
        if (digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') return true;
        // COM¹, COM², COM³ (superscript digits) are devices too.
        if (digit == "\xC2\xB9" || digit == "\xC2\xB2" || digit == "\xC2\xB3") return true;
    }
    return false;
}

}  // namespace

const char* CheckEntryName(std::string_view name, EntryPath& out) {
    out = {};
    if (name.empty()) return "名称为空";
    if (!IsValidUtf8(name)) return "名称不是有效的 UTF-8";
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return "名称含控制字符";
    }
    if (name.size() >= 2 && IsSeparator(name[0]) && IsSeparator(name[1])) return "是 UNC 或设备路径";
    if (IsSeparator(name[0])) return "是绝对路径";
    if (name.size() >= 2 && name[1] == ':' &&
        ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'))) {
        return "含驱动器号";
    }
    if (name.find(':') != std::string_view::npos) return "含冒号 (备用数据流)";

    out.directory = IsSeparator(name.back());
    std::string_view rest = out.directory ? name.substr(0, name.size() - 1) : name;
    size_t start = 0;
    for (;;) {
        size_t end = start;
        while (end < rest.size() && !IsSeparator(rest[end])) ++end;
        std::string_view segment = rest.substr(start, end - start);
        if (segment.empty()) return "含空的路径段";
        if (segment == "..") return "含 .. 路径段";
        if (segment == ".") return "含 . 路径段";
        if (segment.back() == '.' || segment.back() == ' ') return "以点或空格结尾";
        if (segment.find_first_of("<>\"|?*") != std::string_view::npos) return "含 Windows 不允许的字符";
        if (IsReservedName(segment)) return "是保留的设备名";
        out.parts.emplace_back(segment);
        if (end == rest.size()) break;
        start = end + 1;
    }
    return nullptr;
}

}  // namespace kivo
