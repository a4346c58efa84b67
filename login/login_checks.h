// What the login dialog does with its inputs and with the account library's answer. Pure.
#pragma once

#include <optional>
#include <string_view>

struct LoginFault {
    const char* message;  // GBK; every login message is titled "登录失败"
    int focusId;          // the field that receives the focus
    bool select;          // whether its whole text is selected
};

constexpr const char* kLoginCaption = "登录失败";

// The first empty field, user name before password; nullopt when both are filled.
std::optional<LoginFault> CheckLoginFields(std::string_view user, std::string_view password);
// The reaction to login's result; nullopt for 0 (accepted).
std::optional<LoginFault> JudgeLoginResult(int result);
