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
    BOOL OnInitDialog() override;
    bool OnCommand(WORD code, WORD id, HWND control) override;

  private:
    void LoadRule();
    bool GatherRule();
    void OnSave();
    void OnPickSource();
    void OnSourceMode(editors::SourceMode mode);
};
