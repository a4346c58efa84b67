// Shared by the Wine tests of plan_login.dll and plan_account.exe: a fresh data folder, and the
// store read back through the core.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "account_file.h"
#include "account_store_codec.h"

namespace account::testing {

// Points PLAN_DESK_HOME at an empty folder of the given name; returns its path.
inline std::wstring FreshDataFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder = std::wstring(temp) + name;
    for (const wchar_t* file : {L"\\accounts.dat", L"\\accounts.dat.tmp"})
        DeleteFileW((folder + file).c_str());
    CreateDirectoryW(folder.c_str(), nullptr);
    SetEnvironmentVariableW(L"PLAN_DESK_HOME", folder.c_str());
    return folder;
}

inline std::vector<AccountRecord> StoredRecords(const std::wstring& folder) {
    std::vector<AccountRecord> records;
    AccountFile(std::filesystem::path(folder) / L"accounts.dat").Load(records);
    return records;
}

}  // namespace account::testing
