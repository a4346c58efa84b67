#include "backup_manifest.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>

#include "zip_format.h"

namespace kivo {
namespace {

constexpr std::string_view kMagic = "kivo backup manifest\n";

// CRC-32 as the stores use it, by zlib's faster table.
uint32_t Checksum(std::string_view text) {
    return zip::Crc32(text.data(), text.size());
}

bool NeedsEscape(unsigned char c) {
    return c < 0x21 || c == 0x7F || c == '%';
}

void AppendEscaped(std::string& out, unsigned char c) {
    static const char kHex[] = "0123456789ABCDEF";
    if (NeedsEscape(c)) {
        out += '%';
        out += kHex[c >> 4];
        out += kHex[c & 15];
    } else {
        out += char(c);
    }
}

// UTF-8 of a code point; for UTF-16 this is WTF-8, which keeps even a lone surrogate.
void AppendCodePoint(std::string& out, uint32_t cp) {
    auto add = [&](uint32_t byte) { AppendEscaped(out, static_cast<unsigned char>(byte)); };
    if (cp < 0x80) {
        add(cp);
    } else if (cp < 0x800) {
        add(0xC0 | (cp >> 6)), add(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        add(0xE0 | (cp >> 12)), add(0x80 | ((cp >> 6) & 0x3F)), add(0x80 | (cp & 0x3F));
    } else {
        add(0xF0 | (cp >> 18)), add(0x80 | ((cp >> 12) & 0x3F)), add(0x80 | ((cp >> 6) & 0x3F));
        add(0x80 | (cp & 0x3F));
    }
}

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// A path or text as Text writes it: nothing that needs escaping stands bare, every % starts an escape.
bool WellEscaped(std::string_view text) {
    for (size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size() || !IsHex(text[i + 1]) || !IsHex(text[i + 2])) return false;
            i += 2;
        } else if (NeedsEscape(c)) {
            return false;
        }
    }
    return true;
}

std::string Hex8(uint32_t value) {
    char buffer[9];
    std::snprintf(buffer, sizeof buffer, "%08X", unsigned(value));
    return buffer;
}

// Decimal numbers exactly as Text writes them: no sign on unsigned values, no leading zeros.
template <class T>
bool ParseNumber(std::string_view text, T& out) {
    if (text.empty() || text.front() == '+' || (text.size() > 1 && text.front() == '0') ||
        text.substr(0, 2) == "-0")
        return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
    return error == std::errc() && end == text.data() + text.size();
}

bool ParseHex8(std::string_view text, uint32_t& out) {
    if (text.size() != 8 || !std::all_of(text.begin(), text.end(), IsHex)) return false;
    auto [end, error] = std::from_chars(text.data(), text.data() + 8, out, 16);
    return error == std::errc() && end == text.data() + 8;
}

// The next line of text without its '\n'; false at the end or before an unterminated line.
bool NextLine(std::string_view& text, std::string_view& line) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;
    line = text.substr(0, end);
    text.remove_prefix(end + 1);
    return true;
}

int HexValue(char c) {
    return c <= '9' ? c - '0' : c - 'A' + 10;
}

// The bytes of well-escaped text.
std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%') {
            out += char(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

bool Field(std::string_view line, std::string_view key, std::string_view& value) {
    if (line.substr(0, key.size()) != key || line.size() <= key.size() || line[key.size()] != '=')
        return false;
    value = line.substr(key.size() + 1);
    return true;
}

bool ParseEntry(std::string_view line, ManifestEntry& out) {
    std::string_view fields[5];
    for (int i = 0; i < 5; ++i) {
        const size_t tab = line.find('\t');
        if ((tab == std::string_view::npos) != (i == 4)) return false;
        fields[i] = line.substr(0, tab);
        if (tab != std::string_view::npos) line.remove_prefix(tab + 1);
    }
    if (fields[0].empty() || !WellEscaped(fields[0])) return false;
    out.path = std::string(fields[0]);
    if (!ParseNumber(fields[1], out.size) || !ParseNumber(fields[2], out.writeTicks)) return false;
    if (fields[3] == "none") {
        out.changeTicks = 0;
    } else if (!ParseNumber(fields[3], out.changeTicks) || out.changeTicks == 0) {
        return false;
    }
    return ParseHex8(fields[4], out.crc);
}

}  // namespace

std::string EscapeManifestText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) AppendEscaped(out, static_cast<unsigned char>(c));
    return out;
}

std::string ManifestPath(const fs::NativeString& relative) {
    constexpr auto kSeparator = std::filesystem::path::preferred_separator;
    std::string out;
    out.reserve(relative.size() + 8);
    if constexpr (sizeof(fs::NativeString::value_type) == 1) {
        for (auto c : relative) {
            if (c == kSeparator) {
                out += '/';
            } else {
                AppendEscaped(out, static_cast<unsigned char>(c));
            }
        }
    } else {
        for (size_t i = 0; i < relative.size(); ++i) {
            uint32_t unit = static_cast<uint32_t>(relative[i]) & 0xFFFF;
            if (unit == uint32_t(kSeparator)) {
                out += '/';
                continue;
            }
            if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < relative.size()) {
                const uint32_t low = static_cast<uint32_t>(relative[i + 1]) & 0xFFFF;
                if (low >= 0xDC00 && low < 0xE000) {
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    ++i;
                }
            }
            AppendCodePoint(out, unit);
        }
    }
    return out;
}

bool SameAsRecorded(const ManifestEntry& recorded, const fs::Facts& now) {
    return recorded.size == now.size && recorded.writeTicks == now.writeTicks &&
           recorded.changeTicks == now.changeTicks;
}

size_t BackupManifest::Add(ManifestEntry entry) {
    m_entries.push_back(std::move(entry));
    m_dropped.push_back(false);
    return m_entries.size() - 1;
}

void BackupManifest::Drop(size_t index) {
    if (index < m_dropped.size()) m_dropped[index] = true;
}

std::string BackupManifest::Text() const {
    const size_t kept = size_t(std::count(m_dropped.begin(), m_dropped.end(), false));
    std::string out(kMagic);
    out.reserve(kept * 80 + 256);
    out += "version=" + std::to_string(kManifestVersion) + "\n";
    out += "clock=";
    out += fs::kClockName;
    out += "\nsource=" + EscapeManifestText(m_source) + "\n";
    out += "files=" + std::to_string(kept) + "\n";
    for (size_t i = 0; i < m_entries.size(); ++i) {
        if (m_dropped[i]) continue;
        const ManifestEntry& e = m_entries[i];
        out += e.path;
        out += '\t';
        out += std::to_string(e.size);
        out += '\t';
        out += std::to_string(e.writeTicks);
        out += '\t';
        out += e.changeTicks ? std::to_string(e.changeTicks) : std::string("none");
        out += '\t';
        out += Hex8(e.crc);
        out += '\n';
    }
    out += "crc=" + Hex8(Checksum(out)) + "\n";
    return out;
}

ManifestProblem BackupManifest::Parse(std::string_view text, BackupManifest& out) {
    out = BackupManifest();
    if (text.substr(0, kMagic.size()) != kMagic) return ManifestProblem::Damaged;
    std::string_view rest = text.substr(kMagic.size()), line, value;
    // The version first: a newer layout may differ in everything after it, even in its checksum.
    int version = 0;
    if (!NextLine(rest, line) || !Field(line, "version", value) || !ParseNumber(value, version) ||
        version < 1)
        return ManifestProblem::Damaged;
    if (version > kManifestVersion) return ManifestProblem::Newer;

    if (text.empty() || text.back() != '\n') return ManifestProblem::Damaged;
    const size_t last = text.find_last_of('\n', text.size() - 2);
    uint32_t crc = 0;
    if (last == std::string_view::npos ||
        !Field(text.substr(last + 1, text.size() - last - 2), "crc", value) || !ParseHex8(value, crc) ||
        Checksum(text.substr(0, last + 1)) != crc) {
        return ManifestProblem::Damaged;
    }
    const size_t bodyStart = size_t(rest.data() - text.data());
    rest = text.substr(bodyStart, last + 1 - bodyStart);

    if (!NextLine(rest, line) || !Field(line, "clock", value)) return ManifestProblem::Damaged;
    if (value != fs::kClockName) return ManifestProblem::OtherClock;
    BackupManifest parsed;
    uint64_t files = 0;
    if (!NextLine(rest, line) || !Field(line, "source", value) || !WellEscaped(value))
        return ManifestProblem::Damaged;
    parsed.m_source = Unescape(value);
    if (!NextLine(rest, line) || !Field(line, "files", value) || !ParseNumber(value, files) ||
        files > rest.size() / 10) {
        return ManifestProblem::Damaged;
    }
    parsed.m_entries.reserve(size_t(files));
    ManifestEntry entry;
    while (NextLine(rest, line)) {
        if (!ParseEntry(line, entry)) return ManifestProblem::Damaged;
        parsed.m_entries.push_back(std::move(entry));
    }
    if (!rest.empty() || parsed.m_entries.size() != files) return ManifestProblem::Damaged;
    std::sort(parsed.m_entries.begin(), parsed.m_entries.end(),
              [](const ManifestEntry& a, const ManifestEntry& b) { return a.path < b.path; });
    if (std::adjacent_find(parsed.m_entries.begin(), parsed.m_entries.end(),
                           [](const ManifestEntry& a, const ManifestEntry& b) { return a.path == b.path; }) !=
        parsed.m_entries.end()) {
        return ManifestProblem::Damaged;
    }
    parsed.m_dropped.assign(parsed.m_entries.size(), false);
    out = std::move(parsed);
    return ManifestProblem::None;
}

const ManifestEntry* BackupManifest::Find(std::string_view path) const {
    auto it = std::lower_bound(m_entries.begin(), m_entries.end(), path,
                               [](const ManifestEntry& e, std::string_view p) { return e.path < p; });
    return it != m_entries.end() && it->path == path ? &*it : nullptr;
}

}  // namespace kivo
