#include "CClearPreviewDlg.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>

#include "DpiScale.h"
#include "EditorControls.h"
#include "Services.h"
#include "engine_api.h"
#include "resource.h"
#include "settings_api.h"

// What the worker and the window share. The worker holds it too, so that a window closed in the
// middle of a search never leaves the worker writing into freed memory.
struct CClearPreviewDlg::Search {
    volatile LONG cancel = 0;  // read by the engine before every file
    std::mutex mutex;
    std::vector<editors::PreviewRow> found;  // not yet taken by the window
    std::atomic<uint64_t> count{0};
    std::atomic<bool> done{false};
    bool outOfMemory = false;
    int result = 0;
    KivoCleanVerdict verdict{};
};

namespace {

// Posted by the worker when the engine has answered, and by the sorter when it is done.
constexpr UINT WM_PREVIEW_DONE = WM_APP + 2;
constexpr UINT WM_PREVIEW_SORTED = WM_APP + 3;
constexpr UINT_PTR kSearchTimer = 1;
// The caption counts and the list grows a few times a second; the timer also finishes a search
// whose completion message could not be posted.
constexpr UINT kSearchPeriodMs = 250;

constexpr const char* kSettingsSection = "task_list_cfg";
constexpr const char* kWidthKey = "preview_cx";
constexpr const char* kHeightKey = "preview_cy";
constexpr const char* kColumnKeys[] = {"previewlst_1", "previewlst_2", "previewlst_3"};
const char* const kHeadings[] = {"路径", "大小", "修改时间"};
// Shares of the list's width a column takes until the operator sizes it: percent.
constexpr int kColumnShares[] = {60, 15, 25};

// Layout in dialog units, as the template's.
constexpr int kMargin = 7, kSummaryHeight = 20, kGap = 4, kButtonHeight = 17, kButtonGap = 6;
constexpr int kButtonWidths[] = {64, 52, 52};
constexpr int kButtons[] = {IDC_PREVIEW_EXPORT, IDC_PREVIEW_CLEAN, IDCANCEL};

editors::LocalTime LocalFromUtc(int64_t utc) {
    ULARGE_INTEGER ticks;
    ticks.QuadPart = uint64_t(utc + 11644473600LL) * 10000000ULL;
    const FILETIME file{ticks.LowPart, ticks.HighPart};
    SYSTEMTIME universal, local;
    if (utc < -11644473600LL || !::FileTimeToSystemTime(&file, &universal) ||
        !::SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local))
        return {};
    return {local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond};
}

std::wstring_view Wide(const std::u16string& text) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    return {reinterpret_cast<const wchar_t*>(text.data()), text.size()};
}

// The file name the save chooser offers: the caption's words, without what a name cannot hold.
std::wstring ExportName(const std::string& descriptionGbk) {
    std::wstring name = fw::WideFromGbk("清理预览-" + descriptionGbk);
    for (wchar_t& c : name) {
        if (c < 32 || std::wstring_view(L"\\/:*?\"<>|").find(c) != std::wstring_view::npos) c = L'_';
    }
    return name + L".csv";
}

// Writes the whole file under a temporary name beside it, then takes the chosen name, so that a
// failed export never leaves half a file where an earlier one was. The system's error on failure.
DWORD WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    const std::wstring temp = path + L".tmp" + std::to_wstring(::GetCurrentProcessId());
    HANDLE file =
        ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return ::GetLastError();
    DWORD error = 0;
    for (size_t at = 0; at < bytes.size() && !error;) {
        DWORD wrote = 0;
        const DWORD chunk = DWORD(std::min<size_t>(bytes.size() - at, 1u << 20));
        if (!::WriteFile(file, bytes.data() + at, chunk, &wrote, nullptr) || wrote == 0)
            error = ::GetLastError() ? ::GetLastError() : ERROR_WRITE_FAULT;
        at += wrote;
    }
    if (!error && !::FlushFileBuffers(file)) error = ::GetLastError();
    ::CloseHandle(file);
    if (!error &&
        !::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = ::GetLastError();
    if (error) ::DeleteFileW(temp.c_str());
    return error;
}

}  // namespace

void CClearPreviewDlg::OnFile(const KivoCleanFile* file, void* context) noexcept {
    auto* search = static_cast<Search*>(context);
    try {
        editors::PreviewRow row{std::u16string(file->path, size_t(file->path_length)), file->size,
                                file->last_write};
        std::lock_guard lock(search->mutex);
        search->found.push_back(std::move(row));
        ++search->count;
    } catch (...) {
        // Out of memory: nothing may unwind into the engine; the search stops and says why.
        search->outOfMemory = true;  // read by the window only after the worker has ended
        ::InterlockedExchange(&search->cancel, 1);
    }
}

CClearPreviewDlg::CClearPreviewDlg() : CDialog(IDD_CLEAR_PREVIEW), m_hIcon(LoadAppIcon()) {}

CClearPreviewDlg::~CClearPreviewDlg() {
    // Only an end forced from outside gets here with a search running: stop it, and let the worker
    // finish on its own with the state it shares.
    if (m_search) ::InterlockedExchange(&m_search->cancel, 1);
    if (m_worker.joinable()) m_worker.detach();
    // A sort reads the rows: it ends in a moment, and before they go.
    if (m_sorter.joinable()) m_sorter.join();
}

BOOL CClearPreviewDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    fw::SetWindowIcon(m_hWnd, m_hIcon);
    m_nDpi = fw::WindowDpi(m_hWnd);
    m_list.Attach(GetDlgItem(IDC_PREVIEW_LIST));
    m_list.SetExtendedStyle(LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    RECT window;
    ::GetWindowRect(m_hWnd, &window);
    m_minSize = {window.right - window.left, window.bottom - window.top};
    RECT list;
    ::GetClientRect(m_list, &list);
    for (int i = 0; i < 3; ++i) {
        const int stored = get_sys_cfg_int(kSettingsSection, kColumnKeys[i]);
        const int width = stored > 0 ? fw::ScaleToDpi(stored, m_nDpi) : list.right * kColumnShares[i] / 100;
        m_list.InsertColumn(i, kHeadings[i], i == 1 ? LVCFMT_RIGHT : LVCFMT_LEFT, width);
    }
    RestoreSize();
    LayoutControls();
    StartSearch();
    return TRUE;
}

void CClearPreviewDlg::RestoreSize() {
    const int width = get_sys_cfg_int(kSettingsSection, kWidthKey);
    const int height = get_sys_cfg_int(kSettingsSection, kHeightKey);
    if (width <= 0 || height <= 0) return;
    // Never smaller than the template, never larger than the screen it is on.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &monitor);
    const RECT& work = monitor.rcWork;
    const int cx = std::clamp<int>(fw::ScaleToDpi(width, m_nDpi), m_minSize.cx,
                                   std::max<int>(m_minSize.cx, work.right - work.left));
    const int cy = std::clamp<int>(fw::ScaleToDpi(height, m_nDpi), m_minSize.cy,
                                   std::max<int>(m_minSize.cy, work.bottom - work.top));
    RECT now;
    ::GetWindowRect(m_hWnd, &now);
    // Grown about its centre, and kept on the screen.
    const int x = std::clamp<int>(now.left - (cx - m_minSize.cx) / 2, work.left,
                                  std::max<int>(work.left, work.right - cx));
    const int y = std::clamp<int>(now.top - (cy - m_minSize.cy) / 2, work.top,
                                  std::max<int>(work.top, work.bottom - cy));
    ::SetWindowPos(m_hWnd, nullptr, x, y, cx, cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void CClearPreviewDlg::SaveSize() {
    WINDOWPLACEMENT placement{};
    placement.length = sizeof placement;
    if (::GetWindowPlacement(m_hWnd, &placement)) {  // the size it has when not maximised
        const RECT& r = placement.rcNormalPosition;
        modify_sys_cfg_int(kSettingsSection, kWidthKey, fw::ScaleTo96(r.right - r.left, m_nDpi));
        modify_sys_cfg_int(kSettingsSection, kHeightKey, fw::ScaleTo96(r.bottom - r.top, m_nDpi));
    }
    for (int i = 0; i < 3; ++i)
        modify_sys_cfg_int(kSettingsSection, kColumnKeys[i], fw::ScaleTo96(m_list.GetColumnWidth(i), m_nDpi));
}

void CClearPreviewDlg::LayoutControls() {
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    RECT units{kMargin, kSummaryHeight, kGap, kButtonHeight};
    ::MapDialogRect(m_hWnd, &units);
    const int margin = units.left, summary = units.top, gap = units.right, buttonHeight = units.bottom;
    const int cx = client.right, cy = client.bottom;
    const int buttonTop = cy - margin - buttonHeight;
    const int listTop = margin + summary + gap;
    HDWP positions = ::BeginDeferWindowPos(2 + int(std::size(kButtons)));
    auto place = [&](int id, int x, int y, int w, int h) {
        if (positions)
            positions = ::DeferWindowPos(positions, GetDlgItem(id), nullptr, x, y, std::max(w, 0),
                                         std::max(h, 0), SWP_NOZORDER | SWP_NOACTIVATE);
    };
    place(IDC_PREVIEW_SUMMARY, margin, margin, cx - 2 * margin, summary);
    place(IDC_PREVIEW_LIST, margin, listTop, cx - 2 * margin, buttonTop - gap - listTop);
    int right = cx - margin;
    for (int i = int(std::size(kButtons)) - 1; i >= 0; --i) {
        RECT size{0, 0, kButtonWidths[i], kButtonGap};
        ::MapDialogRect(m_hWnd, &size);
        place(kButtons[i], right - size.right, buttonTop, size.right, buttonHeight);
        right -= size.right + size.bottom;
    }
    if (positions) ::EndDeferWindowPos(positions);
}

void CClearPreviewDlg::StartSearch() {
    m_search = std::make_shared<Search>();
    SetText(editors::SearchingCaption(0));
    const HWND self = m_hWnd;
    // If the thread cannot be had, the exception leaves the dialog's initialisation and it ends.
    m_worker = std::thread([search = m_search, self, id = m_nRuleId] {
        KivoCleanVerdict verdict{};
        const int result = kivo_preview_clear(id, &OnFile, search.get(), &search->cancel, &verdict);
        {
            std::lock_guard lock(search->mutex);
            search->result = result;
            search->verdict = verdict;
        }
        search->done = true;
        ::PostMessageW(self, WM_PREVIEW_DONE, 0, 0);
    });
    ::SetTimer(m_hWnd, kSearchTimer, kSearchPeriodMs, nullptr);
}

void CClearPreviewDlg::TakeFoundRows() {
    if (!m_search) return;
    std::vector<editors::PreviewRow> found;
    {
        std::lock_guard lock(m_search->mutex);
        found.swap(m_search->found);
    }
    if (found.empty()) return;
    if (m_rows.empty()) {
        m_rows = std::move(found);
    } else {
        m_rows.insert(m_rows.end(), std::make_move_iterator(found.begin()),
                      std::make_move_iterator(found.end()));
    }
    m_list.SetItemCountEx(int(m_rows.size()), LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
}

void CClearPreviewDlg::OnTimer(UINT_PTR id) {
    if (id != kSearchTimer || !m_search) return;
    if (m_search->done) return OnSearchDone();
    TakeFoundRows();
    const std::string caption = editors::SearchingCaption(m_search->count);
    if (caption == m_strShownCaption) return;
    m_strShownCaption = caption;
    SetText(caption);
}

void CClearPreviewDlg::OnSearchDone() {
    if (!m_search || !m_search->done) return;
    m_worker.join();
    ::KillTimer(m_hWnd, kSearchTimer);
    TakeFoundRows();
    const std::shared_ptr<Search> search = std::move(m_search);
    SetText(editors::PreviewCaption(m_strDescription));
    if (search->outOfMemory) {
        ShowEditorMessage(m_hWnd, "内存不足，无法列出全部文件。", editors::kErrorCaption);
        return End(IDCANCEL);
    }
    const editors::PreviewSummary summary = editors::SummarizePreview(search->result, search->verdict);
    SetItemText(IDC_PREVIEW_SUMMARY, summary.text);
    ShowItem(IDC_PREVIEW_LIST, summary.showList);
    if (m_nSortColumn >= 0) StartSort();
    m_nCleanFiles = summary.cleanFiles;
    EnableItem(IDC_PREVIEW_EXPORT, summary.showList && !m_rows.empty());
    EnableItem(IDC_PREVIEW_CLEAN, m_nCleanFiles > 0);
}

bool CClearPreviewDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (msg) {
        case WM_PREVIEW_DONE:
            OnSearchDone();
            *result = 0;
            return true;
        case WM_PREVIEW_SORTED:
            OnSorted();
            *result = 0;
            return true;
        case WM_SIZE:
            if (m_list.GetSafeHwnd()) LayoutControls();
            *result = 0;
            return true;
        case WM_GETMINMAXINFO:
            if (m_minSize.cx > 0) {
                auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
                info->ptMinTrackSize = {m_minSize.cx, m_minSize.cy};
            }
            *result = 0;
            return true;
        case WM_DPICHANGED: {
            const int dpi = HIWORD(wParam);
            if (dpi > 0 && dpi != m_nDpi) {
                for (int i = 0; i < 3; ++i)
                    m_list.SetColumnWidth(
                        i, fw::ScaleToDpi(fw::ScaleTo96(m_list.GetColumnWidth(i), m_nDpi), dpi));
                m_minSize = {fw::ScaleToDpi(fw::ScaleTo96(m_minSize.cx, m_nDpi), dpi),
                             fw::ScaleToDpi(fw::ScaleTo96(m_minSize.cy, m_nDpi), dpi)};
                m_nDpi = dpi;
            }
            return false;  // the dialog manager still moves and scales the window and its controls
        }
        default:
            return fw::AnswerIconMessage(m_hWnd, m_hIcon, msg, result);
    }
}

bool CClearPreviewDlg::OnNotify(NMHDR* header, LRESULT* result) {
    if (header->idFrom != IDC_PREVIEW_LIST) return false;
    switch (header->code) {
        case LVN_GETDISPINFOW: {
            auto* info = reinterpret_cast<NMLVDISPINFOW*>(header);
            const int row = info->item.iItem;
            if (row < 0 || size_t(row) >= m_rows.size()) return true;
            const editors::PreviewRow& r = m_rows[size_t(row)];
            switch (info->item.iSubItem) {
                case 0:
                    fw::ProvideItemText(info, Wide(r.path));
                    break;
                case 1:
                    fw::ProvideItemText(info, fw::WideFromGbk(editors::ReadableSize(r.size)));
                    break;
                default:
                    fw::ProvideItemText(info, fw::WideFromGbk(editors::LocalTimeText(LocalFromUtc(r.mtime))));
                    break;
            }
            *result = 0;
            return true;
        }
        case LVN_COLUMNCLICK:
            OnColumnClick(reinterpret_cast<NMLISTVIEW*>(header)->iSubItem);
            *result = 0;
            return true;
        default:
            return false;
    }
}

void CClearPreviewDlg::OnColumnClick(int column) {
    if (column < 0 || column > 2) return;
    m_bSortAscending = column == m_nSortColumn ? !m_bSortAscending : true;
    m_nSortColumn = column;
    m_list.SetSortArrow(column, m_bSortAscending ? 1 : -1);
    // While the engine still searches, the rows are sorted once it is done.
    if (!m_search) StartSort();
}

void CClearPreviewDlg::StartSort() {
    if (m_sorter.joinable()) {
        m_bSortAgain = true;  // by the newest choice, once this sort has landed
        return;
    }
    const HWND self = m_hWnd;
    m_sorter =
        std::thread([this, self, column = editors::PreviewColumn(m_nSortColumn), up = m_bSortAscending] {
            std::vector<uint32_t> order;
            try {
                order = editors::SortedOrder(m_rows, column, up);
            } catch (...) {
                // Out of memory: the rows stay as they are.
            }
            m_order = std::move(order);
            ::PostMessageW(self, WM_PREVIEW_SORTED, 0, 0);
        });
}

void CClearPreviewDlg::OnSorted() {
    if (!m_sorter.joinable()) return;
    m_sorter.join();
    if (m_order.size() == m_rows.size()) editors::ApplyOrder(m_rows, m_order);
    m_order = {};
    // A virtual list asks for the texts of the rows it paints: repainting is all it takes.
    ::InvalidateRect(m_list, nullptr, FALSE);
    if (m_bSortAgain) {
        m_bSortAgain = false;
        StartSort();
    }
}

bool CClearPreviewDlg::OnCommand(WORD code, WORD id, HWND) {
    if (code != BN_CLICKED) return false;
    switch (id) {
        case IDC_PREVIEW_EXPORT:
            return OnExport(), true;
        case IDC_PREVIEW_CLEAN:
            return OnCleanNow(), true;
        default:
            return false;
    }
}

void CClearPreviewDlg::OnCancel() {
    if (m_search) {
        // Stops the engine at its next file; the worker finishes on its own.
        ::InterlockedExchange(&m_search->cancel, 1);
        ::KillTimer(m_hWnd, kSearchTimer);
        m_search.reset();
        m_worker.detach();
    }
    End(IDCANCEL);
}

void CClearPreviewDlg::End(INT_PTR result) {
    if (m_sorter.joinable()) m_sorter.join();
    SaveSize();
    EndDialog(result);
}

void CClearPreviewDlg::OnExport() {
    if (m_search || m_rows.empty()) return;
    const std::wstring path = fw::TheServices().PickSaveFile(
        m_hWnd, L"CSV 文件 (*.csv)|*.csv|所有文件 (*.*)|*.*||", ExportName(m_strDescription), L"csv");
    if (path.empty()) return;
    const std::string csv = editors::PreviewCsv(m_rows, LocalFromUtc);
    if (const DWORD error = WriteWholeFile(path, csv)) {
        ShowEditorMessage(m_hWnd, "导出列表失败,错误代码:" + std::to_string(error), editors::kErrorCaption);
    }
}

void CClearPreviewDlg::OnCleanNow() {
    if (m_search || m_nCleanFiles == 0) return;
    if (fw::MessageBoxGbk(m_hWnd, editors::CleanNowQuestion(m_nCleanFiles), editors::kCleanNowCaption,
                          MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2) != IDYES)
        return;
    if (kivo_man_run(m_nRuleId) != 0) {
        ShowEditorMessage(m_hWnd, editors::kManualRunFailed, editors::kWarningCaption);
        return;
    }
    End(IDOK);
}
