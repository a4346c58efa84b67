// The text of the run history's files: their names (one per local day), the time that starts each
// line, and how a line carries a file's name exactly. Pure; the history writer (history_writer.h)
// owns the files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kivo {

class HistoryText {
  public:
    static constexpr std::string_view kBom = "\xEF\xBB\xBF";
    static constexpr std::string_view kLineEnd = "\r\n";

    // "2024-07-01.log" for the local day (days since 1970-01-01).
    static std::string FileName(int64_t localDay);
    // The local day a history file's name stands for; nothing for any other name (a date that does
    // not exist, another extension, other case, anything around it).
    static std::optional<int64_t> DayOfFileName(std::string_view name);

    // "2024-07-01 16:30:05 " for a local instant (seconds since 1970-01-01 in wall time).
    static std::string Stamp(int64_t local);
    static constexpr size_t kStampSize = 20;

    // Lines are GBK, as the screen's are, but the history names a file exactly as it is on disk,
    // which GBK may not be able to say (Hangul, emoji). So a name travels in a line as UTF-8 between
    // two kExactName bytes: 0xFF, which neither GBK nor UTF-8 ever holds. The history writes such a
    // name as it is (GbkToUtf8); the screen gets ScreenText.
    static constexpr char kExactName = '\xFF';

    // Appends what append(out) writes, valid UTF-8, as an exact name; a name that is all ASCII reads
    // the same in GBK and goes in as it is.
    template <class Append>
    static void AppendExactName(std::string& out, Append&& append) {
        const size_t start = out.size();
        out += kExactName;
        append(out);
        CloseExactName(out, start);
    }
    // The line as the screen shows it, all GBK: a character of an exact name that GBK lacks is '?'.
    static std::string ScreenText(std::string_view line);
    static bool HasExactName(std::string_view line) { return line.find(kExactName) != line.npos; }

    // The length of the well-formed UTF-8 sequence at text[pos] (no overlong form, no surrogate,
    // nothing beyond U+10FFFF); 0 when there is none.
    static size_t Utf8SequenceAt(std::string_view text, size_t pos);

  private:
    static void CloseExactName(std::string& out, size_t start);
};

}  // namespace kivo
