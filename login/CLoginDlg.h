// The login gate: the rule lists are filled only after the account library accepts the operator.
#pragma once

#include "CDialog.h"

class CLoginDlg : public fw::CDialog {
  public:
    CLoginDlg();

    HICON m_hIcon = nullptr;  // set by the creator

  protected:
    BOOL OnInitDialog() override;
    bool OnCommand(WORD code, WORD id, HWND control) override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  private:
    void OnBnClickedLogin();
};
