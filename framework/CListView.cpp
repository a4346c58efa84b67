#include "CListView.h"

#include <algorithm>
#include <iterator>
#include <vector>

namespace fw {

int CListView::InsertColumn(int col, std::string_view headingGbk, int format, int width) const {
    std::wstring text = WideFromGbk(headingGbk);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
    column.fmt = format;
    column.cx = width;
    column.pszText = text.data();
    column.iSubItem = col;
    return int(::SendMessageW(m_hWnd, LVM_INSERTCOLUMNW, col, reinterpret_cast<LPARAM>(&column)));
}

namespace {

// Cells are short; converting into a stack buffer keeps a fill of thousands of rows free of
// allocations.
class CellText {
  public:
    explicit CellText(std::string_view gbk) {
        if (gbk.size() < std::size(m_buffer)) {
            int n = WideFromGbkInto(gbk, m_buffer, int(std::size(m_buffer)) - 1);
            m_buffer[n] = L'\0';
            m_text = m_buffer;
        } else {
            m_long = WideFromGbk(gbk);
            m_text = m_long.data();
        }
    }
    wchar_t* get() { return m_text; }

  private:
    wchar_t m_buffer[260];
    std::wstring m_long;
    wchar_t* m_text;
};

}  // namespace

int CListView::InsertItem(int row, std::string_view textGbk) const {
    CellText text(textGbk);
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row;
    item.pszText = text.get();
    return int(::SendMessageW(m_hWnd, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

bool CListView::SetItemText(int row, int col, std::string_view textGbk) const {
    CellText text(textGbk);
    LVITEMW item{};
    item.iSubItem = col;
    item.pszText = text.get();
    return ::SendMessageW(m_hWnd, LVM_SETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)) != FALSE;
}

void CListView::SetSortArrow(int col, int direction) const {
    HWND header = ListView_GetHeader(m_hWnd);
    for (int i = 0; i < Header_GetItemCount(header); ++i) {
        HDITEMW item{};
        item.mask = HDI_FORMAT;
        if (!::SendMessageW(header, HDM_GETITEMW, i, reinterpret_cast<LPARAM>(&item))) continue;
        item.fmt &= ~(HDF_SORTUP | HDF_SORTDOWN);
        if (i == col && direction) item.fmt |= direction > 0 ? HDF_SORTUP : HDF_SORTDOWN;
        ::SendMessageW(header, HDM_SETITEMW, i, reinterpret_cast<LPARAM>(&item));
    }
}

void ProvideItemText(NMLVDISPINFOW* info, std::wstring_view text) {
    if (!(info->item.mask & LVIF_TEXT) || !info->item.pszText || info->item.cchTextMax <= 0) return;
    const size_t n = std::min(text.size(), size_t(info->item.cchTextMax) - 1);
    text.copy(info->item.pszText, n);
    info->item.pszText[n] = L'\0';
}

std::string CListView::GetItemText(int row, int col) const {
    return GbkFromWide(GetItemTextWide(row, col));
}

std::wstring CListView::GetItemTextWide(int row, int col) const {
    std::vector<wchar_t> buffer(256);
    for (;;) {
        LVITEMW item{};
        item.iSubItem = col;
        item.pszText = buffer.data();
        item.cchTextMax = int(buffer.size());
        int n = int(::SendMessageW(m_hWnd, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item)));
        if (n < int(buffer.size()) - 1) return std::wstring(buffer.data(), size_t(n));
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace fw
