// Thin, non-owning list-view wrapper with GBK texts.
#pragma once

#include "CWnd.h"

namespace fw {

class CListView : public CWnd {
  public:
    int GetItemCount() const { return ListView_GetItemCount(m_hWnd); }
    int GetNextItem(int start, UINT flags) const { return ListView_GetNextItem(m_hWnd, start, flags); }
    bool DeleteItem(int row) const { return ListView_DeleteItem(m_hWnd, row) != FALSE; }
    bool DeleteAllItems() const { return ListView_DeleteAllItems(m_hWnd) != FALSE; }
    bool EnsureVisible(int row) const { return ListView_EnsureVisible(m_hWnd, row, FALSE) != FALSE; }
    int GetColumnWidth(int col) const { return ListView_GetColumnWidth(m_hWnd, col); }
    bool SetColumnWidth(int col, int width) const {
        return ListView_SetColumnWidth(m_hWnd, col, width) != FALSE;
    }
    DWORD GetExtendedStyle() const { return ListView_GetExtendedListViewStyle(m_hWnd); }
    void SetExtendedStyle(DWORD style) const { ListView_SetExtendedListViewStyle(m_hWnd, style); }
    UINT GetItemState(int row, UINT mask) const { return ListView_GetItemState(m_hWnd, row, mask); }
    void SetItemState(int row, UINT state, UINT mask) const {
        ListView_SetItemState(m_hWnd, row, state, mask);
    }
    int GetHeaderCount() const { return Header_GetItemCount(ListView_GetHeader(m_hWnd)); }
    bool GetSubItemRect(int row, int col, int area, RECT* rect) const {
        return ListView_GetSubItemRect(m_hWnd, row, col, area, rect) != FALSE;
    }
    void SetRedraw(bool redraw) const { ::SendMessageW(m_hWnd, WM_SETREDRAW, redraw, 0); }
    // A virtual list (LVS_OWNERDATA): the number of rows; the list asks for their texts itself.
    void SetItemCountEx(int count, DWORD flags) const { ListView_SetItemCountEx(m_hWnd, count, flags); }
    void RedrawItems(int first, int last) const { ListView_RedrawItems(m_hWnd, first, last); }
    // The sort arrow in a column's header: 1 up, -1 down, 0 none.
    void SetSortArrow(int col, int direction) const;

    int InsertColumn(int col, std::string_view headingGbk, int format, int width) const;
    int InsertItem(int row, std::string_view textGbk) const;
    bool SetItemText(int row, int col, std::string_view textGbk) const;
    std::string GetItemText(int row, int col) const;
    std::wstring GetItemTextWide(int row, int col) const;
};

// Answers a virtual list's request for a cell's text (LVN_GETDISPINFOW): copied into the list's own
// buffer, cut short rather than overrun.
void ProvideItemText(NMLVDISPINFOW* info, std::wstring_view text);

// Switches a list's redrawing off for a batch of changes and on again however the batch ends, an
// exception included: a list left with redraw off shows stale rows and a stale scroll range.
class CRedrawOff {
  public:
    explicit CRedrawOff(const CListView& list) : m_list(list) { m_list.SetRedraw(false); }
    ~CRedrawOff() { m_list.SetRedraw(true); }
    CRedrawOff(const CRedrawOff&) = delete;
    CRedrawOff& operator=(const CRedrawOff&) = delete;

  private:
    const CListView& m_list;
};

}  // namespace fw
