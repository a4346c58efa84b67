// 400 simulated days of automatic running, in a time zone with daylight saving time, checked against
// an independent reckoning of when each rule must run. The reckoning follows the semantics documented
// in engine_api.h ("When rules run") and uses the C library's own reading of the same POSIX zone for
// every wall-clock question, never the engine's TimeZone or Scheduler.
//
// The clock is a fake the test moves: to every instant at which some rule is due, one minute before
// it (so that an early run would show), and through a clock set back, a sleep, automatic running
// switched off, the app closed, and a rule disabled and enabled again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "engine.h"
#include "engine_test_support.h"
#include "rule_store.h"
#include "shared_files.h"

using namespace kivo;

namespace {

// Central European time: +1, +2 from 01:00 UTC on the last Sunday of March to 01:00 UTC on the
// last Sunday of October. Local 02:00-02:59 is skipped in spring and occurs twice in autumn.
constexpr const char* kZone = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr int64_t kMinute = 60, kHour = 3600, kDay = 86400;

// The C library's view of that zone: TZ is set once for this test program.
class LibcZone {
  public:
    LibcZone() {
        setenv("TZ", kZone, 1);
        tzset();
    }
    static int64_t Offset(int64_t utc) {
        const time_t t = time_t(utc);
        std::tm tm{};
        localtime_r(&t, &tm);
        return tm.tm_gmtoff;
    }
    static int64_t Local(int64_t utc) { return utc + Offset(utc); }
    // The instant the rule for wall time `local` (seconds since 1970 in wall time) runs: the first
    // instant showing it, or, when the change forward skips it, the first instant after the gap.
    static int64_t RunInstant(int64_t local) {
        int64_t best = INT64_MAX;
        for (int64_t offset : {2 * kHour, 1 * kHour}) {
            if (Local(local - offset) == local) best = std::min(best, local - offset);
        }
        if (best != INT64_MAX) return best;
        for (int64_t t = local - 2 * kHour;; t += kMinute) {
            if (Local(t) >= local) {
                while (Local(t - 1) >= local) --t;  // the change itself, to the second
                return t;
            }
        }
    }
    // The calendar date and weekday (tm_wday, 0 = Sunday) of a day number in wall time.
    static std::tm Civil(int64_t day) {
        const time_t t = time_t(day * kDay);
        std::tm tm{};
        gmtime_r(&t, &tm);
        return tm;
    }
    static int64_t Utc(int y, int mo, int d, int h, int mi) {
        std::tm tm{};
        tm.tm_year = y - 1900, tm.tm_mon = mo - 1, tm.tm_mday = d, tm.tm_hour = h, tm.tm_min = mi;
        return int64_t(timegm(&tm));
    }
};
const LibcZone g_zone;

int DaysIn(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

// The first run strictly after `after`, from the schedule's definition.
int64_t NextRun(const RunSchedule& s, int64_t after) {
    if (s.interval_minutes) return after + s.interval_minutes * kMinute;  // counted from the baseline
    const int64_t wall = (s.time_hhmm / 100) * kHour + (s.time_hhmm % 100) * kMinute;
    for (int64_t day = LibcZone::Local(after) / kDay - 1;; ++day) {
        const std::tm date = LibcZone::Civil(day);
        bool runs = true;
        if (s.month_day) {
            runs = date.tm_mday == std::min<int>(s.month_day, DaysIn(date.tm_year + 1900, date.tm_mon + 1));
        } else if (s.week_mask) {
            runs = (s.week_mask >> ((date.tm_wday + 6) % 7)) & 1;  // bit 0 = Monday
        }
        if (!runs) continue;
        const int64_t at = LibcZone::RunInstant(day * kDay + wall);
        if (at > after) return at;
    }
}

// What the rules must do, by the documented semantics.
struct ExpectedRule {
    int32_t id = 0;
    RunSchedule schedule{};
    bool enabled = true;
    int64_t since = 0;     // schedule in effect from
    int64_t lastAuto = 0;  // last automatic run
    int64_t Baseline() const { return std::max(since, lastAuto); }
    int64_t Next() const {
        if (m_nextAfter != Baseline()) m_next = NextRun(schedule, m_nextAfter = Baseline());
        return m_next;
    }

  private:
    mutable int64_t m_nextAfter = -1, m_next = 0;
};

struct RunRecord {
    int32_t id;
    int64_t start, end;
    bool operator<(const RunRecord& o) const { return std::tie(start, id) < std::tie(o.start, o.id); }
    bool operator==(const RunRecord& o) const = default;
};

void PrintTo(const RunRecord& r, std::ostream* out) {
    *out << "rule " << r.id << " " << r.start << ".." << r.end;
}

// Records every run with the engine's clock at its start and end, and any two runs of one rule at once.
struct RunLedger {
    std::mutex mutex;
    std::vector<RunRecord> runs;
    std::map<int32_t, int> inFlight;
    std::vector<int32_t> overlapping;
};

// The soak's runners only note when a rule ran: both kinds go to Run, by id; no manual backups.
class RuleIdRunner : public TaskRunner {
  public:
    RunReport RunClear(const ClearRule& rule, RunContext& context) final {
        return Run(rule.rule_id, context);
    }
    RunReport RunBackup(const BackupRule& rule, RunContext& context) final {
        return Run(rule.rule_id, context);
    }
    int Backup(const std::string&, const std::string&, RunContext&) final { return KIVO_E_NOT_AVAILABLE; }
    int Restore(const std::string&, const std::string&, RunContext&) final { return KIVO_E_NOT_AVAILABLE; }

  protected:
    virtual RunReport Run(int32_t id, RunContext& context) = 0;
};

class LedgerRunner final : public RuleIdRunner {
  public:
    explicit LedgerRunner(std::shared_ptr<RunLedger> ledger) : m_ledger(std::move(ledger)) {}

  private:
    RunReport Run(int32_t id, RunContext& context) override {
        const int64_t start = context.NowUtc();
        {
            std::lock_guard lock(m_ledger->mutex);
            if (++m_ledger->inFlight[id] > 1) m_ledger->overlapping.push_back(id);
        }
        std::this_thread::yield();  // give a second worker every chance to start the same rule
        std::lock_guard lock(m_ledger->mutex);
        --m_ledger->inFlight[id];
        m_ledger->runs.push_back({id, start, context.NowUtc()});
        return {RunOutcome::Succeeded, "共 0 个文件"};
    }
    std::shared_ptr<RunLedger> m_ledger;
};

// Runs that take simulated time: each holds its worker until the test's clock reaches its start plus
// `holdFor`, as a long backup would.
struct HeldLedger {
    std::mutex mutex;
    std::condition_variable changed;
    int64_t holdFor = 0;
    std::vector<RunRecord> runs;  // end 0 while running
    int inFlight = 0, mostInFlight = 0;
};

class HeldRunner final : public RuleIdRunner {
  public:
    explicit HeldRunner(std::shared_ptr<HeldLedger> ledger) : m_ledger(std::move(ledger)) {}

  private:
    RunReport Run(int32_t id, RunContext& context) override {
        std::unique_lock lock(m_ledger->mutex);
        const int64_t start = context.NowUtc();
        const size_t index = m_ledger->runs.size();
        m_ledger->runs.push_back({id, start, 0});
        m_ledger->mostInFlight = std::max(m_ledger->mostInFlight, ++m_ledger->inFlight);
        m_ledger->changed.notify_all();
        // Cancellation comes without a notification: look for it now and then, as a runner does.
        while (!context.Cancelled() && context.NowUtc() < start + m_ledger->holdFor)
            m_ledger->changed.wait_for(lock, std::chrono::milliseconds(5));
        m_ledger->runs[index].end = context.NowUtc();
        --m_ledger->inFlight;
        return {RunOutcome::Succeeded, "共 0 个文件"};
    }
    std::shared_ptr<HeldLedger> m_ledger;
};

// A data folder on a RAM disk when there is one: the engine flushes the rule file on every save.
class SoakFolder {
  public:
    SoakFolder() {
        const std::filesystem::path base =
            std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        m_path = base / ("kivo_soak_" + std::to_string(std::random_device()()));
        std::filesystem::create_directories(m_path);
    }
    ~SoakFolder() {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    const std::filesystem::path& Path() const { return m_path; }

  private:
    std::filesystem::path m_path;
};

RunSchedule Interval(uint16_t minutes) {
    return {minutes, 0, 0, 0};
}
RunSchedule Daily(uint16_t hhmm) {
    return {0, 0, 0, hhmm};
}
RunSchedule Weekly(uint16_t mask, uint16_t hhmm) {
    return {0, 0, mask, hhmm};
}
RunSchedule Monthly(uint16_t day, uint16_t hhmm) {
    return {0, day, 0, hhmm};
}

// 50 rules of every mode; the wall times crowd around the changes at 02:00-03:00.
const std::vector<RunSchedule> kSchedules = {
    Interval(120),     Interval(300),      Interval(180),      Interval(240),      Interval(360),
    Interval(600),     Interval(720),      Interval(997),      Interval(1439),     Interval(1440),
    Daily(0),          Daily(100),         Daily(130),         Daily(159),         Daily(200),
    Daily(230),        Daily(259),         Daily(300),         Daily(1200),        Daily(2359),
    Weekly(127, 230),  Weekly(127, 0),     Weekly(0x01, 900),  Weekly(0x40, 230),  Weekly(0x40, 200),
    Weekly(0x40, 300), Weekly(0x15, 830),  Weekly(0x2A, 2200), Weekly(0x60, 130),  Weekly(0x1F, 1800),
    Weekly(0x7E, 245), Weekly(0x3F, 2359), Weekly(0x41, 215),  Weekly(0x08, 1230), Weekly(0x20, 0),
    Monthly(1, 0),     Monthly(15, 930),   Monthly(28, 230),   Monthly(29, 200),   Monthly(30, 2359),
    Monthly(31, 0),    Monthly(31, 230),   Monthly(29, 1200),  Monthly(31, 2359),  Monthly(27, 230),
    Monthly(31, 200),  Monthly(30, 130),   Monthly(2, 330),    Monthly(10, 1000),  Monthly(5, 500),
};

// 2024-01-26 10:17 UTC, through 2025-03-01: both changes of 2024, February 29 and a February of 28.
const int64_t kStart = LibcZone::Utc(2024, 1, 26, 10, 17);
const int64_t kEnd = kStart + 400 * kDay;

class Soak : public ::testing::Test {
  protected:
    void StartEngine() {
        EngineOptions options;
        options.dataFolder = m_folder.Path();
        options.clock = m_clock;
        options.makeRunner = [ledger = m_ledger] { return std::make_unique<LedgerRunner>(ledger); };
        options.workers = 2;
        options.maxSleep = std::chrono::hours(1);  // only the test moves time
        m_engine = std::make_unique<Engine>(std::move(options));
        m_log.Register(*m_engine);
        m_engine->Start();
    }

    void AddRules() {
        for (size_t i = 0; i < kSchedules.size(); ++i) {
            ExpectedRule rule;
            rule.schedule = kSchedules[i];
            rule.since = m_clock->NowUtc();
            if (i % 2 == 0) {
                ClearRule c = test::ValidClearRule("清理 " + std::to_string(i));
                c.schedule = kSchedules[i];
                ASSERT_EQ(m_engine->AddClear(&c), KIVO_OK);
                rule.id = c.rule_id;
                m_clearRecords[c.rule_id] = c;
            } else {
                BackupRule b = test::ValidBackupRule("备份 " + std::to_string(i));
                b.schedule = kSchedules[i];
                ASSERT_EQ(m_engine->AddBackup(&b), KIVO_OK);
                rule.id = b.rule_id;
                m_backupRecords[b.rule_id] = b;
            }
            m_rules.push_back(rule);
        }
    }

    int64_t NextDue() const {
        int64_t next = INT64_MAX;
        for (const ExpectedRule& r : m_rules) {
            if (r.enabled) next = std::min(next, r.Next());
        }
        return next;
    }

    // Moves the clock to `now`, lets the scheduler look, waits for the runs, and checks that exactly
    // the rules due by the reckoning ran, each once, started and ended at `now`.
    void Step(int64_t now) {
        m_clock->Set(now);
        m_engine->EvaluateNow();
        m_engine->WaitIdle();
        std::vector<RunRecord> expected;
        size_t catchUps = 0;
        if (m_autoRunning) {
            for (ExpectedRule& r : m_rules) {
                if (!r.enabled) continue;
                const int64_t due = r.Next();
                if (due > now) continue;
                expected.push_back({r.id, now, now});
                if (now - due > kMinute) ++catchUps;
                r.lastAuto = now;
            }
        }
        std::vector<RunRecord> actual;
        {
            std::lock_guard lock(m_ledger->mutex);
            actual.swap(m_ledger->runs);
        }
        std::sort(expected.begin(), expected.end());
        std::sort(actual.begin(), actual.end());
        if (actual != expected) {
            ADD_FAILURE() << "at " << now << " (UTC " << Text(now) << "): expected " << Ids(expected)
                          << ", ran " << Ids(actual);
            ++m_failures;
        }
        // Catch-up runs say so in the run log, the others do not.
        size_t loggedCatchUps = 0;
        for (const std::string& line : m_log.Lines())
            loggedCatchUps += line.find("开始补运行") != std::string::npos;
        m_log.Clear();
        EXPECT_EQ(loggedCatchUps, catchUps) << "at " << Text(now);
        m_runCount += actual.size();
        m_catchUpCount += catchUps;
        for (const RunRecord& run : actual) {
            m_lastRun[run.id] = run.start;
            m_allRuns[run.id].push_back(run.start);
        }
        ++m_steps;
    }

    // Steps to the next due instant, one minute before it first.
    void StepToNextDue() {
        const int64_t due = NextDue();
        if (due - kMinute > m_clock->NowUtc()) Step(due - kMinute);
        Step(due);
    }
    // Every due instant before `until`, then the clock to `until` (nothing may be due there).
    void RunUntil(int64_t until) {
        while (NextDue() < until) {
            StepToNextDue();
            if (m_failures > 20) FAIL() << "too many faults, stopping";
        }
        Step(until);
    }

    static std::string Text(int64_t utc) {
        const time_t t = time_t(utc);
        std::tm tm{};
        gmtime_r(&t, &tm);
        char buf[32];
        std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
        return buf;
    }
    static std::string Ids(const std::vector<RunRecord>& runs) {
        std::string text = "{";
        for (const RunRecord& r : runs) text += " " + std::to_string(r.id);
        return text + " }";
    }

    ExpectedRule& Rule(size_t index) { return m_rules[index]; }
    std::vector<int64_t> RunsOf(int32_t id) { return m_allRuns[id]; }

    SoakFolder m_folder;
    std::shared_ptr<test::FakeClock> m_clock =
        std::make_shared<test::FakeClock>(kStart, *TimeZone::FromPosix(kZone));
    std::shared_ptr<RunLedger> m_ledger = std::make_shared<RunLedger>();
    test::LogCollector m_log;
    std::unique_ptr<Engine> m_engine;
    std::vector<ExpectedRule> m_rules;
    std::map<int32_t, ClearRule> m_clearRecords;
    std::map<int32_t, BackupRule> m_backupRecords;
    std::map<int32_t, int64_t> m_lastRun;
    std::map<int32_t, std::vector<int64_t>> m_allRuns;
    bool m_autoRunning = false;
    size_t m_steps = 0, m_runCount = 0, m_catchUpCount = 0;
    int m_failures = 0;
};

}  // namespace

TEST_F(Soak, FiftyRulesRunExactlyWhenScheduledFor400Days) {
    ASSERT_EQ(kSchedules.size(), 50u);
    StartEngine();
    AddRules();
    ASSERT_EQ(m_engine->AutoRun(), KIVO_OK);
    m_autoRunning = true;

    // Spring forward on 2024-03-31; before it, the clock is set back three hours and replayed.
    const int64_t setBackAt = LibcZone::Utc(2024, 3, 14, 7, 3) + 17;
    RunUntil(setBackAt);
    for (int64_t t = setBackAt - 3 * kHour; t < setBackAt; t += 10 * kMinute) Step(t);

    // The machine sleeps from a Friday evening to Monday noon: one catch-up run per rule at most.
    RunUntil(LibcZone::Utc(2024, 5, 17, 19, 41) + 29);
    Step(LibcZone::Utc(2024, 5, 20, 10, 2) + 29);

    // The daily 01:00 rule is disabled for ten days; enabled again, it owes nothing for them.
    RunUntil(LibcZone::Utc(2024, 6, 1, 12, 0) + 41);
    ASSERT_EQ(m_engine->EnableRule(Rule(11).id, 0), KIVO_OK);
    Rule(11).enabled = false;
    RunUntil(LibcZone::Utc(2024, 6, 11, 12, 0) + 41);
    ASSERT_EQ(m_engine->EnableRule(Rule(11).id, 1), KIVO_OK);
    Rule(11).enabled = true;
    Rule(11).since = m_clock->NowUtc();

    // Automatic running off for two days.
    RunUntil(LibcZone::Utc(2024, 8, 2, 6, 0) + 53);
    ASSERT_EQ(m_engine->StopRun(), KIVO_OK);
    m_autoRunning = false;
    const int64_t stopped = m_clock->NowUtc();
    for (int64_t t = stopped + kHour; t < stopped + 2 * kDay; t += 7 * kHour) Step(t);
    m_clock->Set(LibcZone::Utc(2024, 8, 4, 6, 0) + 53);
    ASSERT_EQ(m_engine->AutoRun(), KIVO_OK);
    m_autoRunning = true;
    Step(m_clock->NowUtc());

    // The app is closed for a day and a half; the run times come back from the rule file.
    RunUntil(LibcZone::Utc(2024, 9, 20, 21, 30) + 11);
    m_engine.reset();
    m_autoRunning = false;
    m_clock->Set(LibcZone::Utc(2024, 9, 22, 9, 45) + 11);
    StartEngine();
    ASSERT_EQ(m_engine->AutoRun(), KIVO_OK);
    m_autoRunning = true;
    Step(m_clock->NowUtc());

    // Fall back on 2024-10-27, and on to the end.
    RunUntil(kEnd);
    m_engine.reset();

    {
        std::lock_guard lock(m_ledger->mutex);
        EXPECT_TRUE(m_ledger->overlapping.empty()) << "a rule ran twice at once";
    }
    // The days that test the wall-clock rules, spelled out: local 02:30 does not exist on 2024-03-31
    // and runs at the change (03:00 CEST); on 2024-10-27 it occurs twice and runs once, the first time.
    const std::vector<int64_t> daily0230 = RunsOf(Rule(15).id);
    auto ranAt = [&](int64_t t) { return std::count(daily0230.begin(), daily0230.end(), t); };
    EXPECT_EQ(ranAt(LibcZone::Utc(2024, 3, 30, 1, 30)), 1);   // 02:30 CET
    EXPECT_EQ(ranAt(LibcZone::Utc(2024, 3, 31, 1, 0)), 1);    // the change: 03:00 CEST
    EXPECT_EQ(ranAt(LibcZone::Utc(2024, 4, 1, 0, 30)), 1);    // 02:30 CEST
    EXPECT_EQ(ranAt(LibcZone::Utc(2024, 10, 27, 0, 30)), 1);  // the first 02:30 (CEST)
    EXPECT_EQ(ranAt(LibcZone::Utc(2024, 10, 27, 1, 30)), 0);  // not the second (CET)
    // Monthly on the 31st and the 29th: the month's last day when it has none.
    const std::vector<int64_t> monthly31 = RunsOf(Rule(40).id);
    EXPECT_EQ(std::count(monthly31.begin(), monthly31.end(), LibcZone::Utc(2024, 2, 28, 23, 0)),
              1);  // 02-29 00:00
    EXPECT_EQ(std::count(monthly31.begin(), monthly31.end(), LibcZone::Utc(2024, 4, 29, 22, 0)),
              1);  // 04-30 00:00
    const std::vector<int64_t> monthly29 = RunsOf(Rule(42).id);
    EXPECT_EQ(std::count(monthly29.begin(), monthly29.end(), LibcZone::Utc(2025, 2, 28, 11, 0)),
              1);  // 02-28 12:00
    // Weekly on every day (127) runs daily; on Sundays at 02:30 hits both changes.
    EXPECT_EQ(RunsOf(Rule(20).id).size(), RunsOf(Rule(15).id).size());

    // The store ends consistent: the rules as added, each with the run times the reckoning gives,
    // and the mirror equal to the main file.
    RuleStore store(m_folder.Path());
    RuleStore::Loaded loaded = store.Load(kEnd, false);
    EXPECT_EQ(loaded.refuse, 0);
    EXPECT_TRUE(loaded.logLines.empty());
    std::string main, mirror;
    ASSERT_TRUE(shared::ReadWholeFile(store.MainFile(), main));
    ASSERT_TRUE(shared::ReadWholeFile(store.MirrorFile(), mirror));
    EXPECT_EQ(main, mirror);
    ASSERT_EQ(loaded.rules.clear.size(), m_clearRecords.size());
    ASSERT_EQ(loaded.rules.backup.size(), m_backupRecords.size());
    for (const ExpectedRule& r : m_rules) {
        SCOPED_TRACE("rule " + std::to_string(r.id));
        const RuleTimes expected{r.since, r.lastAuto, m_lastRun[r.id]};
        if (auto c = loaded.rules.clear.find(r.id); c != loaded.rules.clear.end()) {
            EXPECT_EQ(std::memcmp(&c->second.rule, &m_clearRecords[r.id], sizeof(ClearRule)), 0);
            EXPECT_EQ(c->second.times, expected);
        } else {
            const auto& b = loaded.rules.backup.at(r.id);
            EXPECT_EQ(std::memcmp(&b.rule, &m_backupRecords[r.id], sizeof(BackupRule)), 0);
            EXPECT_EQ(b.times, expected);
        }
    }
    std::printf("[ soak ] %zu steps, %zu runs (%zu catch-up) of %zu rules over 400 days\n", m_steps,
                m_runCount, m_catchUpCount, m_rules.size());
}

namespace {

std::string LocalMinute(int64_t utc) {
    const time_t t = time_t(utc);
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm);
    return text;
}

}  // namespace

// Runs that outlast the rule's next time: that occurrence is skipped and logged, the one after runs,
// and two runs of the rule never overlap. 400 days for each kind of schedule.
TEST(SoakLongRuns, RunsThatOutlastTheNextTimeSkipItAndNeverOverlap) {
    struct Case {
        RunSchedule schedule;
        int64_t holdFor;  // never ends on an occurrence, so the order of the two is never a race
    };
    const Case cases[] = {
        {Interval(180), 200 * kMinute},
        {Daily(230), 26 * kHour},  // 25 hours would end on the next 02:30 after the 25-hour day
        {Weekly(0x40, 230), 8 * kDay},
        {Monthly(31, 0), 40 * kDay},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("schedule " + std::to_string(c.schedule.interval_minutes) + "/" +
                     std::to_string(c.schedule.month_day) + "/" + std::to_string(c.schedule.week_mask) + "/" +
                     std::to_string(c.schedule.time_hhmm));
        SoakFolder folder;
        auto clock = std::make_shared<test::FakeClock>(kStart, *TimeZone::FromPosix(kZone));
        auto ledger = std::make_shared<HeldLedger>();
        ledger->holdFor = c.holdFor;
        EngineOptions options;
        options.dataFolder = folder.Path();
        options.clock = clock;
        options.makeRunner = [ledger] { return std::make_unique<HeldRunner>(ledger); };
        options.workers = 2;
        options.maxSleep = std::chrono::hours(1);
        test::LogCollector log;  // outlives the engine, whose log thread calls it
        auto engine = std::make_unique<Engine>(std::move(options));
        log.Register(*engine);
        engine->Start();
        ClearRule rule = test::ValidClearRule("长时间运行");
        rule.schedule = c.schedule;
        ASSERT_EQ(engine->AddClear(&rule), KIVO_OK);
        ASSERT_EQ(engine->AutoRun(), KIVO_OK);
        const std::string label = "清理规则 " + std::to_string(rule.rule_id) + "「长时间运行」";

        std::vector<RunRecord> expectedRuns;
        std::vector<std::string> expectedSkips;
        int64_t baseline = kStart, heldUntil = 0;
        auto moveClock = [&](int64_t to) {
            std::lock_guard lock(ledger->mutex);
            clock->Set(to);
            ledger->changed.notify_all();
        };
        for (;;) {
            const int64_t due = NextRun(c.schedule, baseline);
            if (heldUntil && heldUntil < due) {  // the run ends first
                moveClock(heldUntil);
                engine->WaitIdle();
                expectedRuns.back().end = heldUntil;
                heldUntil = 0;
                continue;
            }
            ASSERT_NE(due, heldUntil);
            // A run still held past the end is let go only through its next occurrence, which it skips:
            // jumping the clock straight to its end would race the engine's own skip of that occurrence.
            if (due > kEnd && !heldUntil) break;
            moveClock(due);
            engine->EvaluateNow();
            baseline = due;
            if (heldUntil) {
                expectedSkips.push_back(label + "上次运行尚未结束，跳过 " + LocalMinute(due) + " 的计划运行");
                continue;
            }
            expectedRuns.push_back({rule.rule_id, due, 0});
            heldUntil = due + c.holdFor;
            std::unique_lock lock(ledger->mutex);
            ASSERT_TRUE(ledger->changed.wait_for(lock, std::chrono::seconds(20),
                                                 [&] { return ledger->runs.size() == expectedRuns.size(); }))
                << "no run started at " << LocalMinute(due);
        }
        engine.reset();

        EXPECT_EQ(ledger->runs, expectedRuns);
        EXPECT_EQ(ledger->mostInFlight, 1);
        std::vector<std::string> skips;
        for (const std::string& line : log.Lines()) {
            if (line.find("跳过") != std::string::npos) skips.push_back(line);
        }
        EXPECT_EQ(skips, expectedSkips);
        EXPECT_GE(expectedSkips.size(), 6u);
        std::printf("[ soak ] schedule %u/%u/%u/%04u, runs lasting %llds: %zu runs, %zu skipped\n",
                    unsigned(c.schedule.interval_minutes), unsigned(c.schedule.month_day),
                    unsigned(c.schedule.week_mask), unsigned(c.schedule.time_hhmm),
                    static_cast<long long>(c.holdFor), expectedRuns.size(), expectedSkips.size());
    }
}
