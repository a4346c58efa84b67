// The C entry points of kivo.dll, linked statically into a native test.
#include "engine_api.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "engine_test_support.h"

using namespace kivo::test;

namespace {

struct Collected {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::vector<int> deinitResults;
    bool callDeinit = false;
};

void Collect(const char* text, void* context) {
    auto* c = static_cast<Collected*>(context);
    bool callDeinit;
    {
        std::lock_guard lock(c->mutex);
        c->lines.emplace_back(text);
        callDeinit = c->callDeinit;
    }
    if (callDeinit) {
        const int rc = kivo_deinit();
        std::lock_guard lock(c->mutex);
        c->deinitResults.push_back(rc);
    }
}

struct Events {
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<KivoRunEvent> events;
    static void Collect(const KivoRunEvent* event, void* context) {
        auto* self = static_cast<Events*>(context);
        std::lock_guard lock(self->mutex);
        self->events.push_back(*event);
        self->arrived.notify_all();
    }
};

class KivoCApi : public ::testing::Test {
  protected:
    void SetUp() override { setenv("PLAN_DESK_HOME", m_home.Path().c_str(), 1); }
    void TearDown() override {
        kivo_deinit();
        kivo_regist_msg(nullptr, nullptr);
        kivo_regist_run_event(nullptr, nullptr);
        unsetenv("PLAN_DESK_HOME");
    }
    TempFolder m_home;
};

}  // namespace

TEST_F(KivoCApi, EveryCallBeforeInitIsRefusedAndTheListsAreEmpty) {
    ClearRule c = ValidClearRule();
    BackupRule b = ValidBackupRule();
    EXPECT_EQ(kivo_is_run(), 0);
    EXPECT_EQ(kivo_regist_msg(nullptr, nullptr), 0);
    const int results[] = {
        kivo_deinit(),          kivo_auto_run(),        kivo_stop_run(),       kivo_man_run(1),
        kivo_enable_rule(1, 1), kivo_del_rule(1),       kivo_get_clear(1, &c), kivo_get_backup(1, &b),
        kivo_add_clear(&c),     kivo_add_backup(&b),    kivo_update_clear(&c), kivo_update_backup(&b),
        kivo_backup("a", "b"),  kivo_restore("a", "b"),
    };
    for (int rc : results) EXPECT_EQ(rc, KIVO_E_NOT_INITIALISED);
    // A caller reads the list calls' answer as a count: an error code would be taken for rules.
    EXPECT_EQ(kivo_get_clear_list(nullptr), 0);
    EXPECT_EQ(kivo_get_backup_list(nullptr), 0);
    EXPECT_EQ(kivo_get_clear_list(&c), 0);
    EXPECT_EQ(kivo_get_backup_list(&b), 0);
}

TEST_F(KivoCApi, RulesSurviveDeinitAndASecondInit) {
    Collected log;
    ASSERT_EQ(kivo_regist_msg(&Collect, &log), 0);  // before init
    ASSERT_EQ(kivo_init(), 0);
    ASSERT_EQ(kivo_init(), 0);  // a second init keeps the running engine
    ClearRule c = ValidClearRule();
    BackupRule b = ValidBackupRule();
    ASSERT_EQ(kivo_add_clear(&c), 0);
    ASSERT_EQ(kivo_add_backup(&b), 0);
    ASSERT_EQ(kivo_auto_run(), 0);
    EXPECT_EQ(kivo_is_run(), 1);
    ASSERT_EQ(kivo_deinit(), 0);
    EXPECT_EQ(kivo_is_run(), 0);
    EXPECT_EQ(kivo_deinit(), KIVO_E_NOT_INITIALISED);

    ASSERT_EQ(kivo_init(), 0);
    EXPECT_EQ(kivo_is_run(), 0);  // automatic running starts only when asked
    ASSERT_EQ(kivo_get_clear_list(nullptr), 1);
    ClearRule listed{};
    ASSERT_EQ(kivo_get_clear_list(&listed), 1);
    EXPECT_EQ(std::memcmp(&listed, &c, sizeof c), 0);
    BackupRule got{};
    ASSERT_EQ(kivo_get_backup(b.rule_id, &got), 0);
    EXPECT_EQ(std::memcmp(&got, &b, sizeof b), 0);
    ASSERT_EQ(kivo_deinit(), 0);
    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"自动运行已启动", "自动运行已停止"}));
}

TEST_F(KivoCApi, DeinitFromTheCallbackIsRefusedInsteadOfWaitingForItself) {
    Collected log;
    log.callDeinit = true;
    ASSERT_EQ(kivo_init(), 0);
    ASSERT_EQ(kivo_regist_msg(&Collect, &log), 0);  // after init
    ASSERT_EQ(kivo_auto_run(), 0);
    ASSERT_EQ(kivo_stop_run(), 0);
    ASSERT_EQ(kivo_deinit(), 0);
    std::lock_guard lock(log.mutex);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"自动运行已启动", "自动运行已停止"}));
    EXPECT_EQ(log.deinitResults, (std::vector<int>{KIVO_E_ENGINE_THREAD, KIVO_E_ENGINE_THREAD}));
}

TEST_F(KivoCApi, LockedFolderIsReportedThroughTheCodes) {
    // Another engine (here in the same process) holds the data folder.
    auto holder = StartEngine(m_home.Path(), std::make_shared<FakeClock>(0), nullptr);
    ASSERT_EQ(kivo_init(), 0);
    ClearRule c = ValidClearRule();
    EXPECT_EQ(kivo_add_clear(&c), KIVO_E_STORE_LOCKED);
    EXPECT_EQ(kivo_auto_run(), KIVO_E_STORE_LOCKED);
    EXPECT_EQ(kivo_is_run(), 0);
    EXPECT_EQ(kivo_get_clear_list(nullptr), 0);
}

TEST_F(KivoCApi, ARunEventRegistrationMadeBeforeInitHearsOfAFailedRun) {
    Events heard;
    ASSERT_EQ(kivo_regist_run_event(&Events::Collect, &heard), 0);
    ASSERT_EQ(kivo_init(), 0);
    ClearRule c = ValidClearRule();  // its folder does not exist: the run fails
    ASSERT_EQ(kivo_add_clear(&c), 0);
    ASSERT_EQ(kivo_man_run(c.rule_id), 0);
    std::unique_lock lock(heard.mutex);
    // A guard against a hang, not a speed check.
    ASSERT_TRUE(
        heard.arrived.wait_for(lock, std::chrono::seconds(20), [&] { return !heard.events.empty(); }));
    EXPECT_EQ(heard.events[0].rule_id, c.rule_id);
    EXPECT_EQ(heard.events[0].kind, KIVO_RULE_CLEAR);
    EXPECT_EQ(heard.events[0].outcome, KIVO_RUN_FAILED);
    EXPECT_EQ(heard.events[0].trigger, KIVO_TRIGGER_MANUAL);
}
