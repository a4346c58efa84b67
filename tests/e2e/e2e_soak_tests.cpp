// A background copy that lives for weeks: thousands of finished runs reported, one in four failed,
// each with its run-log lines, its notice and the tip it changes. After a warm-up, what the copy
// holds (kernel handles, windows, threads, GDI and USER objects, private bytes) stays flat.
//
// In CI: the real plan_desk.exe with a stand-in engine (soak/kivo.dll) that reports 2,000 runs as
// fast as the app takes them. The long soak runs the real engine over real rules for as many
// minutes as asked (see README, "Soak"):
//   PLAN_DESK_SOAK_MINUTES=30 scripts/wine-run.sh build/win/bin/e2e_soak_tests.exe
//       --gtest_also_run_disabled_tests --gtest_filter='*RealEngine*'
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "PlanDeskSession.h"
#include "ResourceCounts.h"
#include "resource.h"
#include "rule_store.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

// Kernel handles may differ by a few between two looks (threads of the system's own come and go).
constexpr long kHandleTolerance = 6;
// Private bytes: the heap settles in pages; a leak of a line or a notice per run would pass this
// within a few hundred runs.
constexpr long long kPrivateBytesTolerance = 1 << 20;

int Setting(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

HWND HiddenMainWindowOf(DWORD pid) {
    for (HWND found = nullptr; (found = ::FindWindowExW(nullptr, found, L"#32770", kMainCaption.c_str()));) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(found, &owner);
        if (owner == pid) return found;
    }
    return nullptr;
}

// Samples taken after the warm-up must all stay within the tolerances of the first of them.
void ExpectFlat(const std::vector<ResourceCounts>& samples, bool guiCounted) {
    ASSERT_GE(samples.size(), 2u);
    const ResourceCounts& base = samples.front();
    ASSERT_GE(base.handles, 0) << "no way to count the app's handles";
    for (size_t i = 1; i < samples.size(); ++i) {
        SCOPED_TRACE(i);
        const ResourceCounts& now = samples[i];
        EXPECT_LE(now.handles, base.handles + kHandleTolerance) << "kernel handles grew";
        EXPECT_EQ(now.windows, base.windows) << "windows grew";
        EXPECT_EQ(now.threads, base.threads) << "threads grew";
        if (guiCounted) {
            EXPECT_LE(now.gdiObjects, base.gdiObjects + 2) << "GDI objects grew";
            EXPECT_LE(now.userObjects, base.userObjects + 2) << "USER objects grew";
        }
        if (base.privateBytes >= 0) {
            EXPECT_LE(now.privateBytes, base.privateBytes + kPrivateBytesTolerance) << "private bytes grew";
        }
    }
}

void Report(const std::vector<ResourceCounts>& samples, bool guiCounted) {
    for (size_t i = 0; i < samples.size(); ++i) std::printf("  %2zu: %s\n", i, Describe(samples[i]).c_str());
    if (!guiCounted)
        std::printf(
            "  GDI and USER object counts: not available here (GetGuiResources answers 0, as under Wine)\n");
    std::fflush(stdout);
}

// Exit from the icon's menu, answered Yes.
void ExitThroughTheIcon(AppSession& app, HWND notify) {
    ::PostMessageW(notify, WM_COMMAND, IDM_TRAY_EXIT, 0);
    const MessageBoxView box = WaitForMessageBox(app.Pid(), kMainCaption);
    ASSERT_TRUE(AnswerMessageBox(box, IDYES));
    DWORD code = 1;
    EXPECT_TRUE(app.WaitForExit(30000, &code));
    EXPECT_EQ(code, 0u);
}

TEST(Soak, ABackgroundCopyStaysFlatThroughThousandsOfRunsAQuarterOfThemFailed) {
    const int runs = Setting("PLAN_DESK_SOAK_RUNS", 2000);
    const int batch = Setting("PLAN_DESK_SOAK_BATCH", 250);
    const int batches = (runs + batch - 1) / batch;
    constexpr int kWarmUpBatches = 2;  // the run log reaches its 513 rows in the second
    ASSERT_GT(batches, kWarmUpBatches);
    ScratchFolder home(L"soak");
    ::SetEnvironmentVariableW(L"PLAN_DESK_SOAK_RUNS", std::to_wstring(runs).c_str());
    ::SetEnvironmentVariableW(L"PLAN_DESK_SOAK_BATCH", std::to_wstring(batch).c_str());
    AppSession app(home.Wide(), false, L"/background", L"soak\\plan_desk.exe");
    ASSERT_TRUE(app.Started());
    HWND notify = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (notify = NotifyWindowOf(app.Pid())) != nullptr; }));
    HWND main = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (main = HiddenMainWindowOf(app.Pid())) != nullptr; }));
    RemoteListView log(app.Process(), Control(main, IDC_LOG_LIST));

    const bool guiCounted = GuiResourcesCounted(app.Process());
    std::vector<ResourceCounts> samples;
    const auto started = std::chrono::steady_clock::now();
    for (int b = 1; b <= batches; ++b) {
        const std::wstring end = L"浸泡：第 " + std::to_wstring(b) + L" 批结束";
        ASSERT_TRUE(WaitUntil([&] { return log.Count() > 0 && log.Cell(log.Count() - 1, 1) == end; }, 60000))
            << "batch " << b << " did not end";
        ::Sleep(200);  // the batch's last notices settle
        if (b >= kWarmUpBatches) samples.push_back(CountResources(app.Process(), app.Pid()));
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf(
        "%d runs (%d failed) in %.1f s; after the warm-up of %d batches, and after each further batch of "
        "%d:\n",
        runs, runs / 4, seconds, kWarmUpBatches, batch);
    Report(samples, guiCounted);
    EXPECT_TRUE(VisibleWindowsOf(app.Pid()).empty());
    EXPECT_EQ(log.Count(), 513);
    ExpectFlat(samples, guiCounted);
    ExitThroughTheIcon(app, notify);
}

// The real engine: interval rules of one minute over empty folders, one in four over a folder that
// does not exist; all of them run every minute.
TEST(Soak, DISABLED_RealEngineMinuteRulesForAsLongAsAsked) {
    const int minutes = Setting("PLAN_DESK_SOAK_MINUTES", 5);
    const int ruleCount = Setting("PLAN_DESK_SOAK_RULES", 400);
    ScratchFolder home(L"soak-real");
    ScratchFolder work(L"soak-work");
    kivo::RuleSet rules;
    const int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    for (int id = 1; id <= ruleCount; ++id) {
        const fs::path folder = work.Path() / (L"目录" + std::to_wstring(id));
        if (id % 4 != 0) fs::create_directories(folder);
        kivo::StoredRule<ClearRule> stored;
        stored.rule.rule_id = id;
        stored.rule.enabled = 1;
        stored.rule.schedule = RunSchedule{1, 0, 0, 0};
        WriteField(stored.rule.description, "浸泡 " + std::to_string(id));
        WriteField(stored.rule.path, Gbk(folder.wstring()));
        stored.times.since = now - 3600;
        rules.clear[id] = stored;
    }
    rules.nextId = ruleCount + 1;
    ASSERT_TRUE(kivo::RuleStore(home.Path()).Save(rules));

    AppSession app(home.Wide(), false, L"/background");
    ASSERT_TRUE(app.Started());
    HWND notify = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (notify = NotifyWindowOf(app.Pid())) != nullptr; }));
    const bool guiCounted = GuiResourcesCounted(app.Process());
    std::vector<ResourceCounts> samples;
    for (int minute = 1; minute <= minutes; ++minute) {
        ::Sleep(60000);
        if (minute >= 2) samples.push_back(CountResources(app.Process(), app.Pid()));
        std::printf("minute %d: %s\n", minute, Describe(CountResources(app.Process(), app.Pid())).c_str());
        std::fflush(stdout);
    }
    // The run history counts the runs.
    long ended = 0, failed = 0;
    for (const auto& entry : fs::directory_iterator(home.Path() / L"logs")) {
        std::ifstream in(entry.path(), std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            ended += line.find(U8(L"运行完成")) != std::string::npos ||
                     line.find(U8(L"运行失败")) != std::string::npos;
            failed += line.find(U8(L"运行失败")) != std::string::npos;
        }
    }
    std::printf("%ld runs ended, %ld of them failed, in %d minutes\n", ended, failed, minutes);
    Report(samples, guiCounted);
    EXPECT_GE(ended, long(ruleCount) * (minutes - 1));
    ExpectFlat(samples, guiCounted);
    ExitThroughTheIcon(app, notify);
}

}  // namespace
}  // namespace e2e
