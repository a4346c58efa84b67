#include "CClearDlg.h"

#include "BrowseForFolder.h"
#include "EditorControls.h"
#include "engine_api.h"
#include "resource.h"

CClearDlg::CClearDlg() : CRuleEditorDlg(IDD_CLEAR_RULE, IDC_FREE_SPACE_CHECK, IDC_FREE_SPACE_PERCENT) {}

void CClearDlg::DoDataExchange(fw::CDataExchange& dx) {
    fw::DDX_Text(dx, IDC_START_HOUR, m_strStartHour, 2);
    fw::DDX_Text(dx, IDC_START_MINUTE, m_strStartMinute, 2);
    fw::DDX_Text(dx, IDC_END_HOUR, m_strEndHour, 2);
    fw::DDX_Text(dx, IDC_END_MINUTE, m_strEndMinute, 2);
    fw::DDX_Text(dx, IDC_START_DATE, m_strStartDate, 8);
    fw::DDX_Text(dx, IDC_END_DATE, m_strEndDate, 8);
}

void CClearDlg::InitFields() {
    for (int id : {IDC_KEEP_DAYS, IDC_MIN_SIZE, IDC_MAX_SIZE, IDC_START_DATE, IDC_END_DATE})
        SetItemText(id, "0");
    // These run the time guard, which stores all six exchanged texts in their members.
    for (int id : {IDC_START_HOUR, IDC_START_MINUTE, IDC_END_HOUR, IDC_END_MINUTE}) SetItemText(id, "00");
    SetItemText(IDC_FREE_SPACE_PERCENT, "10");  // offered when the box is ticked
    SetReadOnly(IDC_CLEAR_PATH);
}

bool CClearDlg::OnCommand(WORD code, WORD id, HWND) {
    if (code == BN_CLICKED) {
        switch (id) {
            case IDOK:
                return OnSave(), true;
            case IDC_PICK_PATH:
                return PutPickedPath(*this, IDC_CLEAR_PATH, BrowseForFolder()), true;
            case IDC_FREE_SPACE_CHECK:
                return OnFreeSpaceCheck(), true;
        }
    } else if (code == EN_CHANGE) {
        switch (id) {
            case IDC_START_HOUR:
            case IDC_START_MINUTE:
            case IDC_END_HOUR:
            case IDC_END_MINUTE:
                return OnTimeFieldChange(id), true;
        }
    }
    return false;
}

void CClearDlg::OnFreeSpaceCheck() {
    // Hiding keeps the text: ticking again offers the same value.
    if (IsChecked(IDC_FREE_SPACE_CHECK)) {
        ShowItem(IDC_FREE_SPACE_PERCENT, true);
        FocusAndSelect(IDC_FREE_SPACE_PERCENT);
    } else {
        ShowItem(IDC_FREE_SPACE_PERCENT, false);
    }
}

void CClearDlg::OnTimeFieldChange(int id) {
    const bool hour = id == IDC_START_HOUR || id == IDC_END_HOUR;
    const std::string& lastAccepted = id == IDC_START_HOUR     ? m_strStartHour
                                      : id == IDC_START_MINUTE ? m_strStartMinute
                                      : id == IDC_END_HOUR     ? m_strEndHour
                                                               : m_strEndMinute;
    m_guard.OnChange(*this, id, hour ? editors::GuardedField::Hour : editors::GuardedField::Minute,
                     lastAccepted);
}

void CClearDlg::LoadRule() {
    const editors::ClearRuleView view = editors::ViewOfClearRule(m_rule);
    SetItemText(IDC_DESCRIPTION, view.description);
    SetItemText(IDC_CLEAR_PATH, view.path);
    if (view.freeSpacePercent) SetItemText(IDC_FREE_SPACE_PERCENT, *view.freeSpacePercent);
    SetChecked(IDC_FREE_SPACE_CHECK, view.freeSpaceChecked);
    OnFreeSpaceCheck();
    m_pSchedulePanel->LoadSchedule(m_rule.schedule);
    SetItemText(IDC_KEEP_DAYS, view.keepDays);
    SetItemText(IDC_NAME_FILTER, view.nameFilter);
    SetItemText(IDC_MIN_SIZE, view.minSize);
    SetItemText(IDC_MAX_SIZE, view.maxSize);
    m_strStartDate = view.startDate;
    m_strEndDate = view.endDate;
    m_strStartHour = view.startHour;
    m_strStartMinute = view.startMinute;
    m_strEndHour = view.endHour;
    m_strEndMinute = view.endMinute;
    UpdateData(false);  // the time guard does not act during an exchange
}

std::optional<editors::InputFault> CClearDlg::ComposeRule(const RunSchedule& schedule) {
    UpdateData(true);
    editors::ClearForm form;
    form.description = ReadInput(*this, IDC_DESCRIPTION);
    form.path = ReadInput(*this, IDC_CLEAR_PATH);
    form.freeSpaceChecked = IsChecked(IDC_FREE_SPACE_CHECK);
    form.freeSpacePercent = GetItemText(IDC_FREE_SPACE_PERCENT);
    form.nameFilter = ReadInput(*this, IDC_NAME_FILTER);
    form.startDate = m_strStartDate;
    form.endDate = m_strEndDate;
    form.startHour = m_strStartHour;
    form.startMinute = m_strStartMinute;
    form.endHour = m_strEndHour;
    form.endMinute = m_strEndMinute;
    form.minSize = GetItemText(IDC_MIN_SIZE);
    form.maxSize = GetItemText(IDC_MAX_SIZE);
    form.keepDays = GetItemText(IDC_KEEP_DAYS);

    return Accept(editors::ComposeClearRule(m_rule, schedule, form), m_rule);
}

int CClearDlg::SubmitRule() {
    return m_bNewRule ? kivo_add_clear(&m_rule) : kivo_update_clear(&m_rule);
}

std::string CClearDlg::SaveFailureText(int code) const {
    return editors::ClearSaveFailureText(m_bNewRule, code);
}
