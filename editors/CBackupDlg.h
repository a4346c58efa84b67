// The backup-rule editor (template 2014). The caller sets m_bNewRule, m_strCaption and m_rule and
// runs it modally; IDOK means the engine accepted m_rule, anything else means nothing was sent.
#pragma once

#include "CRuleEditorDlg.h"
#include "backup_rule_form.h"
#include "rule_records.h"

class CBackupDlg : public CRuleEditorDlg {
  public:
    CBackupDlg();

    BackupRule m_rule{};

  protected:
    bool OnCommand(WORD code, WORD id, HWND control) override;
    void InitFields() override;
    void LoadRule() override;
    std::optional<editors::InputFault> ComposeRule(const RunSchedule& schedule) override;
    int SubmitRule() override;
    std::string SaveFailureText(int code) const override;

  private:
    void OnPickSource();
    void OnSourceMode(editors::SourceMode mode);
};
