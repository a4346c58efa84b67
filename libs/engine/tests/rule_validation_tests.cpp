#include "rule_validation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "engine_api.h"
#include "engine_test_support.h"

using namespace kivo;
using kivo::test::ValidBackupRule;
using kivo::test::ValidClearRule;

TEST(RuleValidation, RangeTexts) {
    struct Case {
        RangeText (*parse)(std::string_view);
        const char* text;
        bool ok;
        int64_t low, high;  // when ok and not empty
    } cases[] = {
        {ParseSizeRange, "", true, -1, -1},
        {ParseSizeRange, "0,500", true, 0, 500},
        {ParseSizeRange, "100,100", true, 100, 100},
        {ParseSizeRange, "0,2147483647", true, 0, 2147483647},
        {ParseSizeRange, "0,2147483648", false, 0, 0},
        {ParseSizeRange, "500,0", false, 0, 0},
        {ParseSizeRange, "5", false, 0, 0},
        {ParseSizeRange, ",5", false, 0, 0},
        {ParseSizeRange, "5,", false, 0, 0},
        {ParseSizeRange, "1,2,3", false, 0, 0},
        {ParseSizeRange, "-1,5", false, 0, 0},
        {ParseSizeRange, " 1,5", false, 0, 0},
        {ParseSizeRange, "1,5 ", false, 0, 0},
        {ParseSizeRange, "0x1,5", false, 0, 0},
        {ParseSizeRange, "00000000001,5", false, 0, 0},
        {ParseDateRange, "19700101,20991230", true, 19700101, 20991230},
        {ParseDateRange, "20240229,20240301", true, 20240229, 20240301},
        {ParseDateRange, "20230229,20240301", true, 20230229, 20240301},  // numbers, not calendar dates
        {ParseDateRange, "20240231,20991230", true, 20240231, 20991230},
        {ParseDateRange, "20241399,20241400", true, 20241399, 20241400},
        {ParseDateRange, "19691231,20240101", false, 0, 0},
        {ParseDateRange, "20240101,20991231", false, 0, 0},
        {ParseDateRange, "20240102,20240101", false, 0, 0},
        {ParseDateRange, "2024011,20240101", false, 0, 0},
        {ParseDateRange, "19700100,20240101", false, 0, 0},
        {ParseTimeRange, "0000,0600", true, 0, 600},
        {ParseTimeRange, "0000,2359", true, 0, 2359},
        {ParseTimeRange, "1200,1200", true, 1200, 1200},
        {ParseTimeRange, "0,600", false, 0, 0},  // must be zero-padded
        {ParseTimeRange, "0000,2400", false, 0, 0},
        {ParseTimeRange, "0060,0100", false, 0, 0},
        {ParseTimeRange, "0600,0000", false, 0, 0},
        {ParseTimeRange, "0000,06000", false, 0, 0},
        {ParseTimeRange, "00:00,06:00", false, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const RangeText r = c.parse(c.text);
        EXPECT_EQ(r.ok, c.ok);
        if (!r.ok) continue;
        ASSERT_EQ(r.range.has_value(), c.low >= 0);
        if (r.range) {
            EXPECT_EQ(r.range->low, c.low);
            EXPECT_EQ(r.range->high, c.high);
        }
    }
}

TEST(RuleValidation, PlainGbkText) {
    struct Case {
        std::string text;
        bool ok;
    } cases[] = {
        {"abc 123", true},      {"备份文档", true},   {"\x81\x40", true},  // lowest double-byte character
        {"\xFE\xFE", true},     {"a|b", true},        {"\xD6|", true},     // '|' is a trail byte here
        {"\x80", true},                                                    // the euro sign of code page 936
        {"\xD6", false},                                                   // lead byte without trail
        {"\xD6\x7F", false},    {"\xD6\x3F", false},  {"\xFF", false},
        {"line\nbreak", false}, {"tab\there", false}, {"del\x7F", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsPlainGbk(c.text), c.ok) << c.text;
}

TEST(RuleValidation, ScheduleFieldsAreCheckedWhateverTheMode) {
    struct Case {
        RunSchedule s;
        int expected;
    } cases[] = {
        {{0, 0, 0, 0}, KIVO_OK},
        {{1440, 0, 0, 0}, KIVO_OK},
        {{1441, 0, 0, 0}, KIVO_E_BAD_SCHEDULE},
        {{0, 31, 0, 2359}, KIVO_OK},
        {{0, 32, 0, 0}, KIVO_E_BAD_SCHEDULE},
        {{0, 0, 127, 0}, KIVO_OK},
        {{0, 0, 128, 0}, KIVO_E_BAD_SCHEDULE},
        {{0, 0, 0x8001, 0}, KIVO_E_BAD_SCHEDULE},
        {{0, 0, 0, 2400}, KIVO_E_BAD_SCHEDULE},
        {{0, 0, 0, 1260}, KIVO_E_BAD_SCHEDULE},
        {{0, 0, 0, 65535}, KIVO_E_BAD_SCHEDULE},
        {{30, 15, 3, 800}, KIVO_OK},  // several modes: read by precedence
        {{30, 40, 0, 0}, KIVO_E_BAD_SCHEDULE},
        {{30, 0, 0, 9999}, KIVO_E_BAD_SCHEDULE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ValidateSchedule(c.s), c.expected)
            << c.s.interval_minutes << " " << c.s.month_day << " " << c.s.week_mask << " " << c.s.time_hhmm;
    }
}

TEST(RuleValidation, ClearRuleFaultsInOrder) {
    struct Case {
        const char* name;
        std::function<void(ClearRule&)> spoil;
        int expected;
    } cases[] = {
        {"valid", [](ClearRule&) {}, KIVO_OK},
        {"enabled 2", [](ClearRule& r) { r.enabled = 2; }, KIVO_E_BAD_FLAG},
        {"enabled -1", [](ClearRule& r) { r.enabled = -1; }, KIVO_E_BAD_FLAG},
        {"description unterminated", [](ClearRule& r) { std::memset(r.description, 'a', 32); },
         KIVO_E_BAD_TEXT},
        {"description empty", [](ClearRule& r) { r.description[0] = 0; }, KIVO_E_BAD_TEXT},
        {"description 31 bytes", [](ClearRule& r) { WriteField(r.description, std::string(31, 'x')); },
         KIVO_OK},
        {"path unterminated", [](ClearRule& r) { std::memset(r.path, 'a', 256); }, KIVO_E_BAD_TEXT},
        {"path empty", [](ClearRule& r) { r.path[0] = 0; }, KIVO_E_BAD_TEXT},
        {"path relative", [](ClearRule& r) { WriteField(r.path, "data"); }, KIVO_E_BAD_TEXT},
        {"path with a line break", [](ClearRule& r) { WriteField(r.path, test::AbsolutePath("a\nb")); },
         KIVO_E_BAD_TEXT},
        {"name filter unterminated", [](ClearRule& r) { std::memset(r.name_filter, 'a', 32); },
         KIVO_E_BAD_TEXT},
        {"size range unterminated", [](ClearRule& r) { std::memset(r.size_range, '1', 32); },
         KIVO_E_BAD_TEXT},
        {"date range unterminated", [](ClearRule& r) { std::memset(r.date_range, '1', 32); },
         KIVO_E_BAD_TEXT},
        {"time range unterminated", [](ClearRule& r) { std::memset(r.time_range, '1', 32); },
         KIVO_E_BAD_TEXT},
        {"empty conditions",
         [](ClearRule& r) {
             r.name_filter[0] = r.size_range[0] = r.date_range[0] = r.time_range[0] = 0;
             r.keep_days = r.min_free_percent = 0;
         },
         KIVO_OK},
        {"schedule", [](ClearRule& r) { r.schedule.week_mask = 0x80; }, KIVO_E_BAD_SCHEDULE},
        {"keep_days negative", [](ClearRule& r) { r.keep_days = -1; }, KIVO_E_BAD_RANGE},
        {"min_free 4", [](ClearRule& r) { r.min_free_percent = 4; }, KIVO_E_BAD_RANGE},
        {"min_free 5", [](ClearRule& r) { r.min_free_percent = 5; }, KIVO_OK},
        {"min_free 95", [](ClearRule& r) { r.min_free_percent = 95; }, KIVO_OK},
        {"min_free 96", [](ClearRule& r) { r.min_free_percent = 96; }, KIVO_E_BAD_RANGE},
        {"min_free -5", [](ClearRule& r) { r.min_free_percent = -5; }, KIVO_E_BAD_RANGE},
        {"size range", [](ClearRule& r) { WriteField(r.size_range, "9,1"); }, KIVO_E_BAD_RANGE},
        {"date range", [](ClearRule& r) { WriteField(r.date_range, "20240101"); }, KIVO_E_BAD_RANGE},
        {"time range", [](ClearRule& r) { WriteField(r.time_range, "2500,2600"); }, KIVO_E_BAD_RANGE},
        // The first fault decides: a flag before a text before a schedule before a range.
        {"flag and text",
         [](ClearRule& r) {
             r.enabled = 5;
             r.path[0] = 0;
         },
         KIVO_E_BAD_FLAG},
        {"text and schedule",
         [](ClearRule& r) {
             r.path[0] = 0;
             r.schedule.month_day = 99;
         },
         KIVO_E_BAD_TEXT},
        {"schedule and range",
         [](ClearRule& r) {
             r.keep_days = -1;
             r.schedule.month_day = 99;
         },
         KIVO_E_BAD_SCHEDULE},
    };
    for (const Case& c : cases) {
        ClearRule r = ValidClearRule();
        c.spoil(r);
        EXPECT_EQ(ValidateClearRule(r), c.expected) << c.name;
    }
}

TEST(RuleValidation, BackupRuleFaults) {
    struct Case {
        const char* name;
        std::function<void(BackupRule&)> spoil;
        int expected;
    } cases[] = {
        {"valid", [](BackupRule&) {}, KIVO_OK},
        {"enabled 7", [](BackupRule& r) { r.enabled = 7; }, KIVO_E_BAD_FLAG},
        {"description empty", [](BackupRule& r) { r.description[0] = 0; }, KIVO_E_BAD_TEXT},
        {"source unterminated", [](BackupRule& r) { std::memset(r.source_path, 'a', 256); }, KIVO_E_BAD_TEXT},
        {"source empty", [](BackupRule& r) { r.source_path[0] = 0; }, KIVO_E_BAD_TEXT},
        {"backup unterminated", [](BackupRule& r) { std::memset(r.backup_path, 'a', 256); }, KIVO_E_BAD_TEXT},
        {"backup empty", [](BackupRule& r) { r.backup_path[0] = 0; }, KIVO_E_BAD_TEXT},
        {"backup relative", [](BackupRule& r) { WriteField(r.backup_path, "backups"); }, KIVO_E_BAD_TEXT},
        {"path of 255 bytes",
         [](BackupRule& r) { WriteField(r.source_path, test::AbsolutePath(std::string(252, 'p'))); },
         KIVO_OK},
        {"interval",
         [](BackupRule& r) {
             r.schedule = {1441, 0, 0, 0};
         },
         KIVO_E_BAD_SCHEDULE},
        {"keep_days", [](BackupRule& r) { r.keep_days = -30; }, KIVO_E_BAD_RANGE},
    };
    for (const Case& c : cases) {
        BackupRule r = ValidBackupRule();
        c.spoil(r);
        EXPECT_EQ(ValidateBackupRule(r), c.expected) << c.name;
    }
}

TEST(RuleValidation, ArgumentTexts) {
    char unterminated[300];
    std::memset(unterminated, 'a', sizeof unterminated);
    unterminated[299] = 0;
    std::string longest(255, 'a');
    EXPECT_EQ(ValidateArgumentText(nullptr), KIVO_E_NULL_ARGUMENT);
    EXPECT_EQ(ValidateArgumentText(""), KIVO_E_BAD_TEXT);
    EXPECT_EQ(ValidateArgumentText(unterminated), KIVO_E_BAD_TEXT);  // longer than 255 bytes
    EXPECT_EQ(ValidateArgumentText(longest.c_str()), KIVO_OK);
    EXPECT_EQ(ValidateArgumentText("备份\x01"), KIVO_E_BAD_TEXT);
    EXPECT_EQ(ValidateArgumentText("D:\\备份\\a.bkp"), KIVO_OK);
}
