// The checks every record and text from a caller passes before the engine stores or uses it,
// and the readers of a clean rule's range texts. Pure.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "rule_records.h"

namespace kivo {

// Single-byte characters 0x20..0x7E and 0x80, and well-formed double-byte GBK characters; nothing
// else (no control characters: a text must not break a run-log line).
bool IsPlainGbk(std::string_view text);

// KIVO_OK or KIVO_E_BAD_SCHEDULE. Every field is checked, whichever mode the precedence picks.
int ValidateSchedule(const RunSchedule& schedule);

enum class PathCheck { Absolute, AnyText };
// KIVO_OK or the code of the first fault: BAD_FLAG, BAD_TEXT, BAD_SCHEDULE, BAD_RANGE (in that order).
int ValidateClearRule(const ClearRule& rule, PathCheck pathCheck = PathCheck::Absolute);
int ValidateBackupRule(const BackupRule& rule, PathCheck pathCheck = PathCheck::Absolute);

// A path or file text handed to kivo_backup / kivo_restore: at most 255 bytes and terminated within
// 256, not empty, plain GBK. Reads at most 256 bytes. KIVO_OK, NULL_ARGUMENT or BAD_TEXT.
int ValidateArgumentText(const char* text);

// The range texts: "lo,hi", two decimal numbers, lo <= hi. Empty text: no range (nullopt with ok).
struct Range {
    int64_t low = 0;
    int64_t high = 0;
};
struct RangeText {
    bool ok = false;
    std::optional<Range> range;  // empty when the text is empty
};
RangeText ParseSizeRange(std::string_view text);  // KB, 0..2147483647
RangeText ParseDateRange(std::string_view text);  // YYYYMMDD numbers from 19700101 to 20991230
RangeText ParseTimeRange(std::string_view text);  // HHMM as four digits, 0000..2359

}  // namespace kivo
