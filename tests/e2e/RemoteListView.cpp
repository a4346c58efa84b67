#include "RemoteListView.h"

#include <commctrl.h>

#include "AppWindows.h"

namespace e2e {
namespace {

constexpr size_t kBufferSize = 64 * 1024;
constexpr size_t kTextOffset = 1024;  // the record sits first, the text behind it
constexpr int kTextChars = int((kBufferSize - kTextOffset) / sizeof(wchar_t));

}  // namespace

RemoteListView::RemoteListView(HANDLE process, HWND list) : m_hProcess(process), m_hList(list) {
    m_pRemote = static_cast<char*>(
        ::VirtualAllocEx(process, nullptr, kBufferSize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

RemoteListView::~RemoteListView() {
    if (m_pRemote) ::VirtualFreeEx(m_hProcess, m_pRemote, 0, MEM_RELEASE);
}

int RemoteListView::Count() const {
    return int(Send(m_hList, LVM_GETITEMCOUNT));
}

int RemoteListView::ColumnCount() const {
    HWND header = reinterpret_cast<HWND>(Send(m_hList, LVM_GETHEADER));
    return int(Send(header, HDM_GETITEMCOUNT));
}

std::wstring RemoteListView::Cell(int row, int column) const {
    if (!m_pRemote) return L"<no remote buffer>";
    LVITEMW item{};
    item.iSubItem = column;
    item.cchTextMax = kTextChars;
    item.pszText = reinterpret_cast<LPWSTR>(m_pRemote + kTextOffset);
    const wchar_t empty = 0;
    ::WriteProcessMemory(m_hProcess, m_pRemote + kTextOffset, &empty, sizeof empty, nullptr);
    ::WriteProcessMemory(m_hProcess, m_pRemote, &item, sizeof item, nullptr);
    const int length = int(Send(m_hList, LVM_GETITEMTEXTW, WPARAM(row), reinterpret_cast<LPARAM>(m_pRemote)));
    if (length <= 0) return L"";
    std::wstring text(size_t(length), L'\0');
    ::ReadProcessMemory(m_hProcess, m_pRemote + kTextOffset, text.data(), size_t(length) * sizeof(wchar_t),
                        nullptr);
    return text;
}

std::vector<std::wstring> RemoteListView::Row(int row) const {
    std::vector<std::wstring> cells;
    for (int column = 0, n = ColumnCount(); column < n; ++column) cells.push_back(Cell(row, column));
    return cells;
}

std::vector<std::wstring> RemoteListView::Column(int column) const {
    std::vector<std::wstring> cells;
    for (int row = 0, n = Count(); row < n; ++row) cells.push_back(Cell(row, column));
    return cells;
}

std::vector<int> RemoteListView::SelectedRows() const {
    std::vector<int> rows;
    for (int row = int(Send(m_hList, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED)); row >= 0;
         row = int(Send(m_hList, LVM_GETNEXTITEM, WPARAM(row), LVNI_SELECTED))) {
        rows.push_back(row);
    }
    return rows;
}

int RemoteListView::ColumnWidth(int column) const {
    return int(Send(m_hList, LVM_GETCOLUMNWIDTH, WPARAM(column)));
}

bool RemoteListView::SetColumnWidth(int column, int width) const {
    return Send(m_hList, LVM_SETCOLUMNWIDTH, WPARAM(column), MAKELPARAM(width, 0)) != 0;
}

RECT RemoteListView::RowRect(int row) const {
    RECT rect{LVIR_BOUNDS, 0, 0, 0};
    if (!m_pRemote) return {};
    ::WriteProcessMemory(m_hProcess, m_pRemote, &rect, sizeof rect, nullptr);
    if (!Send(m_hList, LVM_GETITEMRECT, WPARAM(row), reinterpret_cast<LPARAM>(m_pRemote))) return {};
    ::ReadProcessMemory(m_hProcess, m_pRemote, &rect, sizeof rect, nullptr);
    ::MapWindowPoints(m_hList, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

bool RemoteListView::RowFullyVisible(int row) const {
    RECT rowRect = RowRect(row), client;
    ::GetClientRect(m_hList, &client);
    ::MapWindowPoints(m_hList, nullptr, reinterpret_cast<POINT*>(&client), 2);
    return rowRect.bottom > rowRect.top && rowRect.top >= client.top && rowRect.bottom <= client.bottom;
}

}  // namespace e2e
