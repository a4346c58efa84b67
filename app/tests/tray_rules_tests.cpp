#include "tray_rules.h"

#include <gtest/gtest.h>

#include "engine_api.h"

namespace {

std::string Repeat(const std::string& unit, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += unit;
    return out;
}

TEST(TrayTip, StateThenTheLastFailureThenWhatWasNotAnnounced) {
    const FailedRun run{7, 1, 2, 5, "清理临时文件"};
    EXPECT_EQ(TrayTip(true, std::nullopt, 0), "备份与清理计划 v1.0\n自动运行中");
    EXPECT_EQ(TrayTip(false, std::nullopt, 0), "备份与清理计划 v1.0\n已停止运行");
    EXPECT_EQ(TrayTip(true, run, 0), "备份与清理计划 v1.0\n自动运行中\n上次失败：07-01 02:05 清理临时文件");
    EXPECT_EQ(TrayTip(false, FailedRun{12, 31, 23, 59, "备份"}, 3),
              "备份与清理计划 v1.0\n已停止运行\n上次失败：12-31 23:59 备份\n另有 3 次失败未提示");
}

TEST(TrayTip, NeverOutgrowsTheIconsField) {
    // 127 characters fit; Chinese characters count one each, not two bytes.
    const std::string tip = TrayTip(true, FailedRun{1, 2, 3, 4, Repeat("长", 200)}, 0);
    EXPECT_EQ(tip, CutToChars(tip, kTipChars));
    const std::string head = "备份与清理计划 v1.0\n自动运行中\n上次失败：01-02 03:04 ";
    const size_t headChars = 12 + 1 + 5 + 1 + 5 + 11 + 1;  // "备份与清理计划 v1.0" is 12
    EXPECT_EQ(tip, head + Repeat("长", int(kTipChars - headChars - 1)) + "…");
}

TEST(CutToChars, CutsBetweenCharactersAndMarksTheCut) {
    struct Case {
        std::string text;
        size_t max;
        std::string expected;
    } cases[] = {
        {"abc", 3, "abc"}, {"abcd", 3, "ab…"}, {"中文字", 3, "中文字"}, {"中文字符", 3, "中文…"},
        {"a中b", 2, "a…"}, {"a|b", 3, "a|b"},  {"\x81|x", 2, "\x81|x"},  // a lead byte and '|' are one
                                                                         // character
        {"", 0, ""},       {"a", 0, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(CutToChars(c.text, c.max), c.expected) << c.text;
}

TEST(FailureNotices, OneBalloonAMinuteOnlyForFailuresAndOnlyWhileTheIconShows) {
    FailureNotices notices;
    const FailedRun run{5, 6, 7, 8, "规则"};
    struct Step {
        int32_t outcome;
        bool iconShown;
        int64_t atMs;
        bool balloon;
        int unannounced;
    } steps[] = {
        {KIVO_RUN_SUCCEEDED, true, 0, false, 0},
        {KIVO_RUN_CANCELLED, true, 0, false, 0},
        {KIVO_RUN_FAILED, true, 1000, true, 0},
        {KIVO_RUN_PARTLY_FAILED, true, 1000 + 59999, false, 1},  // inside the minute
        {KIVO_RUN_SUCCEEDED, true, 1000 + 59999, false, 1},
        {KIVO_RUN_PARTLY_FAILED, true, 1000 + 60000, true, 1},  // a minute after the last balloon
        {KIVO_RUN_FAILED, false, 500000, false, 1},             // the window is shown: no icon
        {KIVO_RUN_FAILED, true, 500001, true, 1},               // and that raised no balloon to wait for
        {KIVO_RUN_FAILED, true, 500002, false, 2},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.atMs);
        EXPECT_EQ(notices.OnRunEnded(s.outcome, run, s.iconShown, s.atMs), s.balloon);
        EXPECT_EQ(notices.Unannounced(), s.unannounced);
    }
    notices.Seen();
    EXPECT_EQ(notices.Unannounced(), 0);
}

TEST(FailureNotices, TheLastFailureIsRememberedWithOrWithoutABalloon) {
    FailureNotices notices;
    notices.OnRunEnded(KIVO_RUN_FAILED, FailedRun{1, 1, 1, 1, "甲"}, true, 0);
    EXPECT_EQ(notices.Last()->description, "甲");
    notices.OnRunEnded(KIVO_RUN_PARTLY_FAILED, FailedRun{1, 1, 1, 2, "乙"}, true, 10);
    EXPECT_EQ(notices.Last()->description, "乙");
    notices.OnRunEnded(KIVO_RUN_FAILED, FailedRun{1, 1, 1, 3, "丙"}, false, 20);
    EXPECT_EQ(notices.Last()->description, "丙");
    notices.OnRunEnded(KIVO_RUN_SUCCEEDED, FailedRun{1, 1, 1, 4, "丁"}, true, 30);
    EXPECT_EQ(notices.Last()->description, "丙");
    notices.Seen();
    EXPECT_EQ(notices.Last()->description, "丙");
}

}  // namespace
