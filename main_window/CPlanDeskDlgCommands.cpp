// The main window's commands on rules: the popup menus of both rule lists, new, change,
// delete, enable/disable, run-now and the backup rules' verify, and the run and manual-restore buttons.
#include <cstdio>
#include <cstring>
#include <optional>

#include "CBackupDlg.h"
#include "CClearDlg.h"
#include "CClearPreviewDlg.h"
#include "CMenu.h"
#include "CPlanDeskDlg.h"
#include "CRestoreDlg.h"
#include "Services.h"
#include "engine_api.h"
#include "main_window_rules.h"
#include "resource.h"
#include "rule_text.h"

namespace {

constexpr const char* kWarning = "警告";

std::string Caption(const char* format, int id) {
    char text[64];
    std::snprintf(text, sizeof text, format, id);
    return text;
}

// Runs an editor on a new rule: a zeroed record, enabled. True when the engine accepted it.
template <typename Editor>
bool NewRuleAccepted(const char* caption) {
    Editor editor;
    editor.m_bNewRule = true;
    editor.m_strCaption = caption;
    std::memset(&editor.m_rule, 0, sizeof editor.m_rule);
    editor.m_rule.enabled = 1;
    return editor.DoModal() == IDOK;
}

// Runs an editor on the engine's record of a rule: the record the engine accepted, or nothing when
// the editor was left.
template <typename Editor, typename Rule>
std::optional<Rule> ChangedRule(int ruleId, int (*getRule)(int, Rule*), const char* captionFormat) {
    Editor editor;
    editor.m_bNewRule = false;
    getRule(ruleId, &editor.m_rule);
    editor.m_strCaption = Caption(captionFormat, editor.m_rule.rule_id);
    if (editor.DoModal() != IDOK) return std::nullopt;
    return editor.m_rule;
}

}  // namespace

bool CPlanDeskDlg::OnCommand(WORD code, WORD id, HWND) {
    if (code != BN_CLICKED) return false;  // menu commands arrive with code 0 as well
    switch (id) {
        case IDM_NEW_CLEAR_RULE:
            return OnNewClearRule(), true;
        case IDM_EDIT_CLEAR_RULE:
            return OnEditClearRule(), true;
        case IDM_NEW_BACKUP_RULE:
            return OnNewBackupRule(), true;
        case IDM_EDIT_BACKUP_RULE:
            return OnEditBackupRule(), true;
        case IDM_DELETE_RULES:
            return OnDeleteRules(), true;
        case IDM_TOGGLE_RULES:
            return OnToggleRules(), true;
        case IDM_MANUAL_RUN:
            return OnManualRun(), true;
        case IDM_CLEAR_PREVIEW:
            return OnClearPreview(), true;
        case IDM_VERIFY_BACKUP:
            return OnVerifyBackup(), true;
        case IDC_AUTO_RUN:
            return OnAutoRun(), true;
        case IDC_STOP_RUN:
            return OnStopRun(), true;
        case IDC_MANUAL_RESTORE:
            return OnManualRestore(), true;
        case IDC_MANUAL_BACKUP:
            return true;  // hidden, and does nothing
        default:
            return false;
    }
}

bool CPlanDeskDlg::OnNotify(NMHDR* header, LRESULT* result) {
    if (header->code != NM_RCLICK) return false;
    switch (header->idFrom) {
        case IDC_CLEAR_LIST:
            OnClearListRClick();
            break;
        case IDC_BACKUP_LIST:
            OnBackupListRClick();
            break;
        default:
            return false;
    }
    *result = 0;
    return true;
}

void CPlanDeskDlg::CaptureSelection(const CMyListCtrl& list) {
    m_vecSelRows.clear();
    for (int row = list.GetNextItem(-1, LVNI_SELECTED); row >= 0;
         row = list.GetNextItem(row, LVNI_SELECTED)) {
        m_vecSelRows.push_back(row);
    }
}

void CPlanDeskDlg::OnClearListRClick() {
    CaptureSelection(m_lstClear);
    ShowRulePopup(true);
}

void CPlanDeskDlg::OnBackupListRClick() {
    CaptureSelection(m_lstBackup);
    ShowRulePopup(false);
}

bool CPlanDeskDlg::AnyCapturedRowDisabled(const CMyListCtrl& list) const {
    for (int row : m_vecSelRows) {
        if (list.GetItemText(row, 2) == "禁用") return true;
    }
    return false;
}

int CPlanDeskDlg::CapturedRuleId(const CMyListCtrl& list, size_t index) const {
    return LeadingNumber(list.GetItemText(m_vecSelRows[index], 0));
}

std::vector<int> CPlanDeskDlg::CapturedRuleIds(const CMyListCtrl& list) const {
    std::vector<int> ids;
    for (size_t i = 0; i < m_vecSelRows.size(); ++i) ids.push_back(CapturedRuleId(list, i));
    return ids;
}

CMyListCtrl& CPlanDeskDlg::PopupList() {
    return m_nPopupList == 1 ? m_lstClear : m_lstBackup;
}

void CPlanDeskDlg::RefillPopupList() {
    if (m_nPopupList == 1) {
        FillClearList();
    } else {
        FillBackupList();
    }
}

void CPlanDeskDlg::ShowRulePopup(bool clearList) {
    fw::CMenu menu;
    if (!menu.Load(clearList ? IDR_CLEAR_MENU : IDR_BACKUP_MENU)) return;
    HMENU popup = menu.GetSubMenu(0);
    if (!popup) return;
    POINT cursor;
    ::GetCursorPos(&cursor);
    ::SetForegroundWindow(m_hWnd);

    const PopupPlan plan = PlanPopup(m_vecSelRows.size(), m_nRunState,
                                     AnyCapturedRowDisabled(clearList ? m_lstClear : m_lstBackup));
    if (plan.grayRun) fw::GrayMenuItem(popup, IDM_MANUAL_RUN);
    if (plan.grayNew) fw::GrayMenuItem(popup, clearList ? IDM_NEW_CLEAR_RULE : IDM_NEW_BACKUP_RULE);
    if (plan.grayEdit) fw::GrayMenuItem(popup, clearList ? IDM_EDIT_CLEAR_RULE : IDM_EDIT_BACKUP_RULE);
    if (plan.grayToggle) fw::GrayMenuItem(popup, IDM_TOGGLE_RULES);
    if (plan.grayDelete) fw::GrayMenuItem(popup, IDM_DELETE_RULES);
    if (clearList && plan.grayPreview) fw::GrayMenuItem(popup, IDM_CLEAR_PREVIEW);
    if (plan.toggleEnables) fw::SetMenuItemTextGbk(popup, IDM_TOGGLE_RULES, ToggleItemText(plan));
    if (plan.grayVerify && !clearList) fw::GrayMenuItem(popup, IDM_VERIFY_BACKUP);
    m_nPopupList = clearList ? 1 : 0;
    ::TrackPopupMenu(popup, TPM_LEFTALIGN | TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, m_hWnd, nullptr);
}

void CPlanDeskDlg::OnNewClearRule() {
    if (NewRuleAccepted<CClearDlg>("新增删除规则")) FillClearList();
}

void CPlanDeskDlg::OnEditClearRule() {
    if (m_vecSelRows.size() != 1) return;
    const int row = m_vecSelRows[0];
    const auto rule =
        ChangedRule<CClearDlg>(CapturedRuleId(m_lstClear, 0), &kivo_get_clear, "修改删除规则 ID:%d");
    if (!rule) return;
    // A record without an id cannot stand for the rule the engine accepted: show the engine's view.
    if (rule->rule_id == 0) {
        FillClearList();
    } else {
        SetClearRow(row, *rule);
    }
}

void CPlanDeskDlg::OnNewBackupRule() {
    if (NewRuleAccepted<CBackupDlg>("新增备份规则")) FillBackupList();
}

void CPlanDeskDlg::OnEditBackupRule() {
    if (m_vecSelRows.size() != 1) return;
    const int row = m_vecSelRows[0];
    const auto rule =
        ChangedRule<CBackupDlg>(CapturedRuleId(m_lstBackup, 0), &kivo_get_backup, "修改备份规则 ID:%d");
    if (!rule) return;
    if (rule->rule_id == 0) {
        FillBackupList();
    } else {
        SetBackupRow(row, *rule);
    }
}

void CPlanDeskDlg::OnDeleteRules() {
    if (m_vecSelRows.empty()) return;
    if (fw::MessageBoxGbk(m_hWnd, "确定删除吗？", "删除警告", MB_YESNO | MB_ICONINFORMATION) != IDYES) return;
    for (int id : CapturedRuleIds(PopupList())) kivo_del_rule(id);
    RefillPopupList();
}

void CPlanDeskDlg::OnToggleRules() {
    if (m_vecSelRows.empty()) return;
    CMyListCtrl& list = PopupList();
    const int target = AnyCapturedRowDisabled(list) ? 1 : 0;
    for (int id : CapturedRuleIds(list)) kivo_enable_rule(id, target);
    RefillPopupList();
}

void CPlanDeskDlg::OnManualRun() {
    if (m_vecSelRows.size() != 1) return;
    if (kivo_man_run(CapturedRuleId(PopupList(), 0)) != 0) {
        fw::MessageBoxGbk(m_hWnd, "手动执行失败.", kWarning, MB_OK | MB_ICONINFORMATION);
    }
}

void CPlanDeskDlg::OnClearPreview() {
    // Only the clean list's popup has the item: rows captured in the backup list are no clean rule.
    if (m_nPopupList != 1 || m_vecSelRows.size() != 1) return;
    ClearRule rule{};
    const int id = CapturedRuleId(m_lstClear, 0);
    kivo_get_clear(id, &rule);  // for the caption; a rule gone meanwhile is the preview's to report
    CClearPreviewDlg dialog;
    dialog.m_nRuleId = id;
    dialog.m_strDescription = std::string(FieldText(rule.description));
    dialog.DoModal();
}

// The check runs on the engine's thread and reports in the run log; only a refusal is shown here.
void CPlanDeskDlg::OnVerifyBackup() {
    // Only the backup list's popup has the item: rows captured in the clean list are no backup rule.
    if (m_nPopupList != 0 || m_vecSelRows.size() != 1) return;
    const int result = kivo_verify_backup(CapturedRuleId(m_lstBackup, 0));
    if (result != 0) {
        char text[64];
        std::snprintf(text, sizeof text, "校验备份失败,错误代码:%d", result);
        fw::MessageBoxGbk(m_hWnd, text, kWarning, MB_OK | MB_ICONINFORMATION);
    }
}

void CPlanDeskDlg::OnAutoRun() {
    if (kivo_auto_run() != 0) fw::MessageBoxGbk(m_hWnd, "启动失败.", kWarning, MB_OK | MB_ICONINFORMATION);
}

void CPlanDeskDlg::OnStopRun() {
    kivo_stop_run();
}

void CPlanDeskDlg::OnManualRestore() {
    CRestoreDlg dialog;
    dialog.DoModal();
}
