// Link-time stand-ins for the four libraries: test programs link these instead of the import
// libraries. Every call is recorded in order; answers come from the fields below.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine_api.h"

namespace testing_support {

struct FakeLibraries {
    std::vector<std::string> calls;  // function names in call order, e.g. "kivo_add_clear(0)"

    // Task engine
    std::vector<ClearRule> clearRules;
    std::vector<BackupRule> backupRules;
    std::optional<int> clearCountOverride;  // what the count call answers instead of clearRules.size()
    std::optional<int> backupCountOverride;
    int isRun = 0;
    int autoRunResult = 0;
    int manRunResult = 0;
    int verifyResult = 0;
    int addResult = 0;
    int updateResult = 0;
    int backupResult = 0;
    int restoreResult = 0;
    std::vector<ClearRule> addedClear, updatedClear;
    std::vector<BackupRule> addedBackup, updatedBackup;
    std::vector<std::pair<std::string, std::string>> backups, restores;  // GBK arguments
    KivoLogCallback logCallback = nullptr;
    void* logContext = nullptr;

    // Account
    int loginResult = 0;
    std::function<int(const char*, const char*)> loginAnswer;  // when set, answers instead of loginResult
    std::vector<std::pair<std::string, std::string>> logins;

    // Settings: "section/key" -> value; writes in order
    std::map<std::string, int> settings;
    std::vector<std::pair<std::string, int>> settingWrites;

    // System utility: GBK path -> attributes (missing: 0)
    std::map<std::string, int> attributes;
    std::vector<std::string> attributeQueries;
};

FakeLibraries& Fakes();
// Clears every record and answer.
void ResetFakes();

}  // namespace testing_support
