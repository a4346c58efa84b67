#include <gtest/gtest.h>

#include <tuple>

#include "form_test_support.h"
#include "resource.h"
#include "schedule_form.h"

namespace editors {
namespace {

using Fields = std::tuple<int, int, int, int>;  // interval, month day, week mask, time

Fields FieldsOf(const RunSchedule& s) {
    return {s.interval_minutes, s.month_day, s.week_mask, s.time_hhmm};
}

ScheduleForm Form(int mode, std::string interval = "15", std::string hour = "00", std::string minute = "00",
                  std::string day = "1") {
    ScheduleForm form;
    form.mode = mode;
    form.interval = std::move(interval);
    form.hour = std::move(hour);
    form.minute = std::move(minute);
    form.day = std::move(day);
    return form;
}

TEST(ScheduleGathering, IntervalIsJudgedOnTheWholeNumberTyped) {
    const InputFault empty{"请输入间隔时长.", "警告", IDC_INTERVAL, false};
    const InputFault range{"间隔时长区间[1,1440]，请重新输入", "警告", IDC_INTERVAL, true};
    const struct {
        const char* text;
        std::optional<InputFault> fault;
        int minutes;
    } cases[] = {
        {"", empty, 0},
        {"0", range, 0},
        {"1", {}, 1},
        {"15", {}, 15},
        {"1440", {}, 1440},
        {"1441", range, 0},
        {"65537", range, 0},
        {"65536", range, 0},  // never truncated to 16 bits
        {"99999999999", range, 0},
    };
    for (const auto& c : cases) {
        const Checked<RunSchedule> result = GatherScheduleForm(Form(kIntervalMode, c.text));
        if (c.fault) {
            ASSERT_FALSE(result.ok()) << c.text;
            EXPECT_EQ(result.fault(), *c.fault) << c.text;
        } else {
            ASSERT_TRUE(result.ok()) << c.text;
            EXPECT_EQ(FieldsOf(result.value()), Fields(c.minutes, 0, 0, 0)) << c.text;
        }
    }
}

TEST(ScheduleGathering, EncodesExactlyTheChosenMode) {
    ScheduleForm weeklyTicks = Form(kDailyMode, "30", "23", "59", "31");
    weeklyTicks.weekdays = {true, true, false, false, false, false, true};
    ScheduleForm all = Form(kWeeklyMode, "30", "06", "30");
    all.weekdays.fill(true);
    ScheduleForm mondaySunday = Form(kWeeklyMode, "", "", "");
    mondaySunday.weekdays[0] = mondaySunday.weekdays[6] = true;
    ScheduleForm monthly = Form(kMonthlyMode, "30", "08", "30", "31");
    monthly.weekdays.fill(true);
    ScheduleForm intervalWithEverything = Form(kIntervalMode, "30", "08", "30", "12");
    intervalWithEverything.weekdays.fill(true);

    const struct {
        const char* name;
        ScheduleForm form;
        Fields expected;
    } cases[] = {
        {"daily ignores ticks and day", weeklyTicks, {0, 0, 0, 2359}},
        {"daily with empty texts", Form(kDailyMode, "", "", ""), {0, 0, 0, 0}},
        {"weekly, every day", all, {0, 0, 127, 630}},
        {"weekly, Monday and Sunday at 00:00", mondaySunday, {0, 0, 0x41, 0}},
        {"monthly", monthly, {0, 31, 0, 830}},
        {"interval keeps the others zero", intervalWithEverything, {30, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        const Checked<RunSchedule> result = GatherScheduleForm(c.form);
        ASSERT_TRUE(result.ok()) << c.name;
        EXPECT_EQ(FieldsOf(result.value()), c.expected) << c.name;
    }
}

TEST(ScheduleGathering, WeeklyWithoutADayIsRefusedWithoutMovingTheFocus) {
    const Checked<RunSchedule> result = GatherScheduleForm(Form(kWeeklyMode));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.fault(), (InputFault{"最少选择一天.", "错误", kFocusUnchanged, false}));
}

TEST(ScheduleLoading, ShowsTheModeThatPrecedenceGives) {
    const auto all = std::array<bool, 7>{true, true, true, true, true, true, true};
    const auto monTue = std::array<bool, 7>{true, true, false, false, false, false, false};
    const auto none = std::array<bool, 7>{};
    const struct {
        RunSchedule schedule;
        int mode;
        std::optional<std::string> interval;
        std::string hour, minute;
        std::optional<std::string> day;
        std::array<bool, 7> weekdays;
    } cases[] = {
        {{30, 0, 0, 0}, kIntervalMode, "30", "", "", {}, none},
        {{30, 15, 3, 800}, kIntervalMode, "30", "", "", {}, none},
        {{0, 15, 3, 800}, kMonthlyMode, {}, "08", "00", "15", monTue},
        {{0, 0, 127, 630}, kWeeklyMode, {}, "06", "30", {}, all},
        {{0, 0, 0, 2359}, kDailyMode, {}, "23", "59", {}, none},
        {{0, 0, 0, 0}, kDailyMode, {}, "00", "00", {}, none},
    };
    for (const auto& c : cases) {
        const ScheduleView view = ViewOfSchedule(c.schedule);
        const std::string name = testing::PrintToString(FieldsOf(c.schedule));
        EXPECT_EQ(view.mode, c.mode) << name;
        EXPECT_EQ(view.interval, c.interval) << name;
        EXPECT_EQ(view.hour, c.hour) << name;
        EXPECT_EQ(view.minute, c.minute) << name;
        EXPECT_EQ(view.day, c.day) << name;
        EXPECT_EQ(view.weekdays, c.weekdays) << name;
    }
}

TEST(ScheduleLoading, RoundTripsThroughGatheringForEveryMode) {
    const RunSchedule schedules[] = {{1440, 0, 0, 0},    {0, 0, 0, 945},  {0, 0, 127, 630},
                                     {0, 0, 0x2A, 1200}, {0, 31, 0, 830}, {0, 1, 0, 0}};
    for (const RunSchedule& schedule : schedules) {
        const ScheduleView view = ViewOfSchedule(schedule);
        ScheduleForm form =
            Form(view.mode, view.interval.value_or("15"), view.hour, view.minute, view.day.value_or("1"));
        form.weekdays = view.weekdays;
        const Checked<RunSchedule> back = GatherScheduleForm(form);
        ASSERT_TRUE(back.ok());
        EXPECT_EQ(FieldsOf(back.value()), FieldsOf(schedule));
    }
}

}  // namespace
}  // namespace editors
