#include "CMyListCtrl.h"

#include "log_lines.h"

namespace {

constexpr COLORREF kHighlightFill = RGB(90, 162, 100);
constexpr COLORREF kHighlightText = RGB(255, 255, 255);
constexpr COLORREF kRowFill = RGB(211, 211, 211);
constexpr COLORREF kAlertText = RGB(255, 0, 0);
constexpr COLORREF kRowText = RGB(0, 0, 0);

}  // namespace

void CMyListCtrl::MeasureItem(MEASUREITEMSTRUCT* item) {
    item->itemHeight = UINT(m_nRowHeight);
}

void CMyListCtrl::RemeasureRows() const {
    // A list asks for the height of owner-drawn rows when its size changes; a size change to
    // the same size is the documented way to make it ask again.
    RECT rect;
    ::GetWindowRect(m_hWnd, &rect);
    WINDOWPOS pos{};
    pos.hwnd = m_hWnd;
    pos.cx = rect.right - rect.left;
    pos.cy = rect.bottom - rect.top;
    pos.flags = SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOOWNERZORDER | SWP_NOZORDER;
    ::SendMessageW(m_hWnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
}

void CMyListCtrl::DrawItem(DRAWITEMSTRUCT* item) {
    const int row = int(item->itemID);
    HDC dc = item->hDC;
    const UINT state = GetItemState(row, LVIS_FOCUSED | LVIS_SELECTED);
    const bool highlighted =
        (state & LVIS_SELECTED) &&
        (::GetFocus() == m_hWnd || (::GetWindowLongW(m_hWnd, GWL_STYLE) & LVS_SHOWSELALWAYS));
    RECT rect = item->rcItem;
    ::SetBkMode(dc, TRANSPARENT);
    COLORREF fill = kRowFill;
    if (highlighted) {
        ::SetTextColor(dc, kHighlightText);
        fill = kHighlightFill;
    } else {
        ::SetTextColor(dc, HasAlertKeyword(GetItemText(row, 1)) ? kAlertText : kRowText);
    }
    HBRUSH brush = ::CreateSolidBrush(fill);
    ::FillRect(dc, &rect, brush);
    ::DeleteObject(brush);

    if (!(item->itemAction & ODA_DRAWENTIRE)) return;
    for (int column = 0; column < GetHeaderCount(); ++column) {
        RECT cell;
        if (!GetSubItemRect(row, column, LVIR_LABEL, &cell)) continue;
        std::wstring text = GetItemTextWide(row, column);
        cell.left += 5;
        cell.right -= 1;
        ::DrawTextW(dc, text.c_str(), int(text.size()), &cell,
                    DT_LEFT | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    }
}
