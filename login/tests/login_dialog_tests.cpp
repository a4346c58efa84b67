#include <gtest/gtest.h>

#include <filesystem>

#include "CLoginDlg.h"
#include "account_file.h"
#include "account_service.h"
#include "account_test_fakes.h"
#include "FakeLibraries.h"
#include "FakeServices.h"
#include "ModalDriver.h"
#include "account_api.h"
#include "resource.h"

using namespace testing_support;

namespace {

struct Attempt {
    std::wstring user, password;
    int result;
};

struct Seen {
    INT_PTR result = 0;
    std::vector<ShownMessage> messages;
    int focus = 0;
    DWORD selection = 0;
    DWORD whole = 0;  // what "select everything" gives for the focused field
};

class LoginDialog : public ::testing::Test {
  protected:
    void SetUp() override { ResetFakes(); }

    // Fills the fields, presses the login button, records what happened, then leaves with Esc
    // (or the dialog has ended by itself).
    Seen Try(const Attempt& attempt, bool useEnter = false) {
        Fakes().loginResult = attempt.result;
        CLoginDlg dialog;
        Seen seen;
        ModalDriver driver;
        driver
            .Then([&] {
                HWND hwnd = dialog.GetSafeHwnd();
                Type(hwnd, IDC_LOGIN_USER, attempt.user);
                Type(hwnd, IDC_LOGIN_PASSWORD, attempt.password);
                if (useEnter) {
                    PressKey(::GetDlgItem(hwnd, IDC_LOGIN_PASSWORD), VK_RETURN);
                } else {
                    Click(hwnd, IDC_LOGIN_BUTTON);
                }
            })
            .Then([&] {
                if (!dialog.GetSafeHwnd()) return;
                HWND focus = ::GetFocus();
                seen.focus = ::GetDlgCtrlID(focus);
                seen.selection = DWORD(::SendMessageW(focus, EM_GETSEL, 0, 0));
                ::SendMessageW(focus, EM_SETSEL, 0, -1);
                seen.whole = DWORD(::SendMessageW(focus, EM_GETSEL, 0, 0));
                PressKey(focus, VK_ESCAPE);
            });
        seen.result = driver.Run([&] { return dialog.DoModal(); });
        EXPECT_FALSE(driver.TimedOut());
        seen.messages = services.messages;
        services.messages.clear();
        return seen;
    }

    FakeServices services;
};

TEST_F(LoginDialog, EveryRefusalShowsItsMessageAndPlacesTheFocus) {
    struct Case {
        Attempt attempt;
        const char* message;
        int focus;
        bool selected;
        bool calledLogin;
    } cases[] = {
        {{L"", L"", 0}, "用户名不能为空.", IDC_LOGIN_USER, false, false},
        {{L"", L"pw", 0}, "用户名不能为空.", IDC_LOGIN_USER, false, false},
        {{L"op", L"", 0}, "密码不能为空.", IDC_LOGIN_PASSWORD, false, false},
        {{L"op", L"pw", ACCOUNT_E_UNKNOWN_USER}, "用户名错误.", IDC_LOGIN_USER, true, true},
        {{L"op", L"pw", ACCOUNT_E_WRONG_PASSWORD}, "登录密码错误.", IDC_LOGIN_PASSWORD, true, true},
        {{L"op", L"pw", 5}, "未知错误，请联系管理员.", IDC_LOGIN_USER, true, true},
        {{L"op", L"pw", -1}, "未知错误，请联系管理员.", IDC_LOGIN_USER, true, true},
        {{L"op", L"pw", ACCOUNT_E_RETIRED_LOCKED_OUT}, "未知错误，请联系管理员.", IDC_LOGIN_USER, true, true},
    };
    for (const Case& c : cases) {
        const size_t logins = Fakes().logins.size();
        Seen seen = Try(c.attempt);
        SCOPED_TRACE(c.message);
        EXPECT_EQ(seen.result, IDCANCEL);  // a refusal never closes the dialog; Esc did
        ASSERT_EQ(seen.messages.size(), 1u);
        EXPECT_EQ(seen.messages[0].text, c.message);
        EXPECT_EQ(seen.messages[0].caption, "登录失败");
        EXPECT_EQ(seen.messages[0].type, UINT(MB_OK | MB_ICONINFORMATION));
        EXPECT_NE(seen.messages[0].owner, nullptr);
        EXPECT_EQ(seen.focus, c.focus);
        if (c.selected) {
            EXPECT_EQ(seen.selection, seen.whole);
        }
        EXPECT_EQ(Fakes().logins.size(), logins + (c.calledLogin ? 1 : 0));
    }
}

TEST_F(LoginDialog, AcceptedLoginEndsWithOkAndPassesTextsUntrimmed) {
    Seen seen = Try({L"  操作员 ", L" 密 码 ", 0});
    EXPECT_EQ(seen.result, IDOK);
    EXPECT_TRUE(seen.messages.empty());
    ASSERT_EQ(Fakes().logins.size(), 1u);
    EXPECT_EQ(Fakes().logins[0].first, "  操作员 ");  // GBK, blanks kept
    EXPECT_EQ(Fakes().logins[0].second, " 密 码 ");
}

TEST_F(LoginDialog, EnterActsAsTheLoginButton) {
    Seen seen = Try({L"op", L"pw", 0}, /*useEnter=*/true);
    EXPECT_EQ(seen.result, IDOK);
    EXPECT_EQ(Fakes().logins.size(), 1u);
}

TEST_F(LoginDialog, TemplateTraitsTheAppReliesOn) {
    CLoginDlg dialog;
    LONG exStyle = 0, passwordStyle = 0;
    std::wstring caption;
    ModalDriver driver;
    driver.Then([&] {
        HWND hwnd = dialog.GetSafeHwnd();
        exStyle = ::GetWindowLongW(hwnd, GWL_EXSTYLE);
        passwordStyle = ::GetWindowLongW(::GetDlgItem(hwnd, IDC_LOGIN_PASSWORD), GWL_STYLE);
        caption = fw::GetWindowTextWide(hwnd);
        ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(driver.Run([&] { return dialog.DoModal(); }), IDCANCEL);
    EXPECT_TRUE(exStyle & WS_EX_APPWINDOW);
    EXPECT_TRUE(passwordStyle & ES_PASSWORD);
    EXPECT_EQ(caption, L"登录 - 任务计划管理");
    EXPECT_TRUE(Fakes().logins.empty());  // closing never asks the account library
}

// The account core behind the dialog, with a stand-in derivation that counts its calls: ten
// refusals in a row cost the eleventh attempt nothing beyond its own derivation.
TEST_F(LoginDialog, TenWrongPasswordsThenTheRightOneGetsInAtOnce) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / "login_dialog_ten_wrong";
    fs::remove_all(folder);
    fs::create_directories(folder);
    account::AccountFile file(folder / "accounts.dat");
    account::testing::FakeKdf kdf;
    account::testing::FakeClock clock;
    account::AccountService service(file, kdf, clock);
    ASSERT_EQ(service.Add("op", "right"), ACCOUNT_OK);
    kdf.calls.clear();
    Fakes().loginAnswer = [&](const char* user, const char* password) {
        return service.Login(user, password);
    };

    CLoginDlg dialog;
    ModalDriver driver;
    for (const wchar_t* password : {L"1", L"2", L"3", L"4", L"5", L"6", L"7", L"8", L"9", L"10", L"right"}) {
        driver.Then([&dialog, password] {
            HWND hwnd = dialog.GetSafeHwnd();
            Type(hwnd, IDC_LOGIN_USER, L"op");
            Type(hwnd, IDC_LOGIN_PASSWORD, password);
            Click(hwnd, IDC_LOGIN_BUTTON);
        });
    }
    EXPECT_EQ(driver.Run([&] { return dialog.DoModal(); }), IDOK);
    EXPECT_FALSE(driver.TimedOut());

    std::vector<std::string> texts;
    for (const ShownMessage& message : services.messages) texts.push_back(message.text);
    EXPECT_EQ(texts, std::vector<std::string>(10, "登录密码错误."));
    EXPECT_EQ(Fakes().logins.size(), 11u);
    EXPECT_EQ(kdf.calls.size(), 11u);  // one derivation per attempt, and no wait or refusal besides
    std::vector<account::AccountRecord> records;
    ASSERT_EQ(file.Load(records), account::LoadResult::Ok);
    EXPECT_EQ(records.at(0).failures, 0u);
    Fakes().loginAnswer = nullptr;  // the service goes out of scope here
    fs::remove_all(folder);
}

}  // namespace
