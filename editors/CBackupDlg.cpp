#include "CBackupDlg.h"

#include <commdlg.h>

#include "BrowseForFolder.h"
#include "EditorControls.h"
#include "Services.h"
#include "engine_api.h"
#include "resource.h"
#include "sysutil_api.h"

using editors::SourceMode;

CBackupDlg::CBackupDlg() : CRuleEditorDlg(IDD_BACKUP_RULE, IDC_BACKUP_TARGET, IDC_PICK_BACKUP_TARGET) {}

void CBackupDlg::InitFields() {
    SetItemText(IDC_KEEP_DAYS, "0");
    SetChecked(IDC_SOURCE_IS_FOLDER, true);
    SetReadOnly(IDC_BACKUP_SOURCE);
    SetReadOnly(IDC_BACKUP_TARGET);
}

bool CBackupDlg::OnCommand(WORD code, WORD id, HWND) {
    if (code != BN_CLICKED) return false;
    switch (id) {
        case IDOK:
            return OnSave(), true;
        case IDC_PICK_PATH:
            return OnPickSource(), true;
        case IDC_PICK_BACKUP_TARGET:
            return PickFolderIntoFolderEdit(*this), true;
        case IDC_SOURCE_IS_FOLDER:
            return OnSourceMode(SourceMode::Folder), true;
        case IDC_SOURCE_IS_FILE:
            return OnSourceMode(SourceMode::File), true;
    }
    return false;
}

void CBackupDlg::LoadRule() {
    m_pSchedulePanel->LoadSchedule(m_rule.schedule);
    const editors::BackupRuleView view = editors::ViewOfBackupRule(m_rule);
    SetItemText(IDC_KEEP_DAYS, view.keepDays);
    SetItemText(IDC_DESCRIPTION, view.description);
    SetItemText(IDC_BACKUP_SOURCE, view.sourcePath);
    SetItemText(IDC_BACKUP_TARGET, view.backupPath);
}

void CBackupDlg::OnPickSource() {
    const std::wstring path =
        IsChecked(IDC_SOURCE_IS_FOLDER)
            ? BrowseForFolder()
            : fw::TheServices().PickFile(m_hWnd, L"Describe Files All Files (*.*)|*.*||", OFN_HIDEREADONLY);
    PutPickedPath(*this, IDC_BACKUP_SOURCE, path);
}

void CBackupDlg::OnSourceMode(SourceMode mode) {
    const std::string source = GetItemText(IDC_BACKUP_SOURCE);
    if (source.empty()) return;
    if (!editors::SourceFitsMode(mode, sys_GetFileAttribute(source.c_str())))
        SetItemText(IDC_BACKUP_SOURCE, "");
}

std::optional<editors::InputFault> CBackupDlg::ComposeRule(const RunSchedule& schedule) {
    const editors::BackupForm form{ReadInput(*this, IDC_DESCRIPTION), ReadInput(*this, IDC_BACKUP_SOURCE),
                                   ReadInput(*this, IDC_BACKUP_TARGET), GetItemText(IDC_KEEP_DAYS)};
    return Accept(editors::ComposeBackupRule(m_rule, schedule, form), m_rule);
}

int CBackupDlg::SubmitRule() {
    return m_bNewRule ? kivo_add_backup(&m_rule) : kivo_update_backup(&m_rule);
}

std::string CBackupDlg::SaveFailureText(int code) const {
    return editors::BackupSaveFailureText(m_bNewRule, code);
}
