// The texts the rule lists show. Pure: no windows.h; every text is GBK.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "rule_records.h"

// "间隔:30分钟", "每月:15日 09:30", "周一 周三 周五 08:30", "每天 23:00".
std::string ScheduleText(const RunSchedule& schedule);
// Column 9 of the clean list, from date_range and time_range: "1970/01/01 08:00,2099/12/30 18:00".
std::string RangeText(std::string_view dateRange, std::string_view timeRange);
// "启用" for 1, "禁用" for 0; any other value (the engine never stores one) shows as its number,
// so the operator sees the fault instead of a state the rule is not in.
std::string StateText(int32_t enabled);

std::array<std::string, 10> ClearRowTexts(const ClearRule& rule);
std::array<std::string, 7> BackupRowTexts(const BackupRule& rule);

// The decimal value of a text's leading digits (an optional sign first), 0 when there are none,
// as atoi reads it but saturating at the int32 limits instead of overflowing.
int32_t LeadingNumber(std::string_view text);
