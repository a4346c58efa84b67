// The C entry points of kivo.dll, linked statically into a native test.
#include "engine_api.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
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
        kivo_deinit(),
        kivo_auto_run(),
        kivo_stop_run(),
        kivo_man_run(1),
        kivo_enable_rule(1, 1),
        kivo_del_rule(1),
        kivo_get_clear(1, &c),
        kivo_get_backup(1, &b),
        kivo_add_clear(&c),
        kivo_add_backup(&b),
        kivo_update_clear(&c),
        kivo_update_backup(&b),
        kivo_backup("a", "b"),
        kivo_restore("a", "b"),
        kivo_preview_clear(
            1, [](const KivoCleanFile*, void*) {}, nullptr, nullptr, nullptr),
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

namespace {

struct Previewed {
    std::vector<std::u16string> paths;
    std::vector<unsigned long long> sizes;
    bool deinitOnFirst = false;
    std::vector<int> deinitResults;
};

void Remember(const KivoCleanFile* file, void* context) {
    auto* p = static_cast<Previewed*>(context);
    p->paths.emplace_back(file->path, size_t(file->path_length));
    p->sizes.push_back(file->size);
    if (p->deinitOnFirst && p->paths.size() == 1) p->deinitResults.push_back(kivo_deinit());
}

// A clean rule on a real folder of the test's own, with no condition but the free space given.
ClearRule RuleOn(const std::filesystem::path& folder, int minFreePercent) {
    ClearRule r = ValidClearRule();
    WriteField(r.path, folder.string());  // ASCII
    r.keep_days = 0;
    r.min_free_percent = minFreePercent;
    WriteField(r.name_filter, "");
    WriteField(r.size_range, "");
    WriteField(r.date_range, "");
    WriteField(r.time_range, "");
    return r;
}

}  // namespace

TEST_F(KivoCApi, PreviewListsAClearRulesFilesAndAnswersEveryFaultWithItsCode) {
    Collected log;
    ASSERT_EQ(kivo_regist_msg(&Collect, &log), 0);
    Previewed p;
    KivoCleanVerdict verdict;
    EXPECT_EQ(kivo_preview_clear(1, &Remember, &p, nullptr, &verdict), KIVO_E_NOT_INITIALISED);
    ASSERT_EQ(kivo_init(), 0);
    const std::filesystem::path watched = m_home.Path() / "watched";
    std::filesystem::create_directories(watched / "sub");
    for (const char* name : {"a.tmp", "sub/b.tmp"}) {
        std::ofstream(watched / name) << "12345";
    }
    ClearRule rule = RuleOn(watched, 0);
    ClearRule missing = RuleOn(m_home.Path() / "gone", 0);
    BackupRule backup = ValidBackupRule();
    ASSERT_EQ(kivo_add_clear(&rule), 0);
    ASSERT_EQ(kivo_add_clear(&missing), 0);
    ASSERT_EQ(kivo_add_backup(&backup), 0);

    ASSERT_EQ(kivo_preview_clear(rule.rule_id, &Remember, &p, nullptr, &verdict), 0);
    EXPECT_EQ(p.paths, (std::vector<std::u16string>{u"a.tmp", u"sub/b.tmp"}));
    EXPECT_EQ(p.sizes, (std::vector<unsigned long long>{5, 5}));
    EXPECT_EQ(verdict.files, 2u);
    EXPECT_EQ(verdict.bytes, 10u);
    EXPECT_EQ(verdict.deletes_now, 1);
    EXPECT_EQ(verdict.min_free_percent, 0);
    EXPECT_STREQ(verdict.reason, "");
    EXPECT_TRUE(std::filesystem::exists(watched / "sub/b.tmp"));

    // The real volume is far from full: with 5% to keep free, a run now deletes nothing, and the
    // preview says so and still lists what it would delete.
    ClearRule roomy = RuleOn(watched, 5);
    roomy.rule_id = rule.rule_id;
    ASSERT_EQ(kivo_update_clear(&roomy), 0);
    p = {};
    ASSERT_EQ(kivo_preview_clear(rule.rule_id, &Remember, &p, nullptr, &verdict), 0);
    EXPECT_EQ(verdict.deletes_now, 0);
    EXPECT_EQ(verdict.min_free_percent, 5);
    EXPECT_GE(verdict.free_percent, 5);
    EXPECT_GT(verdict.total_bytes, verdict.free_bytes);
    EXPECT_EQ(p.paths.size(), 2u);

    volatile long stop = 1;
    p = {};
    EXPECT_EQ(kivo_preview_clear(rule.rule_id, &Remember, &p, &stop, &verdict), KIVO_E_STOPPED);
    EXPECT_TRUE(p.paths.empty());
    EXPECT_EQ(kivo_preview_clear(missing.rule_id, &Remember, &p, nullptr, &verdict), KIVO_E_FOLDER_MISSING);
    EXPECT_EQ(std::string(verdict.reason),
              "无法打开监视目录 " + (m_home.Path() / "gone").string() + "：文件不存在");
    const struct {
        int got, expected;
    } codes[] = {
        {kivo_preview_clear(backup.rule_id, &Remember, &p, nullptr, &verdict), KIVO_E_WRONG_KIND},
        {kivo_preview_clear(999, &Remember, &p, nullptr, &verdict), KIVO_E_UNKNOWN_RULE},
        {kivo_preview_clear(rule.rule_id, nullptr, &p, nullptr, &verdict), KIVO_E_NULL_ARGUMENT},
        {kivo_preview_clear(rule.rule_id, &Remember, &p, nullptr, nullptr), KIVO_E_NULL_ARGUMENT},
    };
    for (const auto& c : codes) EXPECT_EQ(c.got, c.expected);
    // A preview is no run: the run log heard nothing of it.
    ASSERT_EQ(kivo_deinit(), 0);
    std::lock_guard lock(log.mutex);
    EXPECT_TRUE(log.lines.empty()) << log.lines.front();
}

TEST_F(KivoCApi, APreviewInProgressWhenTheEngineShutsDownEndsCancelled) {
    ASSERT_EQ(kivo_init(), 0);
    const std::filesystem::path watched = m_home.Path() / "watched";
    std::filesystem::create_directories(watched);
    for (const char* name : {"a", "b", "c"}) std::ofstream(watched / name) << "x";
    ClearRule rule = RuleOn(watched, 0);
    ASSERT_EQ(kivo_add_clear(&rule), 0);
    Previewed p;
    p.deinitOnFirst = true;
    KivoCleanVerdict verdict;
    EXPECT_EQ(kivo_preview_clear(rule.rule_id, &Remember, &p, nullptr, &verdict), KIVO_E_CANCELLED);
    EXPECT_EQ(p.deinitResults, std::vector<int>{KIVO_OK});
    EXPECT_EQ(p.paths, std::vector<std::u16string>{u"a"});
    EXPECT_EQ(kivo_is_run(), 0);
}
