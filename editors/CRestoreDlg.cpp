#include "CRestoreDlg.h"

#include <commdlg.h>

#include "BrowseForFolder.h"
#include "EditorControls.h"
#include "Services.h"
#include "engine_api.h"
#include "latest_progress.h"
#include "resource.h"
#include "restore_form.h"
#include "sysutil_api.h"

namespace {

// Posted by the worker when the engine call has returned.
constexpr UINT WM_MANUAL_CALL_DONE = WM_APP + 1;
constexpr UINT_PTR kProgressTimer = 1;
// The caption follows the engine's figures a few times a second; the timer also finishes a call
// whose completion message could not be posted.
constexpr UINT kProgressPeriodMs = 250;
constexpr int kButtons[] = {IDC_PICK_RESTORE_FILE, IDC_PICK_RESTORE_FOLDER, IDC_RESTORE_BACKUP, IDOK};

editors::RestoreForm ReadForm(const fw::CWnd& dialog) {
    return {ReadInput(dialog, IDC_RESTORE_FILE), ReadInput(dialog, IDC_RESTORE_FOLDER)};
}

}  // namespace

CRestoreDlg::CRestoreDlg() : CDialog(IDD_RESTORE), m_hIcon(LoadAppIcon()) {}

CRestoreDlg::~CRestoreDlg() {
    // Only an end forced from outside gets here with a call running: wait for the engine, whose
    // call holds no pointer into this object but its results.
    if (!CallRunning()) return;
    m_worker.join();
    editors::ManualCallProgress().End();
}

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
    if (CallRunning()) return true;  // Enter, Esc and clicks that slip past the disabled buttons
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

void CRestoreDlg::OnCancel() {
    if (!CallRunning()) CDialog::OnCancel();
}

void CRestoreDlg::OnTimer(UINT_PTR id) {
    if (id != kProgressTimer) return;
    if (m_bCallDone) return OnCallDone();
    ShowProgress();
}

bool CRestoreDlg::OnMessage(UINT msg, WPARAM, LPARAM, LRESULT* result) {
    if (msg != WM_MANUAL_CALL_DONE) return false;
    OnCallDone();
    *result = 0;
    return true;
}

void CRestoreDlg::OnBrowseBackupFile() {
    // A backup writes a new file, so the chooser must accept a name that does not exist yet.
    PutPickedPath(*this, IDC_RESTORE_FILE,
                  fw::TheServices().PickFile(m_hWnd, L"BackFiles (*.bkp)|*.bkp||",
                                             OFN_HIDEREADONLY | OFN_PATHMUSTEXIST));
}

void CRestoreDlg::OnBackup() {
    const editors::RestoreForm form = ReadForm(*this);
    if (auto fault = editors::CheckRestoreForm(form)) return ShowInputFault(*this, *fault);
    // The chooser accepts an existing file too; a wrong pick must not cost the file silently.
    if (editors::BackupWouldReplace(sys_GetFileAttribute(form.backupFile.text.c_str())) &&
        fw::MessageBoxGbk(m_hWnd, editors::kReplaceQuestion, editors::kReplaceCaption,
                          MB_YESNO | MB_ICONINFORMATION) != IDYES)
        return;
    StartCall(ManualOperation::Backup, IDC_RESTORE_BACKUP,
              [folder = form.folder.text, file = form.backupFile.text] {
                  return kivo_backup(folder.c_str(), file.c_str());
              });
}

void CRestoreDlg::OnRestore() {
    const editors::RestoreForm form = ReadForm(*this);
    if (auto fault = editors::CheckRestoreForm(form)) return ShowInputFault(*this, *fault);
    StartCall(ManualOperation::Restore, IDOK, [file = form.backupFile.text, folder = form.folder.text] {
        return kivo_restore(file.c_str(), folder.c_str());
    });
}

void CRestoreDlg::StartCall(ManualOperation operation, int startedBy, std::function<int()> call) {
    m_operation = operation;
    editors::ManualCallProgress().Begin(operation);
    m_bCallDone = false;
    const HWND self = m_hWnd;
    // If the thread cannot be had, the dialog is left as it was.
    m_worker = std::thread([this, self, call = std::move(call)] {
        int result = KIVO_E_INTERNAL;
        try {
            result = call();
        } catch (...) {
        }
        m_nCallResult = result;
        m_bCallDone = true;
        ::PostMessageW(self, WM_MANUAL_CALL_DONE, 0, 0);
    });
    m_nStartedBy = startedBy;
    // The keyboard stays in the dialog, where Esc is refused, rather than on a disabled button.
    if (::GetFocus() != GetDlgItem(IDC_RESTORE_FOLDER)) FocusItem(IDC_RESTORE_FILE);
    EnableButtons(false);
    m_strShownCaption.clear();
    ShowProgress();
    ::SetTimer(m_hWnd, kProgressTimer, kProgressPeriodMs, nullptr);
}

void CRestoreDlg::OnCallDone() {
    if (!CallRunning() || !m_bCallDone) return;
    m_worker.join();
    ::KillTimer(m_hWnd, kProgressTimer);
    editors::ManualCallProgress().End();
    SetText(editors::kRestoreCaption);
    EnableButtons(true);
    FocusItem(m_nStartedBy);
    const int result = m_nCallResult;
    if (result == 0) return EndDialog(IDOK);
    const std::string text = m_operation == ManualOperation::Backup ? editors::BackupFailureText(result)
                                                                    : editors::RestoreFailureText(result);
    ShowEditorMessage(m_hWnd, text, editors::kErrorCaption);
}

void CRestoreDlg::ShowProgress() {
    const std::string caption = editors::RunningCaption(m_operation, editors::ManualCallProgress().Files());
    if (caption == m_strShownCaption) return;
    m_strShownCaption = caption;
    SetText(caption);
}

void CRestoreDlg::EnableButtons(bool enable) {
    for (int id : kButtons) EnableItem(id, enable);
}
