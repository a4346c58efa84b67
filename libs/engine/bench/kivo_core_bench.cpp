// Figures of the engine core (native build): schedule arithmetic, rule-file saves against the bare
// atomic writes they consist of, listing, start-up with a large rule set, and kivo_is_run while the
// rule set is busy.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "engine.h"
#include "rule_store.h"
#include "scheduler.h"
#include "shared_files.h"

using namespace kivo;
using Steady = std::chrono::steady_clock;

namespace {

double Seconds(Steady::duration d) {
    return std::chrono::duration<double>(d).count();
}

template <class F>
double Time(F&& f) {
    const auto start = Steady::now();
    f();
    return Seconds(Steady::now() - start);
}

ClearRule SampleRule() {
    ClearRule r{};
    r.enabled = 1;
    r.schedule = RunSchedule{0, 0, 0, 230};
    WriteField(r.description, "清理临时文件");
    WriteField(r.path, "/data/tmp");
    return r;
}

class FixedClock final : public kivo::Clock {
  public:
    int64_t NowUtc() const override { return 1720000000; }
    TimeZone Zone() const override { return TimeZone(); }
};

}  // namespace

int main() {
    const TimeZone berlin = *TimeZone::FromPosix("CET-1CEST,M3.5.0,M10.5.0/3");
    std::mt19937_64 random(1);
    std::vector<int64_t> instants(200000);
    for (auto& t : instants) t = std::uniform_int_distribution<int64_t>(0, 4102444800)(random);
    struct Mode {
        const char* name;
        RunSchedule s;
    } modes[] = {{"interval", {30, 0, 0, 0}},
                 {"daily", {0, 0, 0, 230}},
                 {"weekly", {0, 0, 0x41, 230}},
                 {"monthly 31", {0, 31, 0, 230}}};
    std::printf("next occurrence (Berlin rules, %zu random instants 1970-2100):\n", instants.size());
    for (const Mode& m : modes) {
        int64_t sink = 0;
        const double s = Time([&] {
            for (int64_t t : instants) sink += Scheduler::NextOccurrence(m.s, t, berlin, 0);
        });
        std::printf("  %-10s %8.0f ns per call (checksum %lld)\n", m.name, s / double(instants.size()) * 1e9,
                    static_cast<long long>(sink % 1000));
    }

    const auto base = std::filesystem::temp_directory_path() / ("kivo_bench_" + std::to_string(random()));
    std::filesystem::create_directories(base);
    std::printf("adding one rule (atomic save of the file and its mirror) vs the two bare atomic writes:\n");
    for (size_t count : {10, 100, 1000, 9000}) {
        const auto folder = base / std::to_string(count);
        std::filesystem::create_directories(folder);
        RuleSet set;
        for (size_t i = 0; i < count; ++i) {
            ClearRule r = SampleRule();
            r.rule_id = set.nextId++;
            set.clear[r.rule_id] = {r, {}};
        }
        RuleStore(folder).Save(set);
        EngineOptions options;
        options.dataFolder = folder;
        options.clock = std::make_shared<FixedClock>();
        Engine engine(std::move(options));
        const double start = Time([&] { engine.Start(); });
        const int reps = count >= 9000 ? 3 : 10;
        ClearRule r = SampleRule();
        const double add = Time([&] {
                               for (int i = 0; i < reps; ++i) engine.AddClear(&r);
                           }) /
                           reps;
        const std::string bytes = EncodeRuleSet(set);
        const double bare = Time([&] {
                                for (int i = 0; i < reps; ++i) {
                                    shared::AtomicWriteFile(folder / "bare.dat", bytes);
                                    shared::AtomicWriteFile(folder / "bare.bak", bytes);
                                }
                            }) /
                            reps;
        std::vector<ClearRule> buffer;
        const double list = Time([&] {
            const int n = engine.ClearList(nullptr);
            buffer.resize(size_t(n));
            engine.ClearList(buffer.data());
        });
        std::printf(
            "  %5zu rules: add %7.2f ms, bare writes %7.2f ms, ratio %.2f; list %6.3f ms; start %6.2f ms\n",
            count, add * 1e3, bare * 1e3, add / bare, list * 1e3, start * 1e3);
    }

    // kivo_is_run must answer at once even while another thread keeps the rule set busy with saves.
    {
        const auto folder = base / "busy";
        std::filesystem::create_directories(folder);
        EngineOptions options;
        options.dataFolder = folder;
        Engine engine(std::move(options));
        engine.Start();
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            ClearRule r = SampleRule();
            while (!stop) engine.AddClear(&r);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::vector<double> took(200000);
        for (double& d : took) {
            const auto t0 = Steady::now();
            volatile bool running = engine.IsAutoRunning();
            (void)running;
            d = Seconds(Steady::now() - t0);
        }
        stop = true;
        writer.join();
        std::sort(took.begin(), took.end());
        std::printf(
            "is-run while saves hold the rule set (200000 calls): median %.0f ns, 99.9%% %.0f ns, worst %.0f "
            "us\n",
            took[took.size() / 2] * 1e9, took[took.size() * 999 / 1000] * 1e9, took.back() * 1e6);
    }
    std::error_code ec;
    std::filesystem::remove_all(base, ec);
    return 0;
}
