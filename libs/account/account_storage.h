// Where the account records live. AccountFile keeps them in the data folder; the service only
// sees this interface.
#pragma once

#include <memory>
#include <vector>

#include "account_record.h"

namespace account {

enum class LoadResult { Ok, Missing, Unreadable, Damaged };

class AccountStorage {
  public:
    // Held while a change is read, made and written, so that the app and the admin tool never
    // write over each other's change. Null when the lock could not be taken in time.
    class Lock {
      public:
        virtual ~Lock() = default;
    };

    virtual ~AccountStorage() = default;
    virtual std::unique_ptr<Lock> Acquire() = 0;
    // Missing leaves records empty: a store with no accounts yet.
    virtual LoadResult Load(std::vector<AccountRecord>& records) = 0;
    // All or nothing: on false the store holds exactly what it held before.
    virtual bool Save(const std::vector<AccountRecord>& records) = 0;
    virtual bool Exists() = 0;
};

}  // namespace account
