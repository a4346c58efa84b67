// The real exe started in the background, as the logon start does: a rule that came due while the
// machine was off runs with no window shown; later starts find the running copy; the logon start's
// Run value is written and removed by /autostart.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "PlanDeskSession.h"
#include "resource.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

const wchar_t* kRunKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

std::optional<std::wstring> RunValue() {
    wchar_t value[2048] = {};
    DWORD bytes = sizeof value;
    if (::RegGetValueW(HKEY_CURRENT_USER, kRunKey, L"plan_desk", RRF_RT_REG_SZ, nullptr, value, &bytes) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return std::wstring(value);
}

TEST(BackgroundStart, AnOverdueRuleRunsUnseenAndLaterStartsFindTheRunningCopy) {
    PlanDeskSession s;
    ScratchFolder work(L"background");
    const fs::path watched = work.Path() / L"watched";
    WriteTree(work.Path(), {{L"watched/旧文件.tmp", "old"}});
    ASSERT_TRUE(WriteOverdueCleanRule(s.Home(), watched.wstring(), L"后台清理"));

    HWND notify = s.StartInBackground();
    ASSERT_NE(notify, nullptr);
    const DWORD pid = s.Pid();
    EXPECT_TRUE(VisibleWindowsOf(pid).empty());
    EXPECT_TRUE(WaitUntil([&] { return !fs::exists(watched / L"旧文件.tmp"); }, 20000))
        << "the overdue rule did not run";
    EXPECT_TRUE(VisibleWindowsOf(pid).empty()) << "the background copy showed a window";

    // A second background start ends at once and shows nothing.
    {
        AppSession second(s.Home(), false, L"/background");
        DWORD code = 1;
        ASSERT_TRUE(second.WaitForExit(5000, &code));
        EXPECT_EQ(code, 0u);
        EXPECT_TRUE(VisibleWindowsOf(second.Pid()).empty());
        EXPECT_TRUE(VisibleWindowsOf(pid).empty());
    }
    // A normal start opens the running copy's window, through its login, and ends.
    {
        AppSession second(s.Home());
        DWORD code = 1;
        ASSERT_TRUE(second.WaitForExit(5000, &code));
        EXPECT_EQ(code, 0u);
    }
    HWND login = WaitForDialog(pid, kLoginCaption);
    ASSERT_NE(login, nullptr) << "the running copy showed no login";
    HWND main = FindDialog(pid, kMainCaption);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(s.List(main, IDC_CLEAR_LIST).Count(), 0) << "the rules showed before the login";
    // The run log kept what was reported while nobody looked.
    EXPECT_TRUE(s.WaitForLogLine(main, L"清理规则 1「后台清理」开始补运行", true, 2000));

    main = s.LogIn(login);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(s.List(main, IDC_CLEAR_LIST).Column(1), std::vector<std::wstring>{L"后台清理"});
    // Closing a background copy's window hides it; the copy runs on.
    PressCloseBox(main);
    EXPECT_TRUE(WaitUntil([&] { return VisibleWindowsOf(pid).empty(); }, 5000));
    EXPECT_TRUE(s.App().Running());

    // Exit from the icon's menu asks first; No keeps it running, Yes ends it.
    ::PostMessageW(notify, WM_COMMAND, IDM_TRAY_EXIT, 0);
    MessageBoxView box = WaitForMessageBox(pid, kMainCaption);
    EXPECT_EQ(box.text, L"退出后，规则将不再按计划运行。确定退出吗？");
    EXPECT_EQ(box.buttons, (std::vector<int>{IDYES, IDNO}));
    ASSERT_TRUE(AnswerMessageBox(box, IDNO));
    EXPECT_TRUE(s.App().Running());
    ::PostMessageW(notify, WM_COMMAND, IDM_TRAY_EXIT, 0);
    box = WaitForMessageBox(pid, kMainCaption);
    ASSERT_TRUE(AnswerMessageBox(box, IDYES));
    DWORD code = 1;
    EXPECT_TRUE(s.App().WaitForExit(15000, &code));
    EXPECT_EQ(code, 0u);
}

class AutostartSwitch : public ::testing::Test {
  protected:
    // This prefix's own Run value: whatever a test leaves there would start the app at a logon.
    void TearDown() override { ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, L"plan_desk"); }
    ScratchFolder m_home{L"autostart"};
};

TEST_F(AutostartSwitch, OnAndOffWriteAndRemoveTheRunValueWithoutAWindowAndABadValueFails) {
    EXPECT_EQ(RunTool(L"plan_desk.exe", L"/autostart on /quiet", m_home.Wide(), ""), 0);
    EXPECT_EQ(RunValue(), L"\"" + BinFolder() + L"\\plan_desk.exe\" /background");
    EXPECT_EQ(RunTool(L"plan_desk.exe", L"-AUTOSTART OFF", m_home.Wide(), ""), 0);
    EXPECT_EQ(RunValue(), std::nullopt);
    EXPECT_EQ(RunTool(L"plan_desk.exe", L"/autostart sometimes /quiet", m_home.Wide(), ""), 1);

    // Without /quiet the reason is shown.
    AppSession app(m_home.Wide(), false, L"/autostart sometimes");
    MessageBoxView box = WaitForMessageBox(app.Pid(), L"错误");
    EXPECT_EQ(box.text, L"用法：plan_desk.exe /autostart on|off [/quiet]");
    ASSERT_TRUE(AnswerMessageBox(box, IDOK));
    DWORD code = 0;
    EXPECT_TRUE(app.WaitForExit(5000, &code));
    EXPECT_EQ(code, 1u);
    // Nothing of the app started: no data folder files.
    EXPECT_TRUE(ReadTree(m_home.Path()).empty());
}

}  // namespace
}  // namespace e2e
