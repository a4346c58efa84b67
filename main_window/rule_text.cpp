#include "rule_text.h"

#include <cstdio>
#include <limits>

#include "sysutil_api.h"

namespace {

template <typename... Args>
std::string Format(const char* format, Args... args) {
    char buffer[96];
    int n = std::snprintf(buffer, sizeof buffer, format, args...);
    return std::string(buffer, n < 0 ? 0 : std::min<size_t>(size_t(n), sizeof buffer - 1));
}

void AppendDate(std::string& out, int v) {
    out += Format("%04d/%02d/%02d", v / 10000, (v / 100) % 100, v % 100);
}
void AppendTime(std::string& out, int v) {
    out += Format("%02d:%02d", v / 100, v % 100);
}
bool Present(const char* part) {
    return part && *part;
}

}  // namespace

int32_t LeadingNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t value = 0;
    constexpr int64_t limit = int64_t(std::numeric_limits<int32_t>::max()) + 1;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = std::min(value * 10 + (text[i] - '0'), limit);
    }
    if (negative) return int32_t(-value);
    return int32_t(std::min<int64_t>(value, std::numeric_limits<int32_t>::max()));
}

std::string ScheduleText(const RunSchedule& s) {
    if (s.interval_minutes > 0) return Format("间隔:%d分钟", int(s.interval_minutes));
    const int hour = s.time_hhmm / 100, minute = s.time_hhmm % 100;
    if (s.month_day > 0) return Format("每月:%d日 %02d:%02d", int(s.month_day), hour, minute);
    static const char* const kDays[7] = {"周一 ", "周二 ", "周三 ", "周四 ", "周五 ", "周六 ", "周日 "};
    std::string text;
    if (s.week_mask != 0 && s.week_mask != 127) {
        for (int bit = 0; bit < 7; ++bit) {
            if (s.week_mask & (1u << bit)) text += kDays[bit];
        }
    } else {
        text = "每天 ";
    }
    return text + Format("%02d:%02d", hour, minute);
}

std::string RangeText(std::string_view dateRange, std::string_view timeRange) {
    if (dateRange.empty() && timeRange.empty()) return {};
    char date[64] = {}, time[64] = {};
    dateRange.copy(date, sizeof date - 1);
    timeRange.copy(time, sizeof time - 1);
    char* dateEnd = nullptr;
    char* dateStart = sys_strtok(date, ",", &dateEnd);
    char* timeEnd = nullptr;
    char* timeStart = sys_strtok(time, ",", &timeEnd);

    std::string text;
    if (Present(dateStart)) AppendDate(text, LeadingNumber(dateStart));
    if (Present(timeStart)) {
        if (!text.empty()) text += ' ';
        AppendTime(text, LeadingNumber(timeStart));
    }
    text += text.empty() ? "0," : ",";
    if (Present(dateEnd)) AppendDate(text, LeadingNumber(dateEnd));
    if (Present(timeEnd)) {
        if (Present(dateEnd)) text += ' ';
        AppendTime(text, LeadingNumber(timeEnd));
    }
    return text;
}

std::string StateText(int32_t enabled) {
    if (enabled == 1) return "启用";
    if (enabled == 0) return "禁用";
    return Format("%d", int(enabled));
}

std::array<std::string, 10> ClearRowTexts(const ClearRule& r) {
    return {Format("%d", int(r.rule_id)),
            std::string(FieldText(r.description)),
            StateText(r.enabled),
            std::string(FieldText(r.path)),
            Format("%d", int(r.min_free_percent)),
            ScheduleText(r.schedule),
            Format("%d", int(r.keep_days)),
            std::string(FieldText(r.name_filter)),
            std::string(FieldText(r.size_range)),
            RangeText(FieldText(r.date_range), FieldText(r.time_range))};
}

std::array<std::string, 7> BackupRowTexts(const BackupRule& r) {
    return {Format("%d", int(r.rule_id)),
            std::string(FieldText(r.description)),
            StateText(r.enabled),
            std::string(FieldText(r.source_path)),
            std::string(FieldText(r.backup_path)),
            ScheduleText(r.schedule),
            Format("%d", int(r.keep_days))};
}
