#include "account_tool.h"

#include <utility>

#include "account_api.h"

namespace account {

AccountTool::AccountTool(AccountService& service, PasswordSource& passwords, std::ostream& out,
                         std::ostream& err, TimeText timeText)
    : m_service(service), m_passwords(passwords), m_out(out), m_err(err), m_timeText(std::move(timeText)) {}

const char* AccountTool::Usage() {
    return "usage: plan_account COMMAND\n"
           "  add NAME      create an account; its password is read twice from standard input\n"
           "  passwd NAME   set a new password (read twice) and clear the failed logins\n"
           "  remove NAME   delete an account\n"
           "  unlock NAME   clear the count of failed logins (no account is ever locked)\n"
           "  list          show the accounts: name, key derivation, failed logins and the last one\n"
           "  has-store     exit 0 when an account store exists, 1 otherwise\n"
           "The store is accounts.dat in the data folder: PLAN_DESK_HOME, else %LOCALAPPDATA%\\plan_desk.\n"
           "Exit codes: 0 done, 1 no store (has-store), 2 usage, 3 account exists, 4 no such account,\n"
           "5 bad name, 6 password refused, 7 store unreadable or damaged, 8 key derivation failed.\n";
}

int AccountTool::Run(const std::vector<std::string>& args) {
    if (args.size() == 1 && (args[0] == "help" || args[0] == "--help" || args[0] == "-h")) {
        m_out << Usage();
        return kExitOk;
    }
    const std::string command = args.empty() ? "" : args[0];
    if (args.size() == 2) {
        if (command == "add") return Add(args[1]);
        if (command == "passwd") return ChangePassword(args[1]);
        if (command == "remove") return Remove(args[1]);
        if (command == "unlock") return ResetFailures(args[1]);
    } else if (args.size() == 1) {
        if (command == "list") return List();
        if (command == "has-store") return HasStore();
    }
    m_err << Usage();
    return kExitUsage;
}

int AccountTool::Report(int result, const std::string& name) {
    switch (result) {
        case ACCOUNT_OK:
            return kExitOk;
        case ACCOUNT_E_EXISTS:
            m_err << "plan_account: account '" << name << "' already exists\n";
            return kExitExists;
        case ACCOUNT_E_UNKNOWN_USER:
            m_err << "plan_account: no account named '" << name << "'\n";
            return kExitNoSuchAccount;
        case ACCOUNT_E_BAD_NAME:
            m_err << "plan_account: an account name has 1 to 31 bytes and no control characters\n";
            return kExitBadName;
        case ACCOUNT_E_BAD_PASSWORD:
            m_err << "plan_account: the password must not be empty\n";
            return kExitBadPassword;
        case ACCOUNT_E_STORE:
            m_err << "plan_account: the account store cannot be read, is damaged, or cannot be written; "
                     "it was left as it was\n";
            return kExitStore;
        case ACCOUNT_E_CRYPTO:
            m_err << "plan_account: the key derivation failed\n";
            return kExitCrypto;
        default:
            m_err << "plan_account: unexpected failure " << result << "\n";
            return kExitInternal;
    }
}

bool AccountTool::Exists(const std::string& name, int& exitCode) {
    std::vector<AccountSummary> accounts;
    if (int listed = m_service.List(accounts); listed != ACCOUNT_OK) {
        exitCode = Report(listed, name);
        return false;
    }
    for (const auto& a : accounts) {
        if (a.name == name) return true;
    }
    return false;
}

std::optional<std::string> AccountTool::ReadNewPassword() {
    auto first = m_passwords.Read("Password: ");
    if (!first) {
        m_err << "plan_account: no password was given on standard input\n";
        return std::nullopt;
    }
    if (first->empty()) {
        m_err << "plan_account: the password must not be empty\n";
        return std::nullopt;
    }
    auto second = m_passwords.Read("Repeat the password: ");
    if (!second) {
        m_err << "plan_account: the password was not repeated on standard input\n";
        return std::nullopt;
    }
    if (*second != *first) {
        m_err << "plan_account: the two passwords differ\n";
        return std::nullopt;
    }
    return first;
}

int AccountTool::Add(const std::string& name) {
    if (!IsValidAccountName(name)) return Report(ACCOUNT_E_BAD_NAME, name);
    int exitCode = kExitOk;
    const bool exists = Exists(name, exitCode);
    if (exitCode != kExitOk) return exitCode;
    if (exists) return Report(ACCOUNT_E_EXISTS, name);
    const auto password = ReadNewPassword();
    if (!password) return kExitBadPassword;
    if (int result = m_service.Add(name, *password); result != ACCOUNT_OK) return Report(result, name);
    m_out << "account '" << name << "' added\n";
    return kExitOk;
}

int AccountTool::ChangePassword(const std::string& name) {
    int exitCode = kExitOk;
    const bool exists = Exists(name, exitCode);
    if (exitCode != kExitOk) return exitCode;
    if (!exists) return Report(ACCOUNT_E_UNKNOWN_USER, name);
    const auto password = ReadNewPassword();
    if (!password) return kExitBadPassword;
    if (int result = m_service.SetPassword(name, *password); result != ACCOUNT_OK)
        return Report(result, name);
    m_out << "password of '" << name << "' changed\n";
    return kExitOk;
}

int AccountTool::Remove(const std::string& name) {
    if (int result = m_service.Remove(name); result != ACCOUNT_OK) return Report(result, name);
    m_out << "account '" << name << "' removed\n";
    return kExitOk;
}

int AccountTool::ResetFailures(const std::string& name) {
    if (int result = m_service.ResetFailures(name); result != ACCOUNT_OK) return Report(result, name);
    m_out << "failed logins of '" << name << "' cleared\n";
    return kExitOk;
}

int AccountTool::List() {
    std::vector<AccountSummary> accounts;
    if (int result = m_service.List(accounts); result != ACCOUNT_OK) return Report(result, "");
    for (const auto& a : accounts) {
        m_out << a.name << "\t" << kPbkdf2Sha256 << " " << a.params.iterations << "\tfailed logins "
              << a.failures;
        if (a.failures > 0 && a.lastFailureMs != 0) m_out << "\tlast failure " << m_timeText(a.lastFailureMs);
        m_out << "\n";
    }
    return kExitOk;
}

int AccountTool::HasStore() {
    return m_service.StoreExists() ? kExitOk : kExitNoStore;
}

}  // namespace account
