// An INI file in memory: sections of key=value lines, with comments kept. Portable, so it is
// tested natively and fuzzed. Texts are GBK or ASCII bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace settings {

class IniDocument {
  public:
    // Never fails: a line that is neither a section header, a key=value pair, a comment nor blank
    // is skipped, and so are the pairs under a damaged header or before the first header. Of a
    // key (or section) given twice, the first one counts, as Windows reads it.
    static IniDocument Parse(std::string_view text);
    // CRLF line ends, one blank line between sections. Skipped lines are not written back.
    std::string Serialize() const;

    // Section and key names are compared without regard to ASCII letter case; double-byte GBK
    // characters compare exactly.
    std::optional<std::string_view> Get(std::string_view section, std::string_view key) const;
    // nullopt when nothing is stored or the value is not a decimal number that fits 32 bits.
    std::optional<int> GetInt(std::string_view section, std::string_view key) const;
    // The caller checks CanStore first; a name that fails it would not read back.
    void Set(std::string_view section, std::string_view key, std::string_view value);
    void SetInt(std::string_view section, std::string_view key, int value);

    // True when Set with these names writes lines that Parse reads back as the same names.
    static bool CanStore(std::string_view section, std::string_view key);

    size_t SkippedLineCount() const { return m_skippedLines; }

  private:
    struct Line {
        bool comment = false;  // comment: text holds the whole line
        std::string key;
        std::string text;
    };
    struct Section {
        std::string name;
        std::vector<Line> lines;
    };

    Section* FindSection(std::string_view name);
    const Section* FindSection(std::string_view name) const;

    std::vector<std::string> m_leadingComments;  // comments before the first section
    std::vector<Section> m_sections;
    size_t m_skippedLines = 0;
};

// ASCII letters fold, double-byte GBK characters are compared whole (their trail byte may look
// like a letter).
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace settings
