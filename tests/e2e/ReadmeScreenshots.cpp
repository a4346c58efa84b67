#include "ReadmeScreenshots.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "MenuPicture.h"
#include "PlanDeskSession.h"
#include "ScreenCapture.h"
#include "UserInput.h"
#include "resource.h"

namespace e2e {
namespace {

struct Field {
    int id;
    std::wstring text;
};

// One example rule of a small office, entered the way an operator would. Paths are typed into the
// read-only path edits, so the pictures show tidy example paths that need not exist.
struct SampleRule {
    int listId;
    int mode;                   // the schedule panel's mode button
    std::vector<int> ticks;     // check boxes ticked after the mode
    std::vector<Field> fields;  // texts typed last
    bool disabled = false;      // switched off through the popup once saved
};

const std::wstring kNewClean = L"新增删除规则", kNewBackup = L"新增备份规则";

const SampleRule kSampleRules[] = {
    {IDC_CLEAR_LIST,
     IDC_MODE_DAILY,
     {},
     {{IDC_DESCRIPTION, L"清理应用日志"},
      {IDC_CLEAR_PATH, L"D:\\业务系统\\日志"},
      {IDC_HOUR, L"02"},
      {IDC_MINUTE, L"30"},
      {IDC_KEEP_DAYS, L"30"},
      {IDC_NAME_FILTER, L".log,.bak"},
      {IDC_MAX_SIZE, L"102400"}}},
    {IDC_CLEAR_LIST,
     IDC_MODE_INTERVAL,
     {IDC_FREE_SPACE_CHECK},
     {{IDC_DESCRIPTION, L"空间不足时清理录像"},
      {IDC_CLEAR_PATH, L"E:\\监控录像"},
      {IDC_FREE_SPACE_PERCENT, L"15"},
      {IDC_INTERVAL, L"60"},
      {IDC_KEEP_DAYS, L"7"}}},
    {IDC_CLEAR_LIST,
     IDC_MODE_WEEKLY,
     {IDC_WEEKDAY_FIRST, IDC_WEEKDAY_FIRST + 2, IDC_WEEKDAY_FIRST + 4},
     {{IDC_DESCRIPTION, L"清理临时文件"},
      {IDC_CLEAR_PATH, L"C:\\Temp"},
      {IDC_HOUR, L"23"},
      {IDC_START_DATE, L"20250101"},
      {IDC_END_DATE, L"20251231"},
      {IDC_START_HOUR, L"18"},
      {IDC_END_HOUR, L"23"},
      {IDC_END_MINUTE, L"59"}},
     true},
    {IDC_BACKUP_LIST,
     IDC_MODE_DAILY,
     {},
     {{IDC_DESCRIPTION, L"每日备份文档"},
      {IDC_BACKUP_SOURCE, L"D:\\文档"},
      {IDC_BACKUP_TARGET, L"F:\\备份\\文档"},
      {IDC_HOUR, L"01"},
      {IDC_KEEP_DAYS, L"14"}}},
    {IDC_BACKUP_LIST,
     IDC_MODE_MONTHLY,
     {},
     {{IDC_DESCRIPTION, L"每月备份配置"},
      {IDC_BACKUP_SOURCE, L"D:\\业务系统\\config.ini"},
      {IDC_BACKUP_TARGET, L"F:\\备份\\配置"},
      {IDC_DAY, L"31"},
      {IDC_HOUR, L"03"},
      {IDC_KEEP_DAYS, L"365"}}},
};

bool SaveSampleRule(PlanDeskSession& s, HWND main, const SampleRule& rule) {
    const std::wstring& caption = rule.listId == IDC_CLEAR_LIST ? kNewClean : kNewBackup;
    RemoteListView list = s.List(main, rule.listId);
    const int row = list.Count();
    if (!s.OpenPopup(main, rule.listId, {})) return false;
    s.Choose(kNew);
    HWND editor = WaitForDialog(s.Pid(), caption);
    if (!editor) return false;
    if (!s.ClickAndWait(editor, rule.mode, [&] { return IsChecked(editor, rule.mode); })) return false;
    for (int id : rule.ticks) {
        if (!s.ClickAndWait(editor, id, [&] { return IsChecked(editor, id); })) return false;
    }
    for (const Field& field : rule.fields) SetText(editor, field.id, field.text);
    Click(editor, IDOK);
    if (!WaitForDialogGone(s.Pid(), caption) || !WaitUntil([&] { return list.Count() == row + 1; }, 3000))
        return false;
    if (!rule.disabled) return true;
    if (!s.OpenPopup(main, rule.listId, {row})) return false;
    s.Choose(kToggle);
    return WaitUntil([&] { return list.Cell(row, 2) == L"禁用"; }, 3000);
}

bool Shoot(HWND window, const std::wstring& folder, const std::wstring& name, int& failures) {
    if (!window || SaveScreenshot(window, folder, name).empty()) {
        std::printf("could not take %s\n", U8(name).c_str());
        ++failures;
        return false;
    }
    return true;
}

// Opens the change editor of a list's first rule, takes its picture and leaves it with Escape.
void ShootChangeEditor(PlanDeskSession& s, HWND main, int listId, const std::wstring& captionPrefix,
                       const std::wstring& folder, const std::wstring& name, int& failures) {
    const std::wstring caption = captionPrefix + s.List(main, listId).Cell(0, 0);
    if (!s.OpenPopup(main, listId, {0})) {
        ++failures;
        return;
    }
    s.Choose(kChange);
    Shoot(WaitForDialog(s.Pid(), caption), folder, name, failures);
    PressKey(VK_ESCAPE);
    WaitForDialogGone(s.Pid(), caption);
}

// Explorer's notification area: under Wine without a desktop, a small window of its own.
HWND NotificationArea() {
    HWND area = nullptr;
    WaitUntil([&] { return (area = ::FindWindowW(nullptr, L"Wine System Tray")) != nullptr; }, 5000);
    return area;
}

// A background copy whose overdue rule fails at once (its folder does not exist): the notice, then
// the icon's menu, each with the notification area it belongs to.
void ShootNotificationArea(const std::wstring& folder, int& failures) {
    PlanDeskSession s;
    if (!WriteOverdueCleanRule(s.Home(), L"D:\\业务系统\\已移走的日志", L"清理应用日志") ||
        !s.StartInBackground()) {
        ++failures;
        return;
    }
    HWND area = NotificationArea();
    if (!area) {
        std::printf("no notification area to take\n");
        ++failures;
        return;
    }
    RECT areaRect;
    ::GetWindowRect(area, &areaRect);
    // The balloon is Explorer's to draw; take it when it shows.
    HWND balloon = nullptr;
    const auto findBalloon = [&] {
        for (HWND tip = nullptr; (tip = ::FindWindowExW(nullptr, tip, L"tooltips_class32", nullptr));) {
            if (::IsWindowVisible(tip) && ::GetWindowTextLengthW(tip) >= 0) {
                RECT r;
                ::GetWindowRect(tip, &r);
                if (r.right - r.left > 100) return (balloon = tip) != nullptr;
            }
        }
        return false;
    };
    if (WaitUntil(findBalloon, 8000)) {
        ::Sleep(300);
        RECT tipRect;
        ::GetWindowRect(balloon, &tipRect);
        RECT both{std::min(areaRect.left, tipRect.left), std::min(areaRect.top, tipRect.top),
                  std::max(areaRect.right, tipRect.right), std::max(areaRect.bottom, tipRect.bottom)};
        const std::wstring path = folder + L"\\tray_balloon.png";
        if (WritePng(path, CaptureScreenRect(both))) {
            std::printf("screenshot: %s\n", U8(path).c_str());
        } else {
            ++failures;
        }
    } else {
        std::printf("the notification area drew no balloon: no tray_balloon.png\n");
    }
    // The icon is the area's first: a right click on it opens the app's menu.
    RECT client;
    ::GetClientRect(area, &client);
    POINT icon{client.left + ::GetSystemMetrics(SM_CXSMICON) / 2 + 2,
               client.top + ::GetSystemMetrics(SM_CYSMICON) / 2 + 2};
    ::ClientToScreen(area, &icon);
    ClickAt(icon, MouseButton::Right);
    HWND menu = WaitForPopupMenu(s.Pid(), 5000);
    if (!menu) {
        std::printf("the icon's menu did not open\n");
        ++failures;
        return;
    }
    ::Sleep(300);
    RECT menuRect;
    ::GetWindowRect(menu, &menuRect);
    RECT both{std::min(areaRect.left, menuRect.left), std::min(areaRect.top, menuRect.top),
              std::max(areaRect.right, menuRect.right) + 8, std::max(areaRect.bottom, menuRect.bottom) + 8};
    const std::wstring path = folder + L"\\tray_menu.png";
    if (WritePng(path, CaptureScreenRect(both))) {
        std::printf("screenshot: %s\n", U8(path).c_str());
    } else {
        ++failures;
    }
    PressKey(VK_ESCAPE);
}

// A download folder of an office PC, its files of all ages, for the preview's picture.
void MakeDownloadFolder(const std::filesystem::path& root) {
    struct File {
        const wchar_t* name;
        size_t size;
        int daysOld;
    };
    const File files[] = {
        {L"安装包\\setup-2.3.1.exe", 3670016, 95}, {L"安装包\\驱动程序_v5.zip", 1258291, 64},
        {L"报表\\2025年第一季度.xlsx", 48213, 180}, {L"报表\\2025年第二季度.xlsx", 51877, 88},
        {L"会议纪要 3月.docx", 23552, 41},           {L"照片\\IMG_2041.jpg", 812044, 120},
        {L"照片\\IMG_2042.jpg", 790113, 120},      {L"~$草稿.tmp", 162, 33},
        {L"本周日程.docx", 20480, 3},                {L"照片\\IMG_2107.jpg", 845220, 6},
    };
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    for (const File& f : files) {
        const std::filesystem::path path = root / f.name;
        std::filesystem::create_directories(path.parent_path());
        HANDLE h = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) continue;
        const std::string bytes(f.size, 'x');
        DWORD wrote = 0;
        ::WriteFile(h, bytes.data(), DWORD(bytes.size()), &wrote, nullptr);
        ULARGE_INTEGER t{{now.dwLowDateTime, now.dwHighDateTime}};
        t.QuadPart -= ULONGLONG(f.daysOld) * 86400ULL * 10000000ULL + 3917ULL * 10000000ULL * ULONGLONG(f.size % 7);
        const FILETIME written{t.LowPart, t.HighPart};
        ::SetFileTime(h, nullptr, nullptr, &written);
        ::CloseHandle(h);
    }
}

// The preview of a rule saved disabled, as the guide advises: what it would delete before it runs.
void ShootPreview(PlanDeskSession& s, HWND main, const std::wstring& folder, int& failures) {
    ScratchFolder downloads(L"downloads");
    MakeDownloadFolder(downloads.Path());
    const SampleRule rule{IDC_CLEAR_LIST,
                          IDC_MODE_DAILY,
                          {},
                          {{IDC_DESCRIPTION, L"清理下载目录"},
                           {IDC_CLEAR_PATH, downloads.Wide()},
                           {IDC_HOUR, L"03"},
                           {IDC_KEEP_DAYS, L"30"}},
                          true};
    const int row = s.List(main, IDC_CLEAR_LIST).Count();
    if (!SaveSampleRule(s, main, rule) || !s.OpenPopup(main, IDC_CLEAR_LIST, {row})) {
        ++failures;
        return;
    }
    s.Choose(kPreview);
    const std::wstring caption = L"清理预览 - 清理下载目录";
    HWND preview = WaitForDialog(s.Pid(), caption);
    if (!preview || !WaitUntil([&] { return IsEnabled(preview, IDC_PREVIEW_EXPORT); }, 10000)) {
        ++failures;
        return;
    }
    Shoot(preview, folder, L"clean_preview.png", failures);
    PressKey(VK_ESCAPE);
    WaitForDialogGone(s.Pid(), caption);
}

}  // namespace

int TakeReadmeScreenshots(const std::wstring& requested) {
    const std::wstring folder = requested.empty() ? ScreenshotFolder() : requested;
    CreateDirectoryW(folder.c_str(), nullptr);
    int failures = 0;
    PlanDeskSession s;
    HWND login = s.Start();
    if (!login) return 1;
    SetText(login, IDC_LOGIN_USER, kUser);
    SetText(login, IDC_LOGIN_PASSWORD, kPassword);
    Shoot(login, folder, L"login.png", failures);
    HWND main = s.LogIn(login);
    if (!main) return 1;

    for (const SampleRule& rule : kSampleRules) {
        if (!SaveSampleRule(s, main, rule)) {
            std::printf("could not create the example rules\n");
            return 1;
        }
    }
    // Automatic running has started and said so in the run log.
    s.RunButtonsShow(main, true);
    s.WaitForLogLine(main, L"自动运行已启动");
    Shoot(main, folder, L"main_window.png", failures);

    ShootChangeEditor(s, main, IDC_CLEAR_LIST, L"修改删除规则 ID:", folder, L"clean_rule_editor.png",
                      failures);
    ShootChangeEditor(s, main, IDC_BACKUP_LIST, L"修改备份规则 ID:", folder, L"backup_rule_editor.png",
                      failures);

    // Manual backup and restore is there only while automatic running is stopped.
    if (s.StopAutomaticRunning(main)) {
        Click(main, IDC_MANUAL_RESTORE);
        Shoot(WaitForDialog(s.Pid(), kRestoreCaption), folder, L"restore.png", failures);
        PressKey(VK_ESCAPE);
        WaitForDialogGone(s.Pid(), kRestoreCaption);
    } else {
        ++failures;
    }
    ShootPreview(s, main, folder, failures);
    s.CloseApp(main);
    ShootNotificationArea(folder, failures);
    return failures == 0 ? 0 : 1;
}

}  // namespace e2e
