#include "scheduler.h"

#include <algorithm>

#include "civil_date.h"

namespace kivo {
namespace {

bool RunsOnDay(const RunSchedule& s, int64_t day) {
    switch (ModeOf(s)) {
        case ScheduleMode::Weekly: {
            const int mondayFirst = (WeekdayFromDays(day) + 6) % 7;
            return (s.week_mask >> mondayFirst) & 1;
        }
        case ScheduleMode::Monthly: {
            // A day the month lacks runs on the month's last day, so no month is skipped.
            const CivilDate date = CivilFromDays(day);
            return date.day == std::min<int>(s.month_day, DaysInMonth(date.year, date.month));
        }
        default:
            return true;
    }
}

}  // namespace

int64_t Scheduler::NextOccurrence(const RunSchedule& s, int64_t after, const TimeZone& zone, int64_t anchor) {
    if (ModeOf(s) == ScheduleMode::Interval) {
        const int64_t period = int64_t(s.interval_minutes) * 60;
        return anchor + (FloorDiv(after - anchor, period) + 1) * period;
    }
    if ((s.week_mask & 0x7F) == 0 && ModeOf(s) == ScheduleMode::Weekly) return kNever;
    const int64_t timeOfDay = int64_t(s.time_hhmm / 100) * 3600 + int64_t(s.time_hhmm % 100) * 60;
    // Start a day early: a wall time shifted by a change forward may land after `after`.
    const int64_t firstDay = FloorDiv(zone.ToLocal(after), kSecondsPerDay) - 1;
    for (int64_t day = firstDay; day < firstDay + 64; ++day) {
        if (!RunsOnDay(s, day)) continue;
        const int64_t at = zone.FromLocal(day * kSecondsPerDay + timeOfDay);
        if (at > after) return at;
    }
    return kNever;
}

Scheduler::Due Scheduler::CheckDue(const RunSchedule& s, int64_t baseline, int64_t now,
                                   const TimeZone& zone) {
    Due due;
    if (baseline > now + kClockBackLimit) {
        baseline = now;
        due.clockReset = true;
    }
    due.occurrence = NextOccurrence(s, baseline, zone, baseline);
    if (due.occurrence <= now) {
        due.due = true;
        due.catchUp = now - due.occurrence > kCatchUpAfter;
    }
    return due;
}

}  // namespace kivo
