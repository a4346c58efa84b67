// Two installations (two data folders, two engines with the real file runner) back up one source into
// one backup folder. Their rules share the id 1, so their sets share the name "kivo-1-...". One run
// is held in the middle of its copy while the other installation runs and expires its own sets.
// Neither may lose a file. Built for Wine as well, where the locks are Windows' own share modes.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "engine.h"
#include "engine_test_support.h"
#include "runner_options.h"
#include "shared_files.h"

using namespace kivo;
using namespace kivo::test;

namespace {

namespace stdfs = std::filesystem;
constexpr int64_t kDay = 86400;

// Holds a run at the one changed file (which every platform opens before it copies) until released.
struct Gate {
    std::mutex mutex;
    std::condition_variable changed;
    bool armed = false, holding = false, open = false;

    fs::Status At(RunnerOptions::Seam seam, const fs::NativeString& relative) {
        if (seam != RunnerOptions::Seam::SourceOpened || relative != fs::NativeFromAscii("f03.txt"))
            return {};
        std::unique_lock lock(mutex);
        if (!armed) return {};
        holding = true;
        changed.notify_all();
        changed.wait(lock, [&] { return open; });
        return {};
    }
    void WaitHolding() {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return holding; });
    }
    void Open() {
        std::lock_guard lock(mutex);
        open = true;
        changed.notify_all();
    }
};

struct Installation {
    Installation(std::shared_ptr<Gate> gate, int64_t now) : clock(std::make_shared<FakeClock>(now)) {
        EngineOptions options;
        options.dataFolder = home.Path();
        options.clock = clock;
        options.makeRunner = [gate] {
            RunnerOptions runner;
            if (gate)
                runner.seam = [gate](RunnerOptions::Seam seam, const fs::NativeString& relative) {
                    return gate->At(seam, relative);
                };
            return MakeFileTaskRunner(runner);
        };
        engine = std::make_unique<Engine>(std::move(options));
        log.Register(*engine);
        engine->Start();
    }
    std::vector<std::string> Lines(const std::string& containing) const {
        std::vector<std::string> out;
        for (const std::string& line : log.Lines())
            if (line.find(containing) != std::string::npos) out.push_back(line);
        return out;
    }

    TempFolder home;
    std::shared_ptr<FakeClock> clock;
    LogCollector log;
    std::unique_ptr<Engine> engine;
};

std::vector<std::string> SetsIn(const stdfs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : stdfs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Every file below root with its bytes.
std::map<std::string, std::string> Tree(const stdfs::path& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : stdfs::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        std::string bytes;
        shared::ReadWholeFile(e.path(), bytes);
        out[stdfs::relative(e.path(), root).generic_string()] = bytes;
    }
    return out;
}

TEST(SharedTarget, TwoInstallationsRunningAtOnceIntoOneFolderLoseNothing) {
    TempFolder shared;
    const stdfs::path source = shared.Path() / "src", target = shared.Path() / "bk";
    stdfs::create_directories(source);
    for (int i = 0; i < 16; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "f%02d.txt", i);
        shared::AtomicWriteFile(source / name, std::string(100 + i, char('a' + i)));
    }
    const int64_t t0 = Utc(2024, 3, 1, 8, 0);
    auto gate = std::make_shared<Gate>();
    Installation a(gate, t0), b(nullptr, t0 + 60);
    BackupRule rule = ValidBackupRule();
    WriteField(rule.source_path, *shared::GbkFromPath(source));
    WriteField(rule.backup_path, *shared::GbkFromPath(target));
    rule.keep_days = 1;
    for (Installation* i : {&a, &b}) {
        BackupRule mine = rule;
        ASSERT_EQ(i->engine->AddBackup(&mine), 0);
        ASSERT_EQ(mine.rule_id, 1);  // both rules write sets named kivo-1-...
        ASSERT_EQ(i->engine->ManRun(1), 0);
        i->engine->WaitIdle();
        ASSERT_EQ(i->Lines("运行完成").size(), 1u) << i->log.Lines().back();
    }
    ASSERT_EQ(SetsIn(target).size(), 2u);
    // The second installation's first set copied every file: the first one's set was no base for it.
    EXPECT_EQ(b.Lines("链接文件 0 个").size(), 1u);

    // Two days on, the source has changed. The first installation's run is held in the middle of its
    // copy; meanwhile the second runs, finds that working set, and expires its own old set only.
    shared::AtomicWriteFile(source / "f03.txt", "changed");
    const std::map<std::string, std::string> now = Tree(source);
    a.clock->Set(t0 + 2 * kDay);
    b.clock->Set(t0 + 2 * kDay + 60);
    gate->armed = true;
    ASSERT_EQ(a.engine->ManRun(1), 0);
    gate->WaitHolding();
    const std::vector<std::string> whileHeld = SetsIn(target);
    ASSERT_EQ(b.engine->ManRun(1), 0);
    b.engine->WaitIdle();
    gate->Open();
    a.engine->WaitIdle();

    for (Installation* i : {&a, &b}) {
        const std::vector<std::string> lines = i->log.Lines();
        EXPECT_EQ(i->Lines("运行完成").size(), 2u) << lines.back();
        EXPECT_EQ(i->Lines("删除过期备份：").size(), 1u) << lines.back();
        EXPECT_TRUE(i->Lines("未完成").empty()) << lines.back();
    }
    // What is left: one complete set of each, both whole, and no working set or lock.
    const std::vector<std::string> left = SetsIn(target);
    ASSERT_EQ(left.size(), 2u) << "while held: " << whileHeld.size();
    for (const std::string& set : left) {
        EXPECT_EQ(set.find(".tmp"), std::string::npos) << set;
        EXPECT_EQ(Tree(target / set / "src"), now) << set;
    }
}

}  // namespace
