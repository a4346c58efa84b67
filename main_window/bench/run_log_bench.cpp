// Posts 100,000 run-log lines from a worker thread while a prober thread measures how long the
// user-interface thread takes to answer a sent message. Goal: the longest stall under 100 ms.
#include <windows.h>
#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "CPlanDeskDlg.h"
#include "resource.h"

using Clock = std::chrono::steady_clock;

int main() {
    INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
    ::InitCommonControlsEx(&controls);
    constexpr int kLines = 100000;
    CPlanDeskDlg window;
    window.Create(IDD_PLAN_DESK, nullptr);
    HWND hwnd = window.GetSafeHwnd();
    MSG msg;
    ::PeekMessageW(&msg, hwnd, WM_SHOW_LOGIN, WM_SHOW_LOGIN, PM_REMOVE);  // no login in the bench
    // Warm up: the first paint loads fonts, which is start-up work, not the log's.
    EngineLogCallback("warm-up 失败", hwnd);
    for (auto until = Clock::now() + std::chrono::milliseconds(500); Clock::now() < until;) {
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
        ::Sleep(10);
    }

    std::atomic<bool> done{false};
    std::atomic<long long> longestUs{0};
    std::thread prober([&] {
        while (!done) {
            auto start = Clock::now();
            DWORD_PTR ignored;
            ::SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
            long long us =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
            if (us > longestUs) longestUs = us;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    const auto start = Clock::now();
    std::thread producer([&] {
        for (int i = 0; i < kLines; ++i) EngineLogCallback(("line " + std::to_string(i)).c_str(), hwnd);
    });
    std::wstring last = L"line " + std::to_wstring(kLines - 1);
    while (true) {
        if (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
            continue;
        }
        if (window.m_lstLog.GetItemCount() == 513 && window.m_lstLog.GetItemTextWide(512, 1) == last) break;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    done = true;
    producer.join();
    prober.join();
    std::printf(
        "run log burst: %d lines shown in %.2f s; longest user-interface stall %.1f ms (goal < 100 ms)\n",
        kLines, seconds, double(longestUs) / 1000.0);
    return 0;
}
