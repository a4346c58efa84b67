// Accounts: checking a login, and the admin operations of plan_account.
// Every change reads the store, changes it and writes it back under the store's lock, so the
// app and the admin tool can work at the same time. Results are AccountResult codes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "account_clock.h"
#include "account_storage.h"
#include "password_kdf.h"

namespace account {

struct AccountOptions {
    KdfParams newAccountParams;  // for new accounts, new passwords and the unknown-name check
};

struct AccountSummary {
    std::string name;
    KdfParams params;
    uint32_t failures = 0;      // consecutive failed logins
    int64_t lastFailureMs = 0;  // Unix time in ms of the latest of them; 0 when none
};

class AccountService {
  public:
    AccountService(AccountStorage& storage, PasswordKdf& kdf, AccountClock& clock,
                   AccountOptions options = {});

    // One key derivation, never a wait, and never a refusal of the right password: failures are
    // counted, not held against the account.
    int Login(std::string_view name, std::string_view password);

    int Add(std::string_view name, std::string_view password);
    // Sets a new password with the current parameters and clears the failures.
    int SetPassword(std::string_view name, std::string_view password);
    int Remove(std::string_view name);
    // Clears the count of failed logins (what "plan_account unlock" does).
    int ResetFailures(std::string_view name);
    int List(std::vector<AccountSummary>& accounts);
    bool StoreExists() { return m_storage.Exists(); }

  private:
    int LoadLocked(std::vector<AccountRecord>& records);
    int MakeRecord(std::string_view name, std::string_view password, AccountRecord& record);
    // Read, change, write under the lock. change returns ACCOUNT_OK to have the records saved.
    template <typename Change>
    int Update(Change change);

    AccountStorage& m_storage;
    PasswordKdf& m_kdf;
    AccountClock& m_clock;
    AccountOptions m_options;
};

}  // namespace account
