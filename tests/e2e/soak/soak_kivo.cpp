// A stand-in kivo.dll for the soak test: automatic running reports finished runs as fast as the app
// takes them, one in four failed, in batches with a quiet second between them so that the driver
// can count what the app holds while nothing happens. Rules: none. Everything else answers as an
// engine with no rules does.
//
// PLAN_DESK_SOAK_RUNS (default 2000) runs in batches of PLAN_DESK_SOAK_BATCH (default 250). After
// each batch the run log gets "浸泡：第 N 批结束"; after the last one "浸泡：结束".
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>

#include "engine_api.h"

namespace {

std::mutex g_mutex;
std::condition_variable g_wake;
KivoLogCallback g_log = nullptr;
void* g_logContext = nullptr;
KivoRunEventCallback g_events = nullptr;
void* g_eventContext = nullptr;
bool g_running = false;
bool g_stopping = false;
std::thread g_thread;

int Setting(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

void Line(const std::string& text) {
    KivoLogCallback log;
    void* context;
    {
        std::lock_guard lock(g_mutex);
        log = g_log;
        context = g_logContext;
    }
    if (log) log(text.c_str(), context);
}

void Event(const KivoRunEvent& event) {
    KivoRunEventCallback callback;
    void* context;
    {
        std::lock_guard lock(g_mutex);
        callback = g_events;
        context = g_eventContext;
    }
    if (callback) callback(&event, context);
}

// Waits, or returns false at once when the engine stops.
bool Pause(std::chrono::milliseconds wait) {
    std::unique_lock lock(g_mutex);
    return !g_wake.wait_for(lock, wait, [] { return g_stopping; });
}

void Report() {
    const int runs = Setting("PLAN_DESK_SOAK_RUNS", 2000);
    const int batch = Setting("PLAN_DESK_SOAK_BATCH", 250);
    for (int i = 1; i <= runs; ++i) {
        const bool failed = i % 4 == 0;
        const int id = 1 + i % 7;
        const std::string rule = "清理规则 " + std::to_string(id) + "「浸泡」";
        Line(rule + "开始运行");
        const std::string end = rule + (failed ? "运行失败：第 " + std::to_string(i) + " 次，模拟的失败"
                                               : "运行完成：第 " + std::to_string(i) + " 次");
        Line(end);
        KivoRunEvent event{};
        event.size = sizeof event;
        event.rule_id = id;
        event.kind = KIVO_RULE_CLEAR;
        event.outcome = failed ? KIVO_RUN_FAILED : KIVO_RUN_SUCCEEDED;
        event.end_utc = int64_t(std::time(nullptr));
        WriteField(event.description, "浸泡");
        WriteField(event.end_line, end);
        Event(event);
        if (i % batch == 0 || i == runs) {
            Line("浸泡：第 " + std::to_string((i + batch - 1) / batch) + " 批结束");
            if (!Pause(std::chrono::milliseconds(1000))) return;
        } else if (!Pause(std::chrono::milliseconds(1))) {
            return;
        }
    }
    Line("浸泡：结束");
}

void StopThread() {
    {
        std::lock_guard lock(g_mutex);
        g_stopping = true;
    }
    g_wake.notify_all();
    if (g_thread.joinable()) g_thread.join();
}

}  // namespace

extern "C" {

int kivo_init(void) {
    return 0;
}
int kivo_deinit(void) {
    StopThread();
    return 0;
}
int kivo_regist_msg(KivoLogCallback callback, void* context) {
    std::lock_guard lock(g_mutex);
    g_log = callback;
    g_logContext = context;
    return 0;
}
int kivo_regist_run_event(KivoRunEventCallback callback, void* context) {
    std::lock_guard lock(g_mutex);
    g_events = callback;
    g_eventContext = context;
    return 0;
}
int kivo_is_run(void) {
    std::lock_guard lock(g_mutex);
    return g_running ? 1 : 0;
}
int kivo_auto_run(void) {
    std::lock_guard lock(g_mutex);
    if (g_running) return 0;
    g_running = true;
    g_thread = std::thread(Report);
    return 0;
}
int kivo_stop_run(void) {
    return 0;
}
int kivo_man_run(int) {
    return KIVO_E_UNKNOWN_RULE;
}
int kivo_enable_rule(int, int) {
    return KIVO_E_UNKNOWN_RULE;
}
int kivo_del_rule(int) {
    return KIVO_E_UNKNOWN_RULE;
}
int kivo_get_clear_list(ClearRule*) {
    return 0;
}
int kivo_get_backup_list(BackupRule*) {
    return 0;
}
int kivo_get_clear(int, ClearRule*) {
    return KIVO_E_UNKNOWN_RULE;
}
int kivo_get_backup(int, BackupRule*) {
    return KIVO_E_UNKNOWN_RULE;
}
int kivo_add_clear(ClearRule*) {
    return KIVO_E_NOT_AVAILABLE;
}
int kivo_add_backup(BackupRule*) {
    return KIVO_E_NOT_AVAILABLE;
}
int kivo_update_clear(const ClearRule*) {
    return KIVO_E_NOT_AVAILABLE;
}
int kivo_update_backup(const BackupRule*) {
    return KIVO_E_NOT_AVAILABLE;
}
int kivo_backup(const char*, const char*) {
    return KIVO_E_NOT_AVAILABLE;
}
int kivo_restore(const char*, const char*) {
    return KIVO_E_NOT_AVAILABLE;
}
int kivo_verify_backup(int) {
    return KIVO_E_NOT_AVAILABLE;
}
int kivo_preview_clear(int, KivoCleanFileCallback, void*, const volatile long*, KivoCleanVerdict*) {
    return KIVO_E_NOT_AVAILABLE;
}

}  // extern "C"
