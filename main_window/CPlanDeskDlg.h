// The main window: the clean-rule, backup-rule and run-log lists, the run buttons, the status
// timer, the remembered column widths, the deferred login and every command on rules.
#pragma once

#include <string>
#include <vector>

#include "CDialog.h"
#include "CMyListCtrl.h"
#include "rule_records.h"

// The main window's caption; a second copy of the app finds the first one's window by it.
inline constexpr const char* kMainCaption = "备份与清理计划 v1.0";

constexpr UINT WM_SHOW_LOGIN = 2025;
constexpr UINT WM_ENGINE_LOG = 2029;
constexpr UINT_PTR kStatusTimer = 10;

// Registered with the engine; may run on any thread. Touches only the window handle (the
// context), its own copy of the line and the locked line queue.
void EngineLogCallback(const char* text, void* context) noexcept;

class CPlanDeskDlg : public fw::CDialog {
  public:
    CPlanDeskDlg();
    ~CPlanDeskDlg() override;

    // Rule lists
    void FillClearList();
    void FillBackupList();
    void SetClearRow(int row, const ClearRule& rule);
    void SetBackupRow(int row, const BackupRule& rule);

    // Run log
    void AppendLogLine(const char* text);

    HICON m_hIcon;  // application icon; not owned
    HFONT m_pLogFont = nullptr;
    CMyListCtrl m_lstLog;
    CMyListCtrl m_lstClear;
    CMyListCtrl m_lstBackup;
    int m_nPopupList = 0;  // 1: the last popup opened on the clean list, 0: on the backup list
    int m_nRunState = 0;   // the last answer of kivo_is_run
    std::vector<int> m_vecSelRows;

  protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(fw::CDataExchange& dx) override;
    // Enter and Esc do nothing in the main window.
    void OnOK() override {}
    void OnCancel() override {}
    void OnClose() override;
    bool OnCommand(WORD code, WORD id, HWND control) override;
    bool OnNotify(NMHDR* header, LRESULT* result) override;
    void OnTimer(UINT_PTR id) override;
    bool OnDrawItem(int id, DRAWITEMSTRUCT* item) override;
    bool OnMeasureItem(int id, MEASUREITEMSTRUCT* item) override;
    bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  private:
    // Frame
    void InitLogList();
    void InitRuleList(CMyListCtrl& list, const char* const* headings, int count, const char* prefix);
    void LoadColumnWidths(CMyListCtrl& list, const char* prefix);
    void SaveColumnWidths(CMyListCtrl& list, const char* prefix);
    void UpdateRunButtons();
    void CloseWindow();
    LRESULT OnShowLogin();
    LRESULT OnEngineLog();
    // One row at the end of the run log (the oldest goes beyond 513 rows), without scrolling.
    void InsertLogRow(const char* text);
    void ShowNewestLogRow();

    // Rule commands
    void OnClearListRClick();
    void OnBackupListRClick();
    void CaptureSelection(const CMyListCtrl& list);
    void ShowRulePopup(bool clearList);
    CMyListCtrl& PopupList();
    bool AnyCapturedRowDisabled(const CMyListCtrl& list) const;
    int CapturedRuleId(const CMyListCtrl& list, size_t index) const;
    // The ids of every captured row, read before any of them is acted on.
    std::vector<int> CapturedRuleIds(const CMyListCtrl& list) const;
    void RefillPopupList();
    void OnNewClearRule();
    void OnEditClearRule();
    void OnNewBackupRule();
    void OnEditBackupRule();
    void OnDeleteRules();
    void OnToggleRules();
    void OnManualRun();
    void OnVerifyBackup();
    void OnAutoRun();
    void OnStopRun();
    void OnManualRestore();
};
