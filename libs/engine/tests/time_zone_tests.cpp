#include "time_zone.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "civil_date.h"
#include "platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

using kivo::TimeZone;

namespace {

int64_t Utc(int y, int mo, int d, int h, int mi, int s = 0) {
    return kivo::DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}
int64_t Wall(int y, int mo, int d, int h, int mi) {
    return Utc(y, mo, d, h, mi);
}

struct Change {
    const char* zone;
    int64_t at;  // the first instant of the new offset (checked independently against the tz database)
    int32_t before, after;
};

const Change kChanges[] = {
    {"CET-1CEST,M3.5.0,M10.5.0/3", 1711846800, 3600, 7200},         // Berlin 2024-03-31
    {"CET-1CEST,M3.5.0,M10.5.0/3", 1729990800, 7200, 3600},         // Berlin 2024-10-27
    {"CET-1CEST,M3.5.0,M10.5.0/3", 1743296400, 3600, 7200},         // Berlin 2025-03-30
    {"EST5EDT,M3.2.0,M11.1.0", 1710054000, -18000, -14400},         // New York 2024-03-10
    {"EST5EDT,M3.2.0,M11.1.0", 1730613600, -14400, -18000},         // New York 2024-11-03
    {"EST5EDT,M3.2.0,M11.1.0", 1762063200, -14400, -18000},         // New York 2025-11-02
    {"AEST-10AEDT,M10.1.0,M4.1.0/3", 1712419200, 39600, 36000},     // Sydney 2024-04-07
    {"AEST-10AEDT,M10.1.0,M4.1.0/3", 1728144000, 36000, 39600},     // Sydney 2024-10-06
    {"<-02>2<-01>,M3.5.0/-1,M10.5.0/0", 1711846800, -7200, -3600},  // Nuuk: negative change time
    {"IST-2IDT,M3.4.4/26,M10.5.0", 1711670400, 7200, 10800},        // Jerusalem: change time past 24h
    {"IST-2IDT,M3.4.4/26,M10.5.0", 1729983600, 10800, 7200},
    {"IST-1GMT0,M10.5.0,M3.5.0/1", 1711846800, 0, 3600},  // Dublin: "daylight" is winter
    {"IST-1GMT0,M10.5.0,M3.5.0/1", 1729990800, 3600, 0},
};

}  // namespace

TEST(TimeZone, PosixRulesChangeOffsetAtTheRightInstant) {
    for (const Change& c : kChanges) {
        SCOPED_TRACE(std::string(c.zone) + " at " + std::to_string(c.at));
        auto zone = TimeZone::FromPosix(c.zone);
        ASSERT_TRUE(zone);
        EXPECT_EQ(zone->OffsetAt(c.at - 1), c.before);
        EXPECT_EQ(zone->OffsetAt(c.at), c.after);
    }
}

TEST(TimeZone, ParsesOffsetsAndNames) {
    struct Case {
        const char* text;
        int32_t standard, daylight;
        bool hasDaylight;
    } cases[] = {
        {"UTC0", 0, 0, false},
        {"JST-9", 32400, 32400, false},
        {"<+0330>-3:30", 12600, 12600, false},
        {"<-0230>+2:30:15", -9015, -9015, false},
        {"EST5EDT", -18000, -14400, true},  // no rules: the customary default
        {"CET-1CEST,M3.5.0,M10.5.0/3", 3600, 7200, true},
        {"LHST-10:30LHDT-11,M10.1.0,M4.1.0", 37800, 39600, true},
        {"XXX3YYY,J60/2,300", -10800, -7200, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto zone = TimeZone::FromPosix(c.text);
        ASSERT_TRUE(zone);
        EXPECT_EQ(zone->StandardOffset(), c.standard);
        EXPECT_EQ(zone->DaylightOffset(), c.daylight);
        EXPECT_EQ(zone->HasDaylight(), c.hasDaylight);
    }
}

TEST(TimeZone, RefusesMalformedPosixText) {
    for (const char* text : {"", "CET", "CE-1", "CET-", "CET-25", "CET-1:60", "CET-1CEST,M13.1.0,M10.5.0",
                             "CET-1CEST,M3.6.0,M10.5.0", "CET-1CEST,M3.5.7,M10.5.0", "CET-1CEST,M3.5.0",
                             "CET-1CEST,M3.5.0,M10.5.0/3x", "CET-1CEST,J0,J365", "CET-1CEST,366,1",
                             "CET-1CEST,M3.5.0,M10.5.0/168", "<AB>1", "Europe/Berlin"}) {
        EXPECT_FALSE(TimeZone::FromPosix(text)) << text;
    }
}

TEST(TimeZone, JulianDayFormsCountLeapDaysDifferently) {
    // J60 is March 1 in every year; 59 (zero-based, leap days counted) is February 29 in a leap year.
    auto julian = TimeZone::FromPosix("AAA0BBB,J60/0,J300/0");
    auto zeroBased = TimeZone::FromPosix("AAA0BBB,59/0,J300/0");
    ASSERT_TRUE(julian && zeroBased);
    EXPECT_EQ(julian->OffsetAt(Utc(2024, 3, 1, 0, 0) - 1), 0);
    EXPECT_EQ(julian->OffsetAt(Utc(2024, 3, 1, 0, 0)), 3600);
    EXPECT_EQ(zeroBased->OffsetAt(Utc(2024, 2, 29, 0, 0) - 1), 0);
    EXPECT_EQ(zeroBased->OffsetAt(Utc(2024, 2, 29, 0, 0)), 3600);
    EXPECT_EQ(zeroBased->OffsetAt(Utc(2023, 3, 1, 0, 0)), 3600);
    EXPECT_EQ(zeroBased->OffsetAt(Utc(2023, 3, 1, 0, 0) - 1), 0);
}

TEST(TimeZone, FromLocalPicksFirstOfDoubleTimesAndChangeInstantForSkippedTimes) {
    auto berlin = *TimeZone::FromPosix("CET-1CEST,M3.5.0,M10.5.0/3");
    auto newYork = *TimeZone::FromPosix("EST5EDT,M3.2.0,M11.1.0");
    auto sydney = *TimeZone::FromPosix("AEST-10AEDT,M10.1.0,M4.1.0/3");
    struct Case {
        const TimeZone* zone;
        int64_t wall, utc;
    } cases[] = {
        {&berlin, Wall(2024, 7, 1, 12, 0), Utc(2024, 7, 1, 10, 0)},
        {&berlin, Wall(2024, 1, 15, 12, 0), Utc(2024, 1, 15, 11, 0)},
        {&berlin, Wall(2024, 3, 31, 1, 59), Utc(2024, 3, 31, 0, 59)},
        {&berlin, Wall(2024, 3, 31, 2, 0), Utc(2024, 3, 31, 1, 0)},   // skipped: 03:00 CEST
        {&berlin, Wall(2024, 3, 31, 2, 30), Utc(2024, 3, 31, 1, 0)},  // skipped: 03:00 CEST
        {&berlin, Wall(2024, 3, 31, 3, 0), Utc(2024, 3, 31, 1, 0)},
        {&berlin, Wall(2024, 10, 27, 2, 30), Utc(2024, 10, 27, 0, 30)},  // twice: the CEST one
        {&berlin, Wall(2024, 10, 27, 3, 0), Utc(2024, 10, 27, 2, 0)},
        {&newYork, Wall(2024, 3, 10, 2, 30), Utc(2024, 3, 10, 7, 0)},
        {&newYork, Wall(2024, 11, 3, 1, 30), Utc(2024, 11, 3, 5, 30)},
        {&sydney, Wall(2024, 10, 6, 2, 15), Utc(2024, 10, 5, 16, 0)},
        {&sydney, Wall(2024, 4, 7, 2, 30), Utc(2024, 4, 6, 15, 30)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.zone->FromLocal(c.wall), c.utc) << "wall " << c.wall;
    }
}

TEST(TimeZone, WindowsFieldsGiveTheSameRulesAsPosix) {
    kivo::WindowsZoneFields westEurope;  // "W. Europe Standard Time"
    westEurope.bias = -60;
    westEurope.daylightBias = -60;
    westEurope.standardDate = {0, 10, 0, 5, 3, 0, 0, 0};
    westEurope.daylightDate = {0, 3, 0, 5, 2, 0, 0, 0};
    kivo::WindowsZoneFields eastern;  // "Eastern Standard Time"
    eastern.bias = 300;
    eastern.daylightBias = -60;
    eastern.standardDate = {0, 11, 0, 1, 2, 0, 0, 0};
    eastern.daylightDate = {0, 3, 0, 2, 2, 0, 0, 0};
    const TimeZone pairs[][2] = {
        {TimeZone::FromWindows(westEurope), *TimeZone::FromPosix("CET-1CEST,M3.5.0,M10.5.0/3")},
        {TimeZone::FromWindows(eastern), *TimeZone::FromPosix("EST5EDT,M3.2.0,M11.1.0")},
    };
    for (const auto& pair : pairs) {
        for (int64_t t = Utc(2023, 1, 1, 0, 0); t < Utc(2027, 1, 1, 0, 0); t += 1800) {
            ASSERT_EQ(pair[0].OffsetAt(t), pair[1].OffsetAt(t)) << t;
        }
    }
}

TEST(TimeZone, WindowsEndOfDayAndFixedZones) {
    kivo::WindowsZoneFields f;  // the change to daylight time at 23:59:59.999 on the last Thursday of March
    f.bias = -120;
    f.daylightBias = -60;
    f.daylightDate = {0, 3, 4, 5, 23, 59, 59, 999};
    f.standardDate = {0, 10, 5, 5, 1, 0, 0, 0};
    const TimeZone zone = TimeZone::FromWindows(f);
    // 2024-03-28 is the last Thursday: the change is at its end, 2024-03-29 00:00 local standard time.
    EXPECT_EQ(zone.OffsetAt(Utc(2024, 3, 28, 22, 0) - 1), 7200);
    EXPECT_EQ(zone.OffsetAt(Utc(2024, 3, 28, 22, 0)), 10800);

    kivo::WindowsZoneFields china;  // no daylight time: StandardDate.wMonth is 0
    china.bias = -480;
    const TimeZone fixed = TimeZone::FromWindows(china);
    EXPECT_FALSE(fixed.HasDaylight());
    EXPECT_EQ(fixed.OffsetAt(Utc(2024, 7, 1, 0, 0)), 28800);
}

#ifdef _WIN32
TEST(TimeZone, PlatformZoneAgreesWithWindowsLocalTimeAllYear) {
    const TimeZone zone = kivo::platform::CurrentTimeZone();
    SYSTEMTIME now;
    GetSystemTime(&now);
    for (int64_t t = Utc(now.wYear, 1, 1, 0, 0); t < Utc(now.wYear + 1, 1, 1, 0, 0); t += 3 * 3600 + 60) {
        ULARGE_INTEGER ticks;
        ticks.QuadPart = uint64_t(t + 11644473600LL) * 10000000ULL;
        const FILETIME ft{ticks.LowPart, ticks.HighPart};
        SYSTEMTIME utc, local;
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &utc));
        ASSERT_TRUE(SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local));
        ASSERT_EQ(zone.ToLocal(t),
                  Utc(local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond))
            << t;
    }
}
#else
TEST(TimeZone, PlatformReadsTheZoneNamedByTz) {
    const char* old = std::getenv("TZ");
    const std::string saved = old ? old : "";
    setenv("TZ", "Europe/Berlin", 1);
    const TimeZone named = kivo::platform::CurrentTimeZone();
    setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    const TimeZone rules = kivo::platform::CurrentTimeZone();
    old ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
    EXPECT_EQ(named.OffsetAt(1711846800 - 1), 3600);
    EXPECT_EQ(named.OffsetAt(1711846800), 7200);
    EXPECT_EQ(rules.OffsetAt(1710054000), -14400);
}
#endif
