// The main window: the clean-rule, backup-rule and run-log lists, the run buttons, the status
// timer, the remembered column widths, the deferred login and every command on rules.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "CDialog.h"
#include "CMyListCtrl.h"
#include "rule_records.h"

// The main window's caption; a second copy of the app finds the first one's window by it.
inline constexpr const char* kMainCaption = "备份与清理计划 v1.0";

// wParam 1: reopening a hidden window, which leaving the login hides again.
constexpr UINT WM_SHOW_LOGIN = 2025;
constexpr UINT WM_ENGINE_LOG = 2029;
constexpr UINT_PTR kStatusTimer = 10;

// The settings-library integer that makes the close box hide the window (1) instead of ending the
// application (0, the default).
inline constexpr const char* kWindowSection = "main_window_cfg";
inline constexpr const char* kCloseToTrayKey = "close_to_tray";

// What the main window needs of the application around it: the logon start, kept in the user's Run
// key rather than the settings library, and the notification icon, which follows the window.
class CMainWindowShell {
  public:
    virtual ~CMainWindowShell() = default;
    virtual bool LogonStartIsOn() = 0;
    // The reason (GBK) when it could not be changed.
    virtual std::optional<std::string> SetLogonStart(bool on) = 0;
    // The window was hidden to the notification area, shown for a login, or unlocked by one.
    virtual void MainWindowChanged() = 0;
};

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

    // Starts automatic running now, unless the first visible tick already did: once per process.
    // A background process starts it at once, without a visible window.
    void StartAutomaticRunningOnce();

    // The notification area
    // Shows a hidden window locked, with the login over it; a shown one brings forward the login or
    // dialog in front of it, or itself.
    void OpenFromTray();
    // Ends the application as a close does; the widths are saved only if the window was ever shown.
    void Exit();
    bool IsUnlocked() const { return m_bUnlocked; }
    // The window ended its loop (closed, or exited from the icon).
    bool IsClosed() const { return m_bClosed; }
    // Shown, but a dialog or message box holds it disabled.
    bool HasDialogOpen() const { return IsVisible() && !::IsWindowEnabled(m_hWnd); }

    // Started with /background: no login at start, and the close box hides. Set before Create.
    bool m_bBackground = false;
    // Set by the application once the window exists. None: the window never hides and the logon
    // item is grey.
    CMainWindowShell* m_pShell = nullptr;

    HICON m_hIcon;  // application icon; not owned
    HFONT m_pLogFont = nullptr;
    CMyListCtrl m_lstLog;
    CMyListCtrl m_lstClear;
    CMyListCtrl m_lstBackup;
    int m_nPopupList = 0;  // 1: the last popup opened on the clean list, 0: on the backup list
    int m_nRunState = 0;   // the last answer of kivo_is_run
    std::vector<int> m_vecSelRows;
    int m_nDpi = 96;  // the DPI the window is shown at; the pixel sizes it sets follow it

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
    // The run log's font and row height at m_nDpi; the old font is deleted once the list has the new.
    void ApplyLogFont();
    // WM_DPICHANGED: the fonts, rows and column widths the window sets itself, at the new DPI.
    void OnDpiChanged(int dpi);
    void InitRuleList(CMyListCtrl& list, const char* const* headings, int count, const char* prefix);
    void LoadColumnWidths(CMyListCtrl& list, const char* prefix);
    void SaveColumnWidths(CMyListCtrl& list, const char* prefix);
    void UpdateRunButtons();
    void SaveAllColumnWidths();
    void CloseWindow();
    // The close box (and leaving a reopened login): hides the window, locked, with the widths saved.
    void HideToTray();
    bool CloseHides() const;
    void NotifyShell();
    LRESULT OnShowLogin(bool reopening);

    // System menu: the logon start and what the close box does
    void AddSystemMenuItems();
    void OnInitSystemMenu(HMENU menu);
    bool OnSysCommand(UINT command);
    void OnToggleLogonStart();
    void OnToggleCloseToTray();
    bool m_bUnlocked = false;  // a login succeeded since the window was last shown
    bool m_bEverShown = false;
    bool m_bClosed = false;
    LRESULT OnEngineLog();
    // One row at the end of the run log (the oldest goes beyond 513 rows), without scrolling.
    void InsertLogRow(const char* text);
    void ShowNewestLogRow();

    // Rule commands
    void OnClearPreview();
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
