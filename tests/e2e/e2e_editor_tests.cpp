// Both rule editors of the real app, opened from the popup menus: their boundary checks with
// the exact messages and focus, the schedule panel's checks, what a saved rule shows in its list,
// and a change loaded back into the editor.
#include <gtest/gtest.h>

#include <filesystem>

#include "PlanDeskSession.h"
#include "UserInput.h"
#include "resource.h"

namespace e2e {
namespace {

const std::wstring kError = L"错误";
const std::wstring kWarning = L"警告";
const std::wstring k15Chinese = L"一二三四五六七八九十甲乙丙丁戊";  // 30 GBK bytes

// Sets several edits at once, in order.
void Fill(HWND dialog, std::initializer_list<std::pair<int, std::wstring>> texts) {
    for (const auto& [id, text] : texts) SetText(dialog, id, text);
}

// The texts the editor's controls show, for comparing a loaded rule at one go.
std::vector<std::string> Texts(HWND dialog, std::initializer_list<int> ids) {
    std::vector<std::string> texts;
    for (int id : ids) texts.push_back(U8(TextOf(dialog, id)));
    return texts;
}

std::vector<std::string> U8Row(const std::vector<std::wstring>& row) {
    std::vector<std::string> out;
    for (const auto& cell : row) out.push_back(U8(cell));
    return out;
}

TEST(CleanEditor, RefusesEachFaultInOrderThenSavesAndLoadsTheRuleBack) {
    PlanDeskSession s;
    HWND main = s.StartLoggedIn();
    ASSERT_NE(main, nullptr);
    ScratchFolder watched(L"watched");

    PopupState none;
    for (int item : {kChange, kToggle, kDelete, kRunNow, kPreview}) none.grayed[item] = true;
    ASSERT_NE(s.OpenPopup(main, IDC_CLEAR_LIST, {}, none), nullptr);
    s.Choose(kNew);
    HWND editor = WaitForDialog(s.Pid(), L"新增删除规则");
    ASSERT_NE(editor, nullptr);

    // A new rule starts from the editor's defaults and the panel's every-15-minutes.
    EXPECT_EQ(Texts(editor, {IDC_KEEP_DAYS, IDC_MIN_SIZE, IDC_MAX_SIZE, IDC_START_DATE, IDC_END_DATE,
                             IDC_START_HOUR, IDC_START_MINUTE, IDC_END_HOUR, IDC_END_MINUTE, IDC_INTERVAL}),
              (std::vector<std::string>{"0", "0", "0", "0", "0", "00", "00", "00", "00", "15"}));
    EXPECT_TRUE(IsChecked(editor, IDC_MODE_INTERVAL));
    EXPECT_FALSE(IsVisible(editor, IDC_FREE_SPACE_PERCENT));
    SaveScreenshot(editor, ScreenshotFolder(), L"clean-editor-acp" + std::to_wstring(::GetACP()) + L".png");

    // The schedule is checked first, before the editor's own empty description.
    Fill(editor, {{IDC_INTERVAL, L"0"}});
    EXPECT_TRUE(s.SaveRefused(editor, kWarning, L"间隔时长区间[1,1440]，请重新输入", IDC_INTERVAL, true));
    Fill(editor, {{IDC_INTERVAL, L"1441"}});
    EXPECT_TRUE(s.SaveRefused(editor, kWarning, L"间隔时长区间[1,1440]，请重新输入", IDC_INTERVAL, true));
    Fill(editor, {{IDC_INTERVAL, L""}});
    EXPECT_TRUE(s.SaveRefused(editor, kWarning, L"请输入间隔时长.", IDC_INTERVAL, false));
    Fill(editor, {{IDC_INTERVAL, L"1440"}});

    // Weekly without a day keeps the focus where it was (on the save button just clicked).
    ASSERT_TRUE(
        s.ClickAndWait(editor, IDC_MODE_WEEKLY, [&] { return IsVisible(editor, IDC_WEEKDAY_FIRST); }));
    EXPECT_TRUE(s.SaveRefused(editor, kError, L"最少选择一天.", IDOK, false));
    ASSERT_TRUE(
        s.ClickAndWait(editor, IDC_WEEKDAY_FIRST, [&] { return IsChecked(editor, IDC_WEEKDAY_FIRST); }));
    ASSERT_TRUE(s.ClickAndWait(editor, IDC_WEEKDAY_FIRST + 2,
                               [&] { return IsChecked(editor, IDC_WEEKDAY_FIRST + 2); }));
    Fill(editor, {{IDC_HOUR, L"08"}, {IDC_MINUTE, L"30"}});

    struct Step {
        std::vector<std::pair<int, std::wstring>> texts;
        std::wstring message;
        int focus;
        bool selected;
    };
    const Step steps[] = {
        {{}, L"请输入规则描述.", IDC_DESCRIPTION, false},
        {{{IDC_DESCRIPTION, k15Chinese + L"己"}},
         L"规则描述长度超过限制范围，请重新输入.",
         IDC_DESCRIPTION,
         true},
        {{{IDC_DESCRIPTION, k15Chinese + L"A"}}, L"请选择监视路径.", IDC_PICK_PATH, false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(U8(step.message));
        for (const auto& [id, text] : step.texts) SetText(editor, id, text);
        EXPECT_TRUE(s.SaveRefused(editor, kError, step.message, step.focus, step.selected));
    }

    // The engine refuses a path that is not absolute; the editor shows its code and stays open.
    Fill(editor, {{IDC_CLEAR_PATH, L"relative\\folder"}});
    EXPECT_TRUE(s.SaveRefused(editor, kError, L"新增删除规则失败:5", IDOK, false));
    ASSERT_TRUE(s.PickFolder(editor, IDC_PICK_PATH, watched.Wide()));
    EXPECT_EQ(U8(TextOf(editor, IDC_CLEAR_PATH)), U8(watched.Wide()));

    // Ticking the free-space box shows the percent with its offered 10, selected for typing.
    ASSERT_TRUE(s.ClickAndWait(editor, IDC_FREE_SPACE_CHECK,
                               [&] { return IsVisible(editor, IDC_FREE_SPACE_PERCENT); }));
    EXPECT_EQ(U8(TextOf(editor, IDC_FREE_SPACE_PERCENT)), "10");
    EXPECT_TRUE(WaitUntil([&] { return FocusOf(editor) == Control(editor, IDC_FREE_SPACE_PERCENT); }, 2000));
    EXPECT_TRUE(WholeTextSelected(Control(editor, IDC_FREE_SPACE_PERCENT)));

    const std::wstring percent = L"磁盘剩余空间区间[5,95]，请重新输入.";
    const std::wstring dates = L"日期区间[19700101,20991230]，请重新输入.";
    const Step checks[] = {
        {{{IDC_FREE_SPACE_PERCENT, L"4"}}, percent, IDC_FREE_SPACE_PERCENT, true},
        {{{IDC_FREE_SPACE_PERCENT, L"96"}}, percent, IDC_FREE_SPACE_PERCENT, true},
        {{{IDC_FREE_SPACE_PERCENT, L"5"}, {IDC_NAME_FILTER, k15Chinese + L"己"}},
         L"名称过滤字段最长32字节，请重新输入.",
         IDC_NAME_FILTER,
         true},
        {{{IDC_NAME_FILTER, L"tmp,日志"}, {IDC_START_DATE, L"19691231"}}, dates, IDC_START_DATE, true},
        {{{IDC_START_DATE, L"20240101"}, {IDC_END_DATE, L"20991231"}}, dates, IDC_END_DATE, true},
        {{{IDC_START_DATE, L"20240102"}, {IDC_END_DATE, L"20240101"}},
         L"开始日期必须小于结束日期，请重新输入.",
         IDC_START_DATE,
         true},
        {{{IDC_START_DATE, L"20240101"},
          {IDC_END_DATE, L"20241231"},
          {IDC_START_HOUR, L"22"},
          {IDC_END_HOUR, L"02"}},
         L"开始时间必须小于结束时间，请重新输入.",
         IDC_START_HOUR,
         true},
        {{{IDC_START_HOUR, L"08"}, {IDC_END_HOUR, L"18"}, {IDC_MIN_SIZE, L"100"}, {IDC_MAX_SIZE, L"0"}},
         L"文件大小最小值必须小于最大值，请重新输入.",
         IDC_MIN_SIZE,
         true},
    };
    for (const Step& step : checks) {
        SCOPED_TRACE(U8(step.message));
        for (const auto& [id, text] : step.texts) SetText(editor, id, text);
        EXPECT_TRUE(s.SaveRefused(editor, kError, step.message, step.focus, step.selected));
    }

    // An hour of 24 cannot be typed: the edit falls back to the last accepted text, selected.
    Fill(editor, {{IDC_END_HOUR, L"24"}});
    EXPECT_EQ(U8(TextOf(editor, IDC_END_HOUR)), "18");
    EXPECT_TRUE(WholeTextSelected(Control(editor, IDC_END_HOUR)));

    Fill(editor, {{IDC_MIN_SIZE, L"0"}, {IDC_MAX_SIZE, L"500"}, {IDC_KEEP_DAYS, L"30"}});
    Click(editor, IDOK);
    ASSERT_TRUE(WaitForDialogGone(s.Pid(), L"新增删除规则"));

    RemoteListView list = s.List(main, IDC_CLEAR_LIST);
    ASSERT_TRUE(WaitUntil([&] { return list.Count() == 1; }, 3000));
    const std::vector<std::wstring> row = list.Row(0);
    const std::wstring id = row[0];
    EXPECT_GT(_wtoi(id.c_str()), 0);
    EXPECT_EQ(U8Row(row),
              (std::vector<std::string>{U8(id), U8(k15Chinese + L"A"), U8(L"启用"), U8(watched.Wide()), "5",
                                        U8(L"周一 周三 08:30"), "30", U8(L"tmp,日志"), "0,500",
                                        "2024/01/01 08:00,2024/12/31 18:00"}));

    // Changing it loads every field back; Esc leaves the row as it was.
    PopupState running;
    running.grayed[kRunNow] = true;  // the engine runs automatically since the first tick
    ASSERT_NE(s.OpenPopup(main, IDC_CLEAR_LIST, {0}, running), nullptr);
    s.Choose(kChange);
    const std::wstring changeCaption = L"修改删除规则 ID:" + id;
    editor = WaitForDialog(s.Pid(), changeCaption);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(
        Texts(editor, {IDC_DESCRIPTION, IDC_CLEAR_PATH, IDC_FREE_SPACE_PERCENT, IDC_KEEP_DAYS,
                       IDC_NAME_FILTER, IDC_MIN_SIZE, IDC_MAX_SIZE, IDC_START_DATE, IDC_END_DATE,
                       IDC_START_HOUR, IDC_START_MINUTE, IDC_END_HOUR, IDC_END_MINUTE, IDC_HOUR, IDC_MINUTE}),
        (std::vector<std::string>{U8(k15Chinese + L"A"), U8(watched.Wide()), "5", "30", U8(L"tmp,日志"), "0",
                                  "500", "20240101", "20241231", "08", "00", "18", "00", "08", "30"}));
    EXPECT_TRUE(IsChecked(editor, IDC_FREE_SPACE_CHECK));
    EXPECT_TRUE(IsChecked(editor, IDC_MODE_WEEKLY));
    EXPECT_TRUE(IsChecked(editor, IDC_WEEKDAY_FIRST));
    EXPECT_FALSE(IsChecked(editor, IDC_WEEKDAY_FIRST + 1));
    EXPECT_TRUE(IsChecked(editor, IDC_WEEKDAY_FIRST + 2));
    Fill(editor, {{IDC_DESCRIPTION, L"不会保存"}});
    PressKey(VK_ESCAPE);
    ASSERT_TRUE(WaitForDialogGone(s.Pid(), changeCaption));
    EXPECT_EQ(U8Row(list.Row(0)), U8Row(row));

    // Saving a change rewrites the row.
    ASSERT_NE(s.OpenPopup(main, IDC_CLEAR_LIST, {0}, running), nullptr);
    s.Choose(kChange);
    editor = WaitForDialog(s.Pid(), changeCaption);
    ASSERT_NE(editor, nullptr);
    Fill(editor, {{IDC_DESCRIPTION, L"月末清理"}});
    ASSERT_TRUE(s.ClickAndWait(editor, IDC_MODE_MONTHLY, [&] { return IsVisible(editor, IDC_DAY); }));
    Fill(editor, {{IDC_DAY, L"31"}});
    Click(editor, IDOK);
    ASSERT_TRUE(WaitForDialogGone(s.Pid(), changeCaption));
    std::vector<std::wstring> changed = row;
    changed[1] = L"月末清理";
    changed[5] = L"每月:31日 08:30";
    EXPECT_TRUE(WaitUntil([&] { return list.Row(0) == changed; }, 3000)) << U8(list.Cell(0, 5));
    EXPECT_TRUE(s.CloseApp(main));
}

TEST(BackupEditor, RefusesEachFaultInOrderPrunesTheSourceByModeAndSaves) {
    PlanDeskSession s;
    HWND main = s.StartLoggedIn();
    ASSERT_NE(main, nullptr);
    ScratchFolder work(L"backup");
    const std::filesystem::path source = work.Path() / L"source", target = work.Path() / L"target";
    WriteTree(work.Path(), {{L"source/a.txt", "a"}, {L"target/", ""}});

    PopupState none;
    for (int item : {kChange, kToggle, kDelete, kRunNow}) none.grayed[item] = true;
    ASSERT_NE(s.OpenPopup(main, IDC_BACKUP_LIST, {}, none), nullptr);
    s.Choose(kNew);
    HWND editor = WaitForDialog(s.Pid(), L"新增备份规则");
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(U8(TextOf(editor, IDC_KEEP_DAYS)), "0");
    EXPECT_TRUE(IsChecked(editor, IDC_SOURCE_IS_FOLDER));

    EXPECT_TRUE(s.SaveRefused(editor, kError, L"请输入规则描述.", IDC_DESCRIPTION, false));
    Fill(editor, {{IDC_DESCRIPTION, k15Chinese + L"己"}});
    EXPECT_TRUE(
        s.SaveRefused(editor, kError, L"规则描述长度超过限制范围，请重新输入.", IDC_DESCRIPTION, true));
    Fill(editor, {{IDC_DESCRIPTION, L"每月备份"}});
    EXPECT_TRUE(s.SaveRefused(editor, kError, L"请选择监视路径.", IDC_PICK_PATH, false));

    // File mode picks a file with the "*.*" chooser; folder mode drops it again, and the reverse.
    ASSERT_TRUE(
        s.ClickAndWait(editor, IDC_SOURCE_IS_FILE, [&] { return IsChecked(editor, IDC_SOURCE_IS_FILE); }));
    std::wstring filter;
    ASSERT_TRUE(s.PickFile(editor, IDC_PICK_PATH, (source / L"a.txt").wstring(), &filter));
    EXPECT_EQ(U8(filter), "Describe Files All Files (*.*)");
    EXPECT_EQ(U8(TextOf(editor, IDC_BACKUP_SOURCE)), U8((source / L"a.txt").wstring()));
    ASSERT_TRUE(s.ClickAndWait(editor, IDC_SOURCE_IS_FOLDER,
                               [&] { return IsChecked(editor, IDC_SOURCE_IS_FOLDER); }));
    EXPECT_TRUE(WaitUntil([&] { return TextOf(editor, IDC_BACKUP_SOURCE).empty(); }, 2000));
    ASSERT_TRUE(s.PickFolder(editor, IDC_PICK_PATH, source.wstring()));
    EXPECT_EQ(U8(TextOf(editor, IDC_BACKUP_SOURCE)), U8(source.wstring()));
    ASSERT_TRUE(
        s.ClickAndWait(editor, IDC_SOURCE_IS_FILE, [&] { return IsChecked(editor, IDC_SOURCE_IS_FILE); }));
    EXPECT_TRUE(WaitUntil([&] { return TextOf(editor, IDC_BACKUP_SOURCE).empty(); }, 2000));
    ASSERT_TRUE(s.ClickAndWait(editor, IDC_SOURCE_IS_FOLDER,
                               [&] { return IsChecked(editor, IDC_SOURCE_IS_FOLDER); }));
    ASSERT_TRUE(s.PickFolder(editor, IDC_PICK_PATH, source.wstring()));

    EXPECT_TRUE(s.SaveRefused(editor, kError, L"请选择备份路径.", IDC_PICK_BACKUP_TARGET, false));
    ASSERT_TRUE(s.PickFolder(editor, IDC_PICK_BACKUP_TARGET, target.wstring()));
    EXPECT_EQ(U8(TextOf(editor, IDC_BACKUP_TARGET)), U8(target.wstring()));

    // Monthly on day 31 at 23:59; a day of 32 falls back to the last accepted day.
    ASSERT_TRUE(s.ClickAndWait(editor, IDC_MODE_MONTHLY, [&] { return IsVisible(editor, IDC_DAY); }));
    Fill(editor, {{IDC_DAY, L"31"}, {IDC_DAY, L"32"}});
    EXPECT_EQ(U8(TextOf(editor, IDC_DAY)), "31");
    Fill(editor, {{IDC_HOUR, L"23"}, {IDC_MINUTE, L"59"}, {IDC_KEEP_DAYS, L"7"}});
    SaveScreenshot(editor, ScreenshotFolder(), L"backup-editor-acp" + std::to_wstring(::GetACP()) + L".png");
    Click(editor, IDOK);
    ASSERT_TRUE(WaitForDialogGone(s.Pid(), L"新增备份规则"));

    RemoteListView list = s.List(main, IDC_BACKUP_LIST);
    ASSERT_TRUE(WaitUntil([&] { return list.Count() == 1; }, 3000));
    const std::vector<std::wstring> row = list.Row(0);
    EXPECT_EQ(U8Row(row),
              (std::vector<std::string>{U8(row[0]), U8(L"每月备份"), U8(L"启用"), U8(source.wstring()),
                                        U8(target.wstring()), U8(L"每月:31日 23:59"), "7"}));

    // Changing it loads the rule back (the source mode is not stored: folder is checked), and
    // saving rewrites the row.
    PopupState running;
    running.grayed[kRunNow] = true;
    ASSERT_NE(s.OpenPopup(main, IDC_BACKUP_LIST, {0}, running), nullptr);
    s.Choose(kChange);
    const std::wstring changeCaption = L"修改备份规则 ID:" + row[0];
    editor = WaitForDialog(s.Pid(), changeCaption);
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(Texts(editor, {IDC_DESCRIPTION, IDC_BACKUP_SOURCE, IDC_BACKUP_TARGET, IDC_KEEP_DAYS, IDC_DAY,
                             IDC_HOUR, IDC_MINUTE}),
              (std::vector<std::string>{U8(L"每月备份"), U8(source.wstring()), U8(target.wstring()), "7",
                                        "31", "23", "59"}));
    EXPECT_TRUE(IsChecked(editor, IDC_MODE_MONTHLY));
    EXPECT_TRUE(IsChecked(editor, IDC_SOURCE_IS_FOLDER));
    ASSERT_TRUE(s.ClickAndWait(editor, IDC_MODE_DAILY, [&] { return IsChecked(editor, IDC_MODE_DAILY); }));
    Fill(editor, {{IDC_KEEP_DAYS, L"90"}});
    Click(editor, IDOK);
    ASSERT_TRUE(WaitForDialogGone(s.Pid(), changeCaption));
    std::vector<std::wstring> changed = row;
    changed[5] = L"每天 23:59";
    changed[6] = L"90";
    EXPECT_TRUE(WaitUntil([&] { return list.Row(0) == changed; }, 3000)) << U8(list.Cell(0, 5));
    EXPECT_TRUE(s.CloseApp(main));
}

}  // namespace
}  // namespace e2e
