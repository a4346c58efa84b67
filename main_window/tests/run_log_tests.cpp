#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "log_lines.h"
#include "main_window_fixture.h"

using namespace testing_support;

namespace {

using RunLog = MainWindowTest;

// Delivers every queued engine line to the window, as its message loop would.
void DeliverLines(HWND window) {
    MSG msg;
    while (::PeekMessageW(&msg, window, WM_ENGINE_LOG, WM_ENGINE_LOG, PM_REMOVE)) ::DispatchMessageW(&msg);
}

TEST_F(RunLog, KeepsAtMost513RowsNewestLastAndVisible) {
    HWND hwnd = Open();
    for (int i = 0; i < 600; ++i) {
        EngineLogCallback(("line " + std::to_string(i)).c_str(), hwnd);
        DeliverLines(hwnd);
    }
    CMyListCtrl& log = window->m_lstLog;
    ASSERT_EQ(log.GetItemCount(), 513);
    EXPECT_EQ(log.GetItemText(0, 1), "line 87");
    EXPECT_EQ(log.GetItemText(512, 1), "line 599");
    const std::string stamp = log.GetItemText(512, 0);
    ASSERT_EQ(stamp.size(), 8u);  // HH:MM:SS
    EXPECT_EQ(stamp[2], ':');
    EXPECT_EQ(stamp[5], ':');
    RECT client, last;
    ::GetClientRect(log.GetSafeHwnd(), &client);
    ListView_GetItemRect(log.GetSafeHwnd(), 512, &last, LVIR_BOUNDS);
    EXPECT_LE(last.bottom, client.bottom);  // scrolled into view
    EXPECT_GE(last.top, 0);
}

// Where the newest row lies: empty when it is wholly inside the client area, below the header
// and above the horizontal scroll bar.
std::string NewestRowHidden(HWND list) {
    const int last = ListView_GetItemCount(list) - 1;
    RECT client, header, row;
    ::GetClientRect(list, &client);
    ::GetWindowRect(ListView_GetHeader(list), &header);
    ::MapWindowPoints(nullptr, list, reinterpret_cast<POINT*>(&header), 2);
    if (!ListView_GetItemRect(list, last, &row, LVIR_BOUNDS)) return "no row";
    if (row.top >= header.bottom && row.bottom <= client.bottom) return "";
    return "row " + std::to_string(last) + " at " + std::to_string(row.top) + ".." +
           std::to_string(row.bottom) + ", visible " + std::to_string(header.bottom) + ".." +
           std::to_string(client.bottom);
}

TEST_F(RunLog, NewestLineIsFullyVisibleAfterEveryBatchWhileTheLogGrows) {
    // One line at a time reaches every row count from 1 to past the cap; bursts of many lines
    // arrive between two wake-ups and are shown as one batch.
    const struct {
        const char* name;
        std::vector<int> batches;  // lines per batch, repeated until the log is past its cap
    } patterns[] = {
        {"single lines", {1}},
        {"bursts", {7, 1, 40, 2, 16, 17, 100, 3}},
    };
    for (const auto& pattern : patterns) {
        HWND hwnd = Open();
        ::ShowWindow(hwnd, SW_SHOW);
        HWND list = Item(IDC_LOG_LIST);
        int sent = 0;
        for (size_t b = 0; sent < kMaxLogRows + 20; ++b) {
            for (int i = pattern.batches[b % pattern.batches.size()]; i > 0; --i)
                EngineLogCallback(("line " + std::to_string(++sent)).c_str(), hwnd);
            DeliverLines(hwnd);
            ASSERT_EQ(window->m_lstLog.GetItemCount(), std::min(sent, kMaxLogRows)) << pattern.name;
            ASSERT_EQ(NewestRowHidden(list), "") << pattern.name << ", " << sent << " lines";
        }
    }
}

TEST_F(RunLog, EmptyLinesAddNothingAndPostNothing) {
    HWND hwnd = Open();
    ::PeekMessageW(nullptr, hwnd, WM_SHOW_LOGIN, WM_SHOW_LOGIN, PM_REMOVE);
    EngineLogCallback("", hwnd);
    EngineLogCallback(nullptr, hwnd);
    MSG msg;
    EXPECT_FALSE(::PeekMessageW(&msg, hwnd, WM_ENGINE_LOG, WM_ENGINE_LOG, PM_NOREMOVE));
    window->AppendLogLine("");
    window->AppendLogLine(nullptr);
    EXPECT_EQ(window->m_lstLog.GetItemCount(), 0);
}

TEST_F(RunLog, AmpersandAndLinesAreKeptUnchanged) {
    HWND hwnd = Open();
    EngineLogCallback("备份 A&B 完成", hwnd);
    DeliverLines(hwnd);
    EXPECT_EQ(window->m_lstLog.GetItemText(0, 1), "备份 A&B 完成");
}

TEST_F(RunLog, BurstFromAWorkerThreadLosesNothingBeforeTheCap) {
    HWND hwnd = Open();
    ::ShowWindow(hwnd, SW_SHOW);
    ::PeekMessageW(nullptr, hwnd, WM_SHOW_LOGIN, WM_SHOW_LOGIN, PM_REMOVE);
    constexpr int kLines = 50000;
    // Count every line that reaches the list: the list holds only the newest 513.
    std::thread producer([hwnd] {
        for (int i = 0; i < kLines; ++i) EngineLogCallback(("burst " + std::to_string(i)).c_str(), hwnd);
    });
    ModalDriver driver(60000);
    driver.Until([&] {
        return window->m_lstLog.GetItemCount() == 513 &&
               window->m_lstLog.GetItemText(512, 1) == "burst " + std::to_string(kLines - 1);
    });
    driver.Then([&] { window->EndModalLoop(0); });
    driver.Run([&] { return window->RunModalLoop(); });
    producer.join();
    ASSERT_FALSE(driver.TimedOut());
    for (int row = 0; row < 513; ++row) {
        ASSERT_EQ(window->m_lstLog.GetItemText(row, 1), "burst " + std::to_string(kLines - 513 + row)) << row;
    }
}

// Renders the list into a bitmap and reads the pixels of a row.
struct RowPixels {
    COLORREF background;
    bool hasColour(COLORREF colour) const { return found.count(colour) > 0; }
    std::set<COLORREF> found;
};

RowPixels ReadRow(HWND list, int row) {
    RECT client, bounds;
    ::GetClientRect(list, &client);
    ListView_GetItemRect(list, row, &bounds, LVIR_BOUNDS);
    HDC screen = ::GetDC(list);
    HDC memory = ::CreateCompatibleDC(screen);
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, client.right, client.bottom);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::SendMessageW(list, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT | PRF_ERASEBKGND);
    RowPixels pixels;
    pixels.background = ::GetPixel(memory, bounds.left + 2, bounds.top + 1);  // left of the text
    for (int y = bounds.top; y < bounds.bottom; ++y) {
        for (int x = bounds.left; x < std::min(bounds.right, client.right); ++x)
            pixels.found.insert(::GetPixel(memory, x, y));
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(list, screen);
    return pixels;
}

TEST_F(RunLog, AlertRowsRedOnGreyAndSelectedFocusedRowWhiteOnGreen) {
    HWND hwnd = Open();
    ::ShowWindow(hwnd, SW_SHOW);
    EngineLogCallback("规则 1 执行失败", hwnd);
    EngineLogCallback("规则 2 执行完成", hwnd);
    DeliverLines(hwnd);
    HWND list = Item(IDC_LOG_LIST);

    RowPixels alert = ReadRow(list, 0), plain = ReadRow(list, 1);
    EXPECT_EQ(alert.background, RGB(211, 211, 211));
    EXPECT_TRUE(alert.hasColour(RGB(255, 0, 0)));
    EXPECT_EQ(plain.background, RGB(211, 211, 211));
    EXPECT_FALSE(plain.hasColour(RGB(255, 0, 0)));
    EXPECT_TRUE(plain.hasColour(RGB(0, 0, 0)));

    window->m_lstLog.SetItemState(0, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    ::SetFocus(list);
    RowPixels selected = ReadRow(list, 0);
    EXPECT_EQ(selected.background, RGB(90, 162, 100));
    EXPECT_TRUE(selected.hasColour(RGB(255, 255, 255)));
    EXPECT_FALSE(selected.hasColour(RGB(255, 0, 0)));

    ::SetFocus(Item(IDC_AUTO_RUN));  // the focus leaves: back to grey with its keyword colour
    RowPixels unfocused = ReadRow(list, 0);
    EXPECT_EQ(unfocused.background, RGB(211, 211, 211));
    EXPECT_TRUE(unfocused.hasColour(RGB(255, 0, 0)));
}

TEST_F(RunLog, LinesAfterTheWindowIsGoneAreDroppedNotLeaked) {
    HWND hwnd = Open();
    window.reset();  // destroys the window
    EngineLogCallback("too late", hwnd);
    EngineLogCallback("still too late", hwnd);  // the first line's failed wake-up is retried
    HWND again = Open();
    EngineLogCallback("fresh", again);
    DeliverLines(again);
    ASSERT_EQ(window->m_lstLog.GetItemCount(), 1);  // the lines for the gone window never show up
    EXPECT_EQ(window->m_lstLog.GetItemText(0, 1), "fresh");
}

}  // namespace
