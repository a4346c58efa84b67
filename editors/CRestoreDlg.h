// The manual backup and restore dialog (template 2015): backs up one folder into a backup file,
// or restores a backup file into a folder, by one engine call. Both paths live in read-only edits
// filled only by the choosers. Ends with IDOK after a successful call; Escape and the close box
// call nothing.
//
// The engine call runs on a worker thread, so that both this dialog and the main window behind it
// keep painting however long it takes. Meanwhile the four buttons are disabled, closing is refused
// and the caption shows the files done so far.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "CDialog.h"
#include "manual_progress.h"

class CRestoreDlg : public fw::CDialog {
  public:
    CRestoreDlg();
    ~CRestoreDlg() override;

    HICON m_hIcon;  // application icon; not owned

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD code, WORD id, HWND control) override;
    void OnCancel() override;  // also the close box
    void OnTimer(UINT_PTR id) override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  private:
    void OnBrowseBackupFile();
    void OnBackup();
    void OnRestore();
    // Starts call on the worker thread; startedBy is the button that asked for it.
    void StartCall(ManualOperation operation, int startedBy, std::function<int()> call);
    // Shows the call's result once the worker has finished; nothing before.
    void OnCallDone();
    void ShowProgress();
    void EnableButtons(bool enable);
    bool CallRunning() const { return m_worker.joinable(); }

    ManualOperation m_operation = ManualOperation::Backup;
    int m_nStartedBy = 0;
    std::string m_strShownCaption;
    std::atomic<bool> m_bCallDone{false};
    std::atomic<int> m_nCallResult{0};
    std::thread m_worker;
};
