// The task engine: the rule set and its file, automatic running, runs on worker threads, the run
// log and, while this engine holds the data folder, the run history (logs/ in it). kivo.dll is a thin C layer
// over one Engine; tests drive Engines directly, with an injected clock, time zone and runner. Every public
// method may be called from any thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

#include "clock.h"
#include "engine_api.h"
#include "history_writer.h"
#include "log_sink.h"
#include "platform.h"
#include "rule_store.h"
#include "run_log_text.h"
#include "task_runner.h"

namespace kivo {

using RunnerFactory = std::function<std::unique_ptr<TaskRunner>()>;

struct EngineOptions {
    std::filesystem::path dataFolder;
    std::shared_ptr<const Clock> clock;  // null: the system clock and time zone
    RunnerFactory makeRunner;            // null: runs fail, backup and restore are unavailable
    int workers = 2;
    std::chrono::milliseconds maxSleep{30000};  // the scheduler looks at the clock at least this often
};

class Engine {
  public:
    explicit Engine(EngineOptions options);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Takes the folder lock (or goes read-only, logged), loads the rules, starts the threads.
    void Start();
    // Stops automatic running, cancels runs, joins every engine thread, releases the lock.
    // Must not be called on an engine thread.
    void Shutdown();

    void SetLogCallback(KivoLogCallback callback, void* context) { m_log.SetCallback(callback, context); }
    void SetRunEventCallback(KivoRunEventCallback callback, void* context) {
        m_log.SetRunEventCallback(callback, context);
    }

    bool IsAutoRunning() const { return m_autoRunning.load(); }
    int AutoRun();
    int StopRun();
    int ManRun(int32_t id);
    // Queues a check of a backup rule's sets, as a manual run is queued (kivo_verify_backup).
    int VerifyBackup(int32_t id);
    int EnableRule(int32_t id, int flag);
    int DeleteRule(int32_t id);
    int ClearList(ClearRule* out);
    int BackupList(BackupRule* out);
    int GetClear(int32_t id, ClearRule* out);
    int GetBackup(int32_t id, BackupRule* out);
    int AddClear(ClearRule* rule);
    int AddBackup(BackupRule* rule);
    int UpdateClear(const ClearRule* rule);
    int UpdateBackup(const BackupRule* rule);
    int Backup(const char* sourceFolder, const char* backupFile);
    int Restore(const char* backupFile, const char* targetFolder);
    // kivo_preview_clear, on the caller's thread.
    int PreviewClear(int32_t id, KivoCleanFileCallback callback, void* context, const volatile long* cancel,
                     KivoCleanVerdict* verdict);

    // Makes the scheduler look at the clock now and returns once it has (tests use it with a fake clock).
    void EvaluateNow();
    // Returns once no run is queued or running and every log line has been handed to the callback
    // and written to the run history.
    void WaitIdle();

  private:
    struct Job {
        int32_t id;
        RunTrigger trigger;
        int64_t occurrence;
    };
    struct Announced {
        std::optional<size_t> clear, backup;
    };
    class Context;
    class PreviewContext;

    bool LiveLocked() const { return m_started && !m_stopping; }
    // Changing operations first take the folder over when its holder has gone (reloading the rules),
    // then look rules up, then refuse (logged) while the store cannot be changed.
    void TakeOverIfFreeLocked();
    int RefuseChangeLocked(std::string_view what);
    void LoadLocked();
    // The installation identity, once this engine holds the folder.
    void LoadInstallationLocked();
    bool SaveLocked(const RuleSet& next, std::string_view what);
    void WakeSchedulerLocked();
    int64_t EvaluateLocked(int64_t now);
    void SchedulerLoop();
    void WorkerLoop(TaskRunner& runner);
    // kivo_backup and kivo_restore: the arguments checked, then one manual run at a time.
    using ManualRun = int (TaskRunner::*)(const std::string&, const std::string&, RunContext&);
    int RunManual(const char* from, const char* to, std::string_view what, ManualRun run);

    template <class Record>
    int Add(Record* rule);
    template <class Record>
    int Update(const Record* rule);
    template <class Record>
    int Get(int32_t id, Record* out);
    template <class Record>
    int List(Record* out);

    const std::filesystem::path m_folder;
    const std::shared_ptr<const Clock> m_clock;
    const RunnerFactory m_makeRunner;
    const int m_workerCount;
    const std::chrono::milliseconds m_maxSleep;

    HistoryWriter m_history;  // started only while this engine holds the folder's lock
    LogSink m_log{&m_history};

    std::mutex m_mutex;  // everything below
    bool m_started = false;
    bool m_stopping = false;
    std::unique_ptr<platform::FolderLock> m_folderLock;
    RuleStore m_store;
    RuleSet m_set;
    int m_refuse = KIVO_OK;  // non-zero: every change is refused with this code
    std::string m_installation;
    bool m_timesDirty = false;
    bool m_timesSaveFailed = false;
    std::map<std::thread::id, Announced> m_announced;
    std::deque<Job> m_queue;
    std::set<int32_t> m_busy;  // queued or running
    uint64_t m_wakeGeneration = 0;
    uint64_t m_evaluatedGeneration = 0;
    std::condition_variable m_schedulerCv;
    std::condition_variable m_evaluatedCv;
    std::condition_variable m_workCv;
    std::condition_variable m_idleCv;

    std::atomic<bool> m_autoRunning{false};
    std::atomic<bool> m_cancel{false};

    std::unique_ptr<Context> m_context;
    std::vector<std::unique_ptr<TaskRunner>> m_runners;  // one per worker
    std::mutex m_manualMutex;                            // kivo_backup / kivo_restore, one at a time
    std::unique_ptr<TaskRunner> m_manualRunner;
    std::thread m_scheduler;
    std::vector<std::thread> m_workers;
};

}  // namespace kivo
