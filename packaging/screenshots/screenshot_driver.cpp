// screenshot_driver.exe: takes the README's pictures of the real app, for scripts/screenshots.sh.
//
//   screenshot_driver <output folder> <account> <password>
//
// Run with PLAN_DESK_HOME naming a fresh data folder that already holds the account. It stores a
// few sample rules through kivo.dll, starts plan_desk.exe beside it, logs in, and saves login.bmp,
// main_window.bmp, clean_rule_editor.bmp, backup_rule_editor.bmp and restore.bmp, each the window
// as on screen. The popup menus are opened with real mouse and key input, as a user would.
#include <windows.h>
#include <commctrl.h>

#include <chrono>
#include <filesystem>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "engine_api.h"
#include "resource.h"

namespace {

using Clock = std::chrono::steady_clock;

void Say(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

bool WaitFor(const std::function<bool()>& ready, int timeoutMs = 10000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return ready();
}

RunSchedule Daily(int hhmm) {
    return RunSchedule{0, 0, 0, uint16_t(hhmm)};
}

// Sample rules of a small office: what the lists and the editors show.
bool StoreSampleRules() {
    if (kivo_init() != KIVO_OK) return false;
    bool ok = true;

    ClearRule logs{};
    logs.enabled = 1;
    logs.keep_days = 30;
    logs.schedule = Daily(230);
    ok &= WriteField(logs.description, "清理应用日志") && WriteField(logs.path, "D:\\业务系统\\日志") &&
          WriteField(logs.name_filter, ".log,.bak") && WriteField(logs.size_range, "0,102400");
    ok &= kivo_add_clear(&logs) == KIVO_OK;

    ClearRule videos{};
    videos.enabled = 1;
    videos.keep_days = 7;
    videos.min_free_percent = 15;
    videos.schedule = RunSchedule{60, 0, 0, 0};
    ok &= WriteField(videos.description, "空间不足时清理录像") && WriteField(videos.path, "E:\\监控录像");
    ok &= kivo_add_clear(&videos) == KIVO_OK;

    ClearRule temp{};
    temp.enabled = 0;
    temp.schedule = RunSchedule{0, 0, 0b0010101, 2300};  // Monday, Wednesday, Friday
    ok &= WriteField(temp.description, "清理临时文件") && WriteField(temp.path, "C:\\Temp") &&
          WriteField(temp.date_range, "20250101,20251231") && WriteField(temp.time_range, "1800,2359");
    ok &= kivo_add_clear(&temp) == KIVO_OK;

    BackupRule documents{};
    documents.enabled = 1;
    documents.keep_days = 14;
    documents.schedule = Daily(100);
    ok &= WriteField(documents.description, "每日备份文档") &&
          WriteField(documents.source_path, "D:\\文档") &&
          WriteField(documents.backup_path, "F:\\备份\\文档");
    ok &= kivo_add_backup(&documents) == KIVO_OK;

    BackupRule config{};
    config.enabled = 1;
    config.keep_days = 365;
    config.schedule = RunSchedule{0, 31, 0, 300};
    ok &= WriteField(config.description, "每月备份配置") &&
          WriteField(config.source_path, "D:\\业务系统\\config.ini") &&
          WriteField(config.backup_path, "F:\\备份\\配置");
    ok &= kivo_add_backup(&config) == KIVO_OK;

    return kivo_deinit() == KIVO_OK && ok;
}

struct App {
    PROCESS_INFORMATION process{};
    ~App() {
        if (process.hProcess) {
            if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT)
                TerminateProcess(process.hProcess, 1);
            CloseHandle(process.hThread);
            CloseHandle(process.hProcess);
        }
    }
};

std::wstring BesideMe(const wchar_t* name) {
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + name;
}

HWND FindDialog(DWORD pid, const std::wstring& caption) {
    for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", caption.c_str()); window;
         window = FindWindowExW(nullptr, window, L"#32770", caption.c_str())) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (owner == pid && IsWindowVisible(window)) return window;
    }
    return nullptr;
}

HWND WaitForDialog(DWORD pid, const std::wstring& caption) {
    HWND found = nullptr;
    WaitFor([&] { return (found = FindDialog(pid, caption)) != nullptr; });
    return found;
}

void Click(HWND dialog, int id) {
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), LPARAM(GetDlgItem(dialog, id)));
}

// Lets the app finish painting: a sent message returns once the earlier ones were handled.
void Settle(HWND window) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
}

// The window as on screen, as a 24-bit bottom-up BMP.
bool SaveWindow(HWND window, const std::wstring& file) {
    Settle(window);
    RECT rect{};
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;
    const int stride = (width * 3 + 3) & ~3;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = DWORD(stride * height);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY | CAPTUREBLT);
        GdiFlush();
        BITMAPFILEHEADER header{};
        header.bfType = 0x4D42;  // "BM"
        header.bfOffBits = sizeof header + sizeof info.bmiHeader;
        header.bfSize = header.bfOffBits + info.bmiHeader.biSizeImage;
        std::ofstream out(std::filesystem::path(file), std::ios::binary);
        out.write(reinterpret_cast<const char*>(&header), sizeof header);
        out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
        out.write(static_cast<const char*>(bits), info.bmiHeader.biSizeImage);
        ok = ok && out.good();
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

void MouseClick(int x, int y, bool right) {
    SetCursorPos(x, y);
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    SendInput(2, input, sizeof(INPUT));
}

void PressKey(WORD key) {
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = key;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof(INPUT));
}

HWND VisibleMenu() {
    HWND menu = FindWindowW(L"#32768", nullptr);
    return menu && IsWindowVisible(menu) ? menu : nullptr;
}

// Selects the first row of a rule list with a click, opens its popup with a right click and
// chooses 修改规则(&E) by its key: the editor of that rule opens.
bool OpenFirstRuleEditor(HWND main, int listId) {
    HWND list = GetDlgItem(main, listId);
    HWND header = HWND(SendMessageW(list, LVM_GETHEADER, 0, 0));
    RECT listRect{}, headerRect{};
    GetWindowRect(list, &listRect);
    GetWindowRect(header, &headerRect);
    const int x = listRect.left + 20, y = headerRect.bottom + 6;
    SetForegroundWindow(main);
    MouseClick(x, y, false);
    if (!WaitFor([&] { return SendMessageW(list, LVM_GETSELECTEDCOUNT, 0, 0) == 1; }, 3000)) return false;
    MouseClick(x, y, true);
    if (!WaitFor([] { return VisibleMenu() != nullptr; }, 3000)) return false;
    PressKey('E');
    return WaitFor([] { return VisibleMenu() == nullptr; }, 3000);
}

bool CloseDialog(DWORD pid, HWND dialog, const std::wstring& caption) {
    Click(dialog, IDCANCEL);
    return WaitFor([&] { return FindDialog(pid, caption) == nullptr; });
}

int Fail(const std::string& what) {
    Say("screenshot_driver: " + what);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 4) return Fail("usage: screenshot_driver OUTPUT_FOLDER ACCOUNT PASSWORD");
    const std::wstring folder = std::wstring(argv[1]) + L"\\";
    if (!StoreSampleRules()) return Fail("the sample rules could not be stored");

    App app;
    std::wstring exe = BesideMe(L"plan_desk.exe");
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &app.process)) {
        return Fail("plan_desk.exe did not start");
    }
    const DWORD pid = app.process.dwProcessId;

    HWND login = WaitForDialog(pid, L"登录 - 任务计划管理");
    if (!login) return Fail("no login window");
    SetDlgItemTextW(login, IDC_LOGIN_USER, argv[2]);
    SetDlgItemTextW(login, IDC_LOGIN_PASSWORD, argv[3]);
    if (!SaveWindow(login, folder + L"login.bmp")) return Fail("login.bmp");
    Click(login, IDC_LOGIN_BUTTON);

    HWND main = WaitForDialog(pid, L"备份与清理计划 v1.0");
    const auto rows = [&](int id) { return SendMessageW(GetDlgItem(main, id), LVM_GETITEMCOUNT, 0, 0); };
    if (!main || !WaitFor([&] { return FindDialog(pid, L"登录 - 任务计划管理") == nullptr; }) ||
        !WaitFor([&] { return rows(IDC_CLEAR_LIST) == 3 && rows(IDC_BACKUP_LIST) == 2; })) {
        return Fail("the main window did not show the sample rules");
    }
    // Automatic running has started and said so in the run log.
    if (!WaitFor([&] { return IsWindowEnabled(GetDlgItem(main, IDC_STOP_RUN)) && rows(IDC_LOG_LIST) > 0; }))
        return Fail("automatic running did not start");
    if (!SaveWindow(main, folder + L"main_window.bmp")) return Fail("main_window.bmp");

    const struct {
        int list;
        const wchar_t* caption;
        const wchar_t* file;
    } editors[] = {
        {IDC_CLEAR_LIST, L"修改删除规则 ID:1", L"clean_rule_editor.bmp"},
        {IDC_BACKUP_LIST, L"修改备份规则 ID:4", L"backup_rule_editor.bmp"},
    };
    for (const auto& e : editors) {
        if (!OpenFirstRuleEditor(main, e.list)) return Fail("the popup menu did not open");
        HWND editor = WaitForDialog(pid, e.caption);
        if (!editor) return Fail("no editor window");
        if (!SaveWindow(editor, folder + e.file)) return Fail("editor picture");
        if (!CloseDialog(pid, editor, e.caption)) return Fail("the editor did not close");
    }

    // Manual backup and restore is there only while automatic running is stopped.
    Click(main, IDC_STOP_RUN);
    if (!WaitFor([&] { return IsWindowEnabled(GetDlgItem(main, IDC_MANUAL_RESTORE)) != FALSE; }))
        return Fail("automatic running did not stop");
    Click(main, IDC_MANUAL_RESTORE);
    HWND restore = WaitForDialog(pid, L"手动备份与还原");
    if (!restore) return Fail("no manual backup and restore window");
    if (!SaveWindow(restore, folder + L"restore.bmp")) return Fail("restore.bmp");
    if (!CloseDialog(pid, restore, L"手动备份与还原")) return Fail("the restore window did not close");

    PostMessageW(main, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(app.process.hProcess, 10000) != WAIT_OBJECT_0) return Fail("the app did not end");
    Say("screenshot_driver: 5 pictures taken");
    return 0;
}
