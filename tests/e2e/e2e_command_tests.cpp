// The rule commands of the real app through its popup menus and buttons: the walk-through of
// creating, toggling, running and deleting rules that survive a restart, and the popups' greying.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "PlanDeskSession.h"
#include "ScreenCapture.h"
#include "UserInput.h"
#include "resource.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> U8Row(const std::vector<std::wstring>& row) {
    std::vector<std::string> out;
    for (const auto& cell : row) out.push_back(U8(cell));
    return out;
}

std::vector<int> Widths(const RemoteListView& list) {
    std::vector<int> widths;
    for (int column = 0, n = list.ColumnCount(); column < n; ++column)
        widths.push_back(list.ColumnWidth(column));
    return widths;
}

int CountLines(const RemoteListView& log, const std::wstring& text) {
    int n = 0;
    for (const auto& line : log.Column(1)) n += line == text;
    return n;
}

bool AnyLineContains(const RemoteListView& log, const std::wstring& text) {
    for (const auto& line : log.Column(1)) {
        if (line.find(text) != std::wstring::npos) return true;
    }
    return false;
}

constexpr uint32_t kRed = 0xFF0000, kBlack = 0x000000;

// Whether any pixel of the screen rectangle has exactly this colour.
bool HasPixel(const RECT& rect, uint32_t colour) {
    const Pixels shot = CaptureScreenRect(rect);
    return std::find(shot.bgra.begin(), shot.bgra.end(), colour) != shot.bgra.end();
}

PopupState Grey(std::initializer_list<PopupItem> items, bool enableText = false) {
    PopupState state;
    for (PopupItem item : items) state.grayed[item] = true;
    state.enableText = enableText;
    return state;
}

// Closes the open popup without choosing anything.
void Dismiss(PlanDeskSession& s) {
    PressKey(VK_ESCAPE);
    EXPECT_TRUE(WaitUntil([&] { return FindPopupMenu(s.Pid()) == nullptr; }, 3000));
}

// A command that was not chosen shows nothing: long enough for a posted command to have acted.
void LetACommandArrive() {
    ::Sleep(700);
}

TEST(Walkthrough, CreatesBothKindsTogglesRunsDeletesAndFindsTheRestAfterARestart) {
    PlanDeskSession s;
    HWND main = s.StartLoggedIn();
    ASSERT_NE(main, nullptr);
    ScratchFolder work(L"walk");
    const fs::path source = work.Path() / L"source", target = work.Path() / L"target",
                   watched = work.Path() / L"watched";
    WriteTree(work.Path(), {{L"source/报告.txt", "周报\r\n第一行"},
                            {L"source/子目录/数据.bin", std::string(3000, '\x7f')},
                            {L"target/", ""},
                            {L"watched/", ""}});

    ASSERT_TRUE(s.AddCleanRule(main, L"清理临时文件", watched.wstring()));
    ASSERT_TRUE(s.AddBackupRule(main, L"周报备份", source.wstring(), target.wstring()));
    RemoteListView clear = s.List(main, IDC_CLEAR_LIST), backup = s.List(main, IDC_BACKUP_LIST),
                   log = s.List(main, IDC_LOG_LIST);
    const std::wstring clearId = clear.Cell(0, 0), backupId = backup.Cell(0, 0);
    EXPECT_NE(clearId, backupId) << "rule ids are unique across both kinds";
    EXPECT_EQ(U8Row(clear.Row(0)),
              (std::vector<std::string>{U8(clearId), U8(L"清理临时文件"), U8(L"启用"), U8(watched.wstring()),
                                        "0", U8(L"间隔:15分钟"), "0", "", "", ""}));
    const std::vector<std::string> backupRow{
        U8(backupId),         U8(L"周报备份"),    U8(L"启用"), U8(source.wstring()),
        U8(target.wstring()), U8(L"间隔:15分钟"), "0"};
    EXPECT_EQ(U8Row(backup.Row(0)), backupRow);

    // The run buttons follow the engine, and its lines reach the run log.
    ASSERT_TRUE(s.StopAutomaticRunning(main));
    EXPECT_TRUE(s.WaitForLogLine(main, L"自动运行已停止"));
    // A line naming a stop is drawn in red, the others in black.
    EXPECT_EQ(CountLines(log, L"自动运行已启动"), 1);
    const int started = 0, stopped = log.Count() - 1;
    ASSERT_EQ(U8(log.Cell(started, 1)), U8(L"自动运行已启动"));
    ASSERT_EQ(U8(log.Cell(stopped, 1)), U8(L"自动运行已停止"));
    EXPECT_FALSE(HasPixel(log.RowRect(started), kRed));
    EXPECT_TRUE(HasPixel(log.RowRect(started), kBlack));
    EXPECT_TRUE(HasPixel(log.RowRect(stopped), kRed));

    // Disable the clean rule and enable it again; the third item names what it will do.
    ASSERT_NE(s.OpenPopup(main, IDC_CLEAR_LIST, {0}, Grey({})), nullptr);
    s.Choose(kToggle);
    EXPECT_TRUE(WaitUntil([&] { return clear.Cell(0, 2) == L"禁用"; }, 3000));
    ASSERT_NE(s.OpenPopup(main, IDC_CLEAR_LIST, {0}, Grey({}, true)), nullptr);
    s.Choose(kToggle);
    EXPECT_TRUE(WaitUntil([&] { return clear.Cell(0, 2) == L"启用"; }, 3000));

    // Run the backup rule now: the engine reports it, and the backup folder receives the files.
    ASSERT_NE(s.OpenPopup(main, IDC_BACKUP_LIST, {0}, Grey({})), nullptr);
    s.Choose(kRunNow);
    const std::wstring rule = L"备份规则 " + backupId + L"「周报备份」";
    EXPECT_TRUE(s.WaitForLogLine(main, rule + L"开始手动运行"));
    EXPECT_TRUE(s.WaitForLogLine(main, rule + L"运行完成", true));
    bool copied = false;
    for (const auto& [name, bytes] : ReadTree(target)) {
        if (name.size() >= 7 && name.substr(name.size() - 7) == L"/报告.txt")
            copied = bytes == "周报\r\n第一行";
    }
    EXPECT_TRUE(copied) << "the backup folder holds no copy of 报告.txt";

    // Verify the rule's sets: the engine checks them on its own thread and says so in the run log.
    ASSERT_NE(s.OpenPopup(main, IDC_BACKUP_LIST, {0}, Grey({})), nullptr);
    s.Choose(kVerify);
    EXPECT_TRUE(s.WaitForLogLine(main, rule + L"开始校验备份"));
    EXPECT_TRUE(s.WaitForLogLine(main, L"校验完成：" + target.wstring() + L"\\kivo-", true));
    EXPECT_TRUE(s.WaitForLogLine(main, rule + L"运行完成：校验备份 1 个，全部正常"));

    // Delete the clean rule: No keeps it, Yes removes it.
    ASSERT_NE(s.OpenPopup(main, IDC_CLEAR_LIST, {0}, Grey({})), nullptr);
    s.Choose(kDelete);
    MessageBoxView ask = WaitForMessageBox(s.Pid(), L"删除警告");
    EXPECT_EQ(U8(ask.text), U8(L"确定删除吗？"));
    EXPECT_EQ(ask.icon, BoxIcon::Information) << IconName(ask.icon);
    EXPECT_EQ(ask.buttons, (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(::GetWindow(ask.window, GW_OWNER), main);
    AnswerMessageBox(ask, IDNO);
    LetACommandArrive();
    EXPECT_EQ(clear.Count(), 1);
    ASSERT_NE(s.OpenPopup(main, IDC_CLEAR_LIST, {0}, Grey({})), nullptr);
    s.Choose(kDelete);
    ask = WaitForMessageBox(s.Pid(), L"删除警告");
    AnswerMessageBox(ask, IDYES);
    EXPECT_TRUE(WaitUntil([&] { return clear.Count() == 0; }, 3000));

    ASSERT_TRUE(s.StartAutomaticRunning(main));
    EXPECT_TRUE(WaitUntil([&] { return CountLines(log, L"自动运行已启动") == 2; }, 3000));

    // Widths changed by dragging (here: by the list's own message) are there again after a restart.
    clear.SetColumnWidth(3, 157);
    backup.SetColumnWidth(1, 203);
    log.SetColumnWidth(1, 311);
    const std::vector<int> widths[] = {Widths(log), Widths(clear), Widths(backup)};
    EXPECT_EQ(widths[1][3], 157);
    SaveScreenshot(main, ScreenshotFolder(), L"main-window-acp" + std::to_wstring(::GetACP()) + L".png");
    ASSERT_TRUE(s.CloseApp(main));

    main = s.StartLoggedIn();
    ASSERT_NE(main, nullptr);
    RemoteListView clear2 = s.List(main, IDC_CLEAR_LIST), backup2 = s.List(main, IDC_BACKUP_LIST),
                   log2 = s.List(main, IDC_LOG_LIST);
    EXPECT_EQ(clear2.Count(), 0);
    ASSERT_EQ(backup2.Count(), 1);
    EXPECT_EQ(U8Row(backup2.Row(0)), backupRow);
    EXPECT_EQ(Widths(log2), widths[0]);
    EXPECT_EQ(Widths(clear2), widths[1]);
    EXPECT_EQ(Widths(backup2), widths[2]);
    EXPECT_TRUE(s.CloseApp(main));
}

TEST(PopupMenus, GreyItemsBySelectionAndRunStateAndAGreyedItemCannotBeChosen) {
    PlanDeskSession s;
    HWND main = s.StartLoggedIn();
    ASSERT_NE(main, nullptr);
    ScratchFolder work(L"popup");
    const fs::path source = work.Path() / L"source", target = work.Path() / L"target";
    WriteTree(work.Path(), {{L"source/a.txt", "a"}, {L"target/", ""}});
    for (const wchar_t* name : {L"甲", L"乙", L"丙"})
        ASSERT_TRUE(s.AddBackupRule(main, name, source.wstring(), target.wstring()));
    RemoteListView list = s.List(main, IDC_BACKUP_LIST), log = s.List(main, IDC_LOG_LIST);
    ASSERT_EQ(list.Column(1), (std::vector<std::wstring>{L"甲", L"乙", L"丙"}));

    // While the engine runs automatically.
    ASSERT_TRUE(s.RunButtonsShow(main, true));
    ASSERT_NE(s.OpenPopup(main, IDC_BACKUP_LIST, {}, Grey({kChange, kToggle, kDelete, kRunNow})), nullptr);
    Dismiss(s);
    ASSERT_NE(s.OpenPopup(main, IDC_BACKUP_LIST, {1}, Grey({kRunNow})), nullptr);
    s.Choose(kRunNow);
    LetACommandArrive();
    EXPECT_FALSE(AnyLineContains(log, L"开始手动运行")) << "a greyed run-now ran the rule";
    EXPECT_EQ(FindDialog(s.Pid(), L"警告"), nullptr);
    ASSERT_NE(s.OpenPopup(main, IDC_BACKUP_LIST, {0, 2}, Grey({kNew, kChange, kRunNow})), nullptr);
    s.Choose(kChange);
    LetACommandArrive();
    EXPECT_EQ(TopLevelWindows(s.Pid()).size(), 1u) << "a greyed item opened a dialog";

    // Stopped: one row offers everything.
    ASSERT_TRUE(s.StopAutomaticRunning(main));
    ASSERT_NE(s.OpenPopup(main, IDC_BACKUP_LIST, {1}, Grey({})), nullptr);
    s.Choose(kToggle);
    ASSERT_TRUE(WaitUntil(
        [&] {
            return list.Column(2) == std::vector<std::wstring>{L"启用", L"禁用", L"启用"};
        },
        3000));

    // Two rows, one disabled: the item enables both; both enabled: it disables both.
    ASSERT_NE(s.OpenPopup(main, IDC_BACKUP_LIST, {0, 1}, Grey({kNew, kChange, kRunNow}, true)), nullptr);
    s.Choose(kToggle);
    EXPECT_TRUE(WaitUntil(
        [&] {
            return list.Column(2) == std::vector<std::wstring>{L"启用", L"启用", L"启用"};
        },
        3000));
    ASSERT_NE(s.OpenPopup(main, IDC_BACKUP_LIST, {0, 1}, Grey({kNew, kChange, kRunNow})), nullptr);
    s.Choose(kToggle);
    EXPECT_TRUE(WaitUntil(
        [&] {
            return list.Column(2) == std::vector<std::wstring>{L"禁用", L"禁用", L"启用"};
        },
        3000));

    // The engine refuses to run a disabled rule by hand.
    ASSERT_NE(s.OpenPopup(main, IDC_BACKUP_LIST, {0}, Grey({}, true)), nullptr);
    s.Choose(kRunNow);
    const MessageBoxView failed = WaitForMessageBox(s.Pid(), L"警告");
    EXPECT_EQ(U8(failed.text), U8(L"手动执行失败."));
    EXPECT_EQ(failed.icon, BoxIcon::Information) << IconName(failed.icon);
    EXPECT_EQ(failed.buttons, std::vector<int>{IDOK});
    EXPECT_EQ(::GetWindow(failed.window, GW_OWNER), main);
    AnswerMessageBox(failed, IDOK);

    // Delete two of three: No first changes nothing, Yes removes exactly those two.
    ASSERT_NE(s.OpenPopup(main, IDC_BACKUP_LIST, {0, 1}, Grey({kNew, kChange, kRunNow}, true)), nullptr);
    s.Choose(kDelete);
    AnswerMessageBox(WaitForMessageBox(s.Pid(), L"删除警告"), IDNO);
    LetACommandArrive();
    EXPECT_EQ(list.Column(1), (std::vector<std::wstring>{L"甲", L"乙", L"丙"}));
    ASSERT_NE(s.OpenPopup(main, IDC_BACKUP_LIST, {0, 1}, Grey({kNew, kChange, kRunNow}, true)), nullptr);
    s.Choose(kDelete);
    AnswerMessageBox(WaitForMessageBox(s.Pid(), L"删除警告"), IDYES);
    EXPECT_TRUE(WaitUntil([&] { return list.Column(1) == std::vector<std::wstring>{L"丙"}; }, 3000));
    EXPECT_TRUE(s.CloseApp(main));
}

}  // namespace
}  // namespace e2e
