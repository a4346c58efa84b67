// The clean-rule editor (template 2011). The caller sets m_bNewRule, m_strCaption and m_rule and
// runs it modally; IDOK means the engine accepted m_rule, anything else means nothing was sent.
#pragma once

#include <string>

#include "CRuleEditorDlg.h"
#include "EditorControls.h"
#include "clear_rule_form.h"
#include "rule_records.h"

class CClearDlg : public CRuleEditorDlg {
  public:
    CClearDlg();

    ClearRule m_rule{};
    // Last accepted texts of the time edits, and the date edits' texts, exchanged with the controls.
    std::string m_strStartHour, m_strStartMinute, m_strEndHour, m_strEndMinute;
    std::string m_strStartDate, m_strEndDate;

  protected:
    void DoDataExchange(fw::CDataExchange& dx) override;
    bool OnCommand(WORD code, WORD id, HWND control) override;
    void InitFields() override;
    void LoadRule() override;
    std::optional<editors::InputFault> ComposeRule(const RunSchedule& schedule) override;
    int SubmitRule() override;
    std::string SaveFailureText(int code) const override;

  private:
    void OnFreeSpaceCheck();
    void OnTimeFieldChange(int id);

    EditGuard m_guard;
};
