#include "CRunTimeDlg.h"

#include "EditorControls.h"
#include "resource.h"

using editors::GuardedField;

// Panels alive in this process: each must be released exactly once. Outside the anonymous
// namespace only so that tests can read it (tests/support/TestSeams.h).
int g_livePanels = 0;

namespace {

constexpr int kTimeRow[] = {IDC_TIME_LABEL, IDC_HOUR, IDC_HOUR_LABEL, IDC_MINUTE, IDC_MINUTE_LABEL};

// A child window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND child, HWND parent) {
    RECT rect{};
    ::GetWindowRect(child, &rect);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

}  // namespace

CRunTimeDlg::CRunTimeDlg() : CDialog(IDD_RUN_TIME) {
    ++g_livePanels;
}

CRunTimeDlg::~CRunTimeDlg() {
    --g_livePanels;
}

void CRunTimeDlg::DoDataExchange(fw::CDataExchange& dx) {
    fw::DDX_Text(dx, IDC_HOUR, m_strHour, 2);
    fw::DDX_Text(dx, IDC_MINUTE, m_strMinute, 2);
    fw::DDX_Text(dx, IDC_DAY, m_strDay, 2);
}

BOOL CRunTimeDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_strHour = "00";
    m_strMinute = "00";
    // These run the change handlers, which leave the members at "00", "00" and "1".
    SetItemText(IDC_DAY, "1");
    SetItemText(IDC_INTERVAL, "15");
    SetItemText(IDC_HOUR, "00");
    SetItemText(IDC_MINUTE, "00");
    m_nTimeRowTop = TopOf(IDC_TIME_LABEL);
    ::CheckRadioButton(m_hWnd, IDC_MODE_INTERVAL, IDC_MODE_MONTHLY, IDC_MODE_INTERVAL);
    ShowIntervalMode();
    return TRUE;
}

bool CRunTimeDlg::OnCommand(WORD code, WORD id, HWND) {
    if (code == BN_CLICKED) {
        switch (id) {
            case IDC_MODE_INTERVAL:
                return ShowIntervalMode(), true;
            case IDC_MODE_DAILY:
                return ShowDailyMode(), true;
            case IDC_MODE_WEEKLY:
                return ShowWeeklyMode(), true;
            case IDC_MODE_MONTHLY:
                return ShowMonthlyMode(), true;
        }
    } else if (code == EN_CHANGE) {
        switch (id) {
            case IDC_HOUR:
                return OnHourChange(), true;
            case IDC_MINUTE:
                return OnMinuteChange(), true;
            case IDC_DAY:
                return OnDayChange(), true;
        }
    }
    return false;
}

void CRunTimeDlg::OnClose() {
    // The editor owns this object; only the window goes here.
    EndDialog(IDCANCEL);
    ::DestroyWindow(m_hWnd);
}

BOOL CRunTimeDlg::PreTranslateMessage(MSG* msg) {
    if (msg->message == WM_KEYDOWN) {
        const HWND focus = ::GetFocus();
        const bool enterOrEscape = msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE;
        const bool tabOnLastField = msg->wParam == VK_TAB && focus &&
                                    (focus == GetDlgItem(IDC_MINUTE) || focus == GetDlgItem(IDC_INTERVAL));
        if (enterOrEscape || tabOnLastField) {
            CDialog* editor = FromHandle(::GetParent(m_hWnd));
            return editor ? editor->PreTranslateMessage(msg) : FALSE;
        }
    }
    return CDialog::PreTranslateMessage(msg);
}

void CRunTimeDlg::FocusFirstField() {
    // Explicitly, in tab order: what a dialog does with the focus it receives differs between platforms.
    for (HWND item = ::GetWindow(m_hWnd, GW_CHILD); item; item = ::GetWindow(item, GW_HWNDNEXT)) {
        const LONG style = ::GetWindowLongW(item, GWL_STYLE);
        if ((style & (WS_TABSTOP | WS_VISIBLE | WS_DISABLED)) == (WS_TABSTOP | WS_VISIBLE)) {
            ::SetFocus(item);
            if (::SendMessageW(item, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) fw::SelectWholeText(item);
            return;
        }
    }
    ::SetFocus(m_hWnd);
}

void CRunTimeDlg::OnHourChange() {
    m_guard.OnChange(*this, IDC_HOUR, GuardedField::Hour, m_strHour);
}
void CRunTimeDlg::OnMinuteChange() {
    m_guard.OnChange(*this, IDC_MINUTE, GuardedField::Minute, m_strMinute);
}
void CRunTimeDlg::OnDayChange() {
    m_guard.OnChange(*this, IDC_DAY, GuardedField::Day, m_strDay);
}

int CRunTimeDlg::TopOf(int id) const {
    return RectInParent(GetDlgItem(id), m_hWnd).top;
}

void CRunTimeDlg::PlaceAtTop(int id, int top) {
    HWND item = GetDlgItem(id);
    ::SetWindowPos(item, nullptr, RectInParent(item, m_hWnd).left, top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::ShowWindow(item, SW_SHOW);
}

void CRunTimeDlg::ShowTimeRowAt(int top) {
    for (int id : kTimeRow) PlaceAtTop(id, top);
}

void CRunTimeDlg::ShowMode(int mode, int radioId) {
    m_nMode = mode;
    ::CheckRadioButton(m_hWnd, IDC_MODE_INTERVAL, IDC_MODE_MONTHLY, radioId);
    for (int id = IDC_WEEKDAY_FIRST; id <= IDC_DAY; ++id) ShowItem(id, false);
}

void CRunTimeDlg::ShowIntervalMode() {
    ShowMode(editors::kIntervalMode, IDC_MODE_INTERVAL);
    ShowItem(IDC_INTERVAL_LABEL, true);
    ShowItem(IDC_INTERVAL, true);
}

void CRunTimeDlg::ShowDailyMode() {
    ShowMode(editors::kDailyMode, IDC_MODE_DAILY);
    ShowTimeRowAt(TopOf(IDC_WEEKDAY_FIRST));
}

void CRunTimeDlg::ShowWeeklyMode() {
    ShowMode(editors::kWeeklyMode, IDC_MODE_WEEKLY);
    for (int id = IDC_WEEKDAY_FIRST; id <= IDC_WEEKDAY_LAST; ++id) ShowItem(id, true);
    ShowTimeRowAt(m_nTimeRowTop);
}

void CRunTimeDlg::ShowMonthlyMode() {
    ShowMode(editors::kMonthlyMode, IDC_MODE_MONTHLY);
    ShowItem(IDC_DAY_LABEL, true);
    ShowItem(IDC_DAY, true);
    ShowTimeRowAt(TopOf(IDC_WEEKDAY_FIRST + 3));  // the second row of check boxes
}

void CRunTimeDlg::LoadSchedule(const RunSchedule& schedule) {
    const editors::ScheduleView view = editors::ViewOfSchedule(schedule);
    if (view.interval) {
        SetItemText(IDC_INTERVAL, *view.interval);
        ShowIntervalMode();
        return;
    }
    m_strHour = view.hour;
    m_strMinute = view.minute;
    if (view.day) m_strDay = *view.day;
    UpdateData(false);
    for (int i = 0; i < 7; ++i) SetChecked(IDC_WEEKDAY_FIRST + i, view.weekdays[size_t(i)]);
    switch (view.mode) {
        case editors::kMonthlyMode:
            ShowMonthlyMode();
            break;
        case editors::kWeeklyMode:
            ShowWeeklyMode();
            break;
        default:
            ShowDailyMode();
            break;
    }
}

bool CRunTimeDlg::GatherSchedule(RunSchedule& out) {
    out = RunSchedule{};
    editors::ScheduleForm form;
    form.mode = m_nMode;
    form.interval = GetItemText(IDC_INTERVAL);
    form.hour = m_strHour;
    form.minute = m_strMinute;
    form.day = m_strDay;
    for (int i = 0; i < 7; ++i) form.weekdays[size_t(i)] = IsChecked(IDC_WEEKDAY_FIRST + i);

    const editors::Checked<RunSchedule> gathered = editors::GatherScheduleForm(form);
    if (!gathered.ok()) {
        ShowInputFault(*this, gathered.fault());
        return false;
    }
    out = gathered.value();
    return true;
}

std::unique_ptr<CRunTimeDlg> HostSchedulePanel(HWND editor) {
    auto panel = std::make_unique<CRunTimeDlg>();
    if (!panel->Create(IDD_RUN_TIME, editor)) return nullptr;
    const RECT placeholder = RectInParent(::GetDlgItem(editor, IDC_PANEL_PLACEHOLDER), editor);
    ::SetWindowPos(panel->GetSafeHwnd(), nullptr, placeholder.left, placeholder.top, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::ShowWindow(panel->GetSafeHwnd(), SW_SHOW);
    return panel;
}
