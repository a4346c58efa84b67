// What the backup-rule and clean-rule editors share: the caller's members, the icon and caption,
// the hosted schedule panel (owned here, released exactly once however the editor closes), Tab
// from the editor's last fields into the panel, and the close command that closes the panel first.
#pragma once

#include <memory>
#include <string>

#include "CDialog.h"
#include "CRunTimeDlg.h"

class CRuleEditorDlg : public fw::CDialog {
  public:
    HICON m_hIcon;                                  // application icon; not owned
    bool m_bNewRule = false;                        // true: add, false: update
    std::string m_strCaption;                       // window caption (GBK), set by the caller
    std::unique_ptr<CRunTimeDlg> m_pSchedulePanel;  // created by OnInitDialog

    BOOL PreTranslateMessage(MSG* msg) override;

  protected:
    // Tab pressed on either of the two controls moves the focus into the panel.
    CRuleEditorDlg(int templateId, int tabIntoPanelFrom1, int tabIntoPanelFrom2);

    void SetEditorIcon();
    // Creates the panel over the placeholder; false (and the dialog cancels) when it cannot be created.
    bool CreateSchedulePanel();
    void SetEditorCaption();
    void OnClose() override;

  private:
    int m_nTabFrom1, m_nTabFrom2;
};
