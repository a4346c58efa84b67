// The login gate of the real app: every refusal with its message and focus, then success.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "PlanDeskSession.h"
#include "UserInput.h"
#include "resource.h"

namespace e2e {
namespace {

TEST(Login, RefusesEmptyFieldsAWrongNameAndAWrongPasswordThenLetsTheOperatorIn) {
    PlanDeskSession s;
    HWND login = s.Start();
    ASSERT_NE(login, nullptr);
    const std::wstring shots = ScreenshotFolder();
    const std::wstring locale = L"-acp" + std::to_wstring(::GetACP());
    SaveScreenshot(login, shots, L"login" + locale + L".png");
    const std::wstring failed = L"登录失败";

    // Both empty: the name is asked for first.
    Click(login, IDC_LOGIN_BUTTON);
    const MessageBoxView empty = WaitForMessageBox(s.Pid(), failed);
    SaveScreenshot(empty.window, shots, L"message-box" + locale + L".png");
    AnswerMessageBox(empty, IDOK);

    struct Case {
        std::wstring user, password, message;
        int focus;
        bool selected;
    };
    const Case cases[] = {
        {L"", L"", L"用户名不能为空.", IDC_LOGIN_USER, false},
        {kUser, L"", L"密码不能为空.", IDC_LOGIN_PASSWORD, false},
        {L"无此人", kPassword, L"用户名错误.", IDC_LOGIN_USER, true},
        // Blanks are part of the name: the library is asked for exactly what was typed.
        {L" " + kUser, kPassword, L"用户名错误.", IDC_LOGIN_USER, true},
        {kUser, L"Pass-口令-8", L"登录密码错误.", IDC_LOGIN_PASSWORD, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(U8(c.message));
        SetText(login, IDC_LOGIN_USER, c.user);
        SetText(login, IDC_LOGIN_PASSWORD, c.password);
        EXPECT_TRUE(s.SaveRefused(login, failed, c.message, c.focus, c.selected, IDC_LOGIN_BUTTON));
        // A refusal keeps the dialog open with the fields as they were.
        EXPECT_EQ(FindDialog(s.Pid(), kLoginCaption), login);
        EXPECT_EQ(U8(TextOf(login, IDC_LOGIN_USER)), U8(c.user));
    }

    // Enter in the password field acts as the login button.
    SetText(login, IDC_LOGIN_USER, kUser);
    SetText(login, IDC_LOGIN_PASSWORD, kPassword);
    ::SetForegroundWindow(login);
    ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == login; }, 2000));
    ASSERT_EQ(FocusOf(login), Control(login, IDC_LOGIN_PASSWORD));  // where the last refusal put it
    PressKey(VK_RETURN);
    ASSERT_TRUE(WaitForDialogGone(s.Pid(), kLoginCaption));
    HWND main = WaitForDialog(s.Pid(), kMainCaption);
    ASSERT_NE(main, nullptr);
    // Logged in with no rules yet: both lists empty, the engine running since the first tick.
    EXPECT_EQ(s.List(main, IDC_CLEAR_LIST).Count(), 0);
    EXPECT_EQ(s.List(main, IDC_BACKUP_LIST).Count(), 0);
    EXPECT_TRUE(s.RunButtonsShow(main, true));
    EXPECT_TRUE(s.WaitForLogLine(main, L"自动运行已启动"));

    // Enter, Esc and F1 in the main window do nothing.
    ::SetForegroundWindow(main);
    ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == main; }, 2000));
    // The keyboard reaches the window: Tab moves its focus.
    HWND before = FocusOf(main);
    PressKey(VK_TAB);
    ASSERT_TRUE(WaitUntil([&] { return FocusOf(main) != before; }, 2000)) << "the keys do not reach the app";
    for (WORD key : {VK_RETURN, VK_ESCAPE, VK_F1}) PressKey(key);
    ::Sleep(500);
    EXPECT_EQ(TopLevelWindows(s.Pid(), nullptr), std::vector<HWND>{main});
    EXPECT_TRUE(s.App().Running());
    EXPECT_TRUE(s.CloseApp(main));
}

TEST(Login, LeavingTheLoginEndsTheApplication) {
    PlanDeskSession s;
    HWND login = s.Start();
    ASSERT_NE(login, nullptr);
    // Esc leaves the login like its exit button, and with it the application.
    ::SetForegroundWindow(login);
    ASSERT_TRUE(WaitUntil([&] { return ::GetForegroundWindow() == login; }, 2000));
    PressKey(VK_ESCAPE);
    DWORD code = 1;
    EXPECT_TRUE(s.App().WaitForExit(10000, &code));
    EXPECT_EQ(code, 0u);
    // The close steps ran all the same: the settings library stored the 19 column widths.
    std::vector<std::string> keys;
    std::istringstream ini(ReadBytes(std::filesystem::path(s.Home()) / L"settings.ini"));
    for (std::string line; std::getline(ini, line);) {
        if (line.find('=') != std::string::npos) keys.push_back(line.substr(0, line.find('=')));
    }
    std::vector<std::string> expected{"loglst_1", "loglst_2"};
    for (int i = 1; i <= 10; ++i) expected.push_back("clearlst_" + std::to_string(i));
    for (int i = 1; i <= 7; ++i) expected.push_back("backuplst_" + std::to_string(i));
    EXPECT_EQ(keys, expected);
}

}  // namespace
}  // namespace e2e
