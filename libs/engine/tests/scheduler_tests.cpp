#include "scheduler.h"

#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "civil_date.h"
#include "engine_test_support.h"
#include "run_log_text.h"

using kivo::Scheduler;
using kivo::TimeZone;
using kivo::test::Utc;

namespace {

const TimeZone kBerlin = *TimeZone::FromPosix("CET-1CEST,M3.5.0,M10.5.0/3");
const TimeZone kNewYork = *TimeZone::FromPosix("EST5EDT,M3.2.0,M11.1.0");
const TimeZone kSydney = *TimeZone::FromPosix("AEST-10AEDT,M10.1.0,M4.1.0/3");
const TimeZone kBeijing = TimeZone::Fixed(8 * 3600);

RunSchedule Daily(uint16_t hhmm) {
    return RunSchedule{0, 0, 0, hhmm};
}
RunSchedule Weekly(uint16_t mask, uint16_t hhmm) {
    return RunSchedule{0, 0, mask, hhmm};
}
RunSchedule Monthly(uint16_t day, uint16_t hhmm) {
    return RunSchedule{0, day, 0, hhmm};
}
RunSchedule Every(uint16_t minutes) {
    return RunSchedule{minutes, 0, 0, 0};
}

std::string Show(int64_t utc, const TimeZone& zone) {
    return kivo::RunLogText::LocalMinute(utc, zone);
}

// The occurrences after `from`, as local "YYYY-MM-DD HH:MM" texts.
std::vector<std::string> Walk(const RunSchedule& s, int64_t from, const TimeZone& zone, int count) {
    std::vector<std::string> out;
    for (int64_t t = from; count-- > 0;) {
        t = Scheduler::NextOccurrence(s, t, zone, from);
        out.push_back(Show(t, zone));
    }
    return out;
}

using Texts = std::vector<std::string>;

}  // namespace

TEST(Scheduler, DailyRunsAtItsMinuteAndAllZeroIsMidnight) {
    const int64_t nineTwentyNine = kBeijing.FromLocal(Utc(2024, 7, 1, 9, 29));
    EXPECT_EQ(Walk(Daily(930), nineTwentyNine, kBeijing, 2), (Texts{"2024-07-01 09:30", "2024-07-02 09:30"}));
    EXPECT_EQ(Walk(Daily(930), nineTwentyNine + 60, kBeijing, 1),
              (Texts{"2024-07-02 09:30"}));  // strictly after
    EXPECT_EQ(Walk(Daily(0), nineTwentyNine, kBeijing, 2), (Texts{"2024-07-02 00:00", "2024-07-03 00:00"}));
    EXPECT_EQ(Walk(Daily(2359), kBeijing.FromLocal(Utc(2024, 12, 31, 23, 59)) - 1, kBeijing, 2),
              (Texts{"2024-12-31 23:59", "2025-01-01 23:59"}));
}

TEST(Scheduler, MonthlyOnADayTheMonthLacksRunsOnItsLastDay) {
    struct Case {
        uint16_t day;
        int year;
        Texts expected;
    } cases[] = {
        {31,
         2023,
         {"2023-01-31 08:00", "2023-02-28 08:00", "2023-03-31 08:00", "2023-04-30 08:00", "2023-05-31 08:00",
          "2023-06-30 08:00", "2023-07-31 08:00", "2023-08-31 08:00", "2023-09-30 08:00", "2023-10-31 08:00",
          "2023-11-30 08:00", "2023-12-31 08:00"}},
        {31, 2024, {"2024-01-31 08:00", "2024-02-29 08:00", "2024-03-31 08:00", "2024-04-30 08:00"}},
        {30, 2024, {"2024-01-30 08:00", "2024-02-29 08:00", "2024-03-30 08:00", "2024-04-30 08:00"}},
        {29, 2023, {"2023-01-29 08:00", "2023-02-28 08:00", "2023-03-29 08:00"}},
        {29, 2024, {"2024-01-29 08:00", "2024-02-29 08:00", "2024-03-29 08:00"}},
        {29, 2100, {"2100-01-29 08:00", "2100-02-28 08:00", "2100-03-29 08:00"}},  // 2100 is no leap year
        {29, 2000, {"2000-01-29 08:00", "2000-02-29 08:00", "2000-03-29 08:00"}},  // 2000 is one
        {28, 2024, {"2024-01-28 08:00", "2024-02-28 08:00", "2024-03-28 08:00"}},
        {1, 2024, {"2024-01-01 08:00", "2024-02-01 08:00", "2024-03-01 08:00"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("day " + std::to_string(c.day) + " of " + std::to_string(c.year));
        const int64_t start = kBeijing.FromLocal(Utc(c.year, 1, 1, 0, 0));
        EXPECT_EQ(Walk(Monthly(c.day, 800), start, kBeijing, int(c.expected.size())), c.expected);
    }
}

TEST(Scheduler, WeeklyMasksCountFromMonday) {
    // 2024-07-01 is a Monday.
    const int64_t sundayNoon = kBeijing.FromLocal(Utc(2024, 6, 30, 12, 0));
    struct Case {
        uint16_t mask;
        Texts expected;
    } cases[] = {
        {1, {"2024-07-01 06:00", "2024-07-08 06:00"}},
        {64, {"2024-07-07 06:00", "2024-07-14 06:00"}},
        {65, {"2024-07-01 06:00", "2024-07-07 06:00", "2024-07-08 06:00"}},
        {0x14, {"2024-07-03 06:00", "2024-07-05 06:00", "2024-07-10 06:00"}},
        {127,
         {"2024-07-01 06:00", "2024-07-02 06:00", "2024-07-03 06:00", "2024-07-04 06:00", "2024-07-05 06:00",
          "2024-07-06 06:00", "2024-07-07 06:00", "2024-07-08 06:00"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("mask " + std::to_string(c.mask));
        EXPECT_EQ(Walk(Weekly(c.mask, 600), sundayNoon, kBeijing, int(c.expected.size())), c.expected);
    }
}

TEST(Scheduler, ModesFollowPrecedence) {
    const int64_t start = kBeijing.FromLocal(Utc(2024, 7, 1, 0, 0));  // a Monday
    // Interval beats everything; monthly beats weekly; weekly beats daily.
    EXPECT_EQ(Walk(RunSchedule{90, 15, 3, 800}, start, kBeijing, 2),
              (Texts{"2024-07-01 01:30", "2024-07-01 03:00"}));
    EXPECT_EQ(Walk(RunSchedule{0, 15, 3, 800}, start, kBeijing, 2),
              (Texts{"2024-07-15 08:00", "2024-08-15 08:00"}));
    EXPECT_EQ(Walk(RunSchedule{0, 0, 4, 800}, start, kBeijing, 2),
              (Texts{"2024-07-03 08:00", "2024-07-10 08:00"}));
}

TEST(Scheduler, IntervalCountsFromItsAnchor) {
    const int64_t anchor = Utc(2024, 3, 31, 0, 10);
    struct Case {
        uint16_t minutes;
        int64_t after, expected;
    } cases[] = {
        {30, anchor, anchor + 1800},        {30, anchor + 1799, anchor + 1800},
        {30, anchor + 1800, anchor + 3600}, {1, anchor + 59, anchor + 60},
        {1440, anchor, anchor + 86400},     {7, anchor + 86400 * 3, anchor + (86400 * 3 / 420 + 1) * 420},
        {30, anchor - 1, anchor},  // before the anchor: the grid extends backwards
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Scheduler::NextOccurrence(Every(c.minutes), c.after, kBerlin, anchor), c.expected)
            << c.minutes << " min after " << c.after;
    }
    // Elapsed time: a daylight change does not shift interval runs.
    EXPECT_EQ(Scheduler::NextOccurrence(Every(60), Utc(2024, 3, 31, 0, 30), kBerlin, anchor),
              Utc(2024, 3, 31, 1, 10));
}

TEST(Scheduler, DaylightChangesInTwoZones) {
    struct Case {
        const char* name;
        const TimeZone* zone;
        RunSchedule schedule;
        int64_t from;
        std::vector<int64_t> expectedUtc;
    } cases[] = {
        // Berlin, spring: 02:30 does not exist on 2024-03-31 and runs at 03:00 CEST.
        {"Berlin spring 02:30",
         &kBerlin,
         Daily(230),
         Utc(2024, 3, 29, 12, 0),
         {Utc(2024, 3, 30, 1, 30), Utc(2024, 3, 31, 1, 0), Utc(2024, 4, 1, 0, 30)}},
        {"Berlin spring 02:00",
         &kBerlin,
         Daily(200),
         Utc(2024, 3, 30, 12, 0),
         {Utc(2024, 3, 31, 1, 0), Utc(2024, 4, 1, 0, 0)}},
        {"Berlin spring 03:00",
         &kBerlin,
         Daily(300),
         Utc(2024, 3, 30, 12, 0),
         {Utc(2024, 3, 31, 1, 0), Utc(2024, 4, 1, 1, 0)}},
        // Berlin, autumn: 02:30 occurs twice on 2024-10-27 and runs once, the first time.
        {"Berlin autumn 02:30",
         &kBerlin,
         Daily(230),
         Utc(2024, 10, 26, 12, 0),
         {Utc(2024, 10, 27, 0, 30), Utc(2024, 10, 28, 1, 30)}},
        {"Berlin autumn weekly Sunday",
         &kBerlin,
         Weekly(64, 230),
         Utc(2024, 10, 20, 12, 0),
         {Utc(2024, 10, 27, 0, 30), Utc(2024, 11, 3, 1, 30)}},
        {"Berlin monthly on the spring day",
         &kBerlin,
         Monthly(31, 215),
         Utc(2024, 3, 1, 0, 0),
         {Utc(2024, 3, 31, 1, 0), Utc(2024, 4, 30, 0, 15)}},
        // New York: 02:30 skipped on 2024-03-10; 01:30 twice on 2024-11-03.
        {"New York spring",
         &kNewYork,
         Daily(230),
         Utc(2024, 3, 9, 12, 0),
         {Utc(2024, 3, 10, 7, 0), Utc(2024, 3, 11, 6, 30)}},
        {"New York autumn",
         &kNewYork,
         Daily(130),
         Utc(2024, 11, 2, 12, 0),
         {Utc(2024, 11, 3, 5, 30), Utc(2024, 11, 4, 6, 30)}},
        // Sydney: the southern hemisphere changes the other way round.
        {"Sydney spring",
         &kSydney,
         Daily(215),
         Utc(2024, 10, 5, 0, 0),
         {Utc(2024, 10, 5, 16, 0), Utc(2024, 10, 6, 15, 15)}},
        {"Sydney autumn",
         &kSydney,
         Daily(230),
         Utc(2024, 4, 6, 0, 0),
         {Utc(2024, 4, 6, 15, 30), Utc(2024, 4, 7, 16, 30)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<int64_t> got;
        for (int64_t t = c.from; got.size() < c.expectedUtc.size();) {
            t = Scheduler::NextOccurrence(c.schedule, t, *c.zone);
            got.push_back(t);
        }
        EXPECT_EQ(got, c.expectedUtc);
    }
}

TEST(Scheduler, DueChecksGiveAtMostOneRunAndNeverRepeatOne) {
    const int64_t tenToday = kBeijing.FromLocal(Utc(2024, 7, 10, 10, 0));
    const int64_t tenYesterday = tenToday - 86400;
    struct Case {
        const char* name;
        RunSchedule schedule;
        int64_t baseline, now;
        bool due, catchUp, clockReset;
        int64_t occurrence;
    } cases[] = {
        {"on time", Daily(1000), tenYesterday, tenToday, true, false, false, tenToday},
        {"half a minute late", Daily(1000), tenYesterday, tenToday + 30, true, false, false, tenToday},
        {"five minutes late: catch-up", Daily(1000), tenYesterday, tenToday + 300, true, true, false,
         tenToday},
        {"not yet", Daily(1000), tenYesterday, tenToday - 1, false, false, false, tenToday},
        {"a week off: one catch-up, from the first missed", Daily(1000), tenYesterday - 6 * 86400,
         tenToday + 7200, true, true, false, tenYesterday - 5 * 86400},
        {"clock set back an hour after the run", Daily(1000), tenToday + 5, tenToday - 3000, false, false,
         false, tenToday + 86400},
        {"clock set back a day after the run", Daily(1000), tenToday + 5, tenToday - 86400, false, false,
         false, tenToday + 86400},
        {"clock set back three days: start afresh", Daily(1000), tenToday + 3 * 86400, tenToday - 3600, false,
         false, true, tenToday},
        {"interval after a jump of a day", Every(15), tenToday, tenToday + 86400, true, true, false,
         tenToday + 900},
        {"interval on time", Every(15), tenToday, tenToday + 900, true, false, false, tenToday + 900},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Scheduler::Due due = Scheduler::CheckDue(c.schedule, c.baseline, c.now, kBeijing);
        EXPECT_EQ(due.due, c.due);
        EXPECT_EQ(due.catchUp, c.catchUp);
        EXPECT_EQ(due.clockReset, c.clockReset);
        EXPECT_EQ(due.occurrence, c.occurrence);
        if (due.due) {
            // Once it ran (baseline = now), nothing is due until a later occurrence.
            const Scheduler::Due after = Scheduler::CheckDue(c.schedule, c.now, c.now, kBeijing);
            EXPECT_FALSE(after.due);
            EXPECT_GT(after.occurrence, c.now);
        }
    }
}

TEST(Scheduler, RandomInstantsOverYearsGiveLaterRunsWithoutDuplicates) {
    std::mt19937_64 random(20240701);
    const TimeZone* zones[] = {&kBerlin, &kNewYork, &kSydney, &kBeijing};
    auto pick = [&](int64_t lo, int64_t hi) {
        return std::uniform_int_distribution<int64_t>(lo, hi)(random);
    };
    const int64_t from = Utc(1971, 1, 1, 0, 0), to = Utc(2098, 12, 31, 0, 0);
    for (int i = 0; i < 20000; ++i) {
        RunSchedule s{};
        switch (pick(0, 3)) {
            case 0:
                s.interval_minutes = uint16_t(pick(1, 1440));
                break;
            case 1:
                s.month_day = uint16_t(pick(1, 31));
                break;
            case 2:
                s.week_mask = uint16_t(pick(1, 127));
                break;
            default:
                break;
        }
        if (!s.interval_minutes) s.time_hhmm = uint16_t(pick(0, 23) * 100 + pick(0, 59));
        const TimeZone& zone = *zones[pick(0, 3)];
        const int64_t t = pick(from, to);
        const int64_t anchor = pick(from, to);
        const int64_t next = Scheduler::NextOccurrence(s, t, zone, anchor);
        ASSERT_GT(next, t);
        ASSERT_LE(next - t, 32 * 86400);
        // Nothing lies between: asking from just before the result gives the result again.
        ASSERT_EQ(Scheduler::NextOccurrence(s, next - 1, zone, anchor), next);
        const int64_t following = Scheduler::NextOccurrence(s, next, zone, anchor);
        ASSERT_GT(following, next);
        if (s.interval_minutes) {
            ASSERT_EQ(following - next, s.interval_minutes * 60);
            continue;
        }
        // One run per local day at most (per month in monthly mode), at its wall time or within the hour
        // after it when a change forward skipped that time.
        const int64_t day = kivo::FloorDiv(zone.ToLocal(next), 86400);
        const int64_t followingDay = kivo::FloorDiv(zone.ToLocal(following), 86400);
        ASSERT_GT(followingDay, day);
        if (s.month_day) {
            const auto a = kivo::CivilFromDays(day), b = kivo::CivilFromDays(followingDay);
            ASSERT_NE(a.year * 12 + a.month, b.year * 12 + b.month);
        }
        const int64_t wall = kivo::FloorMod(zone.ToLocal(next), 86400);
        const int64_t wanted = (s.time_hhmm / 100) * 3600 + (s.time_hhmm % 100) * 60;
        ASSERT_TRUE(wall == wanted || (wall > wanted && wall - wanted <= 3600))
            << s.time_hhmm << " at " << next;
    }
}

TEST(Scheduler, WalkingThreeYearsDailyInEveryZoneHitsEachDayOnce) {
    for (const TimeZone* zone : {&kBerlin, &kNewYork, &kSydney, &kBeijing}) {
        for (uint16_t hhmm : {0, 130, 230, 300, 2359}) {
            std::set<int64_t> days;
            int64_t t = Utc(2023, 1, 1, 12, 0);
            const int64_t end = Utc(2026, 1, 1, 12, 0);
            int64_t previous = t;
            while ((t = Scheduler::NextOccurrence(Daily(hhmm), t, *zone)) < end) {
                ASSERT_GT(t, previous);
                previous = t;
                ASSERT_TRUE(days.insert(kivo::FloorDiv(zone->ToLocal(t), 86400)).second) << hhmm << " " << t;
            }
            // Every local day in between, none twice, none left out.
            ASSERT_GE(days.size(), 1095u);
            EXPECT_EQ(int64_t(days.size()), *days.rbegin() - *days.begin() + 1) << hhmm;
        }
    }
}
