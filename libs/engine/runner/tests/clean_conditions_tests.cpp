#include "clean_conditions.h"

#include <gtest/gtest.h>

#include "backup_set_name.h"
#include "entry_name.h"
#include "runner_test_support.h"

namespace kivo {
namespace {

using test::U8;
using test::UtcCivil;

ClearRule Rule(std::string_view filter, std::string_view size, std::string_view date, std::string_view time,
               int keepDays = 0, int minFree = 0) {
    ClearRule r{};
    r.keep_days = keepDays;
    r.min_free_percent = minFree;
    WriteField(r.name_filter, filter);
    WriteField(r.size_range, size);
    WriteField(r.date_range, date);
    WriteField(r.time_range, time);
    return r;
}

TEST(CleanConditions, RefusesMalformedConditionsNamingTheField) {
    struct Case {
        ClearRule rule;
        const char* reason;
    };
    const Case cases[] = {
        {Rule("", "", "", "", -1), "保存天数无效"},
        {Rule("", "", "", "", 0, 100), "可用空间百分比无效"},
        {Rule("", "500", "", ""), "文件大小范围无效"},
        {Rule("", "10,5", "", ""), "文件大小范围无效"},
        {Rule("", "1, 5", "", ""), "文件大小范围无效"},
        {Rule("", "-1,5", "", ""), "文件大小范围无效"},
        {Rule("", "", "20240101", ""), "日期范围无效"},
        {Rule("", "", "20240230,2024021", ""), "日期范围无效"},
        {Rule("", "", "20240101,20991231", ""), "日期范围无效"},
        {Rule("", "", "20240301,20240201", ""), "日期范围无效"},
        {Rule("", "", "", "2400,2400"), "时间范围无效"},
        {Rule("", "", "", "0960,1000"), "时间范围无效"},
        {Rule("", "", "", "2200,0600"), "时间范围无效"},
        {Rule("", "", "", "0000,06000"), "时间范围无效"},
        // Read exactly as the engine reads them when it accepts a rule.
        {Rule("", "0,2147483648", "", ""), "文件大小范围无效"},
        {Rule("", "", "19691231,19700101", ""), "日期范围无效"},
        {Rule("", "", "", "900,1000"), "时间范围无效"},
    };
    for (const Case& c : cases) {
        CleanConditions conditions;
        const char* why = conditions.Parse(c.rule);
        ASSERT_NE(why, nullptr) << c.reason;
        EXPECT_STREQ(why, c.reason);
    }
    ClearRule unterminated = Rule("", "", "", "");
    std::memset(unterminated.date_range, '1', sizeof unterminated.date_range);
    CleanConditions conditions;
    EXPECT_STREQ(conditions.Parse(unterminated), "规则的文本字段未结束");
}

TEST(CleanConditions, EachConditionIsInclusiveAtItsBounds) {
    const int64_t now = 1700000000;  // 2023-11-14 22:13:20 UTC
    struct Case {
        ClearRule rule;
        std::string name;
        uint64_t size;
        int64_t mtime;
        bool match;
    };
    const int64_t day = 86400;
    const Case cases[] = {
        // keep_days: at least N x 24 h old.
        {Rule("", "", "", "", 3), "a", 1, now - 3 * day, true},
        {Rule("", "", "", "", 3), "a", 1, now - 3 * day + 1, false},
        {Rule("", "", "", "", 3), "a", 1, now + 100, false},
        // size_range in KB, both ends included, compared in bytes.
        {Rule("", "1,2", "", ""), "a", 1024, now, true},
        {Rule("", "1,2", "", ""), "a", 2048, now, true},
        {Rule("", "1,2", "", ""), "a", 1023, now, false},
        {Rule("", "1,2", "", ""), "a", 2049, now, false},
        {Rule("", "0,500", "", ""), "a", 0, now, true},
        // date_range on the local date of the modification time.
        {Rule("", "", "20231114,20231114", ""), "a", 1, now, true},
        {Rule("", "", "20231115,20991230", ""), "a", 1, now, false},
        {Rule("", "", "19700101,20231113", ""), "a", 1, now, false},
        // a bound that is no calendar date (the editor lets 31 November through) is still a number
        {Rule("", "", "20231031,20231131", ""), "a", 1, now, true},
        {Rule("", "", "20231115,20231131", ""), "a", 1, now, false},
        // time_range to the minute: 22:13:20 lies within 2213..2213.
        {Rule("", "", "", "2213,2213"), "a", 1, now, true},
        {Rule("", "", "", "0000,2212"), "a", 1, now, false},
        {Rule("", "", "", "2214,2359"), "a", 1, now, false},
        // name keywords: any one, ASCII case folded.
        {Rule(".TMP,.log", "", "", ""), "report.tmp", 1, now, true},
        {Rule(".TMP,.log", "", "", ""), "report.doc", 1, now, false},
        {Rule("临时", "", "", ""), U8(u8"新建临时文件.txt"), 1, now, true},
        // combined: every set condition must hold.
        {Rule("log", "1,10", "20231101,20231130", "2200,2300", 1), "app.log", 4096, now - day, true},
        {Rule("log", "1,10", "20231101,20231130", "2200,2300", 1), "app.log", 4096, now - 3600, false},
        {Rule("log", "1,10", "20231101,20231130", "2200,2300", 1), "app.txt", 4096, now - day, false},
        {Rule("log", "1,10", "20231101,20231130", "2200,2300", 1), "app.log", 40960, now - day, false},
        // no condition: every file.
        {Rule("", "", "", ""), "anything", 123, now, true},
        // a filter of only separators names no keyword: it matches nothing.
        {Rule(",,", "", "", ""), "anything", 1, now, false},
    };
    for (const Case& c : cases) {
        CleanConditions conditions;
        ASSERT_EQ(conditions.Parse(c.rule), nullptr);
        EXPECT_EQ(conditions.Matches(c.name, c.size, c.mtime, now, UtcCivil), c.match)
            << FieldText(c.rule.name_filter) << " " << c.name << " " << c.size << " " << c.mtime;
    }
}

TEST(CleanConditions, KeywordsSplitAndMatchOnCharacterBoundaries) {
    // 億 is 83 7C in GBK and 乤 is 81 61: their trail bytes are '|' and 'a'.
    EXPECT_EQ(SplitGbkKeywords("億,乤,,b,"), (std::vector<std::string>{"億", "乤", "b"}));
    EXPECT_EQ(SplitGbkKeywords(""), std::vector<std::string>{});

    CleanConditions pipe;
    ASSERT_EQ(pipe.Parse(Rule("|", "", "", "")), nullptr);
    EXPECT_FALSE(pipe.Matches(U8(u8"億.txt"), 1, 0, 0, UtcCivil));
    EXPECT_TRUE(pipe.Matches("a|b.txt", 1, 0, 0, UtcCivil));

    CleanConditions letter;
    ASSERT_EQ(letter.Parse(Rule("a", "", "", "")), nullptr);
    EXPECT_FALSE(letter.Matches(U8(u8"乤.log"), 1, 0, 0, UtcCivil));
    EXPECT_TRUE(letter.Matches("DATA.log", 1, 0, 0, UtcCivil));

    EXPECT_TRUE(ContainsKeyword("Report.TXT", ".txt"));
    EXPECT_FALSE(ContainsKeyword(U8(u8"Ä.txt"), U8(u8"ä")));  // only ASCII letters fold
}

TEST(EntryName, RefusesEveryUnsafeNameWithItsReason) {
    struct Case {
        const char* name;
        const char* reason;
    };
    const Case cases[] = {
        {"../x", "含 .. 路径段"},
        {"..\\x", "含 .. 路径段"},
        {"safe/..\\..\\x", "含 .. 路径段"},
        {"a/../../x", "含 .. 路径段"},
        {"/x", "是绝对路径"},
        {"\\x", "是绝对路径"},
        {"C:x", "含驱动器号"},
        {"C:\\x", "含驱动器号"},
        {"c:/x", "含驱动器号"},
        {"\\\\srv\\s\\x", "是 UNC 或设备路径"},
        {"\\\\?\\C:\\x", "是 UNC 或设备路径"},
        {"//srv/s/x", "是 UNC 或设备路径"},
        {"x:ads", "含驱动器号"},
        {"file:ads", "含冒号 (备用数据流)"},
        {"dir/file.txt::$DATA", "含冒号 (备用数据流)"},
        {"CON", "是保留的设备名"},
        {"nul.txt", "是保留的设备名"},
        {"a/Com1.log", "是保留的设备名"},
        {"lpt9", "是保留的设备名"},
        {"AUX .txt", "是保留的设备名"},
        {"conout$", "是保留的设备名"},
        {"COM\xC2\xB9", "是保留的设备名"},
        {"trailing.", "以点或空格结尾"},
        {"trailing ", "以点或空格结尾"},
        {"dir./x", "以点或空格结尾"},
        {"a//b", "含空的路径段"},
        {"./x", "含 . 路径段"},
        {"a<b", "含 Windows 不允许的字符"},
        {"a|b", "含 Windows 不允许的字符"},
        {"a\tb", "名称含控制字符"},
        {"", "名称为空"},
        {"\xE4\xB8", "名称不是有效的 UTF-8"},
    };
    for (const Case& c : cases) {
        EntryPath path;
        const char* why = CheckEntryName(c.name, path);
        ASSERT_NE(why, nullptr) << c.name;
        EXPECT_STREQ(why, c.reason) << c.name;
    }
    std::string withNul("a\0b", 3);
    EntryPath path;
    EXPECT_STREQ(CheckEntryName(withNul, path), "名称含控制字符");
}

TEST(EntryName, AcceptsOrdinaryNamesAndSplitsThem) {
    struct Case {
        std::string name;
        std::vector<std::string> parts;
        bool directory;
    };
    const Case cases[] = {
        {"a.txt", {"a.txt"}, false},
        {"dir/", {"dir"}, true},
        {"dir\\sub\\f", {"dir", "sub", "f"}, false},
        {U8(u8"中文目录/文件.txt"), {U8(u8"中文目录"), U8(u8"文件.txt")}, false},
        {"console.txt", {"console.txt"}, false},
        {"COM10", {"COM10"}, false},
        {".hidden", {".hidden"}, false},
        {"a..b", {"a..b"}, false},
    };
    for (const Case& c : cases) {
        EntryPath path;
        EXPECT_EQ(CheckEntryName(c.name, path), nullptr) << c.name;
        EXPECT_EQ(path.parts, c.parts) << c.name;
        EXPECT_EQ(path.directory, c.directory) << c.name;
    }
}

TEST(BackupSetName, NamesAndMarksIdentifyOnlyTheRulesOwnSets) {
    EXPECT_EQ(SetBaseName(12, {2024, 3, 5, 7, 8, 9}, 1), "kivo-12-20240305-070809");
    EXPECT_EQ(SetBaseName(12, {2024, 3, 5, 7, 8, 9}, 3), "kivo-12-20240305-070809-3");

    struct Case {
        const char* name;
        bool own, temporary, incomplete;
    };
    const Case cases[] = {
        {"kivo-12-20240305-070809", true, false, false},
        {"kivo-12-20240305-070809-2", true, false, false},
        {"kivo-12-20240305-070809-incomplete", true, false, true},
        {"kivo-12-20240305-070809-2-incomplete.tmp", true, true, true},
        {"kivo-12-20240305-070809.tmp", true, true, false},
        {"kivo-1-20240305-070809", false, false, false},
        {"kivo-120-20240305-070809", false, false, false},
        {"kivo-12-2024030-070809", false, false, false},
        {"kivo-12-20240305-070809-x", false, false, false},
        {"kivo-12-20240305-070809-12345", false, false, false},
        {"my-kivo-12-20240305-070809", false, false, false},
        {"kivo-12-20240305-070809.tmp.tmp", false, false, false},
    };
    for (const Case& c : cases) {
        auto parsed = ParseSetName(c.name, 12);
        ASSERT_EQ(parsed.has_value(), c.own) << c.name;
        if (!parsed) continue;
        EXPECT_EQ(parsed->temporary, c.temporary) << c.name;
        EXPECT_EQ(parsed->incomplete, c.incomplete) << c.name;
    }

    EXPECT_EQ(SetMarkText(12, 1700000000), "kivo backup set\nrule=12\ncreated=1700000000\n");
    auto mark = ParseSetMark(SetMarkText(12, 1700000000));
    ASSERT_TRUE(mark);
    EXPECT_EQ(mark->ruleId, 12);
    EXPECT_EQ(mark->created, 1700000000);
    EXPECT_FALSE(ParseSetMark("kivo backup set\nrule=12\n"));
    EXPECT_FALSE(ParseSetMark("kivo backup set\nrule=x\ncreated=1\n"));
    EXPECT_FALSE(ParseSetMark("some file\nrule=12\ncreated=1\n"));
}

}  // namespace
}  // namespace kivo
