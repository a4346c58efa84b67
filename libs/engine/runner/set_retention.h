// Which of a backup rule's older sets a run removes, by the sets' creation times (their marks) and
// the run's clock. keep_days alone would trust that clock blindly: one run with the clock a year
// ahead would remove every set. So:
// - The set the run just wrote is never a candidate: it is the rule's newest complete set.
// - A set dated after the run's clock (beyond a few minutes' slack) is kept, and named, each run.
// - When the run's clock reads far beyond the rule's newest older set (complete or not, dated at or
//   before the clock), by more than the schedule's longest gap plus two days, the clock may be wrong:
//   the run removes nothing and says why. After an honest gap (a PC off for two weeks) the next run
//   finds the set this one wrote, and expiry resumes.
// - Otherwise a set created at least keep_days x 24 h before the run is removed, complete or not.
// Pure: no file is touched here.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "rule_records.h"

namespace kivo {

constexpr int64_t kFutureSlackSeconds = 600;  // clocks of two PCs that share a folder may differ a little

// The longest gap the schedule leaves between two runs: the interval, a day, the widest gap between
// two ticked weekdays, or 31 days for a monthly rule.
int64_t ScheduleSpacing(const RunSchedule& schedule);

struct RetentionInput {
    std::vector<int64_t> created;  // the rule's own older sets (not the one just written, no .tmp)
    int64_t now = 0;
    int32_t keepDays = 0;  // > 0
    int64_t spacing = 0;   // ScheduleSpacing of the rule
};

struct RetentionPlan {
    std::vector<size_t> expired;   // indices into created, to remove
    std::vector<size_t> future;    // dated after the clock: kept
    std::optional<size_t> beyond;  // set when nothing is removed because the clock is far beyond this set
};

RetentionPlan PlanRetention(const RetentionInput& input);

}  // namespace kivo
