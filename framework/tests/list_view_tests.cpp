#include <gtest/gtest.h>

#include <stdexcept>

#include "CListView.h"

namespace {

TEST(ListView, RedrawComesBackOnWhenABatchEndsByAnException) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    HWND parent = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 300, 200, nullptr,
                                    nullptr, nullptr, nullptr);
    HWND hwnd = ::CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | WS_VISIBLE | LVS_REPORT, 0, 0, 300, 120,
                                  parent, nullptr, nullptr, nullptr);
    ASSERT_TRUE(hwnd);
    fw::CListView list;
    list.Attach(hwnd);
    list.InsertColumn(0, "内容", LVCFMT_LEFT, 200);
    auto scrollRange = [hwnd] {
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_RANGE;
        return ::GetScrollInfo(hwnd, SB_VERT, &info) ? info.nMax : -1;
    };
    int rangeDuringBatch = 0;
    try {
        fw::CRedrawOff batch(list);
        for (int i = 0; i < 40; ++i) list.InsertItem(i, "行");
        rangeDuringBatch = scrollRange();
        throw std::runtime_error("a row could not be built");
    } catch (const std::runtime_error&) {
    }
    // With redraw off the list would keep its stale scroll range; it has caught up with its rows.
    EXPECT_LT(rangeDuringBatch, 39);
    EXPECT_EQ(scrollRange(), 39);
    ::DestroyWindow(parent);
}

}  // namespace
