#include <gtest/gtest.h>

#include "account_api.h"
#include "login_checks.h"
#include "resource.h"

namespace {

TEST(LoginChecks, EmptyNameIsReportedBeforeEmptyPassword) {
    auto both = CheckLoginFields("", "");
    ASSERT_TRUE(both);
    EXPECT_STREQ(both->message, "用户名不能为空.");
    EXPECT_EQ(both->focusId, IDC_LOGIN_USER);
    EXPECT_FALSE(both->select);
    auto password = CheckLoginFields(" ", "");
    ASSERT_TRUE(password);
    EXPECT_STREQ(password->message, "密码不能为空.");
    EXPECT_EQ(password->focusId, IDC_LOGIN_PASSWORD);
    EXPECT_FALSE(CheckLoginFields(" ", " "));  // blanks are text
}

TEST(LoginChecks, EveryResultHasItsReaction) {
    struct Case {
        int result;
        const char* message;
        int focus;
    } cases[] = {
        {ACCOUNT_E_UNKNOWN_USER, "用户名错误.", IDC_LOGIN_USER},
        {ACCOUNT_E_WRONG_PASSWORD, "登录密码错误.", IDC_LOGIN_PASSWORD},
        {5, "未知错误，请联系管理员.", IDC_LOGIN_USER},
        {-1, "未知错误，请联系管理员.", IDC_LOGIN_USER},
        {ACCOUNT_E_RETIRED_LOCKED_OUT, "未知错误，请联系管理员.", IDC_LOGIN_USER},
    };
    EXPECT_FALSE(JudgeLoginResult(0));
    for (const Case& c : cases) {
        auto fault = JudgeLoginResult(c.result);
        ASSERT_TRUE(fault) << c.result;
        EXPECT_STREQ(fault->message, c.message) << c.result;
        EXPECT_EQ(fault->focusId, c.focus) << c.result;
        EXPECT_TRUE(fault->select) << c.result;
    }
}

}  // namespace
