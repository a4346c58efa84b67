#include <gtest/gtest.h>

#include <algorithm>

#include "CPlanDeskApp.h"
#include "CPlanDeskDlg.h"
#include "FakeLibraries.h"
#include "FakeServices.h"
#include "ModalDriver.h"
#include "TestSeams.h"
#include "resource.h"

using namespace testing_support;

namespace {

const wchar_t* kLogin = L"登录 - 任务计划管理";

std::vector<std::string> LibraryCalls() {
    // The start, stop and width calls, in order (run-time calls such as kivo_auto_run left out).
    std::vector<std::string> calls;
    for (const std::string& call : Fakes().calls) {
        if (call == "kivo_auto_run" || call == "kivo_regist_msg" || call == "login" ||
            call.find("_list(") != std::string::npos || call.rfind("kivo_regist_run_event", 0) == 0) {
            continue;
        }
        if (call == "modify_sys_cfg_int" && !calls.empty() && calls.back() == "modify_sys_cfg_int x19")
            continue;
        calls.push_back(call == "modify_sys_cfg_int" ? "modify_sys_cfg_int x19" : call);
    }
    return calls;
}

class Application : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFakes();
        ResetFirstTick();
    }
    FakeServices services;
};

TEST_F(Application, StartsTheLibrariesInOrderAndStopsThemInReverseAfterSavingWidths) {
    CPlanDeskApp app;
    ModalDriver driver;
    driver.Until([] { return FindDialog(kLogin) != nullptr; }).Then([] {
        Type(FindDialog(kLogin), IDC_LOGIN_USER, L"op");
        Type(FindDialog(kLogin), IDC_LOGIN_PASSWORD, L"pw");
        Click(FindDialog(kLogin), IDC_LOGIN_BUTTON);
    });
    driver
        .Until([] { return FindDialog(L"备份与清理计划 v1.0") != nullptr && FindDialog(kLogin) == nullptr; })
        .Then([] { ::PostMessageW(FindDialog(L"备份与清理计划 v1.0"), WM_CLOSE, 0, 0); });
    driver.Run([&] {
        app.RunMainWindow();
        return 0;
    });
    ASSERT_FALSE(driver.TimedOut());
    EXPECT_EQ(LibraryCalls(), (std::vector<std::string>{"settings_start", "account_start", "kivo_init",
                                                        "modify_sys_cfg_int x19", "kivo_deinit",
                                                        "account_stop", "settings_stop"}));
    EXPECT_EQ(Fakes().settingWrites.size(), 19u);
    EXPECT_EQ(std::count(Fakes().calls.begin(), Fakes().calls.end(), "kivo_regist_msg"), 1);
}

TEST_F(Application, LeavingTheLoginWithEscapeShutsEverythingDown) {
    CPlanDeskApp app;
    ModalDriver driver;
    driver.Until([] { return FindDialog(kLogin) != nullptr; }).Then([] {
        PressKey(::GetDlgItem(FindDialog(kLogin), IDC_LOGIN_PASSWORD), VK_ESCAPE);
    });
    driver.Run([&] {
        app.RunMainWindow();
        return 0;
    });
    ASSERT_FALSE(driver.TimedOut());
    EXPECT_EQ(LibraryCalls(), (std::vector<std::string>{"settings_start", "account_start", "kivo_init",
                                                        "modify_sys_cfg_int x19", "kivo_deinit",
                                                        "account_stop", "settings_stop"}));
    EXPECT_TRUE(Fakes().logins.empty());
}

}  // namespace
