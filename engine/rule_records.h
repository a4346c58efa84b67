// The fixed binary records exchanged by address with the task engine library.
// Their layout is part of the engine interface: offsets and sizes must never move.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#pragma pack(push, 1)

struct RunSchedule {
    uint16_t interval_minutes;  // interval mode when non-zero: every N minutes, 1..1440
    uint16_t month_day;         // monthly mode when non-zero: day 1..31
    uint16_t week_mask;         // weekly mode when non-zero: bit 0 Monday .. bit 6 Sunday
    uint16_t time_hhmm;         // HH*100+MM for daily, weekly and monthly mode
};

struct ClearRule {
    int32_t rule_id;
    int32_t enabled;
    int32_t keep_days;
    int32_t min_free_percent;
    RunSchedule schedule;
    char description[32];
    char path[256];
    char name_filter[32];  // ','-separated name keywords; empty: no name condition
    // The ranges are "lo,hi" (lo <= hi, no blanks) or empty for no condition.
    char size_range[32];  // KB, "%d,%d"
    char date_range[32];  // YYYYMMDD numbers from 19700101 to 20991230, "%d,%d"
    char time_range[32];  // HHMM, "%04d,%04d"
};

struct BackupRule {
    int32_t rule_id;
    int32_t enabled;
    int32_t keep_days;
    RunSchedule schedule;
    char description[32];
    char source_path[256];
    char backup_path[256];
};

#pragma pack(pop)

static_assert(sizeof(RunSchedule) == 8);
static_assert(offsetof(RunSchedule, interval_minutes) == 0);
static_assert(offsetof(RunSchedule, month_day) == 2);
static_assert(offsetof(RunSchedule, week_mask) == 4);
static_assert(offsetof(RunSchedule, time_hhmm) == 6);

static_assert(sizeof(ClearRule) == 440);
static_assert(offsetof(ClearRule, rule_id) == 0);
static_assert(offsetof(ClearRule, enabled) == 4);
static_assert(offsetof(ClearRule, keep_days) == 8);
static_assert(offsetof(ClearRule, min_free_percent) == 12);
static_assert(offsetof(ClearRule, schedule) == 16);
static_assert(offsetof(ClearRule, description) == 24);
static_assert(offsetof(ClearRule, path) == 56);
static_assert(offsetof(ClearRule, name_filter) == 312);
static_assert(offsetof(ClearRule, size_range) == 344);
static_assert(offsetof(ClearRule, date_range) == 376);
static_assert(offsetof(ClearRule, time_range) == 408);

static_assert(sizeof(BackupRule) == 564);
static_assert(offsetof(BackupRule, rule_id) == 0);
static_assert(offsetof(BackupRule, enabled) == 4);
static_assert(offsetof(BackupRule, keep_days) == 8);
static_assert(offsetof(BackupRule, schedule) == 12);
static_assert(offsetof(BackupRule, description) == 20);
static_assert(offsetof(BackupRule, source_path) == 52);
static_assert(offsetof(BackupRule, backup_path) == 308);

// The schedule's mode follows from its fields in this order of precedence.
enum class ScheduleMode { Interval, Monthly, Weekly, Daily };

inline ScheduleMode ModeOf(const RunSchedule& s) {
    if (s.interval_minutes != 0) return ScheduleMode::Interval;
    if (s.month_day != 0) return ScheduleMode::Monthly;
    if (s.week_mask != 0) return ScheduleMode::Weekly;
    return ScheduleMode::Daily;
}

// A text field is usable only when its terminator lies inside the field.
template <size_t N>
bool FieldTerminated(const char (&field)[N]) {
    return std::memchr(field, '\0', N) != nullptr;
}

// The text of a field up to its terminator (or the whole field when it has none).
template <size_t N>
std::string_view FieldText(const char (&field)[N]) {
    const void* nul = std::memchr(field, '\0', N);
    return std::string_view(field, nul ? static_cast<const char*>(nul) - field : N);
}

// Writes text into a field and NUL-fills the rest, so no stale bytes travel with the record.
// Refuses (returns false, leaves the field untouched) a text that does not fit with its terminator.
template <size_t N>
bool WriteField(char (&field)[N], std::string_view text) {
    if (text.size() >= N || text.find('\0') != std::string_view::npos) return false;
    std::memcpy(field, text.data(), text.size());
    std::memset(field + text.size(), 0, N - text.size());
    return true;
}
