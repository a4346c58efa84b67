// A time zone described by rules, as both Windows (TIME_ZONE_INFORMATION) and POSIX TZ strings
// ("CET-1CEST,M3.5.0,M10.5.0/3") give it: a standard offset, optionally a daylight offset, and the two
// yearly changes between them. Pure: the platform layer builds one from the system's settings.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kivo {

// The local day and time of a yearly change between standard and daylight time.
struct ZoneChangeRule {
    enum class Kind {
        MonthWeekDay,  // the week-th weekday of month (week 5 = the last one): POSIX "Mm.w.d", Windows
        JulianNoLeap,  // day 1..365, February 29 never counted: POSIX "Jn"
        DayOfYear,     // day 0..365, February 29 counted: POSIX "n"
        MonthDay,      // a fixed date (Windows rules with a year)
    };
    Kind kind = Kind::MonthWeekDay;
    int month = 1;    // 1..12
    int week = 1;     // 1..5
    int weekday = 0;  // 0 = Sunday .. 6 = Saturday
    int day = 1;      // JulianNoLeap, DayOfYear, MonthDay
    // Seconds after that local midnight, in the offset in force before the change; may be
    // negative or beyond a day (POSIX allows -167h..167h).
    int32_t time = 2 * 3600;
};

// The fields of Windows' TIME_ZONE_INFORMATION, so the conversion is testable without windows.h.
struct WindowsZoneFields {
    struct Date {
        int year = 0, month = 0, dayOfWeek = 0, day = 0, hour = 0, minute = 0, second = 0, milliseconds = 0;
    };
    int bias = 0;  // minutes: UTC = local + bias
    int standardBias = 0;
    int daylightBias = 0;
    Date standardDate;  // the change back to standard time, in daylight time; month 0 = no daylight time
    Date daylightDate;  // the change to daylight time, in standard time
};

class TimeZone {
  public:
    TimeZone() = default;  // UTC
    static TimeZone Fixed(int32_t utcOffsetSeconds);
    // Offsets are seconds east of UTC (local = UTC + offset).
    static TimeZone WithDaylight(int32_t standardOffset, int32_t daylightOffset, ZoneChangeRule toDaylight,
                                 ZoneChangeRule toStandard);
    // nullopt for a text that is not a POSIX TZ rule string.
    static std::optional<TimeZone> FromPosix(std::string_view tz);
    static TimeZone FromWindows(const WindowsZoneFields& fields);

    int32_t OffsetAt(int64_t utc) const;
    int64_t ToLocal(int64_t utc) const { return utc + OffsetAt(utc); }

    // The first instant at which the local wall clock reads `local` (seconds since 1970-01-01 in wall
    // time). A wall time that occurs twice gives the first; one skipped by a change forward gives the
    // instant of that change, the first valid moment after it.
    int64_t FromLocal(int64_t local) const;

    bool HasDaylight() const { return m_hasDaylight; }
    int32_t StandardOffset() const { return m_standard; }
    int32_t DaylightOffset() const { return m_daylight; }

  private:
    struct Change {
        int64_t at;      // UTC instant
        int32_t offset;  // in force from `at` on
    };
    // The changes of years year-1 .. year+1, in time order.
    int ChangesAround(int64_t year, Change (&out)[6]) const;

    int32_t m_standard = 0;
    int32_t m_daylight = 0;
    bool m_hasDaylight = false;
    ZoneChangeRule m_toDaylight;
    ZoneChangeRule m_toStandard;
};

}  // namespace kivo
