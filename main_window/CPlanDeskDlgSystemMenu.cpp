// The main window's system menu items: start in the background at logon, and keep running in the
// notification area when the window is closed. Each check mark is read afresh whenever the menu
// opens, so it shows the real state even when something else changed it.
#include <string>

#include "CMenu.h"
#include "CPlanDeskDlg.h"
#include "Services.h"
#include "resource.h"
#include "settings_api.h"

namespace {

constexpr const char* kLogonStartItem = "登录 Windows 时在后台运行(&L)";
constexpr const char* kCloseToTrayItem = "关闭窗口时在后台继续运行(&B)";

void CheckItem(HMENU menu, UINT id, bool checked) {
    ::CheckMenuItem(menu, id, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

bool CloseToTrayIsOn() {
    return get_sys_cfg_int(kWindowSection, kCloseToTrayKey) == 1;
}

}  // namespace

void CPlanDeskDlg::AddSystemMenuItems() {
    HMENU menu = ::GetSystemMenu(m_hWnd, FALSE);
    if (!menu) return;
    ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    ::AppendMenuW(menu, MF_STRING, IDM_SYS_AUTOSTART, fw::WideFromGbk(kLogonStartItem).c_str());
    ::AppendMenuW(menu, MF_STRING, IDM_SYS_CLOSE_TO_TRAY, fw::WideFromGbk(kCloseToTrayItem).c_str());
}

void CPlanDeskDlg::OnInitSystemMenu(HMENU menu) {
    CheckItem(menu, IDM_SYS_AUTOSTART, m_pShell && m_pShell->LogonStartIsOn());
    if (!m_pShell) fw::GrayMenuItem(menu, IDM_SYS_AUTOSTART);
    CheckItem(menu, IDM_SYS_CLOSE_TO_TRAY, CloseToTrayIsOn());
}

bool CPlanDeskDlg::OnSysCommand(UINT command) {
    switch (command) {
        case IDM_SYS_AUTOSTART:
            return OnToggleLogonStart(), true;
        case IDM_SYS_CLOSE_TO_TRAY:
            return OnToggleCloseToTray(), true;
        default:
            return false;
    }
}

void CPlanDeskDlg::OnToggleLogonStart() {
    if (!m_pShell) return;
    if (const auto fault = m_pShell->SetLogonStart(!m_pShell->LogonStartIsOn()))
        fw::MessageBoxGbk(m_hWnd, *fault, "错误", MB_OK | MB_ICONINFORMATION);
}

void CPlanDeskDlg::OnToggleCloseToTray() {
    const int rc = modify_sys_cfg_int(kWindowSection, kCloseToTrayKey, CloseToTrayIsOn() ? 0 : 1);
    if (rc != 0)
        fw::MessageBoxGbk(m_hWnd, "保存设置失败,错误代码:" + std::to_string(rc), "错误",
                          MB_OK | MB_ICONINFORMATION);
}
