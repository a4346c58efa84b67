// Backup sets that must stay safe for years (POSIX): a backup folder that another installation or a
// second run shares, removals and renames cut short, a clock that jumps, a file rewritten within one
// tick of the file system's clock, and a copy edited inside a set.
#include <gtest/gtest.h>

#include <condition_variable>
#include <fstream>
#include <mutex>
#include <set>
#include <thread>

#include "backup_set_name.h"
#include "runner_options.h"
#include "runner_test_support.h"

namespace kivo {
namespace {

using test::Gbk;
using test::RecordingContext;
using test::ScratchDir;
using test::UtcOptions;
namespace stdfs = std::filesystem;

constexpr int64_t kNow = 1700000000;  // 2023-11-14 22:13:20 UTC
constexpr int64_t kDay = 86400;
const std::string kOurs(32, 'a'), kTheirs(32, 'b');

std::set<std::string> Names(const stdfs::path& folder) {
    std::set<std::string> out;
    for (const auto& e : stdfs::directory_iterator(folder)) out.insert(e.path().filename().string());
    return out;
}

std::string SetName(int64_t created) {
    return SetBaseName(5, test::UtcCivil(created), 1);
}

// Runs of rule 5 of one installation over a shared source and backup folder.
struct Installation {
    Installation(const ScratchDir& dir, std::string id, RunnerOptions runner = UtcOptions())
        : source(dir / "src"), backup(dir / "bk"), options(std::move(runner)) {
        context.installation = std::move(id);
    }
    RunReport Take(int64_t at, int keepDays = 0, RunSchedule schedule = {}) {
        BackupRule rule = test::MakeBackupRule(5, source, backup);
        rule.keep_days = keepDays;
        rule.schedule = schedule;
        context.now = at;
        context.lines.clear();
        return MakeFileTaskRunner(options)->RunBackup(rule, context);
    }
    std::string Summary(int64_t at, int copied, uint64_t bytes, int linked) const {
        return "备份到 " + Gbk(backup / SetName(at)) + "，复制文件 " + std::to_string(copied) + " 个，共 " +
               std::to_string(bytes) + " 字节，链接文件 " + std::to_string(linked) + " 个";
    }

    stdfs::path source, backup;
    RunnerOptions options;
    RecordingContext context;
};

// A working set as a run that crashed leaves it: marked, with part of its files.
void LeaveWorkingSet(const stdfs::path& backup, const std::string& name, const std::string& installation) {
    test::WriteFile(backup / name / "src/part.txt", "half");
    test::WriteFile(backup / name / std::string(kSetMarkName), SetMarkText(5, kNow - kDay, installation));
}

TEST(SharedTarget, ARunNeverLinksFromExpiresOrRemovesAnotherInstallationsSets) {
    ScratchDir dir;
    Installation ours(dir, kOurs), theirs(dir, kTheirs);
    test::WriteFile(ours.source / "a.txt", "alpha");
    ASSERT_EQ(theirs.Take(kNow).outcome, RunOutcome::Succeeded);
    // Their newest complete set is no base for ours: our first set copies, and says nothing of theirs.
    ASSERT_EQ(ours.Take(kNow + 3600).outcome, RunOutcome::Succeeded);
    EXPECT_EQ(ours.context.lines, std::vector<std::string>{});
    EXPECT_EQ(stdfs::hard_link_count(ours.backup / SetName(kNow + 3600) / "src/a.txt"), 1u);
    LeaveWorkingSet(ours.backup, "kivo-5-20231110-000000.tmp", kTheirs);
    LeaveWorkingSet(ours.backup, "kivo-5-20231111-000000.tmp", kOurs);

    // Days later, with keep_days 1: our own old set and our leftover go; all of theirs stay.
    RunReport report = ours.Take(kNow + 2 * kDay, 1);
    ASSERT_EQ(report.outcome, RunOutcome::Succeeded) << report.summary;
    EXPECT_EQ(Names(ours.backup),
              (std::set<std::string>{SetName(kNow), "kivo-5-20231110-000000.tmp", SetName(kNow + 2 * kDay)}));
    EXPECT_EQ(
        ours.context.lines,
        (std::vector<std::string>{"删除上次未完成的备份：" + Gbk(ours.backup / "kivo-5-20231111-000000.tmp"),
                                  "删除过期备份：" + Gbk(ours.backup / SetName(kNow + 3600))}));
    EXPECT_EQ(test::ReadFile(ours.backup / SetName(kNow + 2 * kDay) / std::string(kSetMarkName)),
              SetMarkText(5, kNow + 2 * kDay, kOurs));
}

TEST(SharedTarget, SetsFromBeforeIdentitiesStayThisInstallationsOwn) {
    ScratchDir dir;
    Installation before(dir, ""), ours(dir, kOurs);
    test::WriteFile(ours.source / "a.txt", "alpha");
    test::WriteFile(ours.source / "b/b.txt", "beta");
    ASSERT_EQ(before.Take(kNow).outcome, RunOutcome::Succeeded);
    RunReport linked = ours.Take(kNow + kDay);
    EXPECT_EQ(linked.summary, ours.Summary(kNow + kDay, 0, 0, 2));
    RunReport expired = ours.Take(kNow + 3 * kDay, 1);
    EXPECT_EQ(expired.summary, ours.Summary(kNow + 3 * kDay, 0, 0, 2) + "，删除过期备份 2 个");
    EXPECT_EQ(Names(ours.backup), std::set<std::string>{SetName(kNow + 3 * kDay)});
}

TEST(SharedTarget, AWorkingSetWhoseLockIsHeldIsLeftAloneAndAFreeOneIsALeftover) {
    ScratchDir dir;
    Installation ours(dir, kOurs);
    test::WriteFile(ours.source / "a.txt", "alpha");
    const std::string working = "kivo-5-20231113-000000.tmp";
    LeaveWorkingSet(ours.backup, working, kOurs);
    test::WriteFile(ours.backup / "kivo-5-20231112-000000.tmp.lock", "");  // a lock whose set is gone
    fs::Dir folder;
    fs::FileLock held;
    ASSERT_TRUE(fs::Dir::Open(ours.backup, folder));
    ASSERT_TRUE(folder.TryLock(fs::NativeFromAscii(working + ".lock"), held));
    fs::FileLock second;  // the lock is exclusive, also within one process
    EXPECT_EQ(folder.TryLock(fs::NativeFromAscii(working + ".lock"), second).error, fs::Error::Locked);

    ASSERT_EQ(ours.Take(kNow).outcome, RunOutcome::Succeeded);
    EXPECT_TRUE(stdfs::exists(ours.backup / working / "src/part.txt"));
    EXPECT_EQ(ours.context.lines, std::vector<std::string>{});
    EXPECT_FALSE(stdfs::exists(ours.backup / "kivo-5-20231112-000000.tmp.lock"));

    held.Release();  // its run ended without finishing it
    EXPECT_FALSE(stdfs::exists(ours.backup / (working + ".lock")));
    ASSERT_EQ(ours.Take(kNow + 60).outcome, RunOutcome::Succeeded);
    EXPECT_EQ(ours.context.lines,
              std::vector<std::string>{"删除上次未完成的备份：" + Gbk(ours.backup / working)});
    EXPECT_EQ(Names(ours.backup), (std::set<std::string>{SetName(kNow), SetName(kNow + 60)}));
}

// Two runs of one installation at once (a data folder copied to a second PC): the second finds the
// first one's working set mid-copy, and neither harms the other.
TEST(SharedTarget, TwoRunsAtOnceBothFinishWhole) {
    ScratchDir dir;
    for (int i = 0; i < 20; ++i)
        test::WriteFile(dir / "src" / ("f" + std::to_string(i)), std::string(i * 100, 'x'));
    std::mutex mutex;
    std::condition_variable changed;
    bool paused = false, resume = false;
    RunnerOptions slow = UtcOptions();
    slow.seam = [&](RunnerOptions::Seam seam, const fs::NativeString& relative) {
        if (seam == RunnerOptions::Seam::SourceOpened && relative == "f5") {
            std::unique_lock lock(mutex);
            paused = true;
            changed.notify_all();
            changed.wait(lock, [&] { return resume; });
        }
        return fs::Status{};
    };
    Installation first(dir, kOurs, slow), second(dir, kOurs);
    stdfs::rename(dir / "src", dir / "new");
    test::WriteFile(dir / "src/old.txt", "old");
    ASSERT_EQ(second.Take(kNow - 5 * kDay).outcome, RunOutcome::Succeeded);  // an old set to expire
    stdfs::remove_all(dir / "src");
    stdfs::rename(dir / "new", dir / "src");  // new files: both runs copy them
    RunReport firstReport;
    std::thread run([&] { firstReport = first.Take(kNow, 1); });
    {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return paused; });
    }
    RunReport secondReport = second.Take(kNow + 1, 1);
    {
        std::lock_guard lock(mutex);
        resume = true;
        changed.notify_all();
    }
    run.join();
    ASSERT_EQ(secondReport.outcome, RunOutcome::Succeeded) << secondReport.summary;
    ASSERT_EQ(firstReport.outcome, RunOutcome::Succeeded) << firstReport.summary;
    EXPECT_EQ(second.context.Matching("未完成"), std::vector<std::string>{});
    EXPECT_EQ(Names(dir / "bk"), (std::set<std::string>{SetName(kNow), SetName(kNow + 1)}));
    for (int64_t at : {kNow, kNow + 1})
        EXPECT_EQ(test::Snapshot(dir / "bk" / SetName(at) / "src"), test::Snapshot(dir / "src")) << at;
}

TEST(SetRemoval, ADeleteThatFailsKeepsTheMarkAndTheNextRunFinishesTheRemoval) {
    ScratchDir dir;
    RunnerOptions failing = UtcOptions();
    failing.seam = [](RunnerOptions::Seam seam, const fs::NativeString& relative) {
        return seam == RunnerOptions::Seam::DeleteFile && relative == "src/b.txt"
                   ? fs::Status{fs::Error::Locked, 0}
                   : fs::Status{};
    };
    Installation plain(dir, kOurs), broken(dir, kOurs, failing);
    test::WriteFile(plain.source / "a.txt", "alpha");
    test::WriteFile(plain.source / "b.txt", "beta");
    ASSERT_EQ(plain.Take(kNow).outcome, RunOutcome::Succeeded);
    const std::string doomed = SetName(kNow);

    RunReport report = broken.Take(kNow + 2 * kDay, 1);
    EXPECT_EQ(report.outcome, RunOutcome::PartiallyFailed);
    EXPECT_EQ(
        broken.context.lines,
        std::vector<std::string>{"删除过期备份失败：" + Gbk(plain.backup / doomed) + "：文件被其他程序占用"});
    // No longer posing as complete, still known as ours.
    EXPECT_EQ(Names(plain.backup), (std::set<std::string>{doomed + ".tmp", SetName(kNow + 2 * kDay)}));
    EXPECT_EQ(Names(plain.backup / (doomed + ".tmp")), (std::set<std::string>{".kivo-set", "src"}));

    ASSERT_EQ(plain.Take(kNow + 2 * kDay + 60, 1).outcome, RunOutcome::Succeeded);
    EXPECT_EQ(plain.context.lines,
              std::vector<std::string>{"删除上次未完成的备份：" + Gbk(plain.backup / (doomed + ".tmp"))});
    EXPECT_EQ(Names(plain.backup),
              (std::set<std::string>{SetName(kNow + 2 * kDay), SetName(kNow + 2 * kDay + 60)}));
}

TEST(FinalRename, ARefusedRenameIsTriedAgainThenLeftToTheNextRun) {
    ScratchDir dir;
    int refusals = 0, refuseAtMost = 0;
    RunnerOptions held = UtcOptions();
    held.renameRetry = std::chrono::milliseconds(1000);
    held.seam = [&](RunnerOptions::Seam seam, const fs::NativeString&) {
        if (seam != RunnerOptions::Seam::FinishSet || refusals >= refuseAtMost) return fs::Status{};
        ++refusals;
        return fs::Status{fs::Error::AccessDenied, 5};
    };
    Installation ours(dir, kOurs, held);
    test::WriteFile(ours.source / "a.txt", "alpha");

    // An indexer holds the folder for a moment: the rename goes through on a later try.
    refuseAtMost = 2;
    RunReport report = ours.Take(kNow);
    EXPECT_EQ(report.summary, ours.Summary(kNow, 1, 5, 0));
    EXPECT_EQ(refusals, 2);
    EXPECT_EQ(Names(ours.backup / SetName(kNow)),
              (std::set<std::string>{".kivo-manifest", ".kivo-set", "src"}));

    // Held for good: the finished set stays under its working name, and no older set is removed for it.
    refusals = 0;
    refuseAtMost = 1000;
    const std::string finished = SetName(kNow + 2 * kDay);
    report = ours.Take(kNow + 2 * kDay, 1);
    EXPECT_EQ(report.outcome, RunOutcome::PartiallyFailed);
    EXPECT_EQ(report.summary, "备份已完成，但无法改名为 " + finished + "（拒绝访问），暂存为 " +
                                  Gbk(ours.backup / (finished + ".tmp")) + "，下次运行时完成改名");
    EXPECT_GT(refusals, 3);
    EXPECT_EQ(Names(ours.backup), (std::set<std::string>{SetName(kNow), finished + ".tmp"}));
    EXPECT_EQ(test::ReadFile(ours.backup / (finished + ".tmp") / std::string(kSetDoneName)), finished);

    // The next run names it, links from it, and only then expires.
    refuseAtMost = 0;
    report = ours.Take(kNow + 2 * kDay + 3600, 1);
    EXPECT_EQ(ours.context.lines,
              (std::vector<std::string>{"完成上次备份的改名：" + Gbk(ours.backup / finished),
                                        "删除过期备份：" + Gbk(ours.backup / SetName(kNow))}));
    EXPECT_EQ(report.summary, ours.Summary(kNow + 2 * kDay + 3600, 0, 0, 1) + "，删除过期备份 1 个");
    EXPECT_EQ(Names(ours.backup / finished), (std::set<std::string>{".kivo-manifest", ".kivo-set", "src"}));
}

TEST(Clock, AYearAheadRemovesNothingAndAfterAnHonestGapExpiryResumes) {
    const std::string far = "时间异常：当前时间比最近的备份 ";
    {
        ScratchDir dir;
        Installation ours(dir, kOurs);
        test::WriteFile(ours.source / "a.txt", "alpha");
        for (int day = 0; day < 4; ++day)
            ASSERT_EQ(ours.Take(kNow + day * kDay).outcome, RunOutcome::Succeeded);
        RunReport ahead = ours.Take(kNow + 403 * kDay, 3);
        EXPECT_EQ(ahead.summary, ours.Summary(kNow + 403 * kDay, 0, 0, 1));
        EXPECT_EQ(ours.context.lines,
                  std::vector<std::string>{
                      far + Gbk(ours.backup / SetName(kNow + 3 * kDay)) +
                      "（2023-11-17 22:13:20）晚 400 天，超过计划间隔加两天，系统时间可能有误；"
                      "本次不删除过期备份，若计算机只是长时间未运行，下次运行时照常删除"});
        EXPECT_EQ(Names(ours.backup).size(), 5u);
        // The clock put right: the set from the future is kept and named, expiry goes on by the real date.
        RunReport back = ours.Take(kNow + 4 * kDay, 3);
        EXPECT_EQ(ours.context.lines, (std::vector<std::string>{
                                          "时间异常：备份 " + Gbk(ours.backup / SetName(kNow + 403 * kDay)) +
                                              " 的创建时间 2024-12-21 22:13:20 晚于当前时间，予以保留",
                                          "删除过期备份：" + Gbk(ours.backup / SetName(kNow)),
                                          "删除过期备份：" + Gbk(ours.backup / SetName(kNow + kDay))}));
        EXPECT_EQ(back.summary, ours.Summary(kNow + 4 * kDay, 0, 0, 1) + "，删除过期备份 2 个");
    }
    {
        ScratchDir dir;
        Installation ours(dir, kOurs);
        test::WriteFile(ours.source / "a.txt", "alpha");
        for (int day = 0; day < 4; ++day)
            ASSERT_EQ(ours.Take(kNow + day * kDay).outcome, RunOutcome::Succeeded);
        ours.Take(kNow + 17 * kDay, 3);  // two weeks off
        EXPECT_EQ(ours.context.Matching(far).size(), 1u);
        EXPECT_EQ(Names(ours.backup).size(), 5u);
        RunReport next = ours.Take(kNow + 18 * kDay, 3);
        EXPECT_EQ(next.summary, ours.Summary(kNow + 18 * kDay, 0, 0, 1) + "，删除过期备份 4 个");
        EXPECT_EQ(Names(ours.backup),
                  (std::set<std::string>{SetName(kNow + 17 * kDay), SetName(kNow + 18 * kDay)}));
    }
}

TEST(RacyTimestamps, AFileWrittenWithinTheClocksStepIsCopiedTheNextTime) {
    ScratchDir dir;
    RunnerOptions coarse = UtcOptions();
    coarse.timeGranularity = [](const fs::Dir&) {
        return int64_t(3600) * 1000000000;
    };  // whatever was just written
    Installation fresh(dir, kOurs, coarse), settled(dir, kOurs);
    test::WriteFile(fresh.source / "a.txt", "alpha");
    ASSERT_EQ(fresh.Take(kNow).outcome, RunOutcome::Succeeded);
    EXPECT_NE(
        test::ReadFile(dir / "bk" / SetName(kNow) / std::string(kSetManifestName)).find("\tunsettled\t"),
        std::string::npos);
    // Unchanged since, but its record could not tell a rewrite within that step: copied, not linked.
    EXPECT_EQ(settled.Take(kNow + 60).summary, settled.Summary(kNow + 60, 1, 5, 0));
    // Now recorded as settled, it links.
    EXPECT_EQ(settled.Take(kNow + 120).summary, settled.Summary(kNow + 120, 0, 0, 1));
}

TEST(EditInsideASet, TheWarningNamesEverySetThatSharesTheEditedCopy) {
    ScratchDir dir;
    Installation ours(dir, kOurs);
    test::WriteFile(ours.source / "doc.txt", "original");
    test::SetMtime(ours.source / "doc.txt", 1500000000);
    test::WriteFile(ours.source / "other.txt", "other");
    ASSERT_EQ(ours.Take(kNow).outcome, RunOutcome::Succeeded);
    ASSERT_EQ(ours.Take(kNow + kDay).outcome, RunOutcome::Succeeded);
    const stdfs::path second = ours.backup / SetName(kNow + kDay);
    test::WriteFile(second / "src/doc.txt", "EDITED!!");  // the same size, inside the set

    RunReport report = ours.Take(kNow + 2 * kDay);
    EXPECT_EQ(ours.context.lines,
              std::vector<std::string>{"备份内容异常：" + Gbk(second / "src/doc.txt") +
                                       " 在备份后被改动过，共用这份副本的备份：" + SetName(kNow) + "、" +
                                       SetName(kNow + kDay) + "；本次已重新复制此文件"});
    EXPECT_EQ(report.summary, ours.Summary(kNow + 2 * kDay, 1, 8, 1));
    EXPECT_EQ(test::ReadFile(ours.backup / SetName(kNow + 2 * kDay) / "src/doc.txt"), "original");
}

}  // namespace
}  // namespace kivo
