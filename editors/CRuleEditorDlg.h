// What the backup-rule and clean-rule editors share: the caller's members, the icon and caption,
// the hosted schedule panel (owned here, released exactly once however the editor closes), Tab
// from the editor's last fields into the panel, the close command that closes the panel first,
// and the order of setting up and of saving. Each editor adds its own fields and its record.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "CDialog.h"
#include "CRunTimeDlg.h"
#include "editor_input.h"

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

    // The icon, the editor's own defaults, the panel over the placeholder, the caption, and the
    // caller's rule when it is a change. Without its panel the editor cancels itself.
    BOOL OnInitDialog() override;
    void OnClose() override;
    // The panel's checks, then the editor's, then the engine: ends with IDOK once the engine
    // accepted the record, otherwise shows why and stays open.
    void OnSave();

    virtual void InitFields() = 0;
    virtual void LoadRule() = 0;
    // Writes m_rule from the schedule and the controls, or gives the first refused input.
    virtual std::optional<editors::InputFault> ComposeRule(const RunSchedule& schedule) = 0;
    // Adds or updates m_rule; the engine's result.
    virtual int SubmitRule() = 0;
    virtual std::string SaveFailureText(int code) const = 0;

    // Takes a composed record into rule, or passes its fault on.
    template <typename Rule>
    static std::optional<editors::InputFault> Accept(const editors::Checked<Rule>& composed, Rule& rule) {
        if (!composed.ok()) return composed.fault();
        rule = composed.value();
        return std::nullopt;
    }

  private:
    int m_nTabFrom1, m_nTabFrom2;
};
