#include "time_zone.h"

#include <algorithm>

#include "civil_date.h"

namespace kivo {
namespace {

int64_t DayOfChange(const ZoneChangeRule& rule, int64_t year) {
    using Kind = ZoneChangeRule::Kind;
    const int64_t jan1 = DaysFromCivil(year, 1, 1);
    switch (rule.kind) {
        case Kind::JulianNoLeap:
            return jan1 + rule.day - 1 + (IsLeapYear(year) && rule.day >= 60 ? 1 : 0);
        case Kind::DayOfYear:
            return jan1 + rule.day;
        case Kind::MonthDay:
            return DaysFromCivil(year, rule.month, std::min(rule.day, DaysInMonth(year, rule.month)));
        case Kind::MonthWeekDay:
            break;
    }
    const int64_t first = DaysFromCivil(year, rule.month, 1);
    int64_t day = first + FloorMod(rule.weekday - WeekdayFromDays(first), 7) + int64_t(rule.week - 1) * 7;
    while (day >= first + DaysInMonth(year, rule.month)) day -= 7;  // week 5: the last one
    return day;
}

class PosixReader {
  public:
    explicit PosixReader(std::string_view text) : m_s(text) {}

    bool AtEnd() const { return m_i == m_s.size(); }
    bool Take(char c) {
        if (m_i < m_s.size() && m_s[m_i] == c) {
            ++m_i;
            return true;
        }
        return false;
    }
    bool NextIsOffset() const {
        return m_i < m_s.size() && (IsDigit(m_s[m_i]) || m_s[m_i] == '+' || m_s[m_i] == '-');
    }

    // "CET" (three or more letters) or "<+0330>" (quoted).
    bool Name() {
        if (Take('<')) {
            size_t end = m_s.find('>', m_i);
            if (end == std::string_view::npos || end - m_i < 3) return false;
            m_i = end + 1;
            return true;
        }
        size_t begin = m_i;
        while (m_i < m_s.size() && IsAlpha(m_s[m_i])) ++m_i;
        return m_i - begin >= 3;
    }

    // [+-]hh[:mm[:ss]] in seconds.
    bool Duration(int maxHours, int32_t& out) {
        int sign = 1;
        if (Take('-')) {
            sign = -1;
        } else {
            Take('+');
        }
        int h = 0, m = 0, s = 0;
        if (!Number(3, h) || h > maxHours) return false;
        if (Take(':')) {
            if (!Number(2, m) || m > 59) return false;
            if (Take(':') && (!Number(2, s) || s > 59)) return false;
        }
        out = sign * (h * 3600 + m * 60 + s);
        return true;
    }

    // Mm.w.d, Jn or n, then an optional /time.
    bool Rule(ZoneChangeRule& rule) {
        using Kind = ZoneChangeRule::Kind;
        rule = ZoneChangeRule{};
        if (Take('M')) {
            rule.kind = Kind::MonthWeekDay;
            if (!Number(2, rule.month) || rule.month < 1 || rule.month > 12 || !Take('.')) return false;
            if (!Number(1, rule.week) || rule.week < 1 || rule.week > 5 || !Take('.')) return false;
            if (!Number(1, rule.weekday) || rule.weekday > 6) return false;
        } else if (Take('J')) {
            rule.kind = Kind::JulianNoLeap;
            if (!Number(3, rule.day) || rule.day < 1 || rule.day > 365) return false;
        } else {
            rule.kind = Kind::DayOfYear;
            if (!Number(3, rule.day) || rule.day > 365) return false;
        }
        if (Take('/')) return Duration(167, rule.time);
        return true;
    }

  private:
    static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
    static bool IsAlpha(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

    bool Number(int maxDigits, int& out) {
        size_t begin = m_i;
        out = 0;
        while (m_i < m_s.size() && IsDigit(m_s[m_i]) && int(m_i - begin) < maxDigits)
            out = out * 10 + (m_s[m_i++] - '0');
        return m_i > begin && !(m_i < m_s.size() && IsDigit(m_s[m_i]));
    }

    std::string_view m_s;
    size_t m_i = 0;
};

ZoneChangeRule RuleFromWindows(const WindowsZoneFields::Date& d) {
    ZoneChangeRule rule;
    if (d.year != 0) {
        rule.kind = ZoneChangeRule::Kind::MonthDay;
        rule.day = d.day;
    } else {
        rule.kind = ZoneChangeRule::Kind::MonthWeekDay;
        rule.week = std::clamp(d.day, 1, 5);
        rule.weekday = std::clamp(d.dayOfWeek, 0, 6);
    }
    rule.month = std::clamp(d.month, 1, 12);
    // Windows writes "end of day" as 23:59:59.999; count any milliseconds as the next second.
    rule.time = d.hour * 3600 + d.minute * 60 + d.second + (d.milliseconds > 0 ? 1 : 0);
    return rule;
}

}  // namespace

TimeZone TimeZone::Fixed(int32_t utcOffsetSeconds) {
    TimeZone zone;
    zone.m_standard = zone.m_daylight = utcOffsetSeconds;
    return zone;
}

TimeZone TimeZone::WithDaylight(int32_t standardOffset, int32_t daylightOffset, ZoneChangeRule toDaylight,
                                ZoneChangeRule toStandard) {
    TimeZone zone;
    zone.m_standard = standardOffset;
    zone.m_daylight = daylightOffset;
    zone.m_hasDaylight = true;
    zone.m_toDaylight = toDaylight;
    zone.m_toStandard = toStandard;
    return zone;
}

std::optional<TimeZone> TimeZone::FromPosix(std::string_view tz) {
    PosixReader r(tz);
    int32_t west = 0;
    if (!r.Name() || !r.Duration(24, west)) return std::nullopt;
    if (r.AtEnd()) return Fixed(-west);
    if (!r.Name()) return std::nullopt;
    int32_t daylightWest = west - 3600;
    if (r.NextIsOffset() && !r.Duration(24, daylightWest)) return std::nullopt;
    ZoneChangeRule toDaylight, toStandard;
    if (r.AtEnd()) {
        // No rules given: the customary default (second Sunday of March to first Sunday of November).
        toDaylight = ZoneChangeRule{ZoneChangeRule::Kind::MonthWeekDay, 3, 2, 0, 1, 7200};
        toStandard = ZoneChangeRule{ZoneChangeRule::Kind::MonthWeekDay, 11, 1, 0, 1, 7200};
    } else if (!r.Take(',') || !r.Rule(toDaylight) || !r.Take(',') || !r.Rule(toStandard) || !r.AtEnd()) {
        return std::nullopt;
    }
    return WithDaylight(-west, -daylightWest, toDaylight, toStandard);
}

TimeZone TimeZone::FromWindows(const WindowsZoneFields& f) {
    const int32_t standard = -(f.bias + f.standardBias) * 60;
    if (f.standardDate.month == 0 || f.daylightDate.month == 0) return Fixed(standard);
    return WithDaylight(standard, -(f.bias + f.daylightBias) * 60, RuleFromWindows(f.daylightDate),
                        RuleFromWindows(f.standardDate));
}

int TimeZone::ChangesAround(int64_t year, Change (&out)[6]) const {
    int n = 0;
    for (int64_t y = year - 1; y <= year + 1; ++y) {
        out[n++] = {DayOfChange(m_toDaylight, y) * kSecondsPerDay + m_toDaylight.time - m_standard,
                    m_daylight};
        out[n++] = {DayOfChange(m_toStandard, y) * kSecondsPerDay + m_toStandard.time - m_daylight,
                    m_standard};
    }
    std::stable_sort(out, out + n, [](const Change& a, const Change& b) { return a.at < b.at; });
    return n;
}

int32_t TimeZone::OffsetAt(int64_t utc) const {
    if (!m_hasDaylight) return m_standard;
    Change changes[6];
    const int n = ChangesAround(CivilFromDays(FloorDiv(utc + m_standard, kSecondsPerDay)).year, changes);
    int32_t offset = changes[0].offset == m_daylight ? m_standard : m_daylight;
    for (int i = 0; i < n && changes[i].at <= utc; ++i) offset = changes[i].offset;
    return offset;
}

int64_t TimeZone::FromLocal(int64_t local) const {
    const int64_t asStandard = local - m_standard;
    if (!m_hasDaylight) return asStandard;
    const int64_t asDaylight = local - m_daylight;
    const bool standardHolds = OffsetAt(asStandard) == m_standard;
    const bool daylightHolds = OffsetAt(asDaylight) == m_daylight;
    if (standardHolds && daylightHolds) return std::min(asStandard, asDaylight);
    if (standardHolds) return asStandard;
    if (daylightHolds) return asDaylight;
    // Skipped by a change forward: the change itself lies between the two readings.
    const int64_t lo = std::min(asStandard, asDaylight), hi = std::max(asStandard, asDaylight);
    Change changes[6];
    const int n = ChangesAround(CivilFromDays(FloorDiv(local, kSecondsPerDay)).year, changes);
    for (int i = 0; i < n; ++i) {
        if (changes[i].at > lo && changes[i].at <= hi) return changes[i].at;
    }
    return hi;
}

}  // namespace kivo
