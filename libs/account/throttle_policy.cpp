#include "throttle_policy.h"

#include <algorithm>

namespace account {

int64_t ThrottlePolicy::DelayAfter(uint32_t failures) const {
    if (failures <= freeFailures) return 0;
    int64_t delay = firstDelayMs;
    for (uint32_t n = freeFailures + 1; n < failures && delay < maxDelayMs; ++n) delay *= 2;
    return std::min(delay, maxDelayMs);
}

ThrottleDecision ThrottlePolicy::Decide(const AccountRecord& record, int64_t nowMs) const {
    ThrottleDecision decision;
    if (record.failures == 0) return decision;
    const int64_t elapsed = std::max<int64_t>(0, nowMs - record.lastFailureMs);
    if (record.failures >= lockoutFailures) {
        if (elapsed < lockoutMs) {
            decision.lockedOut = true;
            decision.lockedForMs = lockoutMs - elapsed;
        }
        return decision;  // after the lock-out, one attempt at a time with no further wait
    }
    decision.waitMs = std::max<int64_t>(0, DelayAfter(record.failures) - elapsed);
    return decision;
}

}  // namespace account
