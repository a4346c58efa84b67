// The account store as a file ("accounts.dat" in the data folder), replaced atomically on every
// change and guarded by a lock that other processes (the admin tool) honour too.
#pragma once

#include <filesystem>

#include "account_storage.h"

namespace account {

class AccountFile : public AccountStorage {
  public:
    explicit AccountFile(std::filesystem::path path);

    static std::filesystem::path DefaultPath();  // <data folder>/accounts.dat

    std::unique_ptr<Lock> Acquire() override;
    LoadResult Load(std::vector<AccountRecord>& records) override;
    bool Save(const std::vector<AccountRecord>& records) override;
    bool Exists() override;

    const std::filesystem::path& Path() const { return m_path; }

  private:
    std::filesystem::path m_path;
};

}  // namespace account
