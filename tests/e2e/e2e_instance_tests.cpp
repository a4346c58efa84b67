// Single instance with real processes: a second copy brings the first one's window to the front
// and ends with 0 without starting a library; two copies started together leave exactly one.
#include <gtest/gtest.h>

#include "PlanDeskSession.h"
#include "resource.h"

namespace e2e {
namespace {

// A window of the driver's own, to take the foreground away from the app.
class ForegroundThief {
  public:
    ForegroundThief() {
        m_hWnd = ::CreateWindowExW(0, L"STATIC", L"driver", WS_POPUP | WS_VISIBLE, 900, 700, 200, 100,
                                   nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    }
    ~ForegroundThief() { ::DestroyWindow(m_hWnd); }
    bool Take() {
        ::SetForegroundWindow(m_hWnd);
        return WaitUntil(
            [&] {
                MSG msg;
                while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
                return ::GetForegroundWindow() == m_hWnd;
            },
            2000);
    }

  private:
    HWND m_hWnd;
};

// Starts a second copy and checks it ends with 0 within a few seconds, leaving the data untouched
// and the window to the front.
void ExpectSecondCopyRaises(PlanDeskSession& s, HWND window) {
    ForegroundThief thief;
    ASSERT_TRUE(thief.Take());
    ::Sleep(400);  // let the first copy's own start-up writes settle
    const FolderState before = ReadFolderState(s.Home());
    const DWORD started = ::GetTickCount();
    AppSession second(s.Home());
    ASSERT_TRUE(second.Started());
    DWORD code = 1;
    ASSERT_TRUE(second.WaitForExit(5000, &code)) << "the second copy is still running";
    EXPECT_EQ(code, 0u);
    EXPECT_LT(::GetTickCount() - started, 5000u);
    EXPECT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == window; }, 2000))
        << "the first copy's window was not brought to the front";
    EXPECT_TRUE(ReadFolderState(s.Home()) == before) << "the second copy changed the data folder";
}

TEST(SingleInstance, ASecondCopyRaisesTheLoginThenTheMainWindowAndEndsWithoutTouchingTheData) {
    PlanDeskSession s;
    HWND login = s.Start();
    ASSERT_NE(login, nullptr);
    ExpectSecondCopyRaises(s, login);
    HWND main = s.LogIn(login);
    ASSERT_NE(main, nullptr);
    ExpectSecondCopyRaises(s, main);
    EXPECT_EQ(TopLevelWindows(s.Pid()), std::vector<HWND>{main});
    EXPECT_TRUE(s.CloseApp(main));
}

TEST(SingleInstance, TwoCopiesStartedAtTheSameInstantLeaveExactlyOneRunning) {
    PlanDeskSession s;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        AppSession a(s.Home(), true), b(s.Home(), true);
        ASSERT_TRUE(a.Started() && b.Started());
        a.Resume();
        b.Resume();
        AppSession* copies[] = {&a, &b};
        DWORD code = 1;
        int ended = -1;
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (int i = 0; i < 2; ++i) {
                    if (copies[i]->WaitForExit(0, &code)) ended = i;
                }
                return ended >= 0;
            },
            10000))
            << "neither copy gave way";
        EXPECT_EQ(code, 0u);
        AppSession& survivor = *copies[1 - ended];
        HWND login = WaitForDialog(survivor.Pid(), kLoginCaption);
        ASSERT_NE(login, nullptr) << "the remaining copy shows no login";
        EXPECT_TRUE(survivor.Running());
        Click(login, IDCANCEL);
        EXPECT_TRUE(survivor.WaitForExit(10000, &code));
        EXPECT_EQ(code, 0u);
    }
}

}  // namespace
}  // namespace e2e
