#include "engine.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <thread>

#include "engine_test_support.h"
#include "shared_files.h"

using namespace kivo;
using namespace kivo::test;

namespace {

class EngineApi : public ::testing::Test {
  protected:
    void SetUp() override {
        m_clock = std::make_shared<FakeClock>(Utc(2024, 7, 1, 8, 0));
        m_script = std::make_shared<RunnerScript>();
        m_engine = StartEngine(m_folder.Path(), m_clock, m_script);
        m_log.Register(*m_engine);
    }

    std::string RuleFile() const {
        std::string bytes;
        shared::ReadWholeFile(m_folder.Path() / "rules.dat", bytes);
        return bytes;
    }

    void Restart() {
        m_engine.reset();
        m_engine = StartEngine(m_folder.Path(), m_clock, m_script);
        m_log.Register(*m_engine);
    }

    TempFolder m_folder;
    std::shared_ptr<FakeClock> m_clock;
    std::shared_ptr<RunnerScript> m_script;
    LogCollector m_log;
    std::unique_ptr<Engine> m_engine;
};

}  // namespace

TEST_F(EngineApi, AddedRulesComeBackByteForByteWithTheirIds) {
    ClearRule clear = ValidClearRule();
    std::memcpy(clear.description, "abc\0stale", 10);  // bytes behind the terminator are not kept
    BackupRule backup = ValidBackupRule();
    backup.rule_id = 77;  // ignored: the engine assigns ids
    ASSERT_EQ(m_engine->AddClear(&clear), KIVO_OK);
    ASSERT_EQ(m_engine->AddBackup(&backup), KIVO_OK);
    EXPECT_EQ(clear.rule_id, 1);
    EXPECT_EQ(backup.rule_id, 2);

    ClearRule expectedClear = clear;
    std::memset(expectedClear.description, 0, 32);
    std::memcpy(expectedClear.description, "abc", 3);
    ClearRule gotClear{};
    BackupRule gotBackup{};
    ASSERT_EQ(m_engine->GetClear(1, &gotClear), KIVO_OK);
    ASSERT_EQ(m_engine->GetBackup(2, &gotBackup), KIVO_OK);
    EXPECT_EQ(std::memcmp(&gotClear, &expectedClear, sizeof gotClear), 0);
    EXPECT_EQ(std::memcmp(&gotBackup, &backup, sizeof gotBackup), 0);

    Restart();
    ClearRule afterRestart{};
    ASSERT_EQ(m_engine->GetClear(1, &afterRestart), KIVO_OK);
    EXPECT_EQ(std::memcmp(&afterRestart, &expectedClear, sizeof afterRestart), 0);
    EXPECT_EQ(ClearIds(*m_engine), (std::vector<int32_t>{1}));
    EXPECT_EQ(BackupIds(*m_engine), (std::vector<int32_t>{2}));
}

TEST_F(EngineApi, IdsAreUniqueAcrossKindsAndNeverReused) {
    ClearRule c = ValidClearRule();
    BackupRule b = ValidBackupRule();
    ASSERT_EQ(m_engine->AddClear(&c), 0);   // 1
    ASSERT_EQ(m_engine->AddBackup(&b), 0);  // 2
    ASSERT_EQ(m_engine->AddClear(&c), 0);   // 3
    ASSERT_EQ(m_engine->DeleteRule(3), 0);
    ASSERT_EQ(m_engine->DeleteRule(2), 0);
    Restart();
    ASSERT_EQ(m_engine->AddBackup(&b), 0);
    EXPECT_EQ(b.rule_id, 4);
    ASSERT_EQ(m_engine->AddClear(&c), 0);
    EXPECT_EQ(c.rule_id, 5);
    // An old id from a stale list never reaches another rule.
    EXPECT_EQ(m_engine->EnableRule(2, 0), KIVO_E_UNKNOWN_RULE);
    EXPECT_EQ(m_engine->DeleteRule(3), KIVO_E_UNKNOWN_RULE);
    EXPECT_EQ(ClearIds(*m_engine), (std::vector<int32_t>{1, 5}));
    EXPECT_EQ(BackupIds(*m_engine), (std::vector<int32_t>{4}));
}

TEST_F(EngineApi, SecondListCallNeverWritesMoreThanTheFirstAnnounced) {
    ClearRule c = ValidClearRule();
    for (int i = 0; i < 3; ++i) ASSERT_EQ(m_engine->AddClear(&c), 0);

    std::vector<ClearRule> buffer(4);
    std::memset(buffer.data(), 0xAB, buffer.size() * sizeof(ClearRule));
    const std::vector<unsigned char> canary(sizeof(ClearRule), 0xAB);
    // No announcement yet: nothing is written.
    EXPECT_EQ(m_engine->ClearList(buffer.data()), 0);
    EXPECT_EQ(std::memcmp(&buffer[0], canary.data(), sizeof(ClearRule)), 0);

    ASSERT_EQ(m_engine->ClearList(nullptr), 3);
    ASSERT_EQ(m_engine->AddClear(&c), 0);  // a fourth rule arrives between the two calls
    EXPECT_EQ(m_engine->ClearList(buffer.data()), 3);
    EXPECT_EQ(buffer[2].rule_id, 3);
    EXPECT_EQ(std::memcmp(&buffer[3], canary.data(), sizeof(ClearRule)), 0);

    ASSERT_EQ(m_engine->ClearList(nullptr), 4);
    ASSERT_EQ(m_engine->DeleteRule(2), 0);  // and one goes: its announced slot is zeroed, not left stale
    EXPECT_EQ(m_engine->ClearList(buffer.data()), 3);
    EXPECT_EQ(buffer[1].rule_id, 3);
    const ClearRule zero{};
    EXPECT_EQ(std::memcmp(&buffer[3], &zero, sizeof zero), 0);

    // Each thread's announcement is its own.
    std::thread([&] { EXPECT_EQ(m_engine->ClearList(nullptr), 3); }).join();
    EXPECT_EQ(m_engine->BackupList(nullptr), 0);
    BackupRule backupCanary;
    std::memset(&backupCanary, 0xCD, sizeof backupCanary);
    BackupRule untouched = backupCanary;
    EXPECT_EQ(m_engine->BackupList(&backupCanary), 0);
    EXPECT_EQ(std::memcmp(&backupCanary, &untouched, sizeof untouched), 0);
}

TEST_F(EngineApi, BadInputIsRefusedWithItsCodeAndStoresNothing) {
    ClearRule c = ValidClearRule();
    BackupRule b = ValidBackupRule();
    ASSERT_EQ(m_engine->AddClear(&c), 0);   // id 1
    ASSERT_EQ(m_engine->AddBackup(&b), 0);  // id 2
    const std::string fileBefore = RuleFile();

    auto clearWith = [](std::function<void(ClearRule&)> spoil, int32_t id = 1) {
        ClearRule r = ValidClearRule();
        r.rule_id = id;
        spoil(r);
        return r;
    };
    auto backupWith = [](std::function<void(BackupRule&)> spoil, int32_t id = 2) {
        BackupRule r = ValidBackupRule();
        r.rule_id = id;
        spoil(r);
        return r;
    };
    Engine& e = *m_engine;
    struct Case {
        const char* name;
        std::function<int()> call;
        int expected;
    } cases[] = {
        {"add clear null", [&] { return e.AddClear(nullptr); }, KIVO_E_NULL_ARGUMENT},
        {"add backup null", [&] { return e.AddBackup(nullptr); }, KIVO_E_NULL_ARGUMENT},
        {"update clear null", [&] { return e.UpdateClear(nullptr); }, KIVO_E_NULL_ARGUMENT},
        {"update backup null", [&] { return e.UpdateBackup(nullptr); }, KIVO_E_NULL_ARGUMENT},
        {"get clear null", [&] { return e.GetClear(1, nullptr); }, KIVO_E_NULL_ARGUMENT},
        {"get backup null", [&] { return e.GetBackup(2, nullptr); }, KIVO_E_NULL_ARGUMENT},
        {"backup null source", [&] { return e.Backup(nullptr, "x"); }, KIVO_E_NULL_ARGUMENT},
        {"backup null file", [&] { return e.Backup("x", nullptr); }, KIVO_E_NULL_ARGUMENT},
        {"restore null file", [&] { return e.Restore(nullptr, "x"); }, KIVO_E_NULL_ARGUMENT},
        {"restore null folder", [&] { return e.Restore("x", nullptr); }, KIVO_E_NULL_ARGUMENT},
        {"backup empty source", [&] { return e.Backup("", "x"); }, KIVO_E_BAD_TEXT},
        {"restore control character", [&] { return e.Restore("a\tb", "x"); }, KIVO_E_BAD_TEXT},
        {"get clear unknown",
         [&] {
             ClearRule r{};
             return e.GetClear(99, &r);
         },
         KIVO_E_UNKNOWN_RULE},
        {"get clear of a backup id",
         [&] {
             ClearRule r{};
             return e.GetClear(2, &r);
         },
         KIVO_E_WRONG_KIND},
        {"get backup of a clear id",
         [&] {
             BackupRule r{};
             return e.GetBackup(1, &r);
         },
         KIVO_E_WRONG_KIND},
        {"get negative id",
         [&] {
             BackupRule r{};
             return e.GetBackup(-1, &r);
         },
         KIVO_E_UNKNOWN_RULE},
        {"update clear unknown",
         [&] {
             auto r = clearWith([](ClearRule&) {}, 99);
             return e.UpdateClear(&r);
         },
         KIVO_E_UNKNOWN_RULE},
        {"update clear with a backup id",
         [&] {
             auto r = clearWith([](ClearRule&) {}, 2);
             return e.UpdateClear(&r);
         },
         KIVO_E_WRONG_KIND},
        {"update backup with a clear id",
         [&] {
             auto r = backupWith([](BackupRule&) {}, 1);
             return e.UpdateBackup(&r);
         },
         KIVO_E_WRONG_KIND},
        {"enable unknown", [&] { return e.EnableRule(99, 1); }, KIVO_E_UNKNOWN_RULE},
        {"enable flag 2", [&] { return e.EnableRule(1, 2); }, KIVO_E_BAD_FLAG},
        {"enable flag -1", [&] { return e.EnableRule(1, -1); }, KIVO_E_BAD_FLAG},
        {"delete unknown", [&] { return e.DeleteRule(0); }, KIVO_E_UNKNOWN_RULE},
        {"run unknown", [&] { return e.ManRun(12345); }, KIVO_E_UNKNOWN_RULE},
        {"add enabled 2",
         [&] {
             auto r = clearWith([](ClearRule& r) { r.enabled = 2; });
             return e.AddClear(&r);
         },
         KIVO_E_BAD_FLAG},
        {"update enabled -1",
         [&] {
             auto r = backupWith([](BackupRule& r) { r.enabled = -1; });
             return e.UpdateBackup(&r);
         },
         KIVO_E_BAD_FLAG},
        {"add interval 1441",
         [&] {
             auto r = clearWith([](ClearRule& r) { r.schedule = {1441, 0, 0, 0}; });
             return e.AddClear(&r);
         },
         KIVO_E_BAD_SCHEDULE},
        {"add month day 32",
         [&] {
             auto r = backupWith([](BackupRule& r) { r.schedule = {0, 32, 0, 800}; });
             return e.AddBackup(&r);
         },
         KIVO_E_BAD_SCHEDULE},
        {"update week mask bit 7",
         [&] {
             auto r = clearWith([](ClearRule& r) { r.schedule = {0, 0, 0xFF, 800}; });
             return e.UpdateClear(&r);
         },
         KIVO_E_BAD_SCHEDULE},
        {"update time 12:60",
         [&] {
             auto r = backupWith([](BackupRule& r) { r.schedule = {0, 0, 1, 1260}; });
             return e.UpdateBackup(&r);
         },
         KIVO_E_BAD_SCHEDULE},
        {"add unterminated description",
         [&] {
             auto r = clearWith([](ClearRule& r) { std::memset(r.description, 'd', 32); });
             return e.AddClear(&r);
         },
         KIVO_E_BAD_TEXT},
        {"add empty path",
         [&] {
             auto r = clearWith([](ClearRule& r) { r.path[0] = 0; });
             return e.AddClear(&r);
         },
         KIVO_E_BAD_TEXT},
        {"update empty backup path",
         [&] {
             auto r = backupWith([](BackupRule& r) { r.backup_path[0] = 0; });
             return e.UpdateBackup(&r);
         },
         KIVO_E_BAD_TEXT},
        {"add malformed size range",
         [&] {
             auto r = clearWith([](ClearRule& r) { WriteField(r.size_range, "1;2"); });
             return e.AddClear(&r);
         },
         KIVO_E_BAD_RANGE},
        {"update inverted date range",
         [&] {
             auto r = clearWith([](ClearRule& r) { WriteField(r.date_range, "20240102,20240101"); });
             return e.UpdateClear(&r);
         },
         KIVO_E_BAD_RANGE},
        {"add negative keep_days",
         [&] {
             auto r = backupWith([](BackupRule& r) { r.keep_days = -1; });
             return e.AddBackup(&r);
         },
         KIVO_E_BAD_RANGE},
        {"update min_free 100",
         [&] {
             auto r = clearWith([](ClearRule& r) { r.min_free_percent = 100; });
             return e.UpdateClear(&r);
         },
         KIVO_E_BAD_RANGE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), c.expected) << c.name;
    }
    EXPECT_EQ(RuleFile(), fileBefore);
    EXPECT_EQ(ClearIds(e), (std::vector<int32_t>{1}));
    EXPECT_EQ(BackupIds(e), (std::vector<int32_t>{2}));
    ClearRule stored{};
    ASSERT_EQ(e.GetClear(1, &stored), 0);
    ClearRule original = ValidClearRule();
    original.rule_id = 1;
    EXPECT_EQ(std::memcmp(&stored, &original, sizeof stored), 0);
    EXPECT_EQ(m_script->Calls(), std::vector<std::string>{});
}

TEST_F(EngineApi, UpdateEnableAndDeleteChangeTheStoredRules) {
    ClearRule c = ValidClearRule();
    ASSERT_EQ(m_engine->AddClear(&c), 0);
    ClearRule changed = c;
    WriteField(changed.description, "新的描述");
    changed.schedule = RunSchedule{0, 31, 0, 2330};
    ASSERT_EQ(m_engine->UpdateClear(&changed), 0);
    ASSERT_EQ(m_engine->EnableRule(c.rule_id, 0), 0);
    Restart();
    ClearRule got{};
    ASSERT_EQ(m_engine->GetClear(c.rule_id, &got), 0);
    changed.enabled = 0;
    EXPECT_EQ(std::memcmp(&got, &changed, sizeof got), 0);
    EXPECT_EQ(m_engine->ManRun(c.rule_id), KIVO_E_RULE_DISABLED);
    ASSERT_EQ(m_engine->EnableRule(c.rule_id, 1), 0);
    ASSERT_EQ(m_engine->DeleteRule(c.rule_id), 0);
    EXPECT_EQ(m_engine->GetClear(c.rule_id, &got), KIVO_E_UNKNOWN_RULE);
    Restart();
    EXPECT_EQ(m_engine->ClearList(nullptr), 0);
}

TEST_F(EngineApi, SecondEngineOnTheFolderRefusesChangesUntilTheFirstHasGone) {
    ClearRule c = ValidClearRule();
    ASSERT_EQ(m_engine->AddClear(&c), 0);

    auto second = StartEngine(m_folder.Path(), m_clock, m_script);
    LogCollector secondLog;
    secondLog.Register(*second);
    ClearRule more = ValidClearRule();
    EXPECT_EQ(second->AddClear(&more), KIVO_E_STORE_LOCKED);
    EXPECT_EQ(second->UpdateClear(&c), KIVO_E_STORE_LOCKED);
    EXPECT_EQ(second->EnableRule(c.rule_id, 0), KIVO_E_STORE_LOCKED);
    EXPECT_EQ(second->DeleteRule(c.rule_id), KIVO_E_STORE_LOCKED);
    EXPECT_EQ(second->ManRun(c.rule_id), KIVO_E_STORE_LOCKED);
    EXPECT_EQ(second->AutoRun(), KIVO_E_STORE_LOCKED);
    EXPECT_FALSE(second->IsAutoRunning());
    EXPECT_EQ(ClearIds(*second), (std::vector<int32_t>{1}));  // it still reads the rules
    second->WaitIdle();
    const std::string folder = *shared::GbkFromPath(m_folder.Path());
    EXPECT_EQ(secondLog.Lines(),
              (std::vector<std::string>{
                  "错误：数据文件夹 " + folder + " 正被另一个任务引擎使用，本引擎不会更改其中的规则",
                  "错误：数据文件夹正被另一个任务引擎使用，拒绝添加规则",
                  "错误：数据文件夹正被另一个任务引擎使用，拒绝修改规则",
                  "错误：数据文件夹正被另一个任务引擎使用，拒绝禁用规则",
                  "错误：数据文件夹正被另一个任务引擎使用，拒绝删除规则",
                  "错误：数据文件夹正被另一个任务引擎使用，拒绝手动运行规则 1",
                  "错误：数据文件夹正被另一个任务引擎使用，拒绝启动自动运行",
              }));
    // Nothing was lost: the first engine's rules are intact.
    EXPECT_EQ(ClearIds(*m_engine), (std::vector<int32_t>{1}));

    // Once the first engine has gone, the second takes the folder over, re-reads it and proceeds.
    ASSERT_EQ(m_engine->AddClear(&more), 0);  // id 2, written by the first engine
    m_engine.reset();
    secondLog.Clear();
    EXPECT_EQ(second->EnableRule(2, 0), KIVO_OK);  // a rule it had not seen before taking over
    ClearRule third = ValidClearRule();
    EXPECT_EQ(second->AddClear(&third), KIVO_OK);
    EXPECT_EQ(third.rule_id, 3);
    EXPECT_EQ(ClearIds(*second), (std::vector<int32_t>{1, 2, 3}));
    ClearRule two{};
    ASSERT_EQ(second->GetClear(2, &two), KIVO_OK);
    EXPECT_EQ(two.enabled, 0);
    second->WaitIdle();
    EXPECT_EQ(secondLog.Lines(), std::vector<std::string>{"另一个任务引擎已释放数据文件夹，重新读取规则"});
}

TEST_F(EngineApi, DamagedRuleFileIsRecoveredAndTheLineWaitsForTheCallback) {
    ClearRule c = ValidClearRule();
    ASSERT_EQ(m_engine->AddClear(&c), 0);
    m_engine.reset();
    std::string bytes = RuleFile();
    bytes.resize(bytes.size() / 2);  // truncated, as a copy tool cut off half-way would leave it
    {
        std::ofstream out(m_folder.Path() / "rules.dat", std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }
    m_engine = StartEngine(m_folder.Path(), m_clock, m_script);
    LogCollector late;  // registered after the engine started: the recovery line still arrives
    late.Register(*m_engine);
    m_engine->WaitIdle();
    ASSERT_EQ(late.Lines().size(), 1u);
    EXPECT_EQ(late.Lines()[0].rfind("错误：规则文件 ", 0), 0u);
    EXPECT_NE(late.Lines()[0].find("已损坏，已另存为 "), std::string::npos);
    EXPECT_NE(late.Lines()[0].find("；已从上次的正确副本恢复 1 条规则"), std::string::npos);
    EXPECT_EQ(ClearIds(*m_engine), (std::vector<int32_t>{1}));
}

TEST_F(EngineApi, ManualBackupAndRestoreGoToTheRunnerOnTheCallersThread) {
    m_script->manualResult = KIVO_E_PARTIAL;
    EXPECT_EQ(m_engine->Backup("D:\\文档", "E:\\备份\\a.bkp"), KIVO_E_PARTIAL);
    m_script->manualResult = 0;
    EXPECT_EQ(m_engine->Restore("E:\\备份\\a.bkp", "D:\\还原"), 0);
    EXPECT_EQ(m_script->Calls(), (std::vector<std::string>{"backup-file D:\\文档 -> E:\\备份\\a.bkp",
                                                           "restore E:\\备份\\a.bkp -> D:\\还原"}));
}

TEST(EngineWithoutFileRunner, BackupAndRestoreAreNotAvailableAndRunsFail) {
    TempFolder folder;
    auto engine = StartEngine(folder.Path(), std::make_shared<FakeClock>(Utc(2024, 7, 1, 8, 0)), nullptr);
    LogCollector log;
    log.Register(*engine);
    EXPECT_EQ(engine->Backup("D:\\a", "E:\\a.bkp"), KIVO_E_NOT_AVAILABLE);
    EXPECT_EQ(engine->Restore("E:\\a.bkp", "D:\\a"), KIVO_E_NOT_AVAILABLE);
    BackupRule b = ValidBackupRule("周报");
    ASSERT_EQ(engine->AddBackup(&b), 0);
    ASSERT_EQ(engine->ManRun(b.rule_id), 0);
    engine->WaitIdle();
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "错误：手动备份不可用，此版本的任务引擎不能执行文件操作",
                               "错误：手动还原不可用，此版本的任务引擎不能执行文件操作",
                               "备份规则 1「周报」开始手动运行",
                               "备份规则 1「周报」运行失败：此版本的任务引擎不能执行文件操作",
                           }));
}

TEST(EngineLifecycle, CallsAfterShutdownAreRefusedAndAFreshEngineStartsAgain) {
    TempFolder folder;
    auto clock = std::make_shared<FakeClock>(Utc(2024, 7, 1, 8, 0));
    auto engine = StartEngine(folder.Path(), clock, nullptr);
    ClearRule c = ValidClearRule();
    ASSERT_EQ(engine->AddClear(&c), 0);
    ASSERT_EQ(engine->AutoRun(), 0);
    engine->Shutdown();
    engine->Shutdown();  // a second time is harmless
    EXPECT_FALSE(engine->IsAutoRunning());
    EXPECT_EQ(engine->AddClear(&c), KIVO_E_NOT_INITIALISED);
    EXPECT_EQ(engine->ClearList(nullptr), 0);  // a count, never an error code
    EXPECT_EQ(engine->AutoRun(), KIVO_E_NOT_INITIALISED);
    EXPECT_EQ(engine->Backup("a", "b"), KIVO_E_NOT_INITIALISED);
    // The lock went with it: a new engine on the folder may change it.
    auto again = StartEngine(folder.Path(), clock, nullptr);
    EXPECT_EQ(again->AddClear(&c), 0);
    EXPECT_EQ(ClearIds(*again), (std::vector<int32_t>{1, 2}));
}

TEST(EngineLifecycle, UnusableDataFolderRefusesChangesUntilItCanBeLocked) {
    TempFolder base;
    const std::filesystem::path folder = base.Path() / "not_yet";  // the lock file cannot be created
    auto engine = StartEngine(folder, std::make_shared<FakeClock>(0), nullptr);
    LogCollector log;
    log.Register(*engine);
    ClearRule c = ValidClearRule();
    EXPECT_EQ(engine->AddClear(&c), KIVO_E_STORE_WRITE);
    engine->WaitIdle();
    const std::string gbk = *shared::GbkFromPath(folder);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "错误：无法在数据文件夹 " + gbk + " 中创建锁文件，本引擎不会更改其中的规则",
                               "错误：规则文件不能更改，拒绝添加规则",
                           }));
    std::filesystem::create_directories(folder);
    EXPECT_EQ(engine->AddClear(&c), KIVO_OK);
    EXPECT_EQ(ClearIds(*engine), (std::vector<int32_t>{1}));
}
