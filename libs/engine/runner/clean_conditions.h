// The conditions of a clean rule, read once from its record and then applied to each file.
//
// How they combine: a file is deleted only when it satisfies every condition the rule sets (an
// empty text or a 0 sets nothing):
//   keep_days   last modified at least keep_days x 24 h before the run started;
//   name_filter its name (not the folders above it) contains one of the ','-separated keywords;
//               empty keywords are ignored, ASCII letters match either case, all else exactly;
//   size_range  min x 1024 <= size in bytes <= max x 1024;
//   date_range  the local date of its last modification lies between the two dates, both included;
//   time_range  the local time of day of its last modification, to the minute, lies between the
//               two times, both included.
// With none of these set, every file qualifies. min_free_percent, when set, decides whether and how
// far to delete: the run deletes nothing while the volume's free space is at or above it, and
// otherwise deletes qualifying files oldest first until it is reached.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "file_system.h"
#include "rule_records.h"
#include "rule_validation.h"

namespace kivo {

class CleanConditions {
  public:
    using LocalTime = std::function<fs::CivilTime(int64_t)>;

    // nullptr when the rule's conditions are well formed (the range texts read as the engine reads
    // them when it accepts a rule); otherwise a GBK text naming the field.
    const char* Parse(const ClearRule& rule);

    // name: the file's name in UTF-8; mtime and now in seconds UTC.
    bool Matches(const std::string& name, uint64_t size, int64_t mtime, int64_t now,
                 const LocalTime& local) const;

    int MinFreePercent() const { return m_minFreePercent; }
    const std::vector<std::string>& Keywords() const { return m_keywords; }

  private:
    int m_keepDays = 0;
    int m_minFreePercent = 0;
    bool m_hasNameFilter = false;
    std::vector<std::string> m_keywords;  // UTF-8
    std::optional<Range> m_size;          // KB
    std::optional<Range> m_date;          // YYYYMMDD
    std::optional<Range> m_time;          // HHMM
};

// Splits a GBK text at ',' without ever splitting a double-byte character; empty parts are dropped.
std::vector<std::string> SplitGbkKeywords(std::string_view gbk);

// Whether text contains keyword, ASCII letters compared without case. Both are UTF-8, so a match
// always starts on a character boundary.
bool ContainsKeyword(std::string_view text, std::string_view keyword);

}  // namespace kivo
