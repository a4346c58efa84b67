// Fakes and helpers for the engine tests: a temporary data folder, a settable clock, a run log
// collector, a scripted runner, and valid rule records.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "clock.h"
#include "engine.h"
#include "rule_records.h"
#include "task_runner.h"

namespace kivo::test {

class TempFolder {
  public:
    TempFolder();
    ~TempFolder();
    const std::filesystem::path& Path() const { return m_path; }

  private:
    std::filesystem::path m_path;
};

class FakeClock final : public Clock {
  public:
    explicit FakeClock(int64_t now, TimeZone zone = TimeZone()) : m_now(now), m_zone(zone) {}
    int64_t NowUtc() const override { return m_now.load(); }
    TimeZone Zone() const override { return m_zone; }
    void Set(int64_t now) { m_now = now; }
    void Advance(int64_t seconds) { m_now += seconds; }

  private:
    std::atomic<int64_t> m_now;
    TimeZone m_zone;
};

class LogCollector {
  public:
    static void Callback(const char* text, void* context);
    void Register(Engine& engine) { engine.SetLogCallback(&Callback, this); }
    std::vector<std::string> Lines() const;
    void Clear();

  private:
    mutable std::mutex m_mutex;
    std::vector<std::string> m_lines;
};

// What the runners of one engine did, and a gate that holds runs until opened.
struct RunnerScript {
    std::mutex mutex;
    std::condition_variable changed;
    // "clear 3", "backup 4", "verify 4", "backup-file a -> b", "restore b -> a"
    std::vector<std::string> calls;
    std::vector<std::string> installations;  // what each run's context named
    bool holdRuns = false;           // runs wait until released (or cancelled)
    int recordLines = 0;             // each run first records this many history lines (RecordLine); so does a
                                     // manual backup, between ManualBackupStarted and ManualBackupEnded
    int running = 0;
    RunReport report{RunOutcome::Succeeded, "共 0 个文件"};
    int manualResult = 0;

    void Release();
    void WaitRunning(int count);
    std::vector<std::string> Calls();
};

RunnerFactory ScriptedRunners(std::shared_ptr<RunnerScript> script);
// The n-th history line a scripted run records (GBK), about 100 bytes.
std::string RecordLine(int n);
std::string ManualBackupStarted(const std::string& source);
std::string ManualBackupEnded(const std::string& file);

// UTF-8 bytes of a u8 literal (plain literals here are GBK).
std::string U8(std::u8string_view text);
// A file's bytes, or "<missing>".
std::string FileOrMissing(const std::filesystem::path& file);

// Seconds since 1970 of a UTC civil time.
int64_t Utc(int y, int mo, int d, int h, int mi, int s = 0);

// A valid absolute path on this platform: "/" + tail on POSIX, "C:\" + tail on Windows.
// Wine keeps some facts Windows reports (a pending delete, for one) unknown; tests of them skip there.
bool UnderWine();
std::string AbsolutePath(const std::string& tail);
ClearRule ValidClearRule(const std::string& description = "清理临时文件");
BackupRule ValidBackupRule(const std::string& description = "备份文档");

// Starts an engine on `folder` with the clock and script given.
std::unique_ptr<Engine> StartEngine(const std::filesystem::path& folder, std::shared_ptr<const Clock> clock,
                                    std::shared_ptr<RunnerScript> script, int workers = 1);

// The ids a list call returns, in order.
std::vector<int32_t> ClearIds(Engine& engine);
std::vector<int32_t> BackupIds(Engine& engine);

}  // namespace kivo::test
