// The text of the run history's files: their names (one per local day) and the time that starts each
// line. Pure; the history writer (history_writer.h) owns the files.
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
};

}  // namespace kivo
