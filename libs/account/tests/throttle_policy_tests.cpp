#include "throttle_policy.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using account::AccountRecord;
using account::ThrottlePolicy;

AccountRecord WithFailures(uint32_t failures, int64_t lastFailureMs) {
    AccountRecord r;
    r.failures = failures;
    r.lastFailureMs = lastFailureMs;
    return r;
}

TEST(ThrottlePolicy, WaitsNothingForThreeFailuresThenDoublesFromOneSecondUpToThirty) {
    const ThrottlePolicy policy;
    const std::vector<int64_t> expected = {0, 0, 0, 0, 1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000};
    for (uint32_t failures = 0; failures < expected.size(); ++failures) {
        EXPECT_EQ(policy.DelayAfter(failures), expected[failures]) << failures;
    }
    EXPECT_EQ(policy.DelayAfter(4000000000u), 30000);
}

TEST(ThrottlePolicy, DecidesFromTheTimeSinceTheLastFailure) {
    const ThrottlePolicy policy;
    const int64_t t = 1'000'000;
    const int64_t quarterHour = 15 * 60 * 1000;
    struct Case {
        const char* name;
        uint32_t failures;
        int64_t now;
        bool locked;
        int64_t wait;
        int64_t lockedFor;
    };
    const std::vector<Case> cases = {
        {"no failures", 0, t, false, 0, 0},
        {"three failures", 3, t, false, 0, 0},
        {"fourth failure, at once", 4, t, false, 1000, 0},
        {"fourth failure, 400 ms later", 4, t + 400, false, 600, 0},
        {"fourth failure, long after", 4, t + 5000, false, 0, 0},
        {"ninth failure, at once", 9, t, false, 30000, 0},
        {"tenth failure: locked", 10, t, true, 0, quarterHour},
        {"locked, 1 ms before the end", 10, t + quarterHour - 1, true, 0, 1},
        {"lock-out over", 10, t + quarterHour, false, 0, 0},
        {"more failures after a lock-out", 11, t + 60000, true, 0, quarterHour - 60000},
        {"clock went back: full wait, no more", 5, t - 3600000, false, 2000, 0},
        {"clock went back: full lock-out, no more", 10, t - 3600000, true, 0, quarterHour},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto decision = policy.Decide(WithFailures(c.failures, t), c.now);
        EXPECT_EQ(decision.lockedOut, c.locked);
        EXPECT_EQ(decision.waitMs, c.wait);
        EXPECT_EQ(decision.lockedForMs, c.lockedFor);
    }
}

}  // namespace
