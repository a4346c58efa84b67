#include "engine_test_support.h"

#include <chrono>
#include <random>

#include "civil_date.h"
#include "shared_files.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace kivo::test {

TempFolder::TempFolder() {
    std::random_device rd;
    m_path = std::filesystem::temp_directory_path() /
             ("kivo_test_" + std::to_string(rd()) + "_" + std::to_string(rd()));
    std::filesystem::create_directories(m_path);
}

TempFolder::~TempFolder() {
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

void LogCollector::Callback(const char* text, void* context) {
    auto* self = static_cast<LogCollector*>(context);
    std::lock_guard lock(self->m_mutex);
    self->m_lines.emplace_back(text);
}

std::vector<std::string> LogCollector::Lines() const {
    std::lock_guard lock(m_mutex);
    return m_lines;
}

void LogCollector::Clear() {
    std::lock_guard lock(m_mutex);
    m_lines.clear();
}

void RunnerScript::Release() {
    std::lock_guard lock(mutex);
    holdRuns = false;
    changed.notify_all();
}

void RunnerScript::WaitRunning(int count) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return running >= count; });
}

std::vector<std::string> RunnerScript::Calls() {
    std::lock_guard lock(mutex);
    return calls;
}

namespace {

class ScriptedRunner final : public TaskRunner {
  public:
    explicit ScriptedRunner(std::shared_ptr<RunnerScript> script) : m_script(std::move(script)) {}

    RunReport RunClear(const ClearRule& rule, RunContext& context) override {
        return Run("clear " + std::to_string(rule.rule_id), context);
    }
    RunReport RunBackup(const BackupRule& rule, RunContext& context) override {
        return Run("backup " + std::to_string(rule.rule_id), context);
    }
    RunReport VerifyBackup(const BackupRule& rule, RunContext& context) override {
        return Run("verify " + std::to_string(rule.rule_id), context);
    }
    int Backup(const std::string& source, const std::string& file, RunContext& context) override {
        std::unique_lock lock(m_script->mutex);
        m_script->calls.push_back("backup-file " + source + " -> " + file);
        const int records = m_script->recordLines;
        lock.unlock();
        if (records) {
            // Between the lines that bound it, as a real manual backup logs.
            context.LogBoundary(ManualBackupStarted(source));
            for (int n = 1; n <= records; ++n) context.Record(RecordLine(n));
            context.LogBoundary(ManualBackupEnded(file));
        }
        return m_script->manualResult;
    }
    int Restore(const std::string& file, const std::string& target, RunContext&) override {
        std::lock_guard lock(m_script->mutex);
        m_script->calls.push_back("restore " + file + " -> " + target);
        return m_script->manualResult;
    }

  private:
    RunReport Run(const std::string& call, RunContext& context) {
        const std::string installation = context.Installation();
        std::unique_lock lock(m_script->mutex);
        m_script->calls.push_back(call);
        m_script->installations.push_back(installation);
        const int records = m_script->recordLines;
        lock.unlock();
        for (int n = 1; n <= records; ++n) context.Record(RecordLine(n));
        lock.lock();
        ++m_script->running;
        m_script->changed.notify_all();
        // Held runs poll for cancellation, as a real runner checks between files.
        while (m_script->holdRuns && !context.Cancelled()) {
            m_script->changed.wait_for(lock, std::chrono::milliseconds(5));
        }
        --m_script->running;
        if (context.Cancelled()) return {RunOutcome::Cancelled, ""};
        return m_script->report;
    }

    std::shared_ptr<RunnerScript> m_script;
};

}  // namespace

RunnerFactory ScriptedRunners(std::shared_ptr<RunnerScript> script) {
    return [script] { return std::make_unique<ScriptedRunner>(script); };
}

std::string ManualBackupStarted(const std::string& source) {
    return "开始手动备份：" + source;
}

std::string ManualBackupEnded(const std::string& file) {
    return "手动备份完成：" + file;
}

std::string RecordLine(int n) {
    return "已删除：/data/" + std::to_string(n) + std::string(80, 'x');
}

std::string U8(std::u8string_view text) {
    return std::string(text.begin(), text.end());
}

std::string FileOrMissing(const std::filesystem::path& file) {
    std::string bytes;
    return shared::ReadWholeFile(file, bytes) ? bytes : "<missing>";
}

int64_t Utc(int y, int mo, int d, int h, int mi, int s) {
    return DaysFromCivil(y, mo, d) * 86400 + h * 3600 + mi * 60 + s;
}

bool UnderWine() {
#ifdef _WIN32
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
}

std::string AbsolutePath(const std::string& tail) {
#ifdef _WIN32
    return "C:\\" + tail;
#else
    return "/" + tail;
#endif
}

ClearRule ValidClearRule(const std::string& description) {
    ClearRule r{};
    r.enabled = 1;
    r.keep_days = 7;
    r.min_free_percent = 10;
    r.schedule = RunSchedule{0, 0, 0, 230};
    WriteField(r.description, description);
    WriteField(r.path, AbsolutePath("data\\tmp"));
    WriteField(r.name_filter, ".tmp,.log");
    WriteField(r.size_range, "0,500");
    WriteField(r.date_range, "19700101,20991230");
    WriteField(r.time_range, "0000,0600");
    return r;
}

BackupRule ValidBackupRule(const std::string& description) {
    BackupRule r{};
    r.enabled = 1;
    r.keep_days = 30;
    r.schedule = RunSchedule{0, 0, 0x1F, 2200};
    WriteField(r.description, description);
    WriteField(r.source_path, AbsolutePath("文档"));
    WriteField(r.backup_path, AbsolutePath("备份"));
    return r;
}

std::unique_ptr<Engine> StartEngine(const std::filesystem::path& folder, std::shared_ptr<const Clock> clock,
                                    std::shared_ptr<RunnerScript> script, int workers) {
    EngineOptions options;
    options.dataFolder = folder;
    options.clock = std::move(clock);
    if (script) options.makeRunner = ScriptedRunners(std::move(script));
    options.workers = workers;
    auto engine = std::make_unique<Engine>(std::move(options));
    engine->Start();
    return engine;
}

std::vector<int32_t> ClearIds(Engine& engine) {
    const int n = engine.ClearList(nullptr);
    std::vector<ClearRule> rules(size_t(std::max(n, 0)));
    std::vector<int32_t> ids;
    if (n > 0) engine.ClearList(rules.data());
    for (const auto& r : rules) ids.push_back(r.rule_id);
    return ids;
}

std::vector<int32_t> BackupIds(Engine& engine) {
    const int n = engine.BackupList(nullptr);
    std::vector<BackupRule> rules(size_t(std::max(n, 0)));
    std::vector<int32_t> ids;
    if (n > 0) engine.BackupList(rules.data());
    for (const auto& r : rules) ids.push_back(r.rule_id);
    return ids;
}

}  // namespace kivo::test
