// What the runner's benches share: a run context that keeps the log, numbers from the environment,
// and the time a piece of work takes.
#pragma once

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

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

}  // namespace kivo::bench
