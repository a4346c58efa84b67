#include "CLoginDlg.h"

#include "Services.h"
#include "account_api.h"
#include "login_checks.h"
#include "resource.h"

CLoginDlg::CLoginDlg() : CDialog(IDD_LOGIN) {}

BOOL CLoginDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    fw::SetWindowIcon(m_hWnd, m_hIcon);
    // Its own taskbar button, while the main window waits disabled behind it.
    ::SetWindowLongW(m_hWnd, GWL_EXSTYLE, ::GetWindowLongW(m_hWnd, GWL_EXSTYLE) | WS_EX_APPWINDOW);
    ::SetFocus(GetDlgItem(IDC_LOGIN_USER));
    return FALSE;
}

bool CLoginDlg::OnCommand(WORD code, WORD id, HWND) {
    if (code != BN_CLICKED) return false;
    switch (id) {
        case IDC_LOGIN_BUTTON:
            OnBnClickedLogin();
            return true;
        default:
            return false;
    }
}

void CLoginDlg::OnBnClickedLogin() {
    const std::string user = GetItemText(IDC_LOGIN_USER);
    const std::string password = GetItemText(IDC_LOGIN_PASSWORD);
    auto fault = CheckLoginFields(user, password);
    if (!fault) fault = JudgeLoginResult(login(user.c_str(), password.c_str()));
    if (!fault) {
        OnOK();
        return;
    }
    fw::MessageBoxGbk(m_hWnd, fault->message, kLoginCaption, MB_OK | MB_ICONINFORMATION);
    if (fault->select) {
        FocusAndSelect(fault->focusId);
    } else {
        FocusItem(fault->focusId);
    }
}

bool CLoginDlg::OnMessage(UINT msg, WPARAM, LPARAM, LRESULT* result) {
    return fw::AnswerIconMessage(m_hWnd, m_hIcon, msg, result);
}
