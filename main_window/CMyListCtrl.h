// The list control of the main window's three lists. Only the run-log list is owner-drawn:
// grey rows, red text for alert lines, white on green for the selected row while focused.
#pragma once

#include "CListView.h"

class CMyListCtrl : public fw::CListView {
  public:
    virtual ~CMyListCtrl() = default;
    virtual void DrawItem(DRAWITEMSTRUCT* item);
    virtual void MeasureItem(MEASUREITEMSTRUCT* item);
    // Makes the list ask its row height again (after a change of view or font).
    void RemeasureRows() const;

    // Fits one line of the 13-pixel run-log font with a small margin.
    int m_nRowHeight = 17;
    int m_nColumnCount = 0;
};
