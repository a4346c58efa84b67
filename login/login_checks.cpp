#include "login_checks.h"

#include "account_api.h"
#include "resource.h"

std::optional<LoginFault> CheckLoginFields(std::string_view user, std::string_view password) {
    if (user.empty()) return LoginFault{"用户名不能为空.", IDC_LOGIN_USER, false};
    if (password.empty()) return LoginFault{"密码不能为空.", IDC_LOGIN_PASSWORD, false};
    return std::nullopt;
}

std::optional<LoginFault> JudgeLoginResult(int result) {
    switch (result) {
        case ACCOUNT_OK:
            return std::nullopt;
        case ACCOUNT_E_UNKNOWN_USER:
            return LoginFault{"用户名错误.", IDC_LOGIN_USER, true};
        case ACCOUNT_E_WRONG_PASSWORD:
            return LoginFault{"登录密码错误.", IDC_LOGIN_PASSWORD, true};
        default:
            return LoginFault{"未知错误，请联系管理员.", IDC_LOGIN_USER, true};
    }
}
