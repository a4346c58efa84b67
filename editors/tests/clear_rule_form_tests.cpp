#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <tuple>

#include "clear_rule_form.h"
#include "form_test_support.h"
#include "resource.h"

namespace editors {
namespace {

const RunSchedule kDefaultSchedule{15, 0, 0, 0};

ClearForm ValidForm() {
    ClearForm form;
    form.description = Exact("清理");
    form.path = Exact("C:\\logs");
    form.freeSpacePercent = "10";
    form.startDate = form.endDate = "0";
    form.startHour = form.startMinute = form.endHour = form.endMinute = "00";
    form.minSize = form.maxSize = "0";
    form.keepDays = "0";
    return form;
}

ClearRule NewRule() {
    ClearRule rule{};
    rule.enabled = 1;
    return rule;
}

// percent, name filter, sizes, dates, times
using Composed = std::tuple<int, std::string, std::string, std::string, std::string>;

Composed ComposedOf(const ClearRule& rule) {
    return {rule.min_free_percent, std::string(FieldText(rule.name_filter)),
            std::string(FieldText(rule.size_range)), std::string(FieldText(rule.date_range)),
            std::string(FieldText(rule.time_range))};
}

InputFault Selected(const char* text, int id) {
    return InputFault{text, "错误", id, true};
}

const InputFault kLongDescription = Selected("规则描述长度超过限制范围，请重新输入.", IDC_DESCRIPTION);
const InputFault kNoPath{"请选择监视路径.", "错误", IDC_PICK_PATH, false};
const InputFault kLongPath{"路径长度超过限制范围，请重新选择路径.", "错误", IDC_PICK_PATH, false};
const InputFault kPercent = Selected("磁盘剩余空间区间[5,95]，请重新输入.", IDC_FREE_SPACE_PERCENT);
const InputFault kNameFilter = Selected("名称过滤字段最长32字节，请重新输入.", IDC_NAME_FILTER);
const InputFault kUnsavableDescription = Selected("规则描述含有无法保存的字符.", IDC_DESCRIPTION);
const InputFault kUnsavablePath{"路径含有无法保存的字符.", "错误", IDC_PICK_PATH, false};
const InputFault kUnsavableNameFilter = Selected("名称过滤字段含有无法保存的字符.", IDC_NAME_FILTER);
const InputFault kStartDateBounds = Selected("日期区间[19700101,20991230]，请重新输入.", IDC_START_DATE);
const InputFault kEndDateBounds = Selected("日期区间[19700101,20991230]，请重新输入.", IDC_END_DATE);
const InputFault kDateOrder = Selected("开始日期必须小于结束日期，请重新输入.", IDC_START_DATE);
const InputFault kTimeOrder = Selected("开始时间必须小于结束时间，请重新输入.", IDC_START_HOUR);
const InputFault kSizeOrder = Selected("文件大小最小值必须小于最大值，请重新输入.", IDC_MIN_SIZE);

struct Case {
    const char* name;
    std::function<void(ClearForm&)> change;
    std::optional<InputFault> fault;
    Composed composed = {0, "", "", "", ""};
};

void Check(const Case& c) {
    ClearForm form = ValidForm();
    c.change(form);
    const Checked<ClearRule> result = ComposeClearRule(NewRule(), kDefaultSchedule, form);
    if (c.fault) {
        ASSERT_FALSE(result.ok()) << c.name;
        EXPECT_EQ(result.fault(), *c.fault) << c.name;
    } else {
        ASSERT_TRUE(result.ok()) << c.name;
        EXPECT_EQ(ComposedOf(result.value()), c.composed) << c.name;
    }
}

void Dates(ClearForm& f, const char* start, const char* end) {
    f.startDate = start;
    f.endDate = end;
}
void Times(ClearForm& f, const char* h1, const char* m1, const char* h2, const char* m2) {
    f.startHour = h1, f.startMinute = m1, f.endHour = h2, f.endMinute = m2;
}
void Sizes(ClearForm& f, const char* min, const char* max) {
    f.minSize = min;
    f.maxSize = max;
}

TEST(ClearRuleComposition, DescriptionAndPathUseTheSharedChecks) {
    const Case cases[] = {
        {"description 31 bytes", [](ClearForm& f) { f.description.text = std::string(31, 'd'); }, {}},
        {"description 32 bytes", [](ClearForm& f) { f.description.text = std::string(32, 'd'); },
         kLongDescription},
        {"description 16 Chinese", [](ClearForm& f) { f.description.text = Chinese(16); }, kLongDescription},
        {"description not GBK", [](ClearForm& f) { f.description.exact = false; }, kUnsavableDescription},
        {"description not GBK and 32 bytes: the characters first",
         [](ClearForm& f) {
             f.description = {std::string(32, '?'), false};
         },
         kUnsavableDescription},
        {"path empty", [](ClearForm& f) { f.path.text.clear(); }, kNoPath},
        {"path 255 bytes", [](ClearForm& f) { f.path.text = std::string(255, 'p'); }, {}},
        {"path 256 bytes", [](ClearForm& f) { f.path.text = std::string(256, 'p'); }, kLongPath},
        {"path not GBK", [](ClearForm& f) { f.path.exact = false; }, kUnsavablePath},
        {"path not GBK and 256 bytes: the characters first",
         [](ClearForm& f) {
             f.path = {std::string(256, '?'), false};
         },
         kUnsavablePath},
    };
    for (const Case& c : cases) Check(c);
}

TEST(ClearRuleComposition, PercentCountsOnlyWhenTicked) {
    auto ticked = [](const char* text) {
        return [text](ClearForm& f) {
            f.freeSpaceChecked = true;
            f.freeSpacePercent = text;
        };
    };
    const Case cases[] = {
        {"4", ticked("4"), kPercent},
        {"5", ticked("5"), {}, {5, "", "", "", ""}},
        {"95", ticked("95"), {}, {95, "", "", "", ""}},
        {"96", ticked("96"), kPercent},
        {"empty", ticked(""), kPercent},
        {"overlong", ticked("4294967301"), kPercent},  // 5 after a 32-bit wrap
        {"unticked ignores 3", [](ClearForm& f) { f.freeSpacePercent = "3"; }, {}, {0, "", "", "", ""}},
    };
    for (const Case& c : cases) Check(c);
}

TEST(ClearRuleComposition, NameFilterIsStoredAsTyped) {
    const Case cases[] = {
        {"31 bytes",
         [](ClearForm& f) { f.nameFilter.text = std::string(31, 'n'); },
         {},
         {0, std::string(31, 'n'), "", "", ""}},
        {"32 bytes", [](ClearForm& f) { f.nameFilter.text = std::string(32, 'n'); }, kNameFilter},
        {"15 Chinese",
         [](ClearForm& f) { f.nameFilter.text = Chinese(15); },
         {},
         {0, Chinese(15), "", "", ""}},
        {"16 Chinese", [](ClearForm& f) { f.nameFilter.text = Chinese(16); }, kNameFilter},
        {"keywords", [](ClearForm& f) { f.nameFilter.text = "tmp,log"; }, {}, {0, "tmp,log", "", "", ""}},
        {"not GBK",
         [](ClearForm& f) {
             f.nameFilter = {"a?", false};
         },
         kUnsavableNameFilter},
        {"not GBK and 32 bytes: the characters first",
         [](ClearForm& f) {
             f.nameFilter = {std::string(32, '?'), false};
         },
         kUnsavableNameFilter},
    };
    for (const Case& c : cases) Check(c);
}

TEST(ClearRuleComposition, DateRangeBoundsOrderAndFillIns) {
    const Case cases[] = {
        {"0/0", [](ClearForm& f) { Dates(f, "0", "0"); }, {}, {0, "", "", "", ""}},
        {"empty/empty", [](ClearForm& f) { Dates(f, "", ""); }, {}, {0, "", "", "", ""}},
        {"0/E", [](ClearForm& f) { Dates(f, "0", "20240131"); }, {}, {0, "", "", "19700101,20240131", ""}},
        {"S/0", [](ClearForm& f) { Dates(f, "20240101", "0"); }, {}, {0, "", "", "20240101,20991230", ""}},
        {"start a day after end", [](ClearForm& f) { Dates(f, "20240102", "20240101"); }, kDateOrder},
        {"equal",
         [](ClearForm& f) { Dates(f, "20240101", "20240101"); },
         {},
         {0, "", "", "20240101,20240101", ""}},
        {"start 19700100", [](ClearForm& f) { Dates(f, "19700100", "0"); }, kStartDateBounds},
        {"start 19700101",
         [](ClearForm& f) { Dates(f, "19700101", "0"); },
         {},
         {0, "", "", "19700101,20991230", ""}},
        {"end 20991231", [](ClearForm& f) { Dates(f, "0", "20991231"); }, kEndDateBounds},
        {"end 20991230",
         [](ClearForm& f) { Dates(f, "0", "20991230"); },
         {},
         {0, "", "", "19700101,20991230", ""}},
        {"both out of bounds: start first", [](ClearForm& f) { Dates(f, "1", "99999999"); },
         kStartDateBounds},
        {"end out of bounds before order", [](ClearForm& f) { Dates(f, "20240101", "20991231"); },
         kEndDateBounds},
        {"31 February passes",
         [](ClearForm& f) { Dates(f, "20240231", "0"); },
         {},
         {0, "", "", "20240231,20991230", ""}},
    };
    for (const Case& c : cases) Check(c);
}

TEST(ClearRuleComposition, TimeRangeIsPaddedAndNeverRunsPastMidnight) {
    const Case cases[] = {
        {"00:00-00:00", [](ClearForm& f) { Times(f, "00", "00", "00", "00"); }, {}, {0, "", "", "", ""}},
        {"00:00-06:00",
         [](ClearForm& f) { Times(f, "00", "00", "06", "00"); },
         {},
         {0, "", "", "", "0000,0600"}},
        {"08:00-08:00",
         [](ClearForm& f) { Times(f, "08", "00", "08", "00"); },
         {},
         {0, "", "", "", "0800,0800"}},
        {"22:00-02:00", [](ClearForm& f) { Times(f, "22", "00", "02", "00"); }, kTimeOrder},
        {"empty texts count as 0",
         [](ClearForm& f) { Times(f, "", "", "", "5"); },
         {},
         {0, "", "", "", "0000,0005"}},
        {"09:30-17:45",
         [](ClearForm& f) { Times(f, "9", "30", "17", "45"); },
         {},
         {0, "", "", "", "0930,1745"}},
    };
    for (const Case& c : cases) Check(c);
}

TEST(ClearRuleComposition, SizeRangeNeedsMinimumNotAboveMaximum) {
    const Case cases[] = {
        {"0-0", [](ClearForm& f) { Sizes(f, "0", "0"); }, {}, {0, "", "", "", ""}},
        {"0-500", [](ClearForm& f) { Sizes(f, "0", "500"); }, {}, {0, "", "0,500", "", ""}},
        {"100-0", [](ClearForm& f) { Sizes(f, "100", "0"); }, kSizeOrder},
        {"100-100", [](ClearForm& f) { Sizes(f, "100", "100"); }, {}, {0, "", "100,100", "", ""}},
        {"overlong maximum saturates",
         [](ClearForm& f) { Sizes(f, "1", "99999999999"); },
         {},
         {0, "", "1,2147483647", "", ""}},
        {"both overlong read as the largest size",
         [](ClearForm& f) { Sizes(f, "99999999999", "4294967296"); },
         {},
         {0, "", "2147483647,2147483647", "", ""}},
        {"wrapped minimum would pass", [](ClearForm& f) { Sizes(f, "4294967297", "2"); }, kSizeOrder},
    };
    for (const Case& c : cases) Check(c);
}

TEST(ClearRuleComposition, SeveralFaultsReportTheFirstInOrder) {
    auto allBad = [](ClearForm& f) {
        f.description.text.clear();
        f.path.text.clear();
        f.freeSpaceChecked = true;
        f.freeSpacePercent = "1";
        f.nameFilter.text = std::string(40, 'n');
        Dates(f, "20240102", "20240101");
        Times(f, "22", "00", "02", "00");
        Sizes(f, "100", "0");
    };
    const Case cases[] = {
        {"all bad", allBad, InputFault{"请输入规则描述.", "错误", IDC_DESCRIPTION, false}},
        {"from path", [&](ClearForm& f) { allBad(f), f.description.text = "d"; }, kNoPath},
        {"from percent", [&](ClearForm& f) { allBad(f), f.description.text = "d", f.path.text = "p"; },
         kPercent},
        {"from name filter",
         [&](ClearForm& f) {
             allBad(f), f.description.text = "d", f.path.text = "p", f.freeSpaceChecked = false;
         },
         kNameFilter},
        {"from dates",
         [&](ClearForm& f) {
             allBad(f), f.description.text = "d", f.path.text = "p", f.freeSpaceChecked = false;
             f.nameFilter.text.clear();
         },
         kDateOrder},
        {"from times",
         [&](ClearForm& f) {
             allBad(f), f.description.text = "d", f.path.text = "p", f.freeSpaceChecked = false;
             f.nameFilter.text.clear(), Dates(f, "0", "0");
         },
         kTimeOrder},
        {"sizes last",
         [&](ClearForm& f) {
             allBad(f), f.description.text = "d", f.path.text = "p", f.freeSpaceChecked = false;
             f.nameFilter.text.clear(), Dates(f, "0", "0"), Times(f, "00", "00", "00", "00");
         },
         kSizeOrder},
    };
    for (const Case& c : cases) Check(c);
}

TEST(ClearRuleComposition, WholeRecordIsNulFilledOverTheOldOne) {
    ClearRule old{};
    old.rule_id = 42;
    old.enabled = 0;
    old.keep_days = 9;
    old.min_free_percent = 50;
    std::memset(old.description, 'x', sizeof old.description - 1);
    std::memset(old.path, 'x', sizeof old.path - 1);
    std::memset(old.name_filter, 'x', sizeof old.name_filter - 1);
    std::memset(old.size_range, 'x', sizeof old.size_range - 1);
    std::memset(old.date_range, 'x', sizeof old.date_range - 1);
    std::memset(old.time_range, 'x', sizeof old.time_range - 1);

    ClearForm form = ValidForm();
    form.keepDays = "99999999999";
    form.nameFilter.text = "tmp";
    Sizes(form, "0", "500");
    const Checked<ClearRule> result = ComposeClearRule(old, {0, 0, 0, 930}, form);
    ASSERT_TRUE(result.ok());

    ClearRule expected{};
    expected.rule_id = 42;
    expected.keep_days = INT32_MAX;
    expected.schedule = {0, 0, 0, 930};
    std::memcpy(expected.description, "清理", 4);
    std::memcpy(expected.path, "C:\\logs", 7);
    std::memcpy(expected.name_filter, "tmp", 3);
    std::memcpy(expected.size_range, "0,500", 5);
    EXPECT_EQ(Bytes(result.value()), Bytes(expected));
}

TEST(ClearRuleLoading, SplitsRangesAtTheFirstComma) {
    ClearRule rule{};
    std::memcpy(rule.description, "d", 1);
    std::memcpy(rule.path, "C:\\p", 4);
    rule.keep_days = 7;
    rule.min_free_percent = 20;
    std::memcpy(rule.name_filter, "a,b", 3);
    std::memcpy(rule.size_range, "0,500", 5);
    std::memcpy(rule.date_range, "19700101,20991230", 17);
    std::memcpy(rule.time_range, "0930,1745", 9);

    const ClearRuleView view = ViewOfClearRule(rule);
    EXPECT_EQ(view.description, "d");
    EXPECT_EQ(view.path, "C:\\p");
    EXPECT_TRUE(view.freeSpaceChecked);
    EXPECT_EQ(view.freeSpacePercent, "20");
    EXPECT_EQ(view.keepDays, "7");
    EXPECT_EQ(view.nameFilter, "a,b");
    EXPECT_EQ(std::tie(view.minSize, view.maxSize), std::make_tuple("0", "500"));
    EXPECT_EQ(std::tie(view.startDate, view.endDate), std::make_tuple("19700101", "20991230"));
    EXPECT_EQ(std::tie(view.startHour, view.startMinute, view.endHour, view.endMinute),
              std::make_tuple("09", "30", "17", "45"));
}

TEST(ClearRuleLoading, EmptyRangesShowZeros) {
    ClearRule rule{};
    const ClearRuleView view = ViewOfClearRule(rule);
    EXPECT_FALSE(view.freeSpaceChecked);
    EXPECT_EQ(view.freeSpacePercent, std::nullopt);
    EXPECT_EQ(view.keepDays, "0");
    EXPECT_EQ(std::tie(view.minSize, view.maxSize, view.startDate, view.endDate),
              std::make_tuple("0", "0", "0", "0"));
    EXPECT_EQ(std::tie(view.startHour, view.startMinute, view.endHour, view.endMinute),
              std::make_tuple("00", "00", "00", "00"));

    std::memcpy(rule.size_range, "100", 3);  // no comma: all of it is the minimum
    std::memcpy(rule.time_range, "0600", 4);
    const ClearRuleView partial = ViewOfClearRule(rule);
    EXPECT_EQ(std::tie(partial.minSize, partial.maxSize), std::make_tuple("100", ""));
    EXPECT_EQ(std::tie(partial.startHour, partial.startMinute, partial.endHour, partial.endMinute),
              std::make_tuple("06", "00", "00", "00"));
}

TEST(ClearRuleLoading, RoundTripsThroughComposition) {
    ClearRule rule{};
    rule.rule_id = 3;
    rule.enabled = 1;
    rule.keep_days = 30;
    rule.min_free_percent = 15;
    rule.schedule = {0, 0, 127, 630};
    std::memcpy(rule.description, "清理日志", 8);
    std::memcpy(rule.path, "C:\\logs", 7);
    std::memcpy(rule.name_filter, "tmp,bak", 7);
    std::memcpy(rule.size_range, "10,2000", 7);
    std::memcpy(rule.date_range, "20200101,20251231", 17);
    std::memcpy(rule.time_range, "0930,1745", 9);

    const ClearRuleView v = ViewOfClearRule(rule);
    ClearForm form{Exact(v.description),
                   Exact(v.path),
                   v.freeSpaceChecked,
                   v.freeSpacePercent.value_or("10"),
                   Exact(v.nameFilter),
                   v.startDate,
                   v.endDate,
                   v.startHour,
                   v.startMinute,
                   v.endHour,
                   v.endMinute,
                   v.minSize,
                   v.maxSize,
                   v.keepDays};
    const Checked<ClearRule> back = ComposeClearRule(rule, rule.schedule, form);
    ASSERT_TRUE(back.ok());
    EXPECT_EQ(Bytes(back.value()), Bytes(rule));
}

TEST(ClearSaveFailure, NamesTheOperationAndTheCode) {
    EXPECT_EQ(ClearSaveFailureText(true, 5), "新增删除规则失败:5");
    EXPECT_EQ(ClearSaveFailureText(false, 5), "修改删除规则失败:5");
}

}  // namespace
}  // namespace editors
