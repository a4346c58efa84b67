#include "CRestoreDlg.h"

#include <commdlg.h>

#include "BrowseForFolder.h"
#include "EditorControls.h"
#include "Services.h"
#include "engine_api.h"
#include "resource.h"
#include "restore_form.h"

CRestoreDlg::CRestoreDlg() : CDialog(IDD_RESTORE), m_hIcon(LoadAppIcon()) {}

BOOL CRestoreDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    fw::SetWindowIcon(m_hWnd, m_hIcon);
    ShowItem(IDC_PICK_RESTORE_FILE, true);
    ShowItem(IDC_PICK_RESTORE_FOLDER, true);
    SetReadOnly(IDC_RESTORE_FILE);
    SetReadOnly(IDC_RESTORE_FOLDER);
    return TRUE;
}

bool CRestoreDlg::OnCommand(WORD code, WORD id, HWND) {
    if (code != BN_CLICKED) return false;
    switch (id) {
        case IDC_PICK_RESTORE_FILE:
            return OnBrowseBackupFile(), true;
        case IDC_PICK_RESTORE_FOLDER:
            return PickFolderIntoFolderEdit(*this), true;
        case IDC_RESTORE_BACKUP:
            return OnBackup(), true;
        case IDOK:
            return OnRestore(), true;
    }
    return false;
}

void CRestoreDlg::OnBrowseBackupFile() {
    // A backup writes a new file, so the chooser must accept a name that does not exist yet.
    PutPickedPath(*this, IDC_RESTORE_FILE,
                  fw::TheServices().PickFile(m_hWnd, L"BackFiles (*.bkp)|*.bkp||",
                                             OFN_HIDEREADONLY | OFN_PATHMUSTEXIST));
}

void CRestoreDlg::OnBackup() {
    const editors::RestoreForm form{ReadInput(*this, IDC_RESTORE_FILE), ReadInput(*this, IDC_RESTORE_FOLDER)};
    if (auto fault = editors::CheckRestoreForm(form)) return ShowInputFault(*this, *fault);
    const int result = kivo_backup(form.folder.text.c_str(), form.backupFile.text.c_str());
    if (result != 0)
        return ShowEditorMessage(m_hWnd, editors::BackupFailureText(result), editors::kErrorCaption);
    EndDialog(IDOK);
}

void CRestoreDlg::OnRestore() {
    const editors::RestoreForm form{ReadInput(*this, IDC_RESTORE_FILE), ReadInput(*this, IDC_RESTORE_FOLDER)};
    if (auto fault = editors::CheckRestoreForm(form)) return ShowInputFault(*this, *fault);
    const int result = kivo_restore(form.backupFile.text.c_str(), form.folder.text.c_str());
    if (result != 0)
        return ShowEditorMessage(m_hWnd, editors::RestoreFailureText(result), editors::kErrorCaption);
    EndDialog(IDOK);
}
