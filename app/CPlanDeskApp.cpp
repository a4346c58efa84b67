#include "CPlanDeskApp.h"

#include <windows.h>
#include <commctrl.h>

#include <memory>
#include <string>

#include "CPlanDeskDlg.h"
#include "Text.h"
#include "account_api.h"
#include "engine_api.h"
#include "resource.h"
#include "settings_api.h"

namespace {

constexpr const char* kMutexName = "Config Kivo For Varnel.version 1.0";
constexpr const char* kLoginCaption = "登录 - 任务计划管理";  // the login template's caption

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
    HWND other = ::FindWindowW(L"#32770", fw::WideFromGbk(kLoginCaption).c_str());
    if (!other) other = ::FindWindowW(L"#32770", fw::WideFromGbk(kMainCaption).c_str());
    if (other) ::SwitchToThisWindow(other, TRUE);
}

bool CPlanDeskApp::InitInstance() {
    INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
    ::InitCommonControlsEx(&controls);
    HMODULE richEdit = ::LoadLibraryW(L"RICHED20.DLL");
    // The shell's folder picker needs COM on this thread.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    ::RegisterApplicationRestart(nullptr, 0);

    if (AnotherCopyIsRunning()) {
        BringRunningCopyToFront();
        ::ExitProcess(0);
    }
    RunMainWindow();

    if (SUCCEEDED(com)) ::CoUninitialize();
    if (richEdit) ::FreeLibrary(richEdit);
    return false;
}

void CPlanDeskApp::RunMainWindow() {
    settings_start();
    account_start();
    kivo_init();

    auto mainWindow = std::make_unique<CPlanDeskDlg>();
    if (mainWindow->Create(IDD_PLAN_DESK, nullptr)) {
        fw::SetMainWindow(mainWindow->GetSafeHwnd());
        mainWindow->RunModalLoop();
    }

    kivo_deinit();
    account_stop();
    settings_stop();
    fw::SetMainWindow(nullptr);
    mainWindow.reset();
}
