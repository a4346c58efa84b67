// The manual backup and restore dialog (template 2015): backs up one folder into a backup file,
// or restores a backup file into a folder, by one engine call. Both paths live in read-only edits
// filled only by the choosers. Ends with IDOK after a successful call; Escape and the close box
// call nothing.
#pragma once

#include "CDialog.h"

class CRestoreDlg : public fw::CDialog {
  public:
    CRestoreDlg();

    HICON m_hIcon;  // application icon; not owned

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD code, WORD id, HWND control) override;

  private:
    void OnBrowseBackupFile();
    void OnBackup();
    void OnRestore();
};
