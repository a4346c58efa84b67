#include "set_retention.h"

#include "civil_date.h"

namespace kivo {

int64_t ScheduleSpacing(const RunSchedule& schedule) {
    if (schedule.interval_minutes > 0) return int64_t(schedule.interval_minutes) * 60;
    if (schedule.month_day > 0) return 31 * kSecondsPerDay;
    const unsigned mask = schedule.week_mask & 0x7F;
    if (mask == 0) return kSecondsPerDay;
    int widest = 0;
    for (int day = 0; day < 7; ++day) {
        if (!(mask & (1u << day))) continue;
        int gap = 1;
        while (!(mask & (1u << ((day + gap) % 7)))) ++gap;
        if (gap > widest) widest = gap;
    }
    return widest * kSecondsPerDay;
}

RetentionPlan PlanRetention(const RetentionInput& in) {
    RetentionPlan plan;
    std::optional<size_t> newest;
    for (size_t i = 0; i < in.created.size(); ++i) {
        if (in.created[i] > in.now + kFutureSlackSeconds) {
            plan.future.push_back(i);
        } else if (!newest || in.created[i] > in.created[*newest]) {
            newest = i;
        }
    }
    if (newest && in.now - in.created[*newest] > in.spacing + 2 * kSecondsPerDay) {
        plan.beyond = newest;
        return plan;
    }
    const int64_t cutoff = in.now - int64_t(in.keepDays) * kSecondsPerDay;
    for (size_t i = 0; i < in.created.size(); ++i) {
        if (in.created[i] <= cutoff) plan.expired.push_back(i);
    }
    return plan;
}

}  // namespace kivo
