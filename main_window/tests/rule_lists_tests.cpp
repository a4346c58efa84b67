#include <climits>
#include <cstring>
#include <memory>

#include "main_window_fixture.h"

using namespace testing_support;

namespace {

using RuleLists = MainWindowTest;

std::vector<std::string> Row(const CMyListCtrl& list, int row, int columns) {
    std::vector<std::string> cells;
    for (int i = 0; i < columns; ++i) cells.push_back(list.GetItemText(row, i));
    return cells;
}

TEST_F(RuleLists, FillShowsTheEnginesRecordsInOrder) {
    ClearRule clear = MakeClearRule(7, 0, "清理日志");
    clear.min_free_percent = 20;
    clear.keep_days = 3;
    clear.schedule = {0, 0, 0b1010100, 930};
    WriteField(clear.size_range, "0,500");
    WriteField(clear.time_range, "0000,0600");
    Fakes().clearRules = {clear, MakeClearRule(9, 1, "b")};
    Fakes().backupRules = {MakeBackupRule(8, 1, "备份")};
    Open();
    window->FillClearList();
    window->FillBackupList();
    ASSERT_EQ(window->m_lstClear.GetItemCount(), 2);
    EXPECT_EQ(Row(window->m_lstClear, 0, 10),
              (std::vector<std::string>{"7", "清理日志", "禁用", "C:\\data", "20", "周三 周五 周日 09:30",
                                        "3", "", "0,500", "00:00,06:00"}));
    EXPECT_EQ(window->m_lstClear.GetItemText(1, 0), "9");
    EXPECT_EQ(Row(window->m_lstBackup, 0, 7),
              (std::vector<std::string>{"8", "备份", "启用", "C:\\src", "D:\\bak", "每天 23:00", "0"}));
}

TEST_F(RuleLists, CountOfZeroOrLessEmptiesEarlierRows) {
    Fakes().clearRules = {MakeClearRule(1, 1, "a"), MakeClearRule(2, 1, "b")};
    Open();
    window->FillClearList();
    ASSERT_EQ(window->m_lstClear.GetItemCount(), 2);
    Fakes().clearRules.clear();
    window->FillClearList();
    EXPECT_EQ(window->m_lstClear.GetItemCount(), 0);
    Fakes().clearRules = {MakeClearRule(1, 1, "a")};
    window->FillClearList();
    Fakes().clearCountOverride = -4;
    window->FillClearList();
    EXPECT_EQ(window->m_lstClear.GetItemCount(), 0);
    // The count call alone: no buffer is asked for when there is nothing.
    EXPECT_EQ(Fakes().calls.back(), "kivo_get_clear_list(null)");
}

TEST_F(RuleLists, ImpossibleCountLeavesTheListEmptyAndTheAppRunning) {
    Fakes().backupRules = {MakeBackupRule(1, 1, "a")};
    Open();
    window->FillBackupList();
    Fakes().backupCountOverride = INT_MAX;  // about 1.2 TB of records
    window->FillBackupList();
    EXPECT_EQ(window->m_lstBackup.GetItemCount(), 0);
    EXPECT_EQ(Fakes().calls.back(), "kivo_get_backup_list(null)");  // the fill was never attempted
}

TEST_F(RuleLists, RecordsTheEngineDidNotWriteShowAsEmptyRows) {
    // The engine announced two rules but wrote one (the other was deleted in between).
    Fakes().clearRules = {MakeClearRule(4, 1, "a")};
    Fakes().clearCountOverride = 2;
    Open();
    {
        // Leave stray bytes where the fill's buffer is likely to be placed.
        std::unique_ptr<ClearRule[]> dirty(new ClearRule[2]);
        std::memset(static_cast<void*>(dirty.get()), 'x', 2 * sizeof(ClearRule));
    }
    window->FillClearList();
    ASSERT_EQ(window->m_lstClear.GetItemCount(), 2);
    EXPECT_EQ(window->m_lstClear.GetItemText(0, 0), "4");
    EXPECT_EQ(Row(window->m_lstClear, 1, 10),
              (std::vector<std::string>{"0", "", "禁用", "", "0", "每天 00:00", "0", "", "", ""}));
}

TEST_F(RuleLists, TenThousandRulesFillCompletely) {
    for (int i = 0; i < 10000; ++i) Fakes().clearRules.push_back(MakeClearRule(i + 1, i % 2, "rule"));
    Open();
    window->FillClearList();
    ASSERT_EQ(window->m_lstClear.GetItemCount(), 10000);
    EXPECT_EQ(window->m_lstClear.GetItemText(9999, 0), "10000");
    EXPECT_EQ(window->m_lstClear.GetItemText(9999, 2), "启用");
}

}  // namespace
