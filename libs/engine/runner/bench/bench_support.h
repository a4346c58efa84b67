// What the runner's benches share: a run context that keeps the log, numbers from the environment,
// the time a piece of work takes, a backup rule and a result row.
#pragma once

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "rule_records.h"
#include "shared_files.h"
#include "task_runner.h"

namespace kivo::bench {

class BenchContext final : public RunContext {
  public:
    void Log(const std::string& line) override { lines.push_back(line); }
    bool Cancelled() const override { return false; }
    int64_t NowUtc() const override { return int64_t(::time(nullptr)); }
    std::vector<std::string> lines;
};

inline long EnvNumber(const char* name, long fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::strtol(v, nullptr, 10) : fallback;
}

inline double Seconds(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline BackupRule Rule(const std::filesystem::path& source, const std::filesystem::path& backup) {
    BackupRule rule{};
    rule.rule_id = 1;
    rule.enabled = 1;
    WriteField(rule.description, "bench");
    WriteField(rule.source_path, *shared::GbkFromPath(source));
    WriteField(rule.backup_path, *shared::GbkFromPath(backup));
    return rule;
}

inline void Row(const char* what, const char* tool, double ours, double theirs) {
    std::printf("%-44s kivo %8.3f s   %-16s %8.3f s   ratio %5.2f\n", what, ours, tool, theirs,
                ours / theirs);
}

}  // namespace kivo::bench
