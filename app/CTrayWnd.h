// The notification icon and the hidden window that owns it. The window lives as long as the
// application, in every mode: a second copy finds it by its class and asks it to open the main
// window. The icon shows for the whole of a background process, and otherwise while the main window
// is hidden. It tells of failed runs with a balloon and keeps the last one in its tip.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <optional>
#include <string>

#include "CPlanDeskDlg.h"
#include "engine_api.h"
#include "tray_rules.h"

// Fixed: a second copy, and the operators' scripts, find the running copy by it.
inline constexpr const wchar_t* kTrayWindowClass = L"plan_desk.NotifyIconWindow";
// Posted by a second copy: open the main window, through the login.
constexpr UINT WM_TRAY_OPEN = WM_APP + 1;
constexpr UINT WM_TRAY_ICON = WM_APP + 2;   // the icon's events (NOTIFYICON_VERSION_4)
constexpr UINT WM_RUN_EVENTS = WM_APP + 3;  // finished runs wait in the queue
constexpr UINT kTrayIconId = 1;
constexpr UINT_PTR kTrayTimer = 1;

inline constexpr const char* kExitQuestion = "退出后，规则将不再按计划运行。确定退出吗？";

// Registered with the engine; runs on the engine's log thread. Touches only the window handle (the
// context), a copy of the record and the locked event queue.
void RunEventCallback(const KivoRunEvent* event, void* context) noexcept;

class CTrayWnd : public CMainWindowShell {
  public:
    explicit CTrayWnd(bool background);
    ~CTrayWnd() override;
    CTrayWnd(const CTrayWnd&) = delete;
    CTrayWnd& operator=(const CTrayWnd&) = delete;

    // The hidden window, the icon when a background process wants it at once, and the run events.
    bool Create();
    // Stops the run events, removes the icon and the window; the destructor does it too.
    void Destroy();
    // The main window the icon opens and ends, once it exists.
    void SetMainWindow(CPlanDeskDlg* main);

    // Runs when Windows ends the session (logoff, shutdown, an update's restart): the process may be
    // ended as soon as the notification returns, so the application shuts down in it.
    std::function<void()> m_fnEndSession;

    HWND GetSafeHwnd() const { return m_hWnd; }
    bool IconShown() const { return m_bIconAdded; }
    const FailureNotices& Notices() const { return m_notices; }

    // CMainWindowShell
    bool LogonStartIsOn() override;
    std::optional<std::string> SetLogonStart(bool on) override;
    void MainWindowChanged() override;

  private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    LRESULT OnMessage(UINT msg, WPARAM wParam, LPARAM lParam);
    void OnIconEvent(UINT event, int x, int y);
    void OnCommand(UINT id);
    void OnOpen();
    void OnExit();
    void ShowMenu(int x, int y);
    void OnRunEvents();
    void OnTimer();
    void OnTaskbarCreated();
    bool IconWanted() const;
    // Adds or removes the icon as the main window's state asks.
    void UpdateIcon();
    void UpdateTip(bool force = false);
    void ShowBalloon(const std::string& textGbk);
    NOTIFYICONDATAW IconData(UINT flags) const;

    const bool m_bBackground;
    CPlanDeskDlg* m_pMain = nullptr;
    HWND m_hWnd = nullptr;
    HICON m_hIcon = nullptr;
    UINT m_nTaskbarCreated = 0;
    bool m_bIconAdded = false;
    int m_nRunState = 0;
    std::string m_strTip;
    FailureNotices m_notices;
};
