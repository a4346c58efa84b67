#include "ReadmeScreenshots.h"

#include <cstdio>
#include <functional>

#include "PlanDeskSession.h"
#include "UserInput.h"
#include "resource.h"

namespace e2e {
namespace {

struct Field {
    int id;
    std::wstring text;
};

// Fills a new rule's editor the way an operator would and saves it. Paths are typed into the
// read-only path edits, so the pictures show tidy example paths.
bool SaveNewRule(PlanDeskSession& s, HWND main, int listId, const std::wstring& caption, int mode,
                 const std::vector<int>& ticks, const std::vector<Field>& fields) {
    if (!s.OpenPopup(main, listId, {})) return false;
    s.Choose(kNew);
    HWND editor = WaitForDialog(s.Pid(), caption);
    if (!editor) return false;
    if (!s.ClickAndWait(editor, mode, [&] { return IsChecked(editor, mode); })) return false;
    for (int id : ticks) {
        if (!s.ClickAndWait(editor, id, [&] { return IsChecked(editor, id); })) return false;
    }
    for (const Field& field : fields) SetText(editor, field.id, field.text);
    Click(editor, IDOK);
    return WaitForDialogGone(s.Pid(), caption);
}

bool Shoot(HWND window, const std::wstring& folder, const std::wstring& name, int& failures) {
    if (!window || SaveScreenshot(window, folder, name).empty()) {
        std::printf("could not take %s\n", U8(name).c_str());
        ++failures;
        return false;
    }
    return true;
}

}  // namespace

int TakeReadmeScreenshots(const std::wstring& requested) {
    const std::wstring folder = requested.empty() ? ScreenshotFolder() : requested;
    CreateDirectoryW(folder.c_str(), nullptr);
    int failures = 0;
    PlanDeskSession s;
    HWND login = s.Start();
    if (!login) return 1;
    Shoot(login, folder, L"login.png", failures);
    HWND main = s.LogIn(login);
    if (!main) return 1;

    const bool saved = SaveNewRule(s, main, IDC_CLEAR_LIST, L"新增删除规则", IDC_MODE_WEEKLY,
                                   {IDC_WEEKDAY_FIRST, IDC_WEEKDAY_FIRST + 1, IDC_WEEKDAY_FIRST + 2,
                                    IDC_WEEKDAY_FIRST + 3, IDC_WEEKDAY_FIRST + 4, IDC_FREE_SPACE_CHECK},
                                   {{IDC_DESCRIPTION, L"清理临时文件"},
                                    {IDC_CLEAR_PATH, L"C:\\工作\\临时"},
                                    {IDC_FREE_SPACE_PERCENT, L"10"},
                                    {IDC_HOUR, L"02"},
                                    {IDC_KEEP_DAYS, L"30"},
                                    {IDC_NAME_FILTER, L"tmp,bak"},
                                    {IDC_MAX_SIZE, L"1024"},
                                    {IDC_END_HOUR, L"06"}}) &&
                       SaveNewRule(s, main, IDC_CLEAR_LIST, L"新增删除规则", IDC_MODE_INTERVAL, {},
                                   {{IDC_DESCRIPTION, L"清理日志"},
                                    {IDC_CLEAR_PATH, L"C:\\工作\\日志"},
                                    {IDC_INTERVAL, L"60"},
                                    {IDC_KEEP_DAYS, L"7"},
                                    {IDC_START_DATE, L"20240101"}}) &&
                       SaveNewRule(s, main, IDC_BACKUP_LIST, L"新增备份规则", IDC_MODE_DAILY, {},
                                   {{IDC_DESCRIPTION, L"每日备份报表"},
                                    {IDC_BACKUP_SOURCE, L"C:\\工作\\报表"},
                                    {IDC_BACKUP_TARGET, L"D:\\备份\\报表"},
                                    {IDC_HOUR, L"23"},
                                    {IDC_MINUTE, L"30"},
                                    {IDC_KEEP_DAYS, L"14"}}) &&
                       SaveNewRule(s, main, IDC_BACKUP_LIST, L"新增备份规则", IDC_MODE_MONTHLY, {},
                                   {{IDC_DESCRIPTION, L"每月归档合同"},
                                    {IDC_BACKUP_SOURCE, L"C:\\工作\\合同"},
                                    {IDC_BACKUP_TARGET, L"D:\\备份\\合同"},
                                    {IDC_DAY, L"1"},
                                    {IDC_HOUR, L"01"},
                                    {IDC_KEEP_DAYS, L"365"}});
    if (!saved) {
        std::printf("could not create the example rules\n");
        return 1;
    }
    // A few engine lines in the run log, one of them red.
    s.StopAutomaticRunning(main);
    s.StartAutomaticRunning(main);
    s.WaitForLogLine(main, L"自动运行已停止");
    Shoot(main, folder, L"main-window.png", failures);

    if (s.OpenPopup(main, IDC_CLEAR_LIST, {})) {
        s.Choose(kNew);
        HWND editor = WaitForDialog(s.Pid(), L"新增删除规则");
        Shoot(editor, folder, L"clean-editor.png", failures);
        PressKey(VK_ESCAPE);
        WaitForDialogGone(s.Pid(), L"新增删除规则");
    }
    if (s.OpenPopup(main, IDC_BACKUP_LIST, {0})) {
        s.Choose(kChange);
        HWND editor = WaitForDialog(s.Pid(), L"修改备份规则 ID:" + s.List(main, IDC_BACKUP_LIST).Cell(0, 0));
        Shoot(editor, folder, L"backup-editor.png", failures);
        PressKey(VK_ESCAPE);
        WaitUntil([&] { return !::IsWindowVisible(editor); });
    }
    if (s.StopAutomaticRunning(main)) {
        Click(main, IDC_MANUAL_RESTORE);
        HWND dialog = WaitForDialog(s.Pid(), kRestoreCaption);
        Shoot(dialog, folder, L"manual-dialog.png", failures);
        PressKey(VK_ESCAPE);
        WaitForDialogGone(s.Pid(), kRestoreCaption);
    }
    s.CloseApp(main);
    return failures == 0 ? 0 : 1;
}

}  // namespace e2e
