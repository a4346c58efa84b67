#include "schedule_form.h"

#include <algorithm>
#include <cstdint>

#include "resource.h"

namespace editors {
namespace {

constexpr int32_t kMinInterval = 1, kMaxInterval = 1440;

// Guarded texts stay far below this; only a damaged loaded record could come near it, and the
// engine refuses such a schedule rather than receiving a wrapped number.
uint16_t ToField(int64_t value) {
    return uint16_t(std::min<int64_t>(value, UINT16_MAX));
}

uint16_t TimeOfDay(const ScheduleForm& form) {
    return ToField(int64_t(ReadDecimal(form.hour)) * 100 + ReadDecimal(form.minute));
}

}  // namespace

Checked<RunSchedule> GatherScheduleForm(const ScheduleForm& form) {
    RunSchedule schedule{};
    switch (form.mode) {
        case kIntervalMode: {
            if (form.interval.empty()) {
                return InputFault{"请输入间隔时长.", kWarningCaption, IDC_INTERVAL, false};
            }
            // Judged on the whole number typed: 65537 must not pass as 1 once stored in 16 bits.
            const int32_t minutes = ReadDecimal(form.interval);
            if (minutes < kMinInterval || minutes > kMaxInterval) {
                return InputFault{"间隔时长区间[1,1440]，请重新输入", kWarningCaption, IDC_INTERVAL, true};
            }
            schedule.interval_minutes = uint16_t(minutes);
            break;
        }
        case kDailyMode:
            schedule.time_hhmm = TimeOfDay(form);
            break;
        case kWeeklyMode: {
            uint16_t mask = 0;
            for (size_t i = 0; i < form.weekdays.size(); ++i) {
                if (form.weekdays[i]) mask = uint16_t(mask | (1u << i));
            }
            if (mask == 0) return InputFault{"最少选择一天.", kErrorCaption, kFocusUnchanged, false};
            schedule.week_mask = mask;
            schedule.time_hhmm = TimeOfDay(form);
            break;
        }
        case kMonthlyMode:
            schedule.month_day = ToField(ReadDecimal(form.day));
            schedule.time_hhmm = TimeOfDay(form);
            break;
        default:
            break;
    }
    return schedule;
}

ScheduleView ViewOfSchedule(const RunSchedule& schedule) {
    ScheduleView view;
    if (schedule.interval_minutes != 0) {
        view.mode = kIntervalMode;
        view.interval = DecimalText(schedule.interval_minutes);
        return view;
    }
    view.hour = TwoDigitText(schedule.time_hhmm / 100);
    view.minute = TwoDigitText(schedule.time_hhmm % 100);
    if (schedule.month_day != 0) view.day = DecimalText(schedule.month_day);
    for (size_t i = 0; i < view.weekdays.size(); ++i) view.weekdays[i] = (schedule.week_mask >> i) & 1u;
    if (schedule.month_day != 0) {
        view.mode = kMonthlyMode;
    } else if (schedule.week_mask != 0) {
        view.mode = kWeeklyMode;
    } else {
        view.mode = kDailyMode;
    }
    return view;
}

}  // namespace editors
