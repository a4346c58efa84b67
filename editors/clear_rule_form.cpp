#include "clear_rule_form.h"

#include <cinttypes>
#include <cstdio>
#include <tuple>
#include <utility>

#include "resource.h"
#include "rule_text_checks.h"

namespace editors {
namespace {

constexpr int32_t kMinPercent = 5, kMaxPercent = 95;

InputFault Refuse(const char* text, int focusId) {
    return InputFault{text, kErrorCaption, focusId, true};
}

bool DateInBounds(int32_t date) {
    return date >= kEarliestDate && date <= kLatestDate;
}

// Splits a range text at its first ','. A ',' (0x2C) is never a GBK trail byte, so a byte search
// cannot land inside a double-byte character.
std::pair<std::string, std::string> SplitRange(std::string_view text) {
    const size_t comma = text.find(',');
    if (comma == std::string_view::npos) return {std::string(text), std::string()};
    return {std::string(text.substr(0, comma)), std::string(text.substr(comma + 1))};
}

std::string RangeText(const char* format, int64_t first, int64_t second) {
    char text[64];
    std::snprintf(text, sizeof text, format, first, second);
    return text;
}

// Hours and minutes come from two-character edits, or from a loaded record that may be damaged;
// 64 bits keep the arithmetic exact either way.
int64_t TimeOfDay(const std::string& hour, const std::string& minute) {
    return int64_t(ReadDecimal(hour)) * 100 + ReadDecimal(minute);
}

}  // namespace

Checked<ClearRule> ComposeClearRule(const ClearRule& rule, const RunSchedule& schedule,
                                    const ClearForm& form) {
    ClearRule out = rule;
    out.schedule = schedule;

    if (auto fault = CheckDescription(form.description)) return *fault;
    WriteField(out.description, form.description.text);
    if (auto fault = CheckPath(form.path, kWatchedPathMessages)) return *fault;
    WriteField(out.path, form.path.text);

    out.min_free_percent = 0;
    if (form.freeSpaceChecked) {
        const int32_t percent = ReadDecimal(form.freeSpacePercent);
        if (percent < kMinPercent || percent > kMaxPercent) {
            return Refuse("磁盘剩余空间区间[5,95]，请重新输入.", IDC_FREE_SPACE_PERCENT);
        }
        out.min_free_percent = percent;
    }

    if (!form.nameFilter.exact) return Refuse("名称过滤字段含有无法保存的字符.", IDC_NAME_FILTER);
    if (form.nameFilter.text.size() > kNameFilterMaxBytes) {
        return Refuse("名称过滤字段最长32字节，请重新输入.", IDC_NAME_FILTER);
    }
    WriteField(out.name_filter, form.nameFilter.text);

    int32_t start = ReadDecimal(form.startDate), end = ReadDecimal(form.endDate);
    if (start != 0 && !DateInBounds(start))
        return Refuse("日期区间[19700101,20991230]，请重新输入.", IDC_START_DATE);
    if (end != 0 && !DateInBounds(end))
        return Refuse("日期区间[19700101,20991230]，请重新输入.", IDC_END_DATE);
    if (start != 0 && end != 0 && start > end) {
        return Refuse("开始日期必须小于结束日期，请重新输入.", IDC_START_DATE);
    }
    WriteField(out.date_range, "");
    if (start != 0 || end != 0) {
        if (start == 0) start = kEarliestDate;
        if (end == 0) end = kLatestDate;
        WriteField(out.date_range, RangeText("%" PRId64 ",%" PRId64, start, end));
    }

    const int64_t from = TimeOfDay(form.startHour, form.startMinute);
    const int64_t to = TimeOfDay(form.endHour, form.endMinute);
    if (from > to) return Refuse("开始时间必须小于结束时间，请重新输入.", IDC_START_HOUR);
    WriteField(out.time_range, "");
    if (from != 0 || to != 0) WriteField(out.time_range, RangeText("%04" PRId64 ",%04" PRId64, from, to));

    const int32_t minSize = ReadDecimal(form.minSize), maxSize = ReadDecimal(form.maxSize);
    if (minSize > maxSize) return Refuse("文件大小最小值必须小于最大值，请重新输入.", IDC_MIN_SIZE);
    WriteField(out.size_range, "");
    if (minSize != 0 || maxSize != 0)
        WriteField(out.size_range, RangeText("%" PRId64 ",%" PRId64, minSize, maxSize));

    out.keep_days = ReadDecimal(form.keepDays);
    return out;
}

ClearRuleView ViewOfClearRule(const ClearRule& rule) {
    ClearRuleView view;
    view.description = FieldText(rule.description);
    view.path = FieldText(rule.path);
    view.freeSpaceChecked = rule.min_free_percent != 0;
    if (rule.min_free_percent != 0) view.freeSpacePercent = DecimalText(rule.min_free_percent);
    view.keepDays = DecimalText(rule.keep_days);
    view.nameFilter = FieldText(rule.name_filter);

    const std::string_view sizes = FieldText(rule.size_range), dates = FieldText(rule.date_range);
    if (sizes.empty()) {
        view.minSize = view.maxSize = "0";
    } else {
        std::tie(view.minSize, view.maxSize) = SplitRange(sizes);
    }
    if (dates.empty()) {
        view.startDate = view.endDate = "0";
    } else {
        std::tie(view.startDate, view.endDate) = SplitRange(dates);
    }

    const std::string_view times = FieldText(rule.time_range);
    if (times.empty()) {
        view.startHour = view.startMinute = view.endHour = view.endMinute = "00";
    } else {
        const auto [first, second] = SplitRange(times);
        const int32_t from = ReadDecimal(first), to = ReadDecimal(second);
        view.startHour = TwoDigitText(from / 100);
        view.startMinute = TwoDigitText(from % 100);
        view.endHour = TwoDigitText(to / 100);
        view.endMinute = TwoDigitText(to % 100);
    }
    return view;
}

std::string ClearSaveFailureText(bool newRule, int code) {
    return std::string(newRule ? "新增" : "修改") + "删除规则失败:" + DecimalText(code);
}

}  // namespace editors
