// When rules run: pure functions of a schedule, instants (seconds since 1970-01-01 UTC) and a time zone.
// The engine thread calls them with its injected clock; tests call them with tables.
// The semantics are documented in engine_api.h ("When rules run").
#pragma once

#include <cstdint>
#include <limits>

#include "rule_records.h"
#include "time_zone.h"

namespace kivo {

constexpr int64_t kNever = std::numeric_limits<int64_t>::max();

class Scheduler {
  public:
    // A run that starts more than this after its scheduled time is logged as a catch-up run.
    static constexpr int64_t kCatchUpAfter = 60;
    // A last run further than this in the future means the clock was set back (or was wrong before):
    // the rule is then scheduled afresh from the current time.
    static constexpr int64_t kClockBackLimit = 48 * 3600;

    // The first occurrence strictly after `after`, or kNever for a schedule that has none.
    // Interval occurrences lie at anchor + k * interval; the other modes ignore the anchor.
    static int64_t NextOccurrence(const RunSchedule& schedule, int64_t after, const TimeZone& zone,
                                  int64_t anchor = 0);

    struct Due {
        bool due = false;             // an occurrence lies in (baseline, now]
        bool catchUp = false;         // ... and is more than kCatchUpAfter old
        bool clockReset = false;      // the baseline was beyond now + kClockBackLimit and was ignored
        int64_t occurrence = kNever;  // the occurrence that is due, else the next one
    };
    // `baseline`: the later of the last automatic run (or skipped occurrence) and the moment the rule's
    // schedule took effect. Whatever number of occurrences were missed, at most one is due.
    static Due CheckDue(const RunSchedule& schedule, int64_t baseline, int64_t now, const TimeZone& zone);
};

}  // namespace kivo
