#include "installation_id.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "shared_files.h"

namespace kivo {
namespace {

constexpr std::string_view kHead = "kivo installation\nid=";
constexpr size_t kIdLength = 32;

std::string FileText(const std::string& id) {
    return std::string(kHead) + id + "\n";
}

enum class Read { Missing, Unreadable, Damaged, Good };

Read ReadId(const std::filesystem::path& file, std::string& id) {
    std::error_code ec;
    const bool exists = std::filesystem::exists(file, ec);
    if (ec) return Read::Unreadable;
    if (!exists) return Read::Missing;
    std::string text;
    if (!shared::ReadWholeFile(file, text)) return Read::Unreadable;
    if (text.size() != kHead.size() + kIdLength + 1 || text.compare(0, kHead.size(), kHead) != 0 ||
        text.back() != '\n' || !IsInstallationId(std::string_view(text).substr(kHead.size(), kIdLength)))
        return Read::Damaged;
    id = text.substr(kHead.size(), kIdLength);
    return Read::Good;
}

std::optional<std::string> NewId(const std::function<bool(void*, size_t)>& random) {
    unsigned char bytes[kIdLength / 2];
    if (!random || !random(bytes, sizeof bytes)) return std::nullopt;
    static const char kHex[] = "0123456789abcdef";
    std::string id;
    for (unsigned char b : bytes) {
        id += kHex[b >> 4];
        id += kHex[b & 15];
    }
    return id;
}

}  // namespace

bool IsInstallationId(std::string_view text) {
    return text.size() == kIdLength && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

InstallationIdentity LoadInstallationId(const std::filesystem::path& folder,
                                        const std::function<bool(void*, size_t)>& random) {
    const std::filesystem::path file = folder / "installation.id", mirror = folder / "installation.bak";
    InstallationIdentity out;
    std::string id, mirrored;
    const Read primary = ReadId(file, id);
    const Read copy = ReadId(mirror, mirrored);
    if (primary == Read::Good) {
        if (copy != Read::Good || mirrored != id) shared::AtomicWriteFile(mirror, FileText(id));
        out.id = id;
        return out;
    }
    if (primary == Read::Damaged) {
        std::string text;
        shared::ReadWholeFile(file, text);
        std::filesystem::path kept = file;
        kept += ".damaged";
        shared::AtomicWriteFile(kept, text);
    }
    if (copy == Read::Good) {
        // An unreadable file is left alone: what is wrong with it is not ours to overwrite.
        if (primary != Read::Unreadable) shared::AtomicWriteFile(file, FileText(mirrored));
        if (primary == Read::Damaged)
            out.logLines.push_back("本机安装标识文件 installation.id 已损坏，已从副本恢复");
        out.id = mirrored;
        return out;
    }
    if (primary == Read::Unreadable || copy == Read::Unreadable) {
        out.logLines.push_back(
            "错误：无法读取本机安装标识文件 installation.id，本次备份不标注安装标识，也只清理未标注的旧备份");
        return out;
    }
    const std::optional<std::string> made = NewId(random);
    if (!made || !shared::AtomicWriteFile(file, FileText(*made))) {
        out.logLines.push_back(
            "错误：无法保存本机安装标识文件 installation.id，本次备份不标注安装标识，也只清理未标注的旧备份");
        return out;
    }
    shared::AtomicWriteFile(mirror, FileText(*made));
    if (primary == Read::Damaged || copy == Read::Damaged) {
        out.logLines.push_back(
            "错误：本机安装标识已损坏，已生成新的标识；带有旧标识的备份今后不会被本机自动删除，也不再用作链接"
            "的基础");
    }
    out.id = *made;
    return out;
}

}  // namespace kivo
