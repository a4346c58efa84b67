#include "FakeLibraries.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "account_api.h"
#include "settings_api.h"
#include "split_first.h"
#include "sysutil_api.h"

namespace testing_support {

FakeLibraries& Fakes() {
    static FakeLibraries fakes;
    return fakes;
}

void ResetFakes() {
    Fakes() = FakeLibraries{};
    ManualCallGate().Open();
}

void CallGate::Close() {
    std::lock_guard lock(m_mutex);
    m_closed = true;
}

void CallGate::Open() {
    std::lock_guard lock(m_mutex);
    m_closed = false;
    m_opened.notify_all();
}

bool CallGate::Holding() const {
    std::lock_guard lock(m_mutex);
    return m_holding > 0;
}

void CallGate::Pass() {
    std::unique_lock lock(m_mutex);
    ++m_holding;
    // Shorter than a ModalDriver's time-out, which can then end a dialog the call kept open.
    m_opened.wait_for(lock, std::chrono::seconds(8), [&] { return !m_closed; });
    --m_holding;
}

CallGate& ManualCallGate() {
    static CallGate gate;
    return gate;
}

namespace {
std::atomic<int> g_previewsRunning{0};
}

int FakePreviewsRunning() {
    return g_previewsRunning;
}

}  // namespace testing_support

using testing_support::Fakes;

namespace {

// The preview's call comes from the dialog's worker thread.
void Record(std::string call) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    Fakes().calls.push_back(std::move(call));
}
std::string WithId(const char* name, int id) {
    return std::string(name) + "(" + std::to_string(id) + ")";
}

template <typename Rule>
int List(const char* name, std::vector<Rule>& rules, std::optional<int> countOverride, Rule* array) {
    Record(std::string(name) + (array ? "(buffer)" : "(null)"));
    int count = countOverride.value_or(int(rules.size()));
    if (!array) return count;
    if (count > 0)
        std::memcpy(array, rules.data(), sizeof(Rule) * std::min<size_t>(size_t(count), rules.size()));
    return count;
}

template <typename Rule>
int Get(const char* name, std::vector<Rule>& rules, int id, Rule* out) {
    Record(WithId(name, id));
    for (const Rule& rule : rules) {
        if (rule.rule_id == id) {
            *out = rule;
            return 0;
        }
    }
    return KIVO_E_UNKNOWN_RULE;
}

}  // namespace

extern "C" {

int kivo_init(void) {
    return Record("kivo_init"), 0;
}
int kivo_deinit(void) {
    return Record("kivo_deinit"), 0;
}
int kivo_regist_msg(KivoLogCallback callback, void* context) {
    Record("kivo_regist_msg");
    Fakes().logCallback = callback;
    Fakes().logContext = context;
    return 0;
}
int kivo_regist_run_event(KivoRunEventCallback callback, void* context) {
    Record(callback ? "kivo_regist_run_event" : "kivo_regist_run_event(null)");
    Fakes().runEventCallback = callback;
    Fakes().runEventContext = context;
    return 0;
}
int kivo_is_run(void) {
    return Fakes().isRun;
}  // polled every 200 ms: not recorded
int kivo_auto_run(void) {
    return Record("kivo_auto_run"), Fakes().autoRunResult;
}
int kivo_stop_run(void) {
    return Record("kivo_stop_run"), 0;
}
int kivo_man_run(int id) {
    return Record(WithId("kivo_man_run", id)), Fakes().manRunResult;
}
int kivo_enable_rule(int id, int flag) {
    Record("kivo_enable_rule(" + std::to_string(id) + "," + std::to_string(flag) + ")");
    return 0;
}
int kivo_del_rule(int id) {
    return Record(WithId("kivo_del_rule", id)), 0;
}
int kivo_get_clear_list(ClearRule* array) {
    return List("kivo_get_clear_list", Fakes().clearRules, Fakes().clearCountOverride, array);
}
int kivo_get_backup_list(BackupRule* array) {
    return List("kivo_get_backup_list", Fakes().backupRules, Fakes().backupCountOverride, array);
}
int kivo_get_clear(int id, ClearRule* out) {
    return Get("kivo_get_clear", Fakes().clearRules, id, out);
}
int kivo_get_backup(int id, BackupRule* out) {
    return Get("kivo_get_backup", Fakes().backupRules, id, out);
}
int kivo_add_clear(ClearRule* rule) {
    Record("kivo_add_clear");
    Fakes().addedClear.push_back(*rule);
    return Fakes().addResult;
}
int kivo_add_backup(BackupRule* rule) {
    Record("kivo_add_backup");
    Fakes().addedBackup.push_back(*rule);
    return Fakes().addResult;
}
int kivo_update_clear(const ClearRule* rule) {
    Record("kivo_update_clear");
    Fakes().updatedClear.push_back(*rule);
    return Fakes().updateResult;
}
int kivo_update_backup(const BackupRule* rule) {
    Record("kivo_update_backup");
    Fakes().updatedBackup.push_back(*rule);
    return Fakes().updateResult;
}
int kivo_backup(const char* folder, const char* file) {
    Record("kivo_backup");
    Fakes().backups.emplace_back(folder, file);
    testing_support::ManualCallGate().Pass();
    return Fakes().backupResult;
}
int kivo_preview_clear(int id, KivoCleanFileCallback callback, void* context, const volatile long* cancel,
                       KivoCleanVerdict* verdict) {
    ++testing_support::g_previewsRunning;
    Record(WithId("kivo_preview_clear", id));
    // A copy: the test's fakes may be read by the window meanwhile, never written.
    const auto files = Fakes().previewFiles;
    const int pause = Fakes().previewPauseMs;
    *verdict = Fakes().previewVerdict;
    int result = Fakes().previewResult;
    verdict->files = verdict->bytes = 0;
    for (const auto& f : files) {
        if (pause) std::this_thread::sleep_for(std::chrono::milliseconds(pause));
        if (cancel && *cancel) {
            result = KIVO_E_STOPPED;
            Record("kivo_preview_clear stopped after " + std::to_string(verdict->files));
            break;
        }
        const KivoCleanFile file{f.path.c_str(), int(f.path.size()), f.size, f.lastWrite};
        callback(&file, context);
        ++verdict->files;
        verdict->bytes += f.size;
    }
    --testing_support::g_previewsRunning;
    return result;
}

int kivo_restore(const char* file, const char* folder) {
    Record("kivo_restore");
    Fakes().restores.emplace_back(file, folder);
    testing_support::ManualCallGate().Pass();
    return Fakes().restoreResult;
}
int kivo_verify_backup(int id) {
    return Record(WithId("kivo_verify_backup", id)), Fakes().verifyResult;
}

int account_start(void) {
    return Record("account_start"), 0;
}
int account_stop(void) {
    return Record("account_stop"), 0;
}
int login(const char* user, const char* password) {
    Record("login");
    Fakes().logins.emplace_back(user, password);
    return Fakes().loginAnswer ? Fakes().loginAnswer(user, password) : Fakes().loginResult;
}

int settings_start(void) {
    return Record("settings_start"), 0;
}
int settings_stop(void) {
    return Record("settings_stop"), 0;
}
int get_sys_cfg_int(const char* section, const char* key) {
    auto it = Fakes().settings.find(std::string(section) + "/" + key);
    return it == Fakes().settings.end() ? 0 : it->second;
}
int modify_sys_cfg_int(const char* section, const char* key, int value) {
    Record("modify_sys_cfg_int");
    std::string name = std::string(section) + "/" + key;
    if (Fakes().settingWriteResult != 0) return Fakes().settingWriteResult;
    Fakes().settings[name] = value;
    Fakes().settingWrites.emplace_back(name, value);
    return 0;
}

// The real splitting: the row texts are compared byte for byte.
char* sys_strtok(char* text, const char* delimiters, char** rest) {
    return sysutil::SplitFirst(text, delimiters, rest);
}

int sys_GetFileAttribute(const char* path) {
    Fakes().attributeQueries.push_back(path);
    auto it = Fakes().attributes.find(path);
    return it == Fakes().attributes.end() ? SYS_NO_ATTRIBUTES : it->second;
}

}  // extern "C"
