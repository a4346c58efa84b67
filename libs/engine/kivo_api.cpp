// kivo.dll: the 19 C entry points over one Engine, and the ones added since (engine_api.h). Every
// entry point catches every exception.
#include <exception>
#include <memory>
#include <mutex>

#include "engine.h"
#include "engine_api.h"
#include "engine_thread.h"
#include "runner_options.h"
#include "shared_files.h"

namespace {

std::mutex g_lifecycle;  // kivo_init / kivo_deinit, one at a time
std::mutex g_mutex;      // the three below
// Deliberately never destroyed: a process that ends without kivo_deinit has had its engine threads
// killed already, and joining them from a static destructor could wait on a lock one of them held.
std::shared_ptr<kivo::Engine>& g_engine = *new std::shared_ptr<kivo::Engine>;
KivoLogCallback g_callback = nullptr;
void* g_context = nullptr;
KivoRunEventCallback g_eventCallback = nullptr;
void* g_eventContext = nullptr;

std::shared_ptr<kivo::Engine> Current() {
    std::lock_guard lock(g_mutex);
    return g_engine;
}

template <class F>
int Guard(F&& body) noexcept {
    return shared::CatchAll(KIVO_E_INTERNAL, body);
}

template <class F>
int WithEngine(F&& body) noexcept {
    return Guard([&] {
        auto engine = Current();
        return engine ? body(*engine) : int(KIVO_E_NOT_INITIALISED);
    });
}

// The list calls answer a count, and a caller takes any positive answer for one: without an
// engine, or on a fault inside it, there is nothing to list.
template <class F>
int CountOrZero(F&& body) noexcept {
    return shared::CatchAll(0, [&] {
        auto engine = Current();
        return engine ? body(*engine) : 0;
    });
}

}  // namespace

extern "C" {

int kivo_init(void) {
    return Guard([] {
        std::lock_guard lifecycle(g_lifecycle);
        if (Current()) return int(KIVO_OK);
        kivo::EngineOptions options;
        options.dataFolder = shared::DataFolder();
        options.makeRunner = [] { return kivo::MakeFileTaskRunner(); };
        auto engine = std::make_shared<kivo::Engine>(std::move(options));
        {
            std::lock_guard lock(g_mutex);
            engine->SetLogCallback(g_callback, g_context);
            engine->SetRunEventCallback(g_eventCallback, g_eventContext);
        }
        engine->Start();
        std::lock_guard lock(g_mutex);
        g_engine = std::move(engine);
        return int(KIVO_OK);
    });
}

int kivo_deinit(void) {
    return Guard([] {
        // The callback's thread is one that deinit waits for.
        if (kivo::OnEngineThread()) return int(KIVO_E_ENGINE_THREAD);
        std::lock_guard lifecycle(g_lifecycle);
        std::shared_ptr<kivo::Engine> engine;
        {
            std::lock_guard lock(g_mutex);
            engine.swap(g_engine);
        }
        if (!engine) return int(KIVO_E_NOT_INITIALISED);
        engine->Shutdown();
        return int(KIVO_OK);
    });
}

int kivo_regist_msg(KivoLogCallback callback, void* context) {
    return Guard([&] {
        std::lock_guard lock(g_mutex);
        g_callback = callback;
        g_context = context;
        if (g_engine) g_engine->SetLogCallback(callback, context);
        return int(KIVO_OK);
    });
}

int kivo_regist_run_event(KivoRunEventCallback callback, void* context) {
    return Guard([&] {
        std::lock_guard lock(g_mutex);
        g_eventCallback = callback;
        g_eventContext = context;
        if (g_engine) g_engine->SetRunEventCallback(callback, context);
        return int(KIVO_OK);
    });
}

int kivo_is_run(void) {
    // Not through Guard: a non-zero error code would read as "running".
    return shared::CatchAll(0, [] {
        auto engine = Current();
        return engine && engine->IsAutoRunning() ? 1 : 0;
    });
}

int kivo_auto_run(void) {
    return WithEngine([](kivo::Engine& e) { return e.AutoRun(); });
}
int kivo_stop_run(void) {
    return WithEngine([](kivo::Engine& e) { return e.StopRun(); });
}
int kivo_man_run(int rule_id) {
    return WithEngine([&](kivo::Engine& e) { return e.ManRun(rule_id); });
}
int kivo_enable_rule(int rule_id, int flag) {
    return WithEngine([&](kivo::Engine& e) { return e.EnableRule(rule_id, flag); });
}
int kivo_del_rule(int rule_id) {
    return WithEngine([&](kivo::Engine& e) { return e.DeleteRule(rule_id); });
}
int kivo_get_clear_list(ClearRule* array) {
    return CountOrZero([&](kivo::Engine& e) { return e.ClearList(array); });
}
int kivo_get_backup_list(BackupRule* array) {
    return CountOrZero([&](kivo::Engine& e) { return e.BackupList(array); });
}
int kivo_get_clear(int rule_id, ClearRule* out) {
    return WithEngine([&](kivo::Engine& e) { return e.GetClear(rule_id, out); });
}
int kivo_get_backup(int rule_id, BackupRule* out) {
    return WithEngine([&](kivo::Engine& e) { return e.GetBackup(rule_id, out); });
}
int kivo_add_clear(ClearRule* rule) {
    return WithEngine([&](kivo::Engine& e) { return e.AddClear(rule); });
}
int kivo_add_backup(BackupRule* rule) {
    return WithEngine([&](kivo::Engine& e) { return e.AddBackup(rule); });
}
int kivo_update_clear(const ClearRule* rule) {
    return WithEngine([&](kivo::Engine& e) { return e.UpdateClear(rule); });
}
int kivo_update_backup(const BackupRule* rule) {
    return WithEngine([&](kivo::Engine& e) { return e.UpdateBackup(rule); });
}
int kivo_backup(const char* source_folder, const char* backup_file) {
    return WithEngine([&](kivo::Engine& e) { return e.Backup(source_folder, backup_file); });
}
int kivo_restore(const char* backup_file, const char* target_folder) {
    return WithEngine([&](kivo::Engine& e) { return e.Restore(backup_file, target_folder); });
}
int kivo_verify_backup(int rule_id) {
    return WithEngine([&](kivo::Engine& e) { return e.VerifyBackup(rule_id); });
}

int kivo_preview_clear(int rule_id, KivoCleanFileCallback callback, void* context, const volatile long* cancel,
                       KivoCleanVerdict* verdict) {
    return WithEngine(
        [&](kivo::Engine& e) { return e.PreviewClear(rule_id, callback, context, cancel, verdict); });
}

}  // extern "C"
