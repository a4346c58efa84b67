#include "CPlanDeskApp.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "CPlanDeskDlg.h"
#include "CTrayWnd.h"
#include "LogonStart.h"
#include "Services.h"
#include "Text.h"
#include "account_api.h"
#include "engine_api.h"
#include "resource.h"
#include "settings_api.h"

namespace {

constexpr const char* kMutexName = "Config Kivo For Varnel.version 1.0";
constexpr const char* kLoginCaption = "登录 - 任务计划管理";  // the login template's caption

std::vector<std::wstring> CommandLineArguments() {
    std::vector<std::wstring> arguments;
    int count = 0;
    if (wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) arguments.emplace_back(argv[i]);
        ::LocalFree(argv);
    }
    return arguments;
}

// FindWindow also finds hidden windows: a hidden main window keeps its class and caption.
HWND FindVisibleWindow(const wchar_t* windowClass, const char* captionGbk) {
    const std::wstring caption = fw::WideFromGbk(captionGbk);
    for (HWND found = nullptr; (found = ::FindWindowExW(nullptr, found, windowClass, caption.c_str()));) {
        if (::IsWindowVisible(found)) return found;
    }
    return nullptr;
}

}  // namespace

bool AnotherCopyIsRunning() {
    // Create-or-open in one step: two copies started at the same instant cannot both pass.
    // The handle is never closed; the system releases it when the process ends.
    // The error is read at once: freeing a temporary name could change it.
    const std::wstring name = fw::WideFromGbk(kMutexName);
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, name.c_str());
    const DWORD error = ::GetLastError();
    return mutex && error == ERROR_ALREADY_EXISTS;
}

void BringRunningCopyToFront() {
    HWND other = FindVisibleWindow(L"#32770", kLoginCaption);
    if (!other) other = FindVisibleWindow(L"#32770", kMainCaption);
    if (other) {
        ::SwitchToThisWindow(other, TRUE);
        return;
    }
    if (HWND tray = ::FindWindowW(kTrayWindowClass, nullptr)) {
        // Its login may take the foreground, which this process holds now.
        DWORD pid = 0;
        ::GetWindowThreadProcessId(tray, &pid);
        ::AllowSetForegroundWindow(pid);
        ::PostMessageW(tray, WM_TRAY_OPEN, 0, 0);
    }
}

int RunAutoStartCommand(const StartOptions& options) {
    const std::optional<std::string> fault =
        options.usageFault ? std::optional<std::string>(kAutoStartUsage) : SetLogonStart(options.autoStartOn);
    if (!fault) return 0;
    if (!options.quiet) fw::MessageBoxGbk(nullptr, *fault, "错误", MB_OK | MB_ICONINFORMATION);
    return 1;
}

bool CPlanDeskApp::InitInstance() {
    const StartOptions options = ParseStartOptions(CommandLineArguments());
    if (options.mode == StartMode::AutoStart) ::ExitProcess(UINT(RunAutoStartCommand(options)));
    const bool background = options.mode == StartMode::Background;

    INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
    ::InitCommonControlsEx(&controls);
    HMODULE richEdit = ::LoadLibraryW(L"RICHED20.DLL");
    // The shell's folder picker needs COM on this thread.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    // A restart by the system comes back the way this process started.
    ::RegisterApplicationRestart(background ? L"/background" : nullptr, 0);

    if (AnotherCopyIsRunning()) {
        if (!background) BringRunningCopyToFront();
        ::ExitProcess(0);
    }
    RunMainWindow(background);

    if (SUCCEEDED(com)) ::CoUninitialize();
    if (richEdit) ::FreeLibrary(richEdit);
    return false;
}

void CPlanDeskApp::RunMainWindow(bool background) {
    // The notification window first: a background process shows its icon from the first moment,
    // and a second copy can find this one while the libraries start.
    CTrayWnd tray(background);
    tray.Create();
    settings_start();
    account_start();
    kivo_init();

    // Once, after the main window closed, or when the session ends (the process may not live to
    // see its loop end then). The icon goes before the engine stops: that may wait for a run.
    bool stopped = false;
    auto stopLibraries = [&] {
        if (std::exchange(stopped, true)) return;
        tray.Destroy();
        kivo_deinit();
        account_stop();
        settings_stop();
    };

    auto mainWindow = std::make_unique<CPlanDeskDlg>();
    mainWindow->m_bBackground = background;
    if (mainWindow->Create(IDD_PLAN_DESK, nullptr, background)) {
        fw::SetMainWindow(mainWindow->GetSafeHwnd());
        tray.SetMainWindow(mainWindow.get());
        tray.m_fnEndSession = [&] {
            mainWindow->Exit();
            stopLibraries();
        };
        if (background) mainWindow->StartAutomaticRunningOnce();
        mainWindow->RunModalLoop();
    }

    stopLibraries();
    fw::SetMainWindow(nullptr);
    tray.SetMainWindow(nullptr);
    mainWindow.reset();
}
