// The commands of plan_account, free of the console so they are tested natively. The program
// around it supplies the arguments (as GBK), the password source and the two output streams.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "account_service.h"

namespace account {

class PasswordSource {
  public:
    virtual ~PasswordSource() = default;
    // One password line without its line end; nullopt at the end of input or on a read error.
    virtual std::optional<std::string> Read(std::string_view prompt) = 0;
};

enum ToolExit : int {
    kExitOk = 0,
    kExitNoStore = 1,  // has-store: there is none
    kExitUsage = 2,
    kExitExists = 3,
    kExitNoSuchAccount = 4,
    kExitBadName = 5,
    kExitBadPassword = 6,  // empty, not repeated the same, or not given
    kExitStore = 7,
    kExitCrypto = 8,
    kExitInternal = 9,
};

class AccountTool {
  public:
    // How "list" writes the time of an account's last failed login (Unix ms).
    using TimeText = std::function<std::string(int64_t)>;

    AccountTool(AccountService& service, PasswordSource& passwords, std::ostream& out, std::ostream& err,
                TimeText timeText = LocalTimeText);
    // args: the words after the program name.
    int Run(const std::vector<std::string>& args);

    static const char* Usage();

  private:
    int Add(const std::string& name);
    int ChangePassword(const std::string& name);
    int Remove(const std::string& name);
    int ResetFailures(const std::string& name);
    int List();
    int HasStore();

    std::optional<std::string> ReadNewPassword();
    bool Exists(const std::string& name, int& exitCode);
    int Report(int result, const std::string& name);

    AccountService& m_service;
    PasswordSource& m_passwords;
    std::ostream& m_out;
    std::ostream& m_err;
    TimeText m_timeText;
};

}  // namespace account
