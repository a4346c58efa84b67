// The clean-rule editor's logic: composing the record and its range texts from the controls'
// texts in the fixed order of checks, and what loading a rule shows.
#pragma once

#include <optional>
#include <string>

#include "editor_input.h"
#include "rule_records.h"

namespace editors {

inline constexpr size_t kNameFilterMaxBytes = 31;
inline constexpr int32_t kEarliestDate = 19700101, kLatestDate = 20991230;

struct ClearForm {
    TextInput description;                                   // 3006
    TextInput path;                                          // 3008
    bool freeSpaceChecked = false;                           // 3009
    std::string freeSpacePercent;                            // 3007
    TextInput nameFilter;                                    // 3011
    std::string startDate, endDate;                          // members of 3014, 3015 after the exchange
    std::string startHour, startMinute, endHour, endMinute;  // members of 3016, 3018, 3017, 3019
    std::string minSize, maxSize;                            // 3012, 3013
    std::string keepDays;                                    // 3010
};

// Checks description, path, percent, name filter, dates, times, sizes in that order and writes
// the record: the caller's record with the gathered schedule, every text field NUL-filled to its
// end, and range texts that are empty when both halves are 0.
Checked<ClearRule> ComposeClearRule(const ClearRule& rule, const RunSchedule& schedule,
                                    const ClearForm& form);

struct ClearRuleView {
    std::string description, path;
    bool freeSpaceChecked = false;
    std::optional<std::string> freeSpacePercent;  // empty: the percent edit keeps its text
    std::string keepDays, nameFilter;
    std::string minSize, maxSize, startDate, endDate;
    std::string startHour, startMinute, endHour, endMinute;
};
ClearRuleView ViewOfClearRule(const ClearRule& rule);

// "新增删除规则失败:%d" or "修改删除规则失败:%d".
std::string ClearSaveFailureText(bool newRule, int code);

}  // namespace editors
