#include "CRuleEditorDlg.h"

#include "EditorControls.h"

CRuleEditorDlg::CRuleEditorDlg(int templateId, int tabIntoPanelFrom1, int tabIntoPanelFrom2)
    : CDialog(templateId),
      m_hIcon(LoadAppIcon()),
      m_nTabFrom1(tabIntoPanelFrom1),
      m_nTabFrom2(tabIntoPanelFrom2) {}

BOOL CRuleEditorDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    fw::SetWindowIcon(m_hWnd, m_hIcon);
    InitFields();
    m_pSchedulePanel = HostSchedulePanel(m_hWnd);
    if (!m_pSchedulePanel) {
        // Without its schedule the editor cannot save anything. (An EndDialog here would be lost:
        // the modal loop starts only after initialisation.)
        ::PostMessageW(m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return TRUE;
    }
    SetText(m_strCaption);
    if (!m_bNewRule) LoadRule();
    return TRUE;
}

void CRuleEditorDlg::OnSave() {
    RunSchedule schedule{};
    if (!m_pSchedulePanel || !m_pSchedulePanel->GatherSchedule(schedule)) return;
    if (const auto fault = ComposeRule(schedule)) return ShowInputFault(*this, *fault);
    const int result = SubmitRule();
    if (result != 0) return ShowEditorMessage(m_hWnd, SaveFailureText(result), editors::kErrorCaption);
    CDialog::OnOK();
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
