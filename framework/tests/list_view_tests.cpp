#include <gtest/gtest.h>

#include <stdexcept>

#include "CListView.h"

namespace {

TEST(ListView, RedrawComesBackOnWhenABatchEndsByAnException) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&controls);
    HWND hwnd = ::CreateWindowExW(0, WC_LISTVIEWW, L"", WS_POPUP | WS_VISIBLE | LVS_REPORT, 0, 0, 300, 120,
                                  nullptr, nullptr, nullptr, nullptr);
    fw::CListView list;
    list.Attach(hwnd);
    list.InsertColumn(0, "内容", LVCFMT_LEFT, 200);
    // With redraw off a list keeps a stale scroll range: that is how a batch left open shows.
    auto scrollMax = [hwnd] {
        int low = 0, high = 0;
        ::GetScrollRange(hwnd, SB_VERT, &low, &high);
        return high;
    };
    int duringBatch = 0;
    try {
        fw::CRedrawOff batch(list);
        for (int i = 0; i < 40; ++i) list.InsertItem(i, "行");
        duringBatch = scrollMax();
        throw std::runtime_error("a row could not be built");
    } catch (const std::runtime_error&) {
    }
    EXPECT_LT(duringBatch, 39);
    EXPECT_EQ(scrollMax(), 39);
    ::DestroyWindow(hwnd);
}

}  // namespace
