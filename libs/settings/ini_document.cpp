#include "ini_document.h"

#include <charconv>
#include <map>
#include <set>

#include "gbk_bytes.h"

namespace settings {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

// Position of the first single-byte c in a GBK text, or npos.
size_t FindGbk(std::string_view text, char c) {
    for (size_t pos = 0; pos < text.size();) {
        const size_t length = shared::GbkCharLength(text, pos);
        if (length == 1 && text[pos] == c) return pos;
        pos += length;
    }
    return std::string_view::npos;
}

// The form under which EqualsIgnoringAsciiCase finds two names equal.
std::string Folded(std::string_view text) {
    std::string out(text);
    for (size_t pos = 0; pos < out.size();) {
        const size_t length = shared::GbkCharLength(out, pos);
        if (length == 1) out[pos] = FoldAscii(out[pos]);
        pos += length;
    }
    return out;
}

}  // namespace

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t pos = 0; pos < a.size();) {
        const size_t length = shared::GbkCharLength(a, pos);
        if (length != shared::GbkCharLength(b, pos)) return false;
        if (length == 2) {
            if (a.substr(pos, 2) != b.substr(pos, 2)) return false;
        } else if (FoldAscii(a[pos]) != FoldAscii(b[pos])) {
            return false;
        }
        pos += length;
    }
    return true;
}

IniDocument IniDocument::Parse(std::string_view text) {
    IniDocument doc;
    Section* current = nullptr;
    bool beforeFirstHeader = true;
    // Keys seen per section, so a long file is read in n log n rather than n squared.
    std::map<std::string, std::set<std::string>> seen;
    std::set<std::string>* currentKeys = nullptr;
    while (!text.empty()) {
        // '\n' is never a GBK trail byte, so lines split safely on bytes.
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = Trim(line);

        if (line.empty()) continue;
        if (line.front() == ';' || line.front() == '#') {
            if (beforeFirstHeader) {
                doc.m_leadingComments.emplace_back(line);
            } else if (current) {
                current->lines.push_back({true, {}, std::string(line)});
            }
            continue;
        }
        if (line.front() == '[') {
            beforeFirstHeader = false;
            const size_t close = FindGbk(line.substr(1), ']');
            const std::string_view name =
                close == std::string_view::npos ? std::string_view() : Trim(line.substr(1, close));
            if (name.empty()) {
                // Whatever follows belongs to no section we can name: skip it rather than
                // file it under the section before.
                current = nullptr;
                ++doc.m_skippedLines;
                continue;
            }
            current = doc.FindSection(name);
            if (!current) current = &doc.m_sections.emplace_back(Section{std::string(name), {}});
            currentKeys = &seen[Folded(current->name)];
            continue;
        }
        const size_t equals = line.find('=');  // '=' (0x3D) is never a GBK trail byte
        const std::string_view key =
            equals == std::string_view::npos ? std::string_view() : Trim(line.substr(0, equals));
        if (!current || key.empty()) {
            ++doc.m_skippedLines;
            continue;
        }
        if (!currentKeys->insert(Folded(key)).second) {
            ++doc.m_skippedLines;
            continue;
        }
        current->lines.push_back({false, std::string(key), std::string(Trim(line.substr(equals + 1)))});
    }
    return doc;
}

std::string IniDocument::Serialize() const {
    std::string out;
    for (const std::string& comment : m_leadingComments) out += comment + "\r\n";
    for (const Section& section : m_sections) {
        if (!out.empty()) out += "\r\n";
        out += "[" + section.name + "]\r\n";
        for (const Line& line : section.lines) {
            out += line.comment ? line.text : line.key + "=" + line.text;
            out += "\r\n";
        }
    }
    return out;
}

IniDocument::Section* IniDocument::FindSection(std::string_view name) {
    for (Section& section : m_sections) {
        if (EqualsIgnoringAsciiCase(section.name, name)) return &section;
    }
    return nullptr;
}

const IniDocument::Section* IniDocument::FindSection(std::string_view name) const {
    return const_cast<IniDocument*>(this)->FindSection(name);
}

std::optional<std::string_view> IniDocument::Get(std::string_view section, std::string_view key) const {
    const Section* found = FindSection(section);
    if (!found) return std::nullopt;
    for (const Line& line : found->lines) {
        if (!line.comment && EqualsIgnoringAsciiCase(line.key, key)) return std::string_view(line.text);
    }
    return std::nullopt;
}

std::optional<int> IniDocument::GetInt(std::string_view section, std::string_view key) const {
    auto text = Get(section, key);
    if (!text) return std::nullopt;
    std::string_view digits = *text;
    if (digits.size() > 1 && digits[0] == '+' && digits[1] != '-') digits.remove_prefix(1);
    int value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    Section* target = FindSection(section);
    if (!target) target = &m_sections.emplace_back(Section{std::string(section), {}});
    for (Line& line : target->lines) {
        if (!line.comment && EqualsIgnoringAsciiCase(line.key, key)) {
            line.text = value;
            return;
        }
    }
    target->lines.push_back({false, std::string(key), std::string(value)});
}

void IniDocument::SetInt(std::string_view section, std::string_view key, int value) {
    Set(section, key, std::to_string(value));
}

bool IniDocument::CanStore(std::string_view section, std::string_view key) {
    for (std::string_view name : {section, key}) {
        for (char c : name) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
        }
    }
    // Let the parser decide: whatever it would read differently (a ']' or '=' in the wrong
    // place, blanks at either end, a key that looks like a comment or a header) is refused.
    IniDocument probe;
    probe.Set(section, key, "0");
    const IniDocument back = Parse(probe.Serialize());
    return back.m_skippedLines == 0 && back.m_sections.size() == 1 && back.m_sections[0].name == section &&
           back.m_sections[0].lines.size() == 1 && !back.m_sections[0].lines[0].comment &&
           back.m_sections[0].lines[0].key == key;
}

}  // namespace settings
