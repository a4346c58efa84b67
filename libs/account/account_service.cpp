#include "account_service.h"

#include <algorithm>

#include "account_api.h"
#include "login_failures.h"

namespace account {
namespace {

// Returned by an Update change that leaves the store as it is; never an AccountResult.
constexpr int kNoChange = 1;

AccountRecord* Find(std::vector<AccountRecord>& records, std::string_view name) {
    for (AccountRecord& r : records) {
        if (r.name == name) return &r;
    }
    return nullptr;
}

}  // namespace

AccountService::AccountService(AccountStorage& storage, PasswordKdf& kdf, AccountClock& clock,
                               AccountOptions options)
    : m_storage(storage), m_kdf(kdf), m_clock(clock), m_options(options) {}

int AccountService::LoadLocked(std::vector<AccountRecord>& records) {
    switch (m_storage.Load(records)) {
        case LoadResult::Ok:
        case LoadResult::Missing:
            return ACCOUNT_OK;
        case LoadResult::Unreadable:
        case LoadResult::Damaged:
            break;
    }
    return ACCOUNT_E_STORE;
}

template <typename Change>
int AccountService::Update(Change change) {
    auto lock = m_storage.Acquire();
    if (!lock) return ACCOUNT_E_STORE;
    std::vector<AccountRecord> records;
    if (int loaded = LoadLocked(records); loaded != ACCOUNT_OK) return loaded;
    const int changed = change(records);
    if (changed == kNoChange) return ACCOUNT_OK;
    if (changed != ACCOUNT_OK) return changed;
    return m_storage.Save(records) ? ACCOUNT_OK : ACCOUNT_E_STORE;
}

int AccountService::Login(std::string_view name, std::string_view password) {
    AccountRecord snapshot;
    bool known = false;
    {
        auto lock = m_storage.Acquire();
        if (!lock) return ACCOUNT_E_STORE;
        std::vector<AccountRecord> records;
        if (int loaded = LoadLocked(records); loaded != ACCOUNT_OK) return loaded;
        if (AccountRecord* found = Find(records, name)) {
            snapshot = *found;
            known = true;
        }
    }

    std::string key;
    if (!known) {
        // The same work as for a real account, so that the time taken does not tell whether
        // the name exists.
        const std::string salt(kSaltBytes, '\0');
        if (!m_kdf.Derive(m_options.newAccountParams, password, salt, key)) return ACCOUNT_E_CRYPTO;
        return ACCOUNT_E_UNKNOWN_USER;
    }

    if (!m_kdf.Derive(snapshot.params, password, snapshot.salt, key)) return ACCOUNT_E_CRYPTO;
    const bool match = ConstantTimeEqual(key, snapshot.hash);

    int result = match ? ACCOUNT_OK : ACCOUNT_E_WRONG_PASSWORD;
    Update([&](std::vector<AccountRecord>& records) -> int {
        AccountRecord* current = Find(records, name);
        if (!current) {
            result = ACCOUNT_E_UNKNOWN_USER;  // removed while we were checking
            return kNoChange;
        }
        if (current->hash != snapshot.hash || current->salt != snapshot.salt) {
            // The password changed meanwhile: what was checked no longer counts, nor is it counted.
            result = ACCOUNT_E_WRONG_PASSWORD;
            return kNoChange;
        }
        if (match) return ClearFailures(*current) ? ACCOUNT_OK : kNoChange;
        CountFailure(*current, m_clock.NowMs());
        return ACCOUNT_OK;
    });
    // The count is a record for the administrator, never a gate: when it cannot be written, the
    // verdict on the password stands as it is, right or wrong.
    return result;
}

int AccountService::MakeRecord(std::string_view name, std::string_view password, AccountRecord& record) {
    if (!IsValidAccountName(name)) return ACCOUNT_E_BAD_NAME;
    if (password.empty()) return ACCOUNT_E_BAD_PASSWORD;
    record = AccountRecord();
    record.name = std::string(name);
    record.params = m_options.newAccountParams;
    if (!m_kdf.RandomBytes(kSaltBytes, record.salt)) return ACCOUNT_E_CRYPTO;
    if (!m_kdf.Derive(record.params, password, record.salt, record.hash)) return ACCOUNT_E_CRYPTO;
    return ACCOUNT_OK;
}

int AccountService::Add(std::string_view name, std::string_view password) {
    AccountRecord record;
    if (int made = MakeRecord(name, password, record); made != ACCOUNT_OK) return made;
    return Update([&](std::vector<AccountRecord>& records) -> int {
        if (Find(records, name)) return ACCOUNT_E_EXISTS;
        records.push_back(record);
        return ACCOUNT_OK;
    });
}

int AccountService::SetPassword(std::string_view name, std::string_view password) {
    AccountRecord record;
    if (int made = MakeRecord(name, password, record); made != ACCOUNT_OK) return made;
    return Update([&](std::vector<AccountRecord>& records) -> int {
        AccountRecord* current = Find(records, name);
        if (!current) return ACCOUNT_E_UNKNOWN_USER;
        *current = record;
        return ACCOUNT_OK;
    });
}

int AccountService::Remove(std::string_view name) {
    return Update([&](std::vector<AccountRecord>& records) -> int {
        auto it = std::find_if(records.begin(), records.end(),
                               [&](const AccountRecord& r) { return r.name == name; });
        if (it == records.end()) return ACCOUNT_E_UNKNOWN_USER;
        records.erase(it);
        return ACCOUNT_OK;
    });
}

int AccountService::ResetFailures(std::string_view name) {
    return Update([&](std::vector<AccountRecord>& records) -> int {
        AccountRecord* current = Find(records, name);
        if (!current) return ACCOUNT_E_UNKNOWN_USER;
        return ClearFailures(*current) ? ACCOUNT_OK : kNoChange;
    });
}

int AccountService::List(std::vector<AccountSummary>& accounts) {
    accounts.clear();
    auto lock = m_storage.Acquire();
    if (!lock) return ACCOUNT_E_STORE;
    std::vector<AccountRecord> records;
    if (int loaded = LoadLocked(records); loaded != ACCOUNT_OK) return loaded;
    for (const AccountRecord& r : records)
        accounts.push_back({r.name, r.params, r.failures, r.lastFailureMs});
    return ACCOUNT_OK;
}

}  // namespace account
