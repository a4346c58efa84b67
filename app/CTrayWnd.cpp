#include "CTrayWnd.h"

#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "CMenu.h"
#include "LogonStart.h"
#include "Services.h"
#include "log_lines.h"
#include "resource.h"

namespace {

WakeQueue<KivoRunEvent>& PendingRunEvents() {
    static WakeQueue<KivoRunEvent> queue;
    return queue;
}

// The tip names the failed run by its local time and its rule.
FailedRun FailedRunOf(const KivoRunEvent& event) {
    FailedRun run;
    run.description = FieldText(event.description);
    const std::time_t when = std::time_t(event.end_utc);
    std::tm local{};
    if (localtime_s(&local, &when) == 0) {
        run.month = local.tm_mon + 1;
        run.day = local.tm_mday;
        run.hour = local.tm_hour;
        run.minute = local.tm_min;
    }
    return run;
}

}  // namespace

void RunEventCallback(const KivoRunEvent* event, void* context) noexcept {
    if (!event) return;
    HWND window = static_cast<HWND>(context);
    WakeQueue<KivoRunEvent>& queue = PendingRunEvents();
    try {
        // An engine of another version may send a shorter or longer record: take what both know.
        KivoRunEvent copy{};
        const size_t size = event->size > 0 ? std::min(size_t(event->size), sizeof copy) : sizeof copy;
        std::memcpy(&copy, event, size);
        copy.description[sizeof copy.description - 1] = 0;
        copy.end_line[sizeof copy.end_line - 1] = 0;
        if (!queue.Push(copy)) return;  // a wake-up is already on its way
        if (::PostMessageW(window, WM_RUN_EVENTS, 0, 0)) return;
        if (::IsWindow(window)) {
            queue.WakeFailed();  // the window's queue is full: its timer takes the events
        } else {
            queue.Clear();  // the window is gone
        }
    } catch (...) {
        // Out of memory: this notice is lost, but nothing unwinds into the engine's thread.
    }
}

CTrayWnd::CTrayWnd(bool background) : m_bBackground(background) {}

CTrayWnd::~CTrayWnd() {
    Destroy();
}

bool CTrayWnd::Create() {
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &CTrayWnd::WindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kTrayWindowClass;
    if (!::RegisterClassExW(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    // A top-level window, never shown: only top-level windows hear that the taskbar was created again.
    m_hWnd = ::CreateWindowExW(WS_EX_TOOLWINDOW, kTrayWindowClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                               nullptr, instance, this);
    if (!m_hWnd) return false;
    m_nTaskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
    // A copy running with other rights still hears Explorer and a second copy.
    ::ChangeWindowMessageFilterEx(m_hWnd, m_nTaskbarCreated, MSGFLT_ALLOW, nullptr);
    ::ChangeWindowMessageFilterEx(m_hWnd, WM_TRAY_OPEN, MSGFLT_ALLOW, nullptr);
    m_hIcon =
        static_cast<HICON>(::LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                        ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON), 0));
    kivo_regist_run_event(&RunEventCallback, m_hWnd);
    ::SetTimer(m_hWnd, kTrayTimer, 1000, nullptr);
    UpdateIcon();
    return true;
}

void CTrayWnd::Destroy() {
    if (!m_hWnd) return;
    kivo_regist_run_event(nullptr, nullptr);
    if (m_bIconAdded) {
        NOTIFYICONDATAW data = IconData(0);
        fw::TheServices().NotifyIcon(NIM_DELETE, data);
        m_bIconAdded = false;
    }
    ::DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
    PendingRunEvents().Clear();
    if (m_hIcon) ::DestroyIcon(m_hIcon);
    m_hIcon = nullptr;
}

void CTrayWnd::SetMainWindow(CPlanDeskDlg* main) {
    m_pMain = main;
    if (main) main->m_pShell = this;
    UpdateIcon();
}

LRESULT CALLBACK CTrayWnd::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        // The messages of the creation itself come before CreateWindowExW returns the handle.
        auto* self = static_cast<CTrayWnd*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->m_hWnd = hwnd;
        ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<CTrayWnd*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return ::DefWindowProcW(hwnd, msg, wParam, lParam);
    try {
        return self->OnMessage(msg, wParam, lParam);
    } catch (...) {
        // Nothing may escape into Windows; the handler's work is simply not done.
        return 0;
    }
}

LRESULT CTrayWnd::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_TRAY_ICON:
            OnIconEvent(LOWORD(lParam), GET_X_LPARAM(wParam), GET_Y_LPARAM(wParam));
            return 0;
        case WM_TRAY_OPEN:
            OnOpen();
            return 0;
        case WM_RUN_EVENTS:
            OnRunEvents();
            return 0;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam));
            return 0;
        case WM_TIMER:
            if (wParam == kTrayTimer) OnTimer();
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            if (wParam && m_fnEndSession) m_fnEndSession();
            return 0;
        case WM_NCDESTROY:
            ::SetWindowLongPtrW(m_hWnd, GWLP_USERDATA, 0);
            break;
        default:
            if (msg == m_nTaskbarCreated && msg != 0) {
                OnTaskbarCreated();
                return 0;
            }
            break;
    }
    return ::DefWindowProcW(m_hWnd, msg, wParam, lParam);
}

void CTrayWnd::OnIconEvent(UINT event, int x, int y) {
    switch (event) {
        case WM_LBUTTONDBLCLK:
        case NIN_SELECT:
        case NIN_KEYSELECT:
        case NIN_BALLOONUSERCLICK:
            OnOpen();
            break;
        case WM_CONTEXTMENU:  // the right button, and the keyboard's menu key
            ShowMenu(x, y);
            break;
        default:
            break;
    }
}

void CTrayWnd::OnCommand(UINT id) {
    switch (id) {
        case IDM_TRAY_OPEN:
            OnOpen();
            break;
        case IDM_TRAY_EXIT:
            OnExit();
            break;
        default:
            break;
    }
}

void CTrayWnd::ShowMenu(int x, int y) {
    fw::CMenu menu;
    if (!menu.Load(IDR_TRAY_MENU)) return;
    HMENU popup = menu.GetSubMenu(0);
    if (!popup) return;
    ::SetMenuDefaultItem(popup, IDM_TRAY_OPEN, FALSE);
    // A dialog in front of the main window holds work of the operator's: finish it first.
    if (m_pMain && m_pMain->HasDialogOpen()) fw::GrayMenuItem(popup, IDM_TRAY_EXIT);
    // Without the foreground the menu would not close when the operator clicks elsewhere.
    ::SetForegroundWindow(m_hWnd);
    const UINT align = ::GetSystemMetrics(SM_MENUDROPALIGNMENT) ? TPM_RIGHTALIGN : TPM_LEFTALIGN;
    ::TrackPopupMenu(popup, align | TPM_BOTTOMALIGN | TPM_RIGHTBUTTON, x, y, 0, m_hWnd, nullptr);
    ::PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

void CTrayWnd::OnOpen() {
    if (m_pMain) m_pMain->OpenFromTray();
}

void CTrayWnd::OnExit() {
    if (!m_pMain || m_pMain->HasDialogOpen()) return;
    HWND owner = m_pMain->IsVisible() ? m_pMain->GetSafeHwnd() : m_hWnd;
    if (fw::MessageBoxGbk(owner, kExitQuestion, kMainCaption,
                          MB_YESNO | MB_DEFBUTTON2 | MB_ICONINFORMATION) != IDYES)
        return;
    m_pMain->Exit();
    UpdateIcon();  // gone at once; the shutdown that follows may wait for a run to stop
}

void CTrayWnd::OnRunEvents() {
    for (;;) {
        const std::vector<KivoRunEvent> events = PendingRunEvents().Take(64);
        for (const KivoRunEvent& event : events) {
            const bool balloon = m_notices.OnRunEnded(event.outcome, FailedRunOf(event), m_bIconAdded,
                                                      int64_t(::GetTickCount64()));
            if (balloon) ShowBalloon(CutToChars(FieldText(event.end_line), kBalloonTextChars));
        }
        if (events.size() < 64) break;
    }
    UpdateTip();
}

void CTrayWnd::OnTimer() {
    // The taskbar may not be there yet at logon, nor for a while after Explorer ends.
    if (IconWanted() && !m_bIconAdded) UpdateIcon();
    const int running = kivo_is_run();
    if (running != m_nRunState) {
        m_nRunState = running;
        UpdateTip();
    }
    if (!PendingRunEvents().Empty()) OnRunEvents();
}

void CTrayWnd::OnTaskbarCreated() {
    m_bIconAdded = false;  // the new taskbar knows nothing of the old icon
    UpdateIcon();
}

bool CTrayWnd::IconWanted() const {
    if (!m_hWnd) return false;
    if (!m_pMain) return m_bBackground;
    if (m_pMain->IsClosed()) return false;
    return m_bBackground || !m_pMain->IsVisible();
}

NOTIFYICONDATAW CTrayWnd::IconData(UINT flags) const {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = m_hWnd;
    data.uID = kTrayIconId;
    data.uFlags = flags;
    return data;
}

void CTrayWnd::UpdateIcon() {
    const bool wanted = IconWanted();
    if (wanted == m_bIconAdded) return;
    if (!wanted) {
        NOTIFYICONDATAW data = IconData(0);
        fw::TheServices().NotifyIcon(NIM_DELETE, data);
        m_bIconAdded = false;
        return;
    }
    m_nRunState = kivo_is_run();
    m_strTip = TrayTip(m_nRunState != 0, m_notices.Last(), m_notices.Unannounced());
    NOTIFYICONDATAW data = IconData(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP);
    data.uCallbackMessage = WM_TRAY_ICON;
    data.hIcon = m_hIcon;
    fw::WideFromGbkInto(m_strTip, data.szTip, int(std::size(data.szTip)) - 1);
    if (!fw::TheServices().NotifyIcon(NIM_ADD, data)) return;  // no taskbar yet: the timer tries again
    m_bIconAdded = true;
    data.uVersion = NOTIFYICON_VERSION_4;
    fw::TheServices().NotifyIcon(NIM_SETVERSION, data);
}

void CTrayWnd::UpdateTip(bool force) {
    if (!m_bIconAdded) return;
    const std::string tip = TrayTip(m_nRunState != 0, m_notices.Last(), m_notices.Unannounced());
    if (tip == m_strTip && !force) return;
    m_strTip = tip;
    NOTIFYICONDATAW data = IconData(NIF_TIP | NIF_SHOWTIP);
    fw::WideFromGbkInto(tip, data.szTip, int(std::size(data.szTip)) - 1);
    fw::TheServices().NotifyIcon(NIM_MODIFY, data);
}

void CTrayWnd::ShowBalloon(const std::string& textGbk) {
    NOTIFYICONDATAW data = IconData(NIF_INFO);
    fw::WideFromGbkInto(kBalloonTitle, data.szInfoTitle, int(std::size(data.szInfoTitle)) - 1);
    fw::WideFromGbkInto(textGbk, data.szInfo, int(std::size(data.szInfo)) - 1);
    data.dwInfoFlags = NIIF_WARNING;
    fw::TheServices().NotifyIcon(NIM_MODIFY, data);
}

bool CTrayWnd::LogonStartIsOn() {
    return ::LogonStartIsOn();
}

std::optional<std::string> CTrayWnd::SetLogonStart(bool on) {
    return ::SetLogonStart(on);
}

void CTrayWnd::MainWindowChanged() {
    if (m_pMain && m_pMain->IsUnlocked()) m_notices.Seen();
    UpdateIcon();
    UpdateTip();
}
