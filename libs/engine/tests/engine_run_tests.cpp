// Automatic and manual runs through a whole engine, with a fake clock (Beijing time, UTC+8) and a
// scripted runner. EvaluateNow makes the scheduler look at the fake clock; WaitIdle waits for the runs.
#include "engine.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "engine_test_support.h"
#include "run_event.h"

using namespace kivo;
using namespace kivo::test;

namespace {

// 2024-07-01 16:00 in Beijing.
const int64_t kStart = Utc(2024, 7, 1, 8, 0);
int64_t Beijing(int d, int h, int mi, int s = 0) {
    return Utc(2024, 7, d, h, mi, s) - 8 * 3600;
}

const std::string kRule1 = "清理规则 1「清理临时文件」";

// Lines and run events in the one order the engine's log thread delivered them.
class Timeline {
  public:
    void Register(Engine& engine) {
        engine.SetLogCallback(&OnLine, this);
        engine.SetRunEventCallback(&OnEvent, this);
    }
    std::vector<std::string> Entries() const {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }
    std::vector<KivoRunEvent> Events() const {
        std::lock_guard lock(m_mutex);
        return m_events;
    }
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_entries.clear();
        m_events.clear();
    }

  private:
    static void OnLine(const char* text, void* context) {
        auto* self = static_cast<Timeline*>(context);
        std::lock_guard lock(self->m_mutex);
        self->m_entries.emplace_back(text);
    }
    static void OnEvent(const KivoRunEvent* event, void* context) {
        auto* self = static_cast<Timeline*>(context);
        std::lock_guard lock(self->m_mutex);
        self->m_entries.push_back("event outcome " + std::to_string(event->outcome) + " trigger " +
                                  std::to_string(event->trigger));
        self->m_events.push_back(*event);
    }
    mutable std::mutex m_mutex;
    std::vector<std::string> m_entries;
    std::vector<KivoRunEvent> m_events;
};

class EngineRuns : public ::testing::Test {
  protected:
    void SetUp() override { Start(); }

    void Start(int workers = 1) {
        m_engine = StartEngine(m_folder.Path(), m_clock, m_script, workers);
        m_log.Register(*m_engine);
    }
    void Restart() {
        m_engine.reset();
        Start();
    }

    int32_t AddDailyClear(uint16_t hhmm) {
        ClearRule c = ValidClearRule();
        c.schedule = RunSchedule{0, 0, 0, hhmm};
        EXPECT_EQ(m_engine->AddClear(&c), 0);
        return c.rule_id;
    }

    void Tick() {
        m_engine->EvaluateNow();
        m_engine->WaitIdle();
    }

    TempFolder m_folder;
    std::shared_ptr<FakeClock> m_clock = std::make_shared<FakeClock>(kStart, TimeZone::Fixed(8 * 3600));
    std::shared_ptr<RunnerScript> m_script = std::make_shared<RunnerScript>();
    LogCollector m_log;
    Timeline m_timeline;  // outlives the engine, which may still deliver to it
    std::unique_ptr<Engine> m_engine;
};

using Lines = std::vector<std::string>;

}  // namespace

TEST_F(EngineRuns, RunsAtItsTimeAndNeverTwiceWhenTheClockIsSetBack) {
    AddDailyClear(1630);
    ASSERT_EQ(m_engine->AutoRun(), 0);
    EXPECT_TRUE(m_engine->IsAutoRunning());
    Tick();
    EXPECT_TRUE(m_script->Calls().empty());

    m_clock->Set(Beijing(1, 16, 30));
    Tick();
    EXPECT_EQ(m_script->Calls(), Lines{"clear 1"});
    EXPECT_EQ(m_log.Lines(),
              (Lines{"自动运行已启动", kRule1 + "开始运行", kRule1 + "运行完成：共 0 个文件"}));

    m_clock->Set(Beijing(1, 16, 10));  // set back 20 minutes, then through 16:30 again
    Tick();
    m_clock->Set(Beijing(1, 16, 31));
    Tick();
    EXPECT_EQ(m_script->Calls(), Lines{"clear 1"});

    m_clock->Set(Beijing(2, 16, 30));
    Tick();
    EXPECT_EQ(m_script->Calls(), (Lines{"clear 1", "clear 1"}));
}

TEST_F(EngineRuns, MissedRunsWhileClosedRunOnceAsCatchUpAndRunTimesPersist) {
    AddDailyClear(200);
    m_engine.reset();
    m_clock->Set(Beijing(4, 9, 0));  // three 02:00 runs missed while the app was closed
    Start();
    ASSERT_EQ(m_engine->AutoRun(), 0);
    Tick();
    Tick();
    EXPECT_EQ(m_script->Calls(), Lines{"clear 1"});
    EXPECT_EQ(m_log.Lines(),
              (Lines{"自动运行已启动", kRule1 + "开始补运行（自 2024-07-02 02:00 起错过的计划运行）",
                     kRule1 + "运行完成：共 0 个文件"}));

    // The run time persisted: a restart later that day owes nothing.
    m_clock->Set(Beijing(4, 9, 10));
    Restart();
    ASSERT_EQ(m_engine->AutoRun(), 0);
    Tick();
    EXPECT_EQ(m_script->Calls(), Lines{"clear 1"});
}

TEST_F(EngineRuns, MissedWhileAutomaticRunningWasOffRunsOnceWhenItStarts) {
    AddDailyClear(1630);
    ASSERT_EQ(m_engine->AutoRun(), 0);
    ASSERT_EQ(m_engine->StopRun(), 0);
    EXPECT_FALSE(m_engine->IsAutoRunning());
    m_clock->Set(Beijing(1, 16, 35));
    Tick();
    EXPECT_TRUE(m_script->Calls().empty());
    ASSERT_EQ(m_engine->AutoRun(), 0);
    Tick();
    EXPECT_EQ(m_script->Calls(), Lines{"clear 1"});
    EXPECT_EQ(m_log.Lines(), (Lines{"自动运行已启动", "自动运行已停止", "自动运行已启动",
                                    kRule1 + "开始补运行（自 2024-07-01 16:30 起错过的计划运行）",
                                    kRule1 + "运行完成：共 0 个文件"}));
}

TEST_F(EngineRuns, JumpForwardGivesOneCatchUpNotOnePerMissedInterval) {
    ClearRule c = ValidClearRule();
    c.schedule = RunSchedule{5, 0, 0, 0};
    ASSERT_EQ(m_engine->AddClear(&c), 0);
    ASSERT_EQ(m_engine->AutoRun(), 0);
    m_clock->Advance(86400);  // a day asleep: 288 intervals
    Tick();
    Tick();
    EXPECT_EQ(m_script->Calls(), Lines{"clear 1"});
    m_clock->Advance(299);
    Tick();
    EXPECT_EQ(m_script->Calls().size(), 1u);
    m_clock->Advance(1);
    Tick();
    EXPECT_EQ(m_script->Calls().size(), 2u);
}

TEST_F(EngineRuns, ClockSetBackMoreThanTwoDaysSchedulesAfresh) {
    AddDailyClear(1630);
    ASSERT_EQ(m_engine->AutoRun(), 0);
    m_clock->Set(Beijing(10, 16, 30));  // a wrong clock, days ahead: the rule runs (catch-up) ...
    Tick();
    ASSERT_EQ(m_script->Calls().size(), 1u);
    m_clock->Set(Beijing(1, 16, 0));  // ... and the clock is corrected
    m_log.Clear();
    Tick();
    EXPECT_EQ(m_log.Lines(),
              Lines{kRule1 + "的上次运行时间比当前时间晚两天以上（系统时间被调回？），从现在起重新计划"});
    m_clock->Set(Beijing(1, 16, 30));
    Tick();
    EXPECT_EQ(m_script->Calls().size(), 2u);
}

TEST_F(EngineRuns, DisabledRulesDoNotRunAndEnablingOwesNoCatchUp) {
    const int32_t id = AddDailyClear(1630);
    ASSERT_EQ(m_engine->AutoRun(), 0);
    ASSERT_EQ(m_engine->EnableRule(id, 0), 0);
    m_clock->Set(Beijing(1, 17, 0));
    Tick();
    ASSERT_EQ(m_engine->EnableRule(id, 1), 0);
    Tick();
    EXPECT_TRUE(m_script->Calls().empty());
    m_clock->Set(Beijing(2, 16, 30));
    Tick();
    EXPECT_EQ(m_script->Calls(), Lines{"clear 1"});
}

TEST_F(EngineRuns, RuleStillRunningSkipsItsNextOccurrence) {
    ClearRule c = ValidClearRule();
    c.schedule = RunSchedule{1, 0, 0, 0};
    ASSERT_EQ(m_engine->AddClear(&c), 0);
    m_script->holdRuns = true;
    ASSERT_EQ(m_engine->AutoRun(), 0);
    m_clock->Advance(60);
    m_engine->EvaluateNow();
    m_script->WaitRunning(1);
    m_clock->Advance(60);
    m_engine->EvaluateNow();
    EXPECT_EQ(m_engine->ManRun(c.rule_id), KIVO_E_RULE_BUSY);
    m_script->Release();
    m_engine->WaitIdle();
    EXPECT_EQ(m_script->Calls(), Lines{"clear 1"});
    EXPECT_EQ(m_log.Lines(), (Lines{"自动运行已启动", kRule1 + "开始运行",
                                    kRule1 + "上次运行尚未结束，跳过 2024-07-01 16:02 的计划运行",
                                    kRule1 + "运行完成：共 0 个文件"}));
}

TEST_F(EngineRuns, ManualRunsReportEveryOutcomeInTheirEndLineAndThenInTheirEvent) {
    Timeline& timeline = m_timeline;
    timeline.Register(*m_engine);
    ClearRule c = ValidClearRule();
    ASSERT_EQ(m_engine->AddClear(&c), 0);
    struct Case {
        RunReport report;
        std::string endLine;
        int outcome;
    } cases[] = {
        {{RunOutcome::Succeeded, ""}, kRule1 + "运行完成", KIVO_RUN_SUCCEEDED},
        {{RunOutcome::Succeeded, "删除 3 个文件"}, kRule1 + "运行完成：删除 3 个文件", KIVO_RUN_SUCCEEDED},
        {{RunOutcome::PartiallyFailed, "1 个文件无法删除"},
         kRule1 + "运行部分失败：1 个文件无法删除",
         KIVO_RUN_PARTLY_FAILED},
        {{RunOutcome::Failed, "文件夹不存在"}, kRule1 + "运行失败：文件夹不存在", KIVO_RUN_FAILED},
        {{RunOutcome::Cancelled, ""}, kRule1 + "运行已取消", KIVO_RUN_CANCELLED},
    };
    for (const Case& c2 : cases) {
        timeline.Clear();
        m_script->report = c2.report;
        ASSERT_EQ(m_engine->ManRun(c.rule_id), 0);
        m_engine->WaitIdle();
        EXPECT_EQ(timeline.Entries(), (Lines{kRule1 + "开始手动运行", c2.endLine,
                                             "event outcome " + std::to_string(c2.outcome) + " trigger 1"}));
        ASSERT_EQ(timeline.Events().size(), 1u);
        EXPECT_EQ(std::string(timeline.Events()[0].end_line), c2.endLine);
    }
    EXPECT_EQ(m_script->Calls().size(), 5u);
}

TEST_F(EngineRuns, AScheduledRunsEventNamesTheRuleAndTheTimeItEnded) {
    Timeline& timeline = m_timeline;
    timeline.Register(*m_engine);
    BackupRule b = ValidBackupRule("每日备份");
    b.schedule = RunSchedule{0, 0, 0, 1630};
    ASSERT_EQ(m_engine->AddBackup(&b), 0);
    m_script->report = {RunOutcome::Failed, "目标文件夹无法写入"};
    ASSERT_EQ(m_engine->AutoRun(), 0);
    m_clock->Set(Beijing(1, 16, 30));
    Tick();
    ASSERT_EQ(timeline.Events().size(), 1u);
    const KivoRunEvent e = timeline.Events()[0];
    EXPECT_EQ(e.size, int32_t(sizeof(KivoRunEvent)));
    EXPECT_EQ(e.rule_id, b.rule_id);
    EXPECT_EQ(e.kind, KIVO_RULE_BACKUP);
    EXPECT_EQ(e.outcome, KIVO_RUN_FAILED);
    EXPECT_EQ(e.trigger, KIVO_TRIGGER_SCHEDULED);
    EXPECT_EQ(e.end_utc, Beijing(1, 16, 30));
    EXPECT_EQ(std::string(e.description), "每日备份");
    EXPECT_EQ(std::string(e.end_line), "备份规则 1「每日备份」运行失败：目标文件夹无法写入");

    // A catch-up run says so.
    m_clock->Set(Beijing(3, 9, 0));
    Tick();
    ASSERT_EQ(timeline.Events().size(), 2u);
    EXPECT_EQ(timeline.Events()[1].trigger, KIVO_TRIGGER_CATCH_UP);

    // A check of the rule's sets is told apart from a run of it.
    ASSERT_EQ(m_engine->VerifyBackup(b.rule_id), 0);
    m_engine->WaitIdle();
    ASSERT_EQ(timeline.Events().size(), 3u);
    EXPECT_EQ(timeline.Events()[2].trigger, KIVO_TRIGGER_VERIFY);
}

TEST_F(EngineRuns, WithoutARunEventCallbackEveryLineStillArrivesAndNothingWaits) {
    ClearRule c = ValidClearRule();
    ASSERT_EQ(m_engine->AddClear(&c), 0);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(m_engine->ManRun(c.rule_id), 0);
        m_engine->WaitIdle();
    }
    EXPECT_EQ(m_log.Lines().size(), 6u);
}

TEST_F(EngineRuns, AVerifyIsQueuedLikeAManualRunAlsoForADisabledRule) {
    ClearRule c = ValidClearRule();
    BackupRule b = ValidBackupRule();
    ASSERT_EQ(m_engine->AddClear(&c), 0);
    ASSERT_EQ(m_engine->AddBackup(&b), 0);
    ASSERT_EQ(m_engine->EnableRule(b.rule_id, 0), 0);
    EXPECT_EQ(m_engine->VerifyBackup(999), KIVO_E_UNKNOWN_RULE);
    EXPECT_EQ(m_engine->VerifyBackup(c.rule_id), KIVO_E_WRONG_KIND);
    m_script->holdRuns = true;
    ASSERT_EQ(m_engine->VerifyBackup(b.rule_id), 0);
    m_script->WaitRunning(1);
    EXPECT_EQ(m_engine->VerifyBackup(b.rule_id), KIVO_E_RULE_BUSY);
    m_script->Release();
    m_engine->WaitIdle();
    const std::string rule = "备份规则 2「备份文档」";
    EXPECT_EQ(m_script->Calls(), std::vector<std::string>{"verify 2"});
    EXPECT_EQ(m_log.Lines(), (Lines{rule + "开始校验备份", rule + "运行完成：共 0 个文件"}));
}

TEST_F(EngineRuns, RunsCarryTheDataFoldersInstallationIdentityAcrossRestarts) {
    BackupRule b = ValidBackupRule();
    ASSERT_EQ(m_engine->AddBackup(&b), 0);
    ASSERT_EQ(m_engine->ManRun(b.rule_id), 0);
    m_engine->WaitIdle();
    Restart();
    ASSERT_EQ(m_engine->VerifyBackup(b.rule_id), 0);
    m_engine->WaitIdle();
    ASSERT_EQ(m_script->installations.size(), 2u);
    EXPECT_EQ(m_script->installations[0].size(), 32u);
    EXPECT_EQ(m_script->installations[1], m_script->installations[0]);
    EXPECT_EQ(FileOrMissing(m_folder.Path() / "installation.id"),
              "kivo installation\nid=" + m_script->installations[0] + "\n");

    // Another data folder is another installation.
    TempFolder other;
    auto second = StartEngine(other.Path(), m_clock, m_script);
    ASSERT_EQ(second->AddBackup(&b), 0);
    ASSERT_EQ(second->ManRun(b.rule_id), 0);
    second->WaitIdle();
    ASSERT_EQ(m_script->installations.size(), 3u);
    EXPECT_NE(m_script->installations[2], m_script->installations[0]);
}

TEST_F(EngineRuns, RunnerExceptionIsAFailedRun) {
    class Throwing final : public TaskRunner {
        RunReport RunClear(const ClearRule&, RunContext&) override { throw std::runtime_error("boom"); }
        RunReport RunBackup(const BackupRule&, RunContext&) override { throw std::bad_alloc(); }
        int Backup(const std::string&, const std::string&, RunContext&) override { throw 42; }
        int Restore(const std::string&, const std::string&, RunContext&) override { return 0; }
    };
    m_engine.reset();
    EngineOptions options;
    options.dataFolder = m_folder.Path();
    options.clock = m_clock;
    options.makeRunner = [] { return std::make_unique<Throwing>(); };
    m_engine = std::make_unique<Engine>(std::move(options));
    m_engine->Start();
    m_log.Register(*m_engine);
    ClearRule c = ValidClearRule();
    ASSERT_EQ(m_engine->AddClear(&c), 0);
    ASSERT_EQ(m_engine->ManRun(c.rule_id), 0);
    m_engine->WaitIdle();
    EXPECT_EQ(m_engine->Backup("a", "b"), KIVO_E_INTERNAL);
    m_engine->WaitIdle();
    EXPECT_EQ(m_log.Lines(), (Lines{kRule1 + "开始手动运行", kRule1 + "运行失败：内部错误",
                                    "错误：手动备份时发生内部错误"}));
}

TEST_F(EngineRuns, ShutdownCancelsTheRunningRunAndDropsQueuedOnes) {
    ClearRule a = ValidClearRule(), b = ValidClearRule("第二条");
    ASSERT_EQ(m_engine->AddClear(&a), 0);
    ASSERT_EQ(m_engine->AddClear(&b), 0);
    m_script->holdRuns = true;
    ASSERT_EQ(m_engine->AutoRun(), 0);
    ASSERT_EQ(m_engine->ManRun(a.rule_id), 0);
    m_script->WaitRunning(1);
    ASSERT_EQ(m_engine->ManRun(b.rule_id), 0);  // queued behind it: one worker
    m_engine->Shutdown();
    EXPECT_EQ(m_log.Lines(), (Lines{"自动运行已启动", kRule1 + "开始手动运行", kRule1 + "运行已取消",
                                    "自动运行已停止", "任务引擎关闭，取消了 1 个排队的运行"}));
    EXPECT_EQ(m_script->Calls(), Lines{"clear 1"});
}

TEST_F(EngineRuns, QueuedRunOfADeletedOrDisabledRuleIsDropped) {
    ClearRule a = ValidClearRule(), b = ValidClearRule("第二条"), c = ValidClearRule("第三条");
    ASSERT_EQ(m_engine->AddClear(&a), 0);
    ASSERT_EQ(m_engine->AddClear(&b), 0);
    ASSERT_EQ(m_engine->AddClear(&c), 0);
    m_script->holdRuns = true;
    ASSERT_EQ(m_engine->ManRun(a.rule_id), 0);
    m_script->WaitRunning(1);
    ASSERT_EQ(m_engine->ManRun(b.rule_id), 0);
    ASSERT_EQ(m_engine->ManRun(c.rule_id), 0);
    ASSERT_EQ(m_engine->DeleteRule(b.rule_id), 0);
    ASSERT_EQ(m_engine->EnableRule(c.rule_id, 0), 0);
    m_script->Release();
    m_engine->WaitIdle();
    EXPECT_EQ(m_script->Calls(), Lines{"clear 1"});
    EXPECT_EQ(m_log.Lines(),
              (Lines{kRule1 + "开始手动运行", kRule1 + "运行完成：共 0 个文件",
                     "规则 2 已被删除，取消它排队的运行", "清理规则 3「第三条」已被禁用，取消它排队的运行"}));
}

TEST_F(EngineRuns, CallbackMayCallTheEngineBecauseNoLockIsHeld) {
    struct Reentrant {
        Engine* engine;
        std::vector<int> counts;
        static void Callback(const char*, void* context) {
            auto* self = static_cast<Reentrant*>(context);
            // Each of these needs the engine's lock; holding it during the callback would deadlock here.
            self->counts.push_back(self->engine->ClearList(nullptr));
            self->engine->SetLogCallback(&Callback, context);
        }
    } reentrant{m_engine.get(), {}};
    m_engine->SetLogCallback(&Reentrant::Callback, &reentrant);
    ClearRule c = ValidClearRule();
    ASSERT_EQ(m_engine->AddClear(&c), 0);
    ASSERT_EQ(m_engine->AutoRun(), 0);
    ASSERT_EQ(m_engine->ManRun(c.rule_id), 0);
    m_engine->WaitIdle();
    m_engine->SetLogCallback(nullptr, nullptr);  // every line was delivered: none can reach `reentrant` now
    EXPECT_EQ(reentrant.counts, (std::vector<int>{1, 1, 1}));
}

TEST(RunEvent, AnEndLineTooLongForTheRecordIsCutAtACharacterBoundaryWithAnEllipsis) {
    auto repeat = [](const std::string& unit, size_t n) {
        std::string out;
        for (size_t i = 0; i < n; ++i) out += unit;
        return out;
    };
    struct Case {
        std::string line, expected;
    } cases[] = {
        {std::string(1023, 'a'), std::string(1023, 'a')},          // fits with its NUL
        {std::string(1024, 'a'), std::string(1021, 'a') + "…"},    // one byte too long
        {repeat("中", 600), repeat("中", 510) + "…"},              // cut between characters
        {"a" + repeat("中", 600), "a" + repeat("中", 510) + "…"},  // ... whatever the parity
        {repeat("中", 511) + "a", repeat("中", 511) + "a"},        // exactly 1023 bytes
    };
    for (const Case& c : cases) {
        const KivoRunEvent e =
            MakeRunEvent(RuleKind::Clear, 4, "描述", RunTrigger::Manual, RunOutcome::Failed, 0, c.line);
        EXPECT_EQ(std::string(e.end_line), c.expected) << c.line.size();
        EXPECT_EQ(e.end_line[sizeof e.end_line - 1], '\0');
    }
}
