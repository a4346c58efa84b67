#include "login_failures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <limits>
#include <string>
#include <vector>

#include "account_clock.h"

namespace {

using account::AccountRecord;

TEST(LoginFailures, CountsUpToTheLargestCountAndStampsTheLatest) {
    constexpr uint32_t kMax = std::numeric_limits<uint32_t>::max();
    const struct {
        uint32_t before, after;
    } cases[] = {{0, 1}, {9, 10}, {10, 11}, {kMax - 1, kMax}, {kMax, kMax}};  // never wraps to 0
    for (const auto& c : cases) {
        AccountRecord record;
        record.failures = c.before;
        record.lastFailureMs = 5;
        account::CountFailure(record, 1'700'000'000'123);
        EXPECT_EQ(record.failures, c.after) << c.before;
        EXPECT_EQ(record.lastFailureMs, 1'700'000'000'123) << c.before;
    }
}

#ifndef _WIN32
// The zone comes from TZ here; the Windows build reads the system's zone the same way.
TEST(LoginFailures, ShowsTheLastFailureInLocalTimeToTheSecond) {
    const char* saved = std::getenv("TZ");
    const std::string before = saved ? saved : "";
    const struct {
        const char* zone;
        int64_t unixMs;
        const char* text;
    } cases[] = {
        {"UTC0", 0, "1970-01-01 00:00:00"},
        {"UTC0", 1'700'000'000'999, "2023-11-14 22:13:20"},
        {"UTC0", -1, "1969-12-31 23:59:59"},  // rounds down, not towards 0
        {"CST-8", 1'700'000'000'000, "2023-11-15 06:13:20"},
        {"EST5", 1'709'254'800'000, "2024-02-29 20:00:00"},
    };
    for (const auto& c : cases) {
        setenv("TZ", c.zone, 1);
        tzset();
        EXPECT_EQ(account::LocalTimeText(c.unixMs), c.text) << c.zone << " " << c.unixMs;
    }
    if (saved) {
        setenv("TZ", before.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}
#endif

}  // namespace
