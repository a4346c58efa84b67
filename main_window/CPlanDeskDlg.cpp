#include "CPlanDeskDlg.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <limits>
#include <memory>
#include <new>

#include "CLoginDlg.h"
#include "DpiScale.h"
#include "EditorControls.h"
#include "engine_api.h"
#include "latest_progress.h"
#include "log_lines.h"
#include "main_window_rules.h"
#include "resource.h"
#include "rule_text.h"
#include "settings_api.h"

// Process-wide: the first visible tick (or a background start) starts automatic running, once.
// Outside the anonymous namespace only so that tests can set it back between cases
// (tests/support/TestSeams.h).
bool g_firstTickDone = false;

namespace {

constexpr const char* kWidthSection = "task_list_cfg";
constexpr UINT kStatusPeriodMs = 200;
// The run log at 96 DPI: "宋体" 13 pixels high, rows of one line with a small margin.
constexpr int kLogFontHeight96 = 13;
constexpr int kLogRowHeight96 = 17;
// One wake-up appends lines for at most this long, so a burst never freezes the window.
constexpr auto kLogBatchBudget = std::chrono::milliseconds(15);
constexpr size_t kLogBatchLines = 16;

LogQueue& PendingLogLines() {
    static LogQueue queue;
    return queue;
}

const char* const kClearHeadings[] = {
    "ID",         "描述",       "状态",      "监控路径", "监控磁盘空间", "执行方式", "保存天数(0无效)",
    "按名称清理", "按大小清理", "按日期清理"};
const char* const kBackupHeadings[] = {"ID",       "描述",     "状态",           "监控路径",
                                       "备份路径", "执行方式", "保存天数(0无效)"};

// Writes a row's cells from the given column on.
template <size_t N>
void SetRowTexts(CMyListCtrl& list, int row, const std::array<std::string, N>& texts,
                 size_t firstColumn = 0) {
    for (size_t column = firstColumn; column < N; ++column) list.SetItemText(row, int(column), texts[column]);
}

// Fills a list from the engine by the two-call protocol. A count whose buffer cannot be had
// leaves the list empty instead of throwing out of a message handler. The buffer starts zeroed, so
// records the engine did not write show as empty rows, never as stray heap bytes. Each row is
// inserted with its id and then given its other columns.
template <typename Rule, typename RowTexts>
void FillRuleList(CMyListCtrl& list, int (*listRules)(Rule*), RowTexts rowTexts) {
    list.DeleteAllItems();
    const int count = listRules(nullptr);
    if (count <= 0) return;
    if (size_t(count) > std::numeric_limits<size_t>::max() / sizeof(Rule)) return;
    std::unique_ptr<Rule[]> rules(new (std::nothrow) Rule[size_t(count)]());
    if (!rules) return;
    listRules(rules.get());
    fw::CRedrawOff batch(list);
    for (int i = 0; i < count; ++i) {
        const auto texts = rowTexts(rules[size_t(i)]);
        list.InsertItem(i, texts[0]);
        SetRowTexts(list, i, texts, 1);
    }
}

}  // namespace

void EngineLogCallback(const char* text, void* context) noexcept {
    if (!text || !*text) return;
    HWND window = static_cast<HWND>(context);
    LogQueue& queue = PendingLogLines();
    try {
        editors::ManualCallProgress().Note(text);
        if (!queue.Push(text)) return;  // a wake-up is already on its way
        if (::PostMessageW(window, WM_ENGINE_LOG, 0, 0)) return;
        if (::IsWindow(window)) {
            queue.WakeFailed();  // the window's queue is full: the status timer drains the lines
        } else {
            queue.Clear();  // the window is gone: these lines can never be shown
        }
    } catch (...) {
        // Out of memory: this line is lost, but nothing unwinds into the engine's thread.
    }
}

CPlanDeskDlg::CPlanDeskDlg() : CDialog(IDD_PLAN_DESK), m_hIcon(LoadAppIcon()) {}

CPlanDeskDlg::~CPlanDeskDlg() {
    if (m_pLogFont) ::DeleteObject(m_pLogFont);
}

void CPlanDeskDlg::DoDataExchange(fw::CDataExchange& dx) {
    fw::DDX_Control(dx, IDC_LOG_LIST, m_lstLog);
    fw::DDX_Control(dx, IDC_CLEAR_LIST, m_lstClear);
    fw::DDX_Control(dx, IDC_BACKUP_LIST, m_lstBackup);
}

BOOL CPlanDeskDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    fw::SetWindowIcon(m_hWnd, m_hIcon);
    InitLogList();
    InitRuleList(m_lstClear, kClearHeadings, int(std::size(kClearHeadings)), "clear");
    InitRuleList(m_lstBackup, kBackupHeadings, int(std::size(kBackupHeadings)), "backup");
    kivo_regist_msg(&EngineLogCallback, m_hWnd);
    ::SetTimer(m_hWnd, kStatusTimer, kStatusPeriodMs, nullptr);
    SetText(kMainCaption);
    AddSystemMenuItems();
    // A background process starts hidden and without a login; opening it brings the login.
    m_bEverShown = !m_bBackground;
    if (!m_bBackground) ::PostMessageW(m_hWnd, WM_SHOW_LOGIN, 0, 0);
    return TRUE;
}

void CPlanDeskDlg::InitLogList() {
    m_nDpi = fw::WindowDpi(m_hWnd);
    HWND list = m_lstLog.GetSafeHwnd();
    LONG style = ::GetWindowLongW(list, GWL_STYLE);
    ::SetWindowLongW(list, GWL_STYLE, (style & ~LONG(LVS_SMALLICON)) | LVS_REPORT);
    m_lstLog.SetExtendedStyle(m_lstLog.GetExtendedStyle() | LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    ApplyLogFont();
    if (m_lstLog.InsertColumn(0, "时间", LVCFMT_CENTER, -1) >= 0) ++m_lstLog.m_nColumnCount;
    if (m_lstLog.InsertColumn(1, "内容", LVCFMT_LEFT, -1) >= 0) ++m_lstLog.m_nColumnCount;
    LoadColumnWidths(m_lstLog, "log");
}

void CPlanDeskDlg::ApplyLogFont() {
    HFONT old = m_pLogFont;
    m_pLogFont = ::CreateFontW(fw::ScaleToDpi(kLogFontHeight96, m_nDpi), 0, 0, 0, 0, FALSE, FALSE, FALSE, 0,
                               0, 0, 0, 0x20, L"宋体");
    ::SendMessageW(m_lstLog.GetSafeHwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(m_pLogFont), TRUE);
    if (old) ::DeleteObject(old);
    m_lstLog.m_nRowHeight = fw::ScaleToDpi(kLogRowHeight96, m_nDpi);
    m_lstLog.RemeasureRows();
}

void CPlanDeskDlg::OnDpiChanged(int dpi) {
    if (dpi <= 0 || dpi == m_nDpi) return;
    const int old = m_nDpi;
    m_nDpi = dpi;
    ApplyLogFont();
    for (CMyListCtrl* list : {&m_lstLog, &m_lstClear, &m_lstBackup}) {
        for (int i = 0; i < list->m_nColumnCount; ++i)
            list->SetColumnWidth(i, fw::ScaleToDpi(fw::ScaleTo96(list->GetColumnWidth(i), old), dpi));
    }
}

void CPlanDeskDlg::InitRuleList(CMyListCtrl& list, const char* const* headings, int count,
                                const char* prefix) {
    for (int i = 0; i < count; ++i) {
        if (list.InsertColumn(i, headings[i], LVCFMT_LEFT, -1) >= 0) ++list.m_nColumnCount;
    }
    LoadColumnWidths(list, prefix);
    list.SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
}

void CPlanDeskDlg::LoadColumnWidths(CMyListCtrl& list, const char* prefix) {
    RECT outer;
    ::GetWindowRect(list.GetSafeHwnd(), &outer);
    const int n = list.m_nColumnCount;
    if (n <= 0) return;
    for (int i = 0; i < n; ++i) {
        // Stored at 96 DPI, so that a width carries across displays.
        const int stored = get_sys_cfg_int(kWidthSection, ColumnKey(prefix, i + 1).c_str());
        const int width =
            ColumnWidth(stored > 0 ? fw::ScaleToDpi(stored, m_nDpi) : stored, outer.right - outer.left, n);
        list.SetColumnWidth(i, uint16_t(width));
    }
}

void CPlanDeskDlg::SaveColumnWidths(CMyListCtrl& list, const char* prefix) {
    for (int i = 0; i < list.m_nColumnCount; ++i) {
        modify_sys_cfg_int(kWidthSection, ColumnKey(prefix, i + 1).c_str(),
                           fw::ScaleTo96(list.GetColumnWidth(i), m_nDpi));
    }
}

void CPlanDeskDlg::OnTimer(UINT_PTR id) {
    if (!IsVisible()) {
        // Hidden for weeks in the notification area: lines whose wake-up was lost must not pile up.
        if (id == kStatusTimer && !PendingLogLines().Empty()) OnEngineLog();
        return;
    }
    StartAutomaticRunningOnce();
    if (id == kStatusTimer) {
        UpdateRunButtons();
        // Lines whose wake-up could not be posted are picked up here.
        if (!PendingLogLines().Empty()) OnEngineLog();
    }
}

void CPlanDeskDlg::StartAutomaticRunningOnce() {
    if (g_firstTickDone) return;
    g_firstTickDone = true;
    kivo_auto_run();
}

void CPlanDeskDlg::UpdateRunButtons() {
    const int running = kivo_is_run();
    if (running == m_nRunState) return;
    m_nRunState = running;
    EnableItem(IDC_STOP_RUN, running != 0);
    EnableItem(IDC_AUTO_RUN, running == 0);
    EnableItem(IDC_MANUAL_RESTORE, running == 0);
}

LRESULT CPlanDeskDlg::OnShowLogin(bool reopening) {
    // Hidden again (by its close box) before the posted login came: nothing to log in to.
    if (reopening && !IsVisible()) return 0;
    CLoginDlg login;
    login.m_hIcon = m_hIcon;
    if (login.DoModal() == IDOK) {
        m_bUnlocked = true;
        FillClearList();
        FillBackupList();
        NotifyShell();
    } else if (reopening) {
        HideToTray();  // the engine goes on running; only the window goes away again
    } else {
        CloseWindow();
    }
    return 0;
}

void CPlanDeskDlg::OnClose() {
    if (CloseHides()) {
        HideToTray();
    } else {
        CloseWindow();
    }
}

bool CPlanDeskDlg::CloseHides() const {
    if (!m_pShell) return false;  // nothing would ever show the window again
    return m_bBackground || get_sys_cfg_int(kWindowSection, kCloseToTrayKey) == 1;
}

void CPlanDeskDlg::SaveAllColumnWidths() {
    SaveColumnWidths(m_lstLog, "log");
    SaveColumnWidths(m_lstClear, "clear");
    SaveColumnWidths(m_lstBackup, "backup");
}

void CPlanDeskDlg::HideToTray() {
    SaveAllColumnWidths();
    // Locked again: no rule stays in a window nobody watches. The run log keeps its lines.
    m_bUnlocked = false;
    m_lstClear.DeleteAllItems();
    m_lstBackup.DeleteAllItems();
    m_vecSelRows.clear();
    ::ShowWindow(m_hWnd, SW_HIDE);
    NotifyShell();
}

void CPlanDeskDlg::OpenFromTray() {
    if (!m_hWnd) return;
    if (IsVisible()) {
        HWND front = ::GetLastActivePopup(m_hWnd);
        ::SetForegroundWindow(front ? front : m_hWnd);
        return;
    }
    m_bEverShown = true;
    ::ShowWindow(m_hWnd, SW_SHOW);
    ::SetForegroundWindow(m_hWnd);
    NotifyShell();
    ::PostMessageW(m_hWnd, WM_SHOW_LOGIN, 1, 0);
}

void CPlanDeskDlg::Exit() {
    if (m_hWnd) CloseWindow();
}

void CPlanDeskDlg::NotifyShell() {
    if (m_pShell) m_pShell->MainWindowChanged();
}

void CPlanDeskDlg::CloseWindow() {
    m_bClosed = true;
    ::KillTimer(m_hWnd, kStatusTimer);
    if (m_bEverShown) SaveAllColumnWidths();
    if (m_pLogFont) {
        ::SendMessageW(m_lstLog.GetSafeHwnd(), WM_SETFONT, 0, FALSE);
        ::DeleteObject(m_pLogFont);
        m_pLogFont = nullptr;
    }
    EndDialog(IDCANCEL);
}

bool CPlanDeskDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (msg) {
        case WM_DPICHANGED:
            OnDpiChanged(HIWORD(wParam));
            return false;  // the dialog manager still moves and scales the window and its controls
        case WM_SHOW_LOGIN:
            *result = OnShowLogin(wParam == 1);
            return true;
        case WM_ENGINE_LOG:
            *result = OnEngineLog();
            return true;
        case WM_INITMENUPOPUP:
            if (HIWORD(lParam)) OnInitSystemMenu(reinterpret_cast<HMENU>(wParam));
            return false;  // the default processing still readies the menu's own items
        case WM_SYSCOMMAND:
            return OnSysCommand(UINT(wParam & 0xFFF0));
        default:
            return fw::AnswerIconMessage(m_hWnd, m_hIcon, msg, result);
    }
}

bool CPlanDeskDlg::OnDrawItem(int id, DRAWITEMSTRUCT* item) {
    if (id != IDC_LOG_LIST) return false;
    m_lstLog.DrawItem(item);
    return true;
}

bool CPlanDeskDlg::OnMeasureItem(int id, MEASUREITEMSTRUCT* item) {
    if (id != IDC_LOG_LIST) return false;
    m_lstLog.MeasureItem(item);
    return true;
}

LRESULT CPlanDeskDlg::OnEngineLog() {
    LogQueue& queue = PendingLogLines();
    const auto started = std::chrono::steady_clock::now();
    {
        fw::CRedrawOff batch(m_lstLog);
        for (;;) {
            std::vector<std::string> lines = queue.Take(kLogBatchLines);
            for (const std::string& line : lines) InsertLogRow(line.c_str());
            if (lines.size() < kLogBatchLines) break;  // drained; the next line posts a new wake-up
            if (std::chrono::steady_clock::now() - started > kLogBatchBudget) {
                // Yield to the rest of the window's messages; the lines left are picked up next.
                if (!::PostMessageW(m_hWnd, WM_ENGINE_LOG, 0, 0)) queue.WakeFailed();
                break;
            }
        }
    }
    // Only now: with redraw off the list does not update its scroll range, and scrolling against
    // the stale one leaves the newest row below the visible area.
    ShowNewestLogRow();
    return 0;
}

void CPlanDeskDlg::AppendLogLine(const char* text) {
    InsertLogRow(text);
    ShowNewestLogRow();
}

void CPlanDeskDlg::ShowNewestLogRow() {
    const int count = m_lstLog.GetItemCount();
    if (count > 0) m_lstLog.EnsureVisible(count - 1);
}

void CPlanDeskDlg::InsertLogRow(const char* text) {
    if (!text || !*text) return;
    int n = m_lstLog.GetItemCount();
    if (n > kMaxLogRows - 1) {
        m_lstLog.DeleteItem(0);
        --n;
    }
    char stamp[16] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_s(&local, &now) != 0 || std::strftime(stamp, sizeof stamp, "%H:%M:%S", &local) == 0)
        stamp[0] = 0;
    m_lstLog.InsertItem(n, stamp);
    m_lstLog.SetItemText(n, 1, text);
}

void CPlanDeskDlg::FillClearList() {
    FillRuleList(m_lstClear, &kivo_get_clear_list, &ClearRowTexts);
}

void CPlanDeskDlg::FillBackupList() {
    FillRuleList(m_lstBackup, &kivo_get_backup_list, &BackupRowTexts);
}

void CPlanDeskDlg::SetClearRow(int row, const ClearRule& rule) {
    SetRowTexts(m_lstClear, row, ClearRowTexts(rule));
}

void CPlanDeskDlg::SetBackupRow(int row, const BackupRule& rule) {
    SetRowTexts(m_lstBackup, row, BackupRowTexts(rule));
}
