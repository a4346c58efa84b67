#include <gtest/gtest.h>

#include <climits>

#include "rule_text.h"

namespace {

TEST(ScheduleText, EveryModeAsTheListShowsIt) {
    struct Case {
        RunSchedule schedule;
        const char* text;
    } cases[] = {
        {{30, 15, 3, 800}, "间隔:30分钟"},  // the interval wins over every other field
        {{1440, 0, 0, 0}, "间隔:1440分钟"},
        {{0, 15, 0, 930}, "每月:15日 09:30"},
        {{0, 31, 127, 2359}, "每月:31日 23:59"},  // monthly wins over weekly
        {{0, 0, 0b0010101, 830}, "周一 周三 周五 08:30"},
        {{0, 0, 64, 0}, "周日 00:00"},
        {{0, 0, 1, 5}, "周一 00:05"},
        {{0, 0, 127, 1200}, "每天 12:00"},  // all seven days read as every day
        {{0, 0, 0, 2300}, "每天 23:00"},
        {{0, 0, 0, 0}, "每天 00:00"},
    };
    for (const Case& c : cases) EXPECT_EQ(ScheduleText(c.schedule), c.text) << c.text;
}

TEST(RangeText, EveryCombinationOfEmptyAndSetHalves) {
    struct Case {
        const char *date, *time, *text;
    } cases[] = {
        {"", "", ""},
        {"19700101,20991230", "", "1970/01/01,2099/12/30"},
        {"", "0800,1800", "08:00,18:00"},
        {"", "0000,0600", "00:00,06:00"},
        {"19700101,20991230", "0800,1800", "1970/01/01 08:00,2099/12/30 18:00"},
        {"20240229,", "", "2024/02/29,"},   // no end date
        {",20991230", "", "0,2099/12/30"},  // no start date
        {"20240101", "", "2024/01/01,"},    // no ',' at all
        {"", ",1745", "0,17:45"},
        {"20240101,", ",1745", "2024/01/01,17:45"},  // the end time alone takes no blank
        {",20240131", "0930,", "09:30,2024/01/31"},
        {"abc,xyz", "", "0000/00/00,0000/00/00"},  // no leading digits read as 0
    };
    for (const Case& c : cases) EXPECT_EQ(RangeText(c.date, c.time), c.text) << c.date << " / " << c.time;
}

TEST(RowTexts, CleanRuleColumnsInOrder) {
    ClearRule rule{};
    rule.rule_id = 42;
    rule.enabled = 0;
    rule.keep_days = 7;
    rule.min_free_percent = 0;
    rule.schedule = {0, 0, 0, 2300};
    WriteField(rule.description, "日志, 清理 ");
    WriteField(rule.path, "D:\\日志");
    WriteField(rule.name_filter, "tmp,log");
    WriteField(rule.size_range, "0,500");
    WriteField(rule.date_range, "19700101,20991230");
    const auto texts = ClearRowTexts(rule);
    const std::array<std::string, 10> expected = {"42",    "日志, 清理 ",          "禁用", "D:\\日志",
                                                  "0",     "每天 23:00",           "7",    "tmp,log",
                                                  "0,500", "1970/01/01,2099/12/30"};
    EXPECT_EQ(texts, expected);
}

TEST(RowTexts, BackupRuleColumnsInOrder) {
    BackupRule rule{};
    rule.rule_id = -3;
    rule.enabled = 1;
    rule.keep_days = 30;
    rule.schedule = {15, 0, 0, 0};
    WriteField(rule.description, "备份");
    WriteField(rule.source_path, "C:\\src");
    WriteField(rule.backup_path, "E:\\bak");
    const std::array<std::string, 7> expected = {"-3",      "备份",        "启用", "C:\\src",
                                                 "E:\\bak", "间隔:15分钟", "30"};
    EXPECT_EQ(BackupRowTexts(rule), expected);
}

TEST(RowTexts, StateOutsideZeroAndOneShowsTheNumber) {
    EXPECT_EQ(StateText(1), "启用");
    EXPECT_EQ(StateText(0), "禁用");
    EXPECT_EQ(StateText(2), "2");
    EXPECT_EQ(StateText(-1), "-1");
}

TEST(RowTexts, UnterminatedFieldShowsItsBytesWithoutOverrun) {
    ClearRule rule{};
    std::memset(rule.description, 'd', sizeof rule.description);  // no terminator
    EXPECT_EQ(ClearRowTexts(rule)[1], std::string(32, 'd'));
}

TEST(LeadingNumber, ReadsLikeAtoiButSaturates) {
    EXPECT_EQ(LeadingNumber(""), 0);
    EXPECT_EQ(LeadingNumber("abc"), 0);
    EXPECT_EQ(LeadingNumber("42abc"), 42);
    EXPECT_EQ(LeadingNumber("  -17"), -17);
    EXPECT_EQ(LeadingNumber("2147483647"), INT_MAX);
    EXPECT_EQ(LeadingNumber("99999999999999999999"), INT_MAX);
    EXPECT_EQ(LeadingNumber("-99999999999999999999"), INT_MIN);
}

}  // namespace
