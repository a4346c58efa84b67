#include "engine.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#include "engine_thread.h"
#include "history_text.h"
#include "installation_id.h"
#include "rule_validation.h"
#include "run_event.h"
#include "scheduler.h"
#include "shared_files.h"
#include "unavailable_task_runner.h"

namespace kivo {
namespace {

auto& RulesOf(RuleSet& set, const ClearRule*) {
    return set.clear;
}
auto& RulesOf(RuleSet& set, const BackupRule*) {
    return set.backup;
}
template <class Record>
auto& RulesOf(RuleSet& set) {
    return RulesOf(set, static_cast<const Record*>(nullptr));
}
template <class Record>
bool OtherKindHas(RuleSet& set, int32_t id) {
    if constexpr (std::is_same_v<Record, ClearRule>) {
        return set.backup.count(id) != 0;
    } else {
        return set.clear.count(id) != 0;
    }
}

int Validate(const ClearRule& r) {
    return ValidateClearRule(r);
}
int Validate(const BackupRule& r) {
    return ValidateBackupRule(r);
}

template <size_t N>
void Tidy(char (&field)[N]) {
    WriteField(field, std::string(FieldText(field)));
}
// Stale bytes behind a terminator never travel into the rule file.
void Tidy(ClearRule& r) {
    Tidy(r.description), Tidy(r.path), Tidy(r.name_filter);
    Tidy(r.size_range), Tidy(r.date_range), Tidy(r.time_range);
}
void Tidy(BackupRule& r) {
    Tidy(r.description), Tidy(r.source_path), Tidy(r.backup_path);
}

// Calls f with the stored rule of either kind that has this id; false when there is none.
template <class Set, class F>
bool WithRule(Set& set, int32_t id, F&& f) {
    if (auto c = set.clear.find(id); c != set.clear.end()) {
        f(c->second);
    } else if (auto b = set.backup.find(id); b != set.backup.end()) {
        f(b->second);
    } else {
        return false;
    }
    return true;
}

// The enabled field of the stored rule of either kind with this id; nothing when there is none.
std::optional<int32_t> EnabledOf(const RuleSet& set, int32_t id) {
    std::optional<int32_t> enabled;
    WithRule(set, id, [&](const auto& entry) { enabled = entry.rule.enabled; });
    return enabled;
}

RuleKind KindOf(const ClearRule*) {
    return RuleKind::Clear;
}
RuleKind KindOf(const BackupRule*) {
    return RuleKind::Backup;
}

// The longest start of a GBK text that fits in max bytes without cutting a character in two.
std::string_view GbkPrefix(std::string_view text, size_t max) {
    size_t end = 0;
    while (end < text.size()) {
        const size_t width = (static_cast<unsigned char>(text[end]) >= 0x81 && end + 1 < text.size()) ? 2 : 1;
        if (end + width > max) break;
        end += width;
    }
    return text.substr(0, end);
}

template <class Record>
std::string Label(const Record& r) {
    return RunLogText::Rule(KindOf(&r), r.rule_id, FieldText(r.description));
}

}  // namespace

class Engine::Context final : public RunContext {
  public:
    explicit Context(Engine& engine) : m_engine(engine) {}
    // A run's lines may wait for room in the history's buffer; the engine's own never do.
    void Log(const std::string& line) override { m_engine.m_log.Post(line, HistoryWriter::Room::Wait); }
    void LogBoundary(const std::string& line) override {
        m_engine.m_log.Post(line, HistoryWriter::Room::Keep);
    }
    void Record(const std::string& line) override { m_engine.m_history.Add(line, HistoryWriter::Room::Wait); }
    bool KeepsHistory() const override { return m_engine.m_history.Active(); }
    bool Cancelled() const override { return m_engine.m_cancel.load(); }
    int64_t NowUtc() const override { return m_engine.m_clock->NowUtc(); }
    std::string Installation() const override {
        std::lock_guard lock(m_engine.m_mutex);
        return m_engine.m_installation;
    }

  private:
    Engine& m_engine;
};

// A preview's context: no run-log or history line (nothing was done), and it stops when the caller
// asks or the engine shuts down.
class Engine::PreviewContext final : public RunContext {
  public:
    PreviewContext(Engine& engine, const volatile long* cancel) : m_engine(engine), m_cancel(cancel) {}
    void Log(const std::string&) override {}
    bool Cancelled() const override { return m_engine.m_cancel.load() || (m_cancel && *m_cancel != 0); }
    int64_t NowUtc() const override { return m_engine.m_clock->NowUtc(); }

  private:
    Engine& m_engine;
    const volatile long* m_cancel;
};

Engine::Engine(EngineOptions options)
    : m_folder(std::move(options.dataFolder)),
      m_clock(options.clock ? std::move(options.clock) : MakeSystemClock()),
      m_makeRunner(options.makeRunner ? std::move(options.makeRunner) : RunnerFactory([] {
          return std::make_unique<UnavailableTaskRunner>();
      })),
      m_workerCount(std::max(1, options.workers)),
      m_maxSleep(options.maxSleep),
      m_history([this] {
          HistoryWriter::Options history;
          history.folder = m_folder / "logs";
          history.clock = m_clock;
          history.show = [this](std::string line) { m_log.Show(std::move(line)); };
          return history;
      }()),
      m_store(m_folder) {}

Engine::~Engine() {
    Shutdown();
}

void Engine::Start() {
    std::lock_guard lock(m_mutex);
    if (m_started) return;
    m_log.Start();
    bool heldElsewhere = false;
    m_folderLock = platform::TryLockFolder(m_folder, heldElsewhere);
    if (!m_folderLock) {
        const std::string folder = shared::GbkFromPath(m_folder).value_or("?");
        m_refuse = heldElsewhere ? KIVO_E_STORE_LOCKED : KIVO_E_STORE_WRITE;
        m_log.Post(heldElsewhere ? RunLogText::FolderLocked(folder) : RunLogText::FolderUnusable(folder));
    } else {
        m_history.Start();
        LoadInstallationLocked();
    }
    LoadLocked();
    m_context = std::make_unique<Context>(*this);
    m_manualRunner = m_makeRunner();
    for (int i = 0; i < m_workerCount; ++i) m_runners.push_back(m_makeRunner());
    m_started = true;
    m_scheduler = std::thread([this] { SchedulerLoop(); });
    for (auto& runner : m_runners) m_workers.emplace_back([this, r = runner.get()] { WorkerLoop(*r); });
}

void Engine::Shutdown() {
    bool wasAutoRunning = false;
    size_t dropped = 0;
    {
        std::lock_guard lock(m_mutex);
        if (!m_started || m_stopping) return;
        m_stopping = true;
        m_cancel = true;
        wasAutoRunning = m_autoRunning.exchange(false);
        dropped = m_queue.size();
        for (const Job& job : m_queue) m_busy.erase(job.id);
        m_queue.clear();
    }
    m_schedulerCv.notify_all();
    m_workCv.notify_all();
    m_evaluatedCv.notify_all();
    m_idleCv.notify_all();
    if (m_scheduler.joinable()) m_scheduler.join();
    for (auto& worker : m_workers) worker.join();
    m_workers.clear();
    {
        std::lock_guard lock(m_mutex);
        if (m_timesDirty && m_refuse == KIVO_OK && !m_store.Save(m_set))
            m_log.Post(RunLogText::TimesSaveFailed());
        if (wasAutoRunning) m_log.Post(RunLogText::AutoRunStopped());
        if (dropped) m_log.Post(RunLogText::QueuedRunsCancelled(dropped));
    }
    m_history.Stop();  // while the lock is held, and before the screen's last lines
    m_log.Stop();
    std::lock_guard lock(m_mutex);
    m_folderLock.reset();
}

void Engine::LoadLocked() {
    RuleStore::Loaded loaded = m_store.Load(m_clock->NowUtc(), m_folderLock != nullptr);
    m_set = std::move(loaded.rules);
    for (auto& line : loaded.logLines) m_log.Post(std::move(line));
    if (m_folderLock) m_refuse = loaded.refuse;
    m_timesDirty = false;
}

void Engine::LoadInstallationLocked() {
    InstallationIdentity identity = LoadInstallationId(m_folder, platform::RandomBytes);
    m_installation = std::move(identity.id);
    for (auto& line : identity.logLines) m_log.Post(std::move(line));
}

void Engine::TakeOverIfFreeLocked() {
    if (m_folderLock) return;
    // The other engine may have gone (or the folder become usable): take it over and start from what
    // it holds.
    bool heldElsewhere = false;
    if (auto lock = platform::TryLockFolder(m_folder, heldElsewhere)) {
        m_folderLock = std::move(lock);
        m_history.Start();
        m_log.Post(RunLogText::LockTakenOver());
        LoadInstallationLocked();
        LoadLocked();
    }
}

int Engine::RefuseChangeLocked(std::string_view what) {
    if (m_refuse == KIVO_E_STORE_LOCKED && !m_folderLock) {
        m_log.Post(RunLogText::ChangeRefused(what));
    } else if (m_refuse != KIVO_OK) {
        m_log.Post(RunLogText::StoreReadOnly(what));
    }
    return m_refuse;
}

bool Engine::SaveLocked(const RuleSet& next, std::string_view what) {
    if (!m_store.Save(next)) {
        m_log.Post(RunLogText::SaveFailed(what));
        return false;
    }
    m_timesDirty = false;
    m_timesSaveFailed = false;
    return true;
}

void Engine::WakeSchedulerLocked() {
    ++m_wakeGeneration;
    m_schedulerCv.notify_all();
}

int Engine::AutoRun() {
    std::lock_guard lock(m_mutex);
    if (!LiveLocked()) return KIVO_E_NOT_INITIALISED;
    TakeOverIfFreeLocked();
    if (int rc = RefuseChangeLocked("启动自动运行")) return rc;
    if (m_autoRunning) return KIVO_OK;
    m_autoRunning = true;
    m_log.Post(RunLogText::AutoRunStarted());
    WakeSchedulerLocked();
    return KIVO_OK;
}

int Engine::StopRun() {
    std::lock_guard lock(m_mutex);
    if (!LiveLocked()) return KIVO_E_NOT_INITIALISED;
    if (!m_autoRunning) return KIVO_OK;
    m_autoRunning = false;
    m_log.Post(RunLogText::AutoRunStopped());
    WakeSchedulerLocked();
    return KIVO_OK;
}

int Engine::ManRun(int32_t id) {
    std::lock_guard lock(m_mutex);
    if (!LiveLocked()) return KIVO_E_NOT_INITIALISED;
    TakeOverIfFreeLocked();
    if (int rc = RefuseChangeLocked("手动运行规则 " + std::to_string(id))) return rc;
    const auto enabled = EnabledOf(m_set, id);
    if (!enabled) return KIVO_E_UNKNOWN_RULE;
    if (*enabled != 1) return KIVO_E_RULE_DISABLED;
    if (m_busy.count(id)) return KIVO_E_RULE_BUSY;
    m_queue.push_back(Job{id, RunTrigger::Manual, 0});
    m_busy.insert(id);
    m_workCv.notify_one();
    return KIVO_OK;
}

int Engine::VerifyBackup(int32_t id) {
    std::lock_guard lock(m_mutex);
    if (!LiveLocked()) return KIVO_E_NOT_INITIALISED;
    TakeOverIfFreeLocked();
    if (!m_set.backup.count(id)) return m_set.clear.count(id) ? KIVO_E_WRONG_KIND : KIVO_E_UNKNOWN_RULE;
    if (int rc = RefuseChangeLocked("校验规则 " + std::to_string(id) + " 的备份")) return rc;
    // Checking changes nothing: a disabled rule's sets may be checked too.
    if (m_busy.count(id)) return KIVO_E_RULE_BUSY;
    m_queue.push_back(Job{id, RunTrigger::Verify, 0});
    m_busy.insert(id);
    m_workCv.notify_one();
    return KIVO_OK;
}

int Engine::EnableRule(int32_t id, int flag) {
    if (flag != 0 && flag != 1) return KIVO_E_BAD_FLAG;
    std::lock_guard lock(m_mutex);
    if (!LiveLocked()) return KIVO_E_NOT_INITIALISED;
    TakeOverIfFreeLocked();
    const auto enabled = EnabledOf(m_set, id);
    if (!enabled) return KIVO_E_UNKNOWN_RULE;
    if (*enabled == flag) return KIVO_OK;
    const char* what = flag ? "启用规则" : "禁用规则";
    if (int rc = RefuseChangeLocked(what)) return rc;
    RuleSet next = m_set;
    WithRule(next, id, [&](auto& entry) {
        entry.rule.enabled = flag;
        if (flag) entry.times.since = m_clock->NowUtc();  // no catch-up for the time it was off
    });
    if (!SaveLocked(next, what)) return KIVO_E_STORE_WRITE;
    m_set = std::move(next);
    WakeSchedulerLocked();
    return KIVO_OK;
}

int Engine::DeleteRule(int32_t id) {
    std::lock_guard lock(m_mutex);
    if (!LiveLocked()) return KIVO_E_NOT_INITIALISED;
    TakeOverIfFreeLocked();
    if (!m_set.clear.count(id) && !m_set.backup.count(id)) return KIVO_E_UNKNOWN_RULE;
    if (int rc = RefuseChangeLocked("删除规则")) return rc;
    RuleSet next = m_set;
    next.clear.erase(id);
    next.backup.erase(id);
    if (!SaveLocked(next, "删除规则")) return KIVO_E_STORE_WRITE;
    m_set = std::move(next);
    WakeSchedulerLocked();
    return KIVO_OK;
}

template <class Record>
int Engine::Add(Record* rule) {
    if (!rule) return KIVO_E_NULL_ARGUMENT;
    Record record;
    std::memcpy(&record, rule, sizeof record);
    if (int rc = Validate(record)) return rc;
    Tidy(record);
    std::lock_guard lock(m_mutex);
    if (!LiveLocked()) return KIVO_E_NOT_INITIALISED;
    TakeOverIfFreeLocked();
    if (int rc = RefuseChangeLocked("添加规则")) return rc;
    if (RulesOf<Record>(m_set).size() >= RuleSet::kMaxRulesPerKind ||
        m_set.nextId == std::numeric_limits<int32_t>::max())
        return KIVO_E_TOO_MANY_RULES;
    RuleSet next = m_set;
    record.rule_id = next.nextId++;
    const int64_t now = m_clock->NowUtc();
    RulesOf<Record>(next)[record.rule_id] = StoredRule<Record>{record, RuleTimes{now, 0, 0}};
    if (!SaveLocked(next, "添加规则")) return KIVO_E_STORE_WRITE;
    m_set = std::move(next);
    rule->rule_id = record.rule_id;
    WakeSchedulerLocked();
    return KIVO_OK;
}

template <class Record>
int Engine::Update(const Record* rule) {
    if (!rule) return KIVO_E_NULL_ARGUMENT;
    Record record;
    std::memcpy(&record, rule, sizeof record);
    if (int rc = Validate(record)) return rc;
    Tidy(record);
    std::lock_guard lock(m_mutex);
    if (!LiveLocked()) return KIVO_E_NOT_INITIALISED;
    TakeOverIfFreeLocked();
    const int32_t id = record.rule_id;
    if (!RulesOf<Record>(m_set).count(id))
        return OtherKindHas<Record>(m_set, id) ? KIVO_E_WRONG_KIND : KIVO_E_UNKNOWN_RULE;
    if (int rc = RefuseChangeLocked("修改规则")) return rc;
    RuleSet next = m_set;
    StoredRule<Record>& entry = RulesOf<Record>(next).at(id);
    if (std::memcmp(&entry.rule, &record, sizeof record) == 0) return KIVO_OK;
    const bool restart = std::memcmp(&entry.rule.schedule, &record.schedule, sizeof(RunSchedule)) != 0 ||
                         (entry.rule.enabled == 0 && record.enabled == 1);
    entry.rule = record;
    if (restart) entry.times.since = m_clock->NowUtc();
    if (!SaveLocked(next, "修改规则")) return KIVO_E_STORE_WRITE;
    m_set = std::move(next);
    WakeSchedulerLocked();
    return KIVO_OK;
}

template <class Record>
int Engine::Get(int32_t id, Record* out) {
    if (!out) return KIVO_E_NULL_ARGUMENT;
    std::lock_guard lock(m_mutex);
    if (!LiveLocked()) return KIVO_E_NOT_INITIALISED;
    auto& rules = RulesOf<Record>(m_set);
    auto it = rules.find(id);
    if (it == rules.end()) return OtherKindHas<Record>(m_set, id) ? KIVO_E_WRONG_KIND : KIVO_E_UNKNOWN_RULE;
    std::memcpy(out, &it->second.rule, sizeof(Record));
    return KIVO_OK;
}

template <class Record>
int Engine::List(Record* out) {
    std::lock_guard lock(m_mutex);
    // The answer is a count: an engine that is shut down has nothing to list.
    if (!LiveLocked()) return 0;
    auto& rules = RulesOf<Record>(m_set);
    Announced& announced = m_announced[std::this_thread::get_id()];
    std::optional<size_t>& count = std::is_same_v<Record, ClearRule> ? announced.clear : announced.backup;
    if (!out) {
        count = rules.size();
        return int(rules.size());
    }
    if (!count) return 0;  // the buffer's size is unknown: write nothing
    size_t written = 0;
    for (const auto& [id, entry] : rules) {
        if (written == *count) break;
        std::memcpy(out + written, &entry.rule, sizeof(Record));
        ++written;
    }
    std::memset(static_cast<void*>(out + written), 0, (*count - written) * sizeof(Record));
    return int(written);
}

int Engine::ClearList(ClearRule* out) {
    return List(out);
}
int Engine::BackupList(BackupRule* out) {
    return List(out);
}
int Engine::GetClear(int32_t id, ClearRule* out) {
    return Get(id, out);
}
int Engine::GetBackup(int32_t id, BackupRule* out) {
    return Get(id, out);
}
int Engine::AddClear(ClearRule* rule) {
    return Add(rule);
}
int Engine::AddBackup(BackupRule* rule) {
    return Add(rule);
}
int Engine::UpdateClear(const ClearRule* rule) {
    return Update(rule);
}
int Engine::UpdateBackup(const BackupRule* rule) {
    return Update(rule);
}

int Engine::Backup(const char* sourceFolder, const char* backupFile) {
    return RunManual(sourceFolder, backupFile, "手动备份", &TaskRunner::Backup);
}

int Engine::Restore(const char* backupFile, const char* targetFolder) {
    return RunManual(backupFile, targetFolder, "手动还原", &TaskRunner::Restore);
}

int Engine::PreviewClear(int32_t id, KivoCleanFileCallback callback, void* context,
                         const volatile long* cancel, KivoCleanVerdict* verdict) {
    if (!callback || !verdict) return KIVO_E_NULL_ARGUMENT;
    std::memset(verdict, 0, sizeof *verdict);
    ClearRule rule;
    {
        std::lock_guard lock(m_mutex);
        if (!LiveLocked()) return KIVO_E_NOT_INITIALISED;
        auto it = m_set.clear.find(id);
        if (it == m_set.clear.end()) return m_set.backup.count(id) ? KIVO_E_WRONG_KIND : KIVO_E_UNKNOWN_RULE;
        rule = it->second.rule;
    }
    // A runner of its own: the workers' runners belong to their threads.
    std::unique_ptr<TaskRunner> runner = m_makeRunner();
    struct Listing final : CleanListing {
        KivoCleanFileCallback callback;
        void* context;
        void File(std::u16string_view relative, uint64_t size, int64_t mtime) override {
            const std::u16string path(relative);  // NUL-terminated for the caller
            const KivoCleanFile file{path.c_str(), int(path.size()), size, mtime};
            callback(&file, context);
        }
    } listing;
    listing.callback = callback;
    listing.context = context;
    PreviewContext previewContext(*this, cancel);
    CleanPreview preview;
    int rc = runner->PreviewClear(rule, previewContext, listing, preview);
    if (rc == KIVO_E_STOPPED && m_cancel.load()) rc = KIVO_E_CANCELLED;
    verdict->min_free_percent = preview.minFreePercent;
    if (preview.minFreePercent > 0 && preview.total > 0)
        verdict->free_percent = int(preview.available * 100 / preview.total);
    verdict->deletes_now = preview.deletesNow ? 1 : 0;
    verdict->free_bytes = preview.available;
    verdict->total_bytes = preview.total;
    verdict->files = preview.files;
    verdict->bytes = preview.bytes;
    const std::string reason = HistoryText::ScreenText(preview.reason);
    WriteField(verdict->reason, GbkPrefix(reason, sizeof verdict->reason - 1));
    return rc;
}

int Engine::RunManual(const char* from, const char* to, std::string_view what, ManualRun run) {
    if (int rc = ValidateArgumentText(from)) return rc;
    if (int rc = ValidateArgumentText(to)) return rc;
    {
        std::lock_guard lock(m_mutex);
        if (!LiveLocked()) return KIVO_E_NOT_INITIALISED;
    }
    std::lock_guard manual(m_manualMutex);
    int rc = KIVO_E_INTERNAL;
    try {
        rc = (m_manualRunner.get()->*run)(from, to, *m_context);
    } catch (...) {
        m_log.Post(RunLogText::InternalError(what), HistoryWriter::Room::Keep);
    }
    m_history.Flush();  // the run's end
    return rc;
}

int64_t Engine::EvaluateLocked(int64_t now) {
    const TimeZone zone = m_clock->Zone();
    int64_t wake = kNever;
    auto consider = [&](auto& entry) {
        auto& rule = entry.rule;
        RuleTimes& times = entry.times;
        if (rule.enabled != 1) return;
        const Scheduler::Due due =
            Scheduler::CheckDue(rule.schedule, std::max(times.since, times.lastAuto), now, zone);
        if (due.clockReset) {
            times.since = times.lastAuto = now;
            m_timesDirty = true;
            m_log.Post(RunLogText::ClockSetBack(Label(rule)));
        }
        if (!due.due) {
            wake = std::min(wake, due.occurrence);
            return;
        }
        // The occurrence is used up whether it runs or is skipped, so it can never come twice.
        times.lastAuto = now;
        m_timesDirty = true;
        if (m_busy.count(rule.rule_id)) {
            m_log.Post(
                RunLogText::OverlapSkipped(Label(rule), RunLogText::LocalMinute(due.occurrence, zone)));
        } else {
            m_queue.push_back(
                Job{rule.rule_id, due.catchUp ? RunTrigger::CatchUp : RunTrigger::Scheduled, due.occurrence});
            m_busy.insert(rule.rule_id);
            m_workCv.notify_one();
        }
        wake = std::min(wake, Scheduler::NextOccurrence(rule.schedule, now, zone, now));
    };
    for (auto& [id, entry] : m_set.clear) consider(entry);
    for (auto& [id, entry] : m_set.backup) consider(entry);
    return wake;
}

void Engine::SchedulerLoop() {
    EngineThreadMark mark;
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        const uint64_t generation = m_wakeGeneration;
        const int64_t now = m_clock->NowUtc();
        const int64_t wake = m_autoRunning ? EvaluateLocked(now) : kNever;
        if (m_timesDirty && m_refuse == KIVO_OK) {
            if (m_store.Save(m_set)) {
                m_timesDirty = false;
                m_timesSaveFailed = false;
            } else if (!m_timesSaveFailed) {
                m_timesSaveFailed = true;  // logged once; retried on every wake
                m_log.Post(RunLogText::TimesSaveFailed());
            }
        }
        m_evaluatedGeneration = generation;
        m_evaluatedCv.notify_all();
        auto sleep = m_maxSleep;
        if (wake != kNever)
            sleep = std::min<std::chrono::milliseconds>(
                sleep, std::chrono::seconds(std::max<int64_t>(wake - now, 0)));
        m_schedulerCv.wait_for(lock, sleep, [&] { return m_stopping || m_wakeGeneration != generation; });
    }
}

void Engine::EvaluateNow() {
    std::unique_lock lock(m_mutex);
    if (!LiveLocked()) return;
    WakeSchedulerLocked();
    const uint64_t wanted = m_wakeGeneration;
    m_evaluatedCv.wait(lock, [&] { return m_stopping || m_evaluatedGeneration >= wanted; });
}

void Engine::WaitIdle() {
    {
        std::unique_lock lock(m_mutex);
        m_idleCv.wait(lock, [&] { return m_stopping || (m_queue.empty() && m_busy.empty()); });
    }
    m_history.Flush();
    m_log.Flush();
}

void Engine::WorkerLoop(TaskRunner& runner) {
    EngineThreadMark mark;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_workCv.wait(lock, [&] { return m_stopping || !m_queue.empty(); });
        if (m_stopping) break;
        const Job job = m_queue.front();
        m_queue.pop_front();
        auto finish = [&] {
            m_busy.erase(job.id);
            m_idleCv.notify_all();
        };
        auto clear = m_set.clear.find(job.id);
        auto backup = m_set.backup.find(job.id);
        const bool isClear = clear != m_set.clear.end();
        if (!isClear && backup == m_set.backup.end()) {
            m_log.Post(RunLogText::QueuedRunDropped(job.id));
            finish();
            continue;
        }
        // The run works on a copy: the rule may change or go while it runs.
        ClearRule clearRule{};
        BackupRule backupRule{};
        RuleTimes* times = nullptr;
        std::string label;
        if (isClear) {
            clearRule = clear->second.rule;
            times = &clear->second.times;
            label = Label(clearRule);
        } else {
            backupRule = backup->second.rule;
            times = &backup->second.times;
            label = Label(backupRule);
        }
        const bool verify = job.trigger == RunTrigger::Verify;
        if (!verify && (isClear ? clearRule.enabled : backupRule.enabled) != 1) {
            m_log.Post(RunLogText::DisabledRunDropped(label));
            finish();
            continue;
        }
        if (!verify) {
            times->lastRun = m_clock->NowUtc();
            m_timesDirty = true;
            WakeSchedulerLocked();  // it saves the run time
        }
        const std::string scheduledAt = job.trigger == RunTrigger::CatchUp
                                            ? RunLogText::LocalMinute(job.occurrence, m_clock->Zone())
                                            : "";
        lock.unlock();

        // A run's file lines never stand in the history without its start and end.
        m_log.Post(RunLogText::RunStarted(label, job.trigger, scheduledAt), HistoryWriter::Room::Keep);
        RunReport report;
        try {
            report = isClear  ? runner.RunClear(clearRule, *m_context)
                     : verify ? runner.VerifyBackup(backupRule, *m_context)
                              : runner.RunBackup(backupRule, *m_context);
        } catch (...) {
            report = RunReport{RunOutcome::Failed, "内部错误"};
        }
        const std::string endLine = RunLogText::RunEnded(label, report);
        m_log.Post(endLine, HistoryWriter::Room::Keep);
        // The event carries the line as the screen shows it: exact names are GBK there.
        m_log.PostRunEvent(
            MakeRunEvent(isClear ? RuleKind::Clear : RuleKind::Backup, job.id,
                         isClear ? FieldText(clearRule.description) : FieldText(backupRule.description),
                         job.trigger, report.outcome, m_clock->NowUtc(), HistoryText::ScreenText(endLine)));
        m_history.Flush();

        lock.lock();
        finish();
    }
}

}  // namespace kivo
