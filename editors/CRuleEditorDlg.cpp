#include "CRuleEditorDlg.h"

#include "EditorControls.h"

CRuleEditorDlg::CRuleEditorDlg(int templateId, int tabIntoPanelFrom1, int tabIntoPanelFrom2)
    : CDialog(templateId),
      m_hIcon(LoadAppIcon()),
      m_nTabFrom1(tabIntoPanelFrom1),
      m_nTabFrom2(tabIntoPanelFrom2) {}

void CRuleEditorDlg::SetEditorIcon() {
    fw::SetWindowIcon(m_hWnd, m_hIcon);
}

bool CRuleEditorDlg::CreateSchedulePanel() {
    m_pSchedulePanel = HostSchedulePanel(m_hWnd);
    if (m_pSchedulePanel) return true;
    // Without its schedule the editor cannot save anything. (An EndDialog here would be lost: the
    // modal loop starts only after initialisation.)
    ::PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return false;
}

void CRuleEditorDlg::SetEditorCaption() {
    SetText(m_strCaption);
}

BOOL CRuleEditorDlg::PreTranslateMessage(MSG* msg) {
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_TAB && m_pSchedulePanel) {
        const HWND focus = ::GetFocus();
        if (focus && (focus == GetDlgItem(m_nTabFrom1) || focus == GetDlgItem(m_nTabFrom2))) {
            m_pSchedulePanel->FocusFirstField();
            return TRUE;
        }
    }
    return CDialog::PreTranslateMessage(msg);
}

void CRuleEditorDlg::OnClose() {
    if (m_pSchedulePanel) {
        ::SendMessageW(m_pSchedulePanel->GetSafeHwnd(), WM_CLOSE, 0, 0);
        m_pSchedulePanel.reset();
    }
    CDialog::OnClose();
}
