#include "backup_manifest.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>

#include "zip_format.h"

namespace kivo {
namespace {

constexpr std::string_view kMagic = "kivo backup manifest\n";

uint32_t Checksum(std::string_view text, uint32_t crc = 0) {
    return zip::Crc32(text.data(), text.size(), crc);
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


bool Field(std::string_view line, std::string_view key, std::string_view& value) {
    if (line.substr(0, key.size()) != key || line.size() <= key.size() || line[key.size()] != '=')
        return false;
    value = line.substr(key.size() + 1);
    return true;
}

// One entry line; its path is checked here and kept where it stands in the text.
bool ParseEntry(std::string_view line, ManifestEntry& out, int version) {
    std::string_view fields[5];
    for (int i = 0; i < 5; ++i) {
        const size_t tab = line.find('\t');
        if ((tab == std::string_view::npos) != (i == 4)) return false;
        fields[i] = line.substr(0, tab);
        if (tab != std::string_view::npos) line.remove_prefix(tab + 1);
    }
    if (fields[0].empty() || !WellEscaped(fields[0])) return false;
    out.path = fields[0];
    if (!ParseNumber(fields[1], out.size) || !ParseNumber(fields[2], out.writeTicks)) return false;
    out.settled = true;
    if (fields[3] == "none") {
        out.changeTicks = 0;
    } else if (fields[3] == "unsettled" && version >= 2) {
        out.changeTicks = 0;
        out.settled = false;
    } else if (!ParseNumber(fields[3], out.changeTicks) || out.changeTicks == 0) {
        return false;
    }
    return ParseHex8(fields[4], out.crc);
}

}  // namespace

std::string UnescapeManifestText(std::string_view text) {
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
    return recorded.settled && recorded.size == now.size && recorded.writeTicks == now.writeTicks &&
           recorded.changeTicks == now.changeTicks;
}

bool FactsSettled(const fs::Facts& facts, int64_t seen, int64_t granularity) {
    const int64_t stamp = facts.changeTicks ? facts.changeTicks : facts.writeTicks;
    return stamp <= seen - granularity;
}

size_t BackupManifest::Add(const ManifestEntry& entry) {
    Record r;
    r.pathOffset = m_paths.size();
    r.pathLength = uint32_t(entry.path.size());
    m_paths += entry.path;
    r.crc = entry.crc;
    r.size = entry.size;
    r.writeTicks = entry.writeTicks;
    r.changeTicks = entry.changeTicks;
    r.settled = entry.settled;
    m_records.push_back(r);
    return m_records.size() - 1;
}

ManifestEntry BackupManifest::At(size_t index) const {
    const Record& r = m_records[index];
    return {PathOf(r), r.size, r.writeTicks, r.changeTicks, r.crc, r.settled};
}

void BackupManifest::Drop(size_t index) {
    if (index < m_records.size() && !m_records[index].dropped) {
        m_records[index].dropped = true;
        ++m_droppedCount;
    }
}

bool BackupManifest::WriteText(const std::function<bool(std::string_view)>& out, size_t piece) const {
    std::string text(kMagic);
    text.reserve(piece + 512);
    text += "version=" + std::to_string(kManifestVersion) + "\n";
    text += "clock=";
    text += fs::kClockName;
    text += "\nsource=" + EscapeManifestText(m_source) + "\n";
    text += "files=" + std::to_string(Size()) + "\n";
    uint32_t crc = 0;
    auto hand = [&] {
        crc = Checksum(text, crc);
        const bool more = out(text);
        text.clear();
        return more;
    };
    char number[24];
    auto appendNumber = [&](auto value) {
        auto [end, error] = std::to_chars(number, number + sizeof number, value);
        text.append(number, size_t(end - number));
    };
    for (const Record& r : m_records) {
        if (r.dropped) continue;
        text += PathOf(r);
        text += '\t';
        appendNumber(r.size);
        text += '\t';
        appendNumber(r.writeTicks);
        text += '\t';
        if (!r.settled) {
            text += "unsettled";
        } else if (r.changeTicks) {
            appendNumber(r.changeTicks);
        } else {
            text += "none";
        }
        text += '\t';
        text += Hex8(r.crc);
        text += '\n';
        if (text.size() >= piece && !hand()) return false;
    }
    crc = Checksum(text, crc);
    text += "crc=" + Hex8(crc) + "\n";
    return out(text);
}

std::string BackupManifest::Text() const {
    std::string whole;
    WriteText([&](std::string_view piece) {
        whole += piece;
        return true;
    });
    return whole;
}

ManifestProblem BackupManifest::Parse(std::string text, BackupManifest& out) {
    out = BackupManifest();
    if (text.compare(0, kMagic.size(), kMagic) != 0) return ManifestProblem::Damaged;
    std::string_view all(text);
    std::string_view rest = all.substr(kMagic.size()), line, value;
    // The version first: a newer layout may differ in everything after it, even in its checksum.
    int version = 0;
    if (!NextLine(rest, line) || !Field(line, "version", value) || !ParseNumber(value, version) ||
        version < 1)
        return ManifestProblem::Damaged;
    if (version > kManifestVersion) return ManifestProblem::Newer;

    if (all.empty() || all.back() != '\n') return ManifestProblem::Damaged;
    const size_t last = all.find_last_of('\n', all.size() - 2);
    uint32_t crc = 0;
    if (last == std::string_view::npos || !Field(all.substr(last + 1, all.size() - last - 2), "crc", value) ||
        !ParseHex8(value, crc) || Checksum(all.substr(0, last + 1)) != crc) {
        return ManifestProblem::Damaged;
    }
    const size_t bodyStart = size_t(rest.data() - all.data());
    rest = all.substr(bodyStart, last + 1 - bodyStart);

    if (!NextLine(rest, line) || !Field(line, "clock", value)) return ManifestProblem::Damaged;
    if (value != fs::kClockName) return ManifestProblem::OtherClock;
    BackupManifest parsed;
    uint64_t files = 0;
    if (!NextLine(rest, line) || !Field(line, "source", value) || !WellEscaped(value))
        return ManifestProblem::Damaged;
    parsed.m_source = UnescapeManifestText(value);
    if (!NextLine(rest, line) || !Field(line, "files", value) || !ParseNumber(value, files) ||
        files > rest.size() / 10) {
        return ManifestProblem::Damaged;
    }
    parsed.m_records.reserve(size_t(files));
    ManifestEntry entry;
    while (NextLine(rest, line)) {
        if (!ParseEntry(line, entry, version)) return ManifestProblem::Damaged;
        Record r;
        r.pathOffset = uint64_t(entry.path.data() - all.data());
        r.pathLength = uint32_t(entry.path.size());
        r.crc = entry.crc;
        r.size = entry.size;
        r.writeTicks = entry.writeTicks;
        r.changeTicks = entry.changeTicks;
        r.settled = entry.settled;
        parsed.m_records.push_back(r);
    }
    if (!rest.empty() || parsed.m_records.size() != files) return ManifestProblem::Damaged;
    auto path = [&](const Record& r) { return all.substr(r.pathOffset, r.pathLength); };
    std::sort(parsed.m_records.begin(), parsed.m_records.end(),
              [&](const Record& a, const Record& b) { return path(a) < path(b); });
    if (std::adjacent_find(parsed.m_records.begin(), parsed.m_records.end(),
                           [&](const Record& a, const Record& b) { return path(a) == path(b); }) !=
        parsed.m_records.end()) {
        return ManifestProblem::Damaged;
    }
    parsed.m_paths = std::move(text);  // the records' paths are offsets into it
    parsed.m_parsed = true;
    out = std::move(parsed);
    return ManifestProblem::None;
}

std::optional<size_t> BackupManifest::Index(std::string_view path) const {
    auto it = std::lower_bound(m_records.begin(), m_records.end(), path,
                               [&](const Record& r, std::string_view p) { return PathOf(r) < p; });
    if (it == m_records.end() || PathOf(*it) != path) return std::nullopt;
    return size_t(it - m_records.begin());
}

std::optional<ManifestEntry> BackupManifest::Find(std::string_view path) const {
    const std::optional<size_t> index = Index(path);
    if (!index) return std::nullopt;
    return At(*index);
}

}  // namespace kivo
