#include "history_text.h"

#include <cstdio>

#include "civil_date.h"

namespace kivo {
namespace {

bool Digits(std::string_view text, int& value) {
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

}  // namespace

std::string HistoryText::FileName(int64_t localDay) {
    const CivilDate date = CivilFromDays(localDay);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d.log", date.year, date.month, date.day);
    return buf;
}

std::optional<int64_t> HistoryText::DayOfFileName(std::string_view name) {
    int year = 0, month = 0, day = 0;
    if (name.size() != 14 || name[4] != '-' || name[7] != '-' || name.substr(10) != ".log" ||
        !Digits(name.substr(0, 4), year) || !Digits(name.substr(5, 2), month) ||
        !Digits(name.substr(8, 2), day) || month < 1 || month > 12 || day < 1 ||
        day > DaysInMonth(year, month))
        return std::nullopt;
    return DaysFromCivil(year, month, day);
}

std::string HistoryText::Stamp(int64_t local) {
    const CivilDate date = CivilFromDays(FloorDiv(local, kSecondsPerDay));
    const int64_t second = FloorMod(local, kSecondsPerDay);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d ", date.year, date.month, date.day,
                  int(second / 3600), int(second / 60 % 60), int(second % 60));
    return buf;
}

}  // namespace kivo
