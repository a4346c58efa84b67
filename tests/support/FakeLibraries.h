// Link-time stand-ins for the four libraries: test programs link these instead of the import
// libraries. Every call is recorded in order; answers come from the fields below.
#pragma once

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
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
    KivoRunEventCallback runEventCallback = nullptr;
    void* runEventContext = nullptr;
    // kivo_preview_clear, on the caller's thread: hands over previewFiles one by one, waiting
    // previewPauseMs before each, then answers previewResult with previewVerdict (its files and bytes
    // those handed over); KIVO_E_STOPPED as soon as the cancel flag is set, recorded as
    // "kivo_preview_clear stopped after N".
    struct PreviewFile {
        std::u16string path;
        unsigned long long size;
        long long lastWrite;
    };
    std::vector<PreviewFile> previewFiles;
    int previewPauseMs = 0;
    int previewResult = 0;
    KivoCleanVerdict previewVerdict{1, 0, 1, 0, 0, 0, 0, 0, ""};  // deletes now

    // Account
    int loginResult = 0;
    std::function<int(const char*, const char*)> loginAnswer;  // when set, answers instead of loginResult
    std::vector<std::pair<std::string, std::string>> logins;

    // Settings: "section/key" -> value; writes in order
    std::map<std::string, int> settings;
    std::vector<std::pair<std::string, int>> settingWrites;
    int settingWriteResult = 0;  // what modify_sys_cfg_int answers; the value is stored only on 0

    // System utility: GBK path -> attributes (missing: 0)
    std::map<std::string, int> attributes;
    std::vector<std::string> attributeQueries;
};

FakeLibraries& Fakes();
// How many kivo_preview_clear calls are still under way (a test waits for 0 before it resets).
int FakePreviewsRunning();
// Clears every record and answer, and opens the call gate.
void ResetFakes();

// Holds the fake kivo_backup and kivo_restore inside the call while closed, as a long engine call
// does, so that a test sees the caller while the call still runs. A call is let go after a few
// seconds in any case, so that a test that fails never hangs on it.
class CallGate {
  public:
    void Close();
    void Open();
    // A call is waiting at the closed gate.
    bool Holding() const;
    // The fakes' side: returns once the gate is open.
    void Pass();

  private:
    mutable std::mutex m_mutex;
    std::condition_variable m_opened;
    bool m_closed = false;
    int m_holding = 0;
};
CallGate& ManualCallGate();

}  // namespace testing_support
