// Backup runs on real folders (POSIX): complete sets, retention, the recursion guard, faults.
#include <gtest/gtest.h>

#include <fstream>

#include "backup_set_name.h"
#include "runner_options.h"
#include "runner_test_support.h"

namespace kivo {
namespace {

using test::Gbk;
using test::RecordingContext;
using test::ScratchDir;
using test::U8;
using test::UtcOptions;

constexpr int64_t kNow = 1700000000;  // 2023-11-14 22:13:20 UTC
constexpr int64_t kDay = 86400;

void MakeSource(const std::filesystem::path& source) {
    test::WriteFile(source / "a.txt", "alpha");
    test::WriteFile(source / "empty.dat", "");
    test::WriteFile(source / U8(u8"中文目录/报告.txt"), U8(u8"内容"));
    test::WriteFile(source / "deep/er/still.bin", std::string(100000, '\x7f'));
    std::filesystem::create_directories(source / "hollow");
    test::SetMtime(source / "a.txt", 1600000000);
}

// An existing set of a rule, as an earlier run would have left it.
void MakeSet(const std::filesystem::path& backup, const std::string& name, int32_t rule, int64_t created,
             bool marked = true) {
    test::WriteFile(backup / name / "src/file.txt", "old");
    if (marked) test::WriteFile(backup / name / std::string(kSetMarkName), SetMarkText(rule, created));
}

std::set<std::string> Names(const std::filesystem::path& folder) {
    std::set<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        out.insert(e.path().filename().string());
    return out;
}

TEST(BackupSet, CopiesTheSourceIntoOneNewCompleteSet) {
    ScratchDir dir;
    const auto source = dir / "src";
    MakeSource(source);
    RecordingContext context;
    context.now = kNow;
    RunReport report =
        MakeFileTaskRunner(UtcOptions())->RunBackup(test::MakeBackupRule(5, source, dir / "bk"), context);
    ASSERT_EQ(report.outcome, RunOutcome::Succeeded) << report.summary;
    EXPECT_EQ(Names(dir / "bk"), std::set<std::string>{"kivo-5-20231114-221320"});
    const auto set = dir / "bk/kivo-5-20231114-221320";
    EXPECT_EQ(report.summary, "备份到 " + Gbk(set) + "，复制文件 4 个，共 100011 字节，链接文件 0 个");
    EXPECT_EQ(test::Snapshot(set / "src"), test::Snapshot(source));
    EXPECT_EQ(test::ReadFile(set / ".kivo-set"), "kivo backup set\nrule=5\ncreated=1700000000\n");
    EXPECT_EQ(test::Mtime(set / "src/a.txt"), 1600000000);
    EXPECT_TRUE(context.lines.empty());

    // The next run in the same second gets a name of its own.
    RunReport again =
        MakeFileTaskRunner(UtcOptions())->RunBackup(test::MakeBackupRule(5, source, dir / "bk"), context);
    ASSERT_EQ(again.outcome, RunOutcome::Succeeded);
    EXPECT_EQ(Names(dir / "bk"),
              (std::set<std::string>{"kivo-5-20231114-221320", "kivo-5-20231114-221320-2"}));
}

TEST(BackupSet, ASingleFileSourceIsCopiedAlone) {
    ScratchDir dir;
    test::WriteFile(dir / "one.txt", "only me");
    RecordingContext context;
    context.now = kNow;
    RunReport report = MakeFileTaskRunner(UtcOptions())
                           ->RunBackup(test::MakeBackupRule(5, dir / "one.txt", dir / "bk"), context);
    ASSERT_EQ(report.outcome, RunOutcome::Succeeded) << report.summary;
    const auto set = dir / "bk/kivo-5-20231114-221320";
    EXPECT_EQ(Names(set), (std::set<std::string>{".kivo-manifest", ".kivo-set", "one.txt"}));
    EXPECT_EQ(test::ReadFile(set / "one.txt"), "only me");

    // Unchanged, it is linked the next time.
    context.now += 60;
    RunReport again = MakeFileTaskRunner(UtcOptions())
                          ->RunBackup(test::MakeBackupRule(5, dir / "one.txt", dir / "bk"), context);
    EXPECT_EQ(again.summary, "备份到 " + Gbk(dir / "bk/kivo-5-20231114-221420") +
                                 "，复制文件 0 个，共 0 字节，链接文件 1 个");
    EXPECT_EQ(std::filesystem::hard_link_count(set / "one.txt"), 2u);
    EXPECT_EQ(std::filesystem::hard_link_count(set / ".kivo-manifest"), 2u);  // nothing new to record
}

TEST(BackupSet, RetentionRemovesOnlyTheRulesOwnExpiredSets) {
    ScratchDir dir;
    const auto source = dir / "src", backup = dir / "bk";
    MakeSource(source);
    MakeSet(backup, "kivo-5-20231101-000000", 5, kNow - 13 * kDay);             // expired, ours
    MakeSet(backup, "kivo-5-20231102-000000-incomplete", 5, kNow - 12 * kDay);  // expired, ours
    MakeSet(backup, "kivo-5-20231113-000000", 5, kNow - 2 * kDay);              // recent, ours
    MakeSet(backup, "kivo-6-20231101-000000", 6, kNow - 13 * kDay);             // another rule's
    MakeSet(backup, "kivo-5-20231001-000000", 6, kNow - 40 * kDay);             // our name, their mark
    MakeSet(backup, "kivo-5-20231002-000000", 5, kNow - 40 * kDay, false);      // our name, no mark
    MakeSet(backup, "kivo-5-20231003-000000.tmp", 5, kNow - 40 * kDay);         // a crashed run of ours
    MakeSet(backup, "kivo-6-20231003-000000.tmp", 6, kNow - 40 * kDay);         // a crashed run of theirs
    test::WriteFile(backup / "notes.txt", "mine");
    BackupRule rule = test::MakeBackupRule(5, source, backup);
    rule.keep_days = 3;
    RecordingContext context;
    context.now = kNow;
    RunReport report = MakeFileTaskRunner(UtcOptions())->RunBackup(rule, context);
    ASSERT_EQ(report.outcome, RunOutcome::Succeeded) << report.summary;
    EXPECT_EQ(Names(backup),
              (std::set<std::string>{"kivo-5-20231001-000000", "kivo-5-20231002-000000",
                                     "kivo-5-20231113-000000", "kivo-5-20231114-221320",
                                     "kivo-6-20231003-000000.tmp", "kivo-6-20231101-000000", "notes.txt"}));
    const std::string root = Gbk(backup);
    EXPECT_EQ(context.lines,
              (std::vector<std::string>{
                  "删除上次未完成的备份：" + root + "/kivo-5-20231003-000000.tmp",
                  "上次的备份 " + root + "/kivo-5-20231113-000000 没有文件清单，本次复制全部文件",
                  "删除过期备份：" + root + "/kivo-5-20231101-000000",
                  "删除过期备份：" + root + "/kivo-5-20231102-000000-incomplete"}));
    EXPECT_EQ(report.summary,
              "备份到 " + root +
                  "/kivo-5-20231114-221320，复制文件 4 个，共 100011 字节，链接文件 0 个，删除过期备份 2 个");
}

TEST(BackupSet, ABackupFolderInsideTheSourceIsNeverCopiedIntoItself) {
    ScratchDir dir;
    const auto source = dir / "src";
    MakeSource(source);
    RecordingContext context;
    context.now = kNow;
    auto runner = MakeFileTaskRunner(UtcOptions());
    ASSERT_EQ(runner->RunBackup(test::MakeBackupRule(5, source, source / "backups"), context).outcome,
              RunOutcome::Succeeded);
    context.now += 60;
    ASSERT_EQ(runner->RunBackup(test::MakeBackupRule(5, source, source / "backups"), context).outcome,
              RunOutcome::Succeeded);
    const auto second = source / "backups/kivo-5-20231114-221420/src";
    EXPECT_FALSE(std::filesystem::exists(second / "backups"));
    EXPECT_TRUE(std::filesystem::exists(second / "deep/er/still.bin"));
    EXPECT_EQ(context.Matching("跳过备份目录本身").size(), 2u);
    EXPECT_EQ(context.lines.back(), "跳过备份目录本身：" + Gbk(source) + "/backups");
}

TEST(BackupSet, EveryFaultIsItsOwnLineAndTheSetSaysIncomplete) {
    ScratchDir dir;
    const auto source = dir / "src", backup = dir / "bk";
    MakeSource(source);
    test::WriteFile(source / "grows.log", "0123");
    test::WriteFile(source / "gone.txt", "bye");
    test::WriteFile(source / "locked.db", "db");
    MakeSet(backup, "kivo-5-20231101-000000", 5, kNow - 13 * kDay);
    RunnerOptions options = UtcOptions();
    options.seam = [&](RunnerOptions::Seam seam, const fs::NativeString& relative) {
        if (seam == RunnerOptions::Seam::OpenSource && relative == "locked.db")
            return fs::Status{fs::Error::Locked, 0};
        if (seam == RunnerOptions::Seam::OpenSource && relative == "gone.txt")
            std::filesystem::remove(source / "gone.txt");
        if (seam == RunnerOptions::Seam::SourceOpened && relative == "grows.log") {
            std::ofstream(source / "grows.log", std::ios::app) << "more";
        }
        return fs::Status{};
    };
    BackupRule rule = test::MakeBackupRule(5, source, backup);
    rule.keep_days = 3;
    RecordingContext context;
    context.now = kNow;
    RunReport report = MakeFileTaskRunner(options)->RunBackup(rule, context);
    EXPECT_EQ(report.outcome, RunOutcome::PartiallyFailed);
    const std::string src = Gbk(source);
    EXPECT_EQ(context.lines,
              (std::vector<std::string>{
                  "上次的备份 " + Gbk(backup) + "/kivo-5-20231101-000000 没有文件清单，本次复制全部文件",
                  "备份失败：" + src + "/gone.txt：文件在备份过程中消失",
                  "备份失败：" + src + "/grows.log：文件在备份过程中变大",
                  "备份失败：" + src + "/locked.db：文件被其他程序占用", "本次备份不完整，保留所有旧备份"}));
    const auto set = backup / "kivo-5-20231114-221320-incomplete";
    EXPECT_EQ(report.summary,
              "备份到 " + Gbk(set) + "，复制文件 4 个，共 100011 字节，链接文件 0 个，失败 3 个");
    EXPECT_FALSE(std::filesystem::exists(set / "src/grows.log"));  // no inconsistent copy
    EXPECT_TRUE(std::filesystem::exists(backup / "kivo-5-20231101-000000"));
}

TEST(BackupSet, AFullBackupDiskDiscardsTheSet) {
    ScratchDir dir;
    MakeSource(dir / "src");
    RunnerOptions options = UtcOptions();
    options.seam = [](RunnerOptions::Seam seam, const fs::NativeString& relative) {
        if (seam == RunnerOptions::Seam::CreateCopy && relative == "deep/er/still.bin") {
            return fs::Status{fs::Error::DiskFull, 28};
        }
        return fs::Status{};
    };
    RecordingContext context;
    context.now = kNow;
    RunReport report =
        MakeFileTaskRunner(options)->RunBackup(test::MakeBackupRule(5, dir / "src", dir / "bk"), context);
    EXPECT_EQ(report.outcome, RunOutcome::Failed);
    EXPECT_EQ(report.summary, "备份目录所在的磁盘空间不足，已删除未完成的备份");
    EXPECT_EQ(context.lines, std::vector<std::string>{"备份失败：" + Gbk(dir / "src") +
                                                      "/deep/er/still.bin：无法创建副本：磁盘空间不足"});
    EXPECT_TRUE(Names(dir / "bk").empty());
}

TEST(BackupSet, LinksInTheSourceAreSkippedNotFollowed) {
    ScratchDir dir;
    MakeSource(dir / "src");
    test::WriteFile(dir / "outside/secret.txt", "not part of the source");
    std::filesystem::create_directory_symlink(dir / "outside", dir / "src/link");
    RecordingContext context;
    context.now = kNow;
    RunReport report = MakeFileTaskRunner(UtcOptions())
                           ->RunBackup(test::MakeBackupRule(5, dir / "src", dir / "bk"), context);
    EXPECT_EQ(report.outcome, RunOutcome::Succeeded);
    EXPECT_FALSE(
        std::filesystem::exists(std::filesystem::symlink_status(dir / "bk/kivo-5-20231114-221320/src/link")));
    EXPECT_EQ(context.lines, std::vector<std::string>{"跳过链接：" + Gbk(dir / "src") + "/link"});
}

TEST(BackupSet, CancellingLeavesNoSet) {
    ScratchDir dir;
    MakeSource(dir / "src");
    RecordingContext context;
    context.cancelAfterChecks = 2;
    RunReport report = MakeFileTaskRunner(UtcOptions())
                           ->RunBackup(test::MakeBackupRule(5, dir / "src", dir / "bk"), context);
    EXPECT_EQ(report.outcome, RunOutcome::Cancelled);
    EXPECT_EQ(report.summary, "已删除未完成的备份");
    EXPECT_TRUE(Names(dir / "bk").empty());
}

TEST(BackupSet, AMissingSourceFailsWithoutTouchingTheBackupFolder) {
    ScratchDir dir;
    MakeSet(dir / "bk", "kivo-5-20231101-000000", 5, kNow - 13 * kDay);
    BackupRule rule = test::MakeBackupRule(5, dir / "nothing", dir / "bk");
    rule.keep_days = 1;
    RecordingContext context;
    RunReport report = MakeFileTaskRunner(UtcOptions())->RunBackup(rule, context);
    EXPECT_EQ(report.outcome, RunOutcome::Failed);
    EXPECT_EQ(report.summary, "无法打开源路径 " + Gbk(dir / "nothing") + "：文件不存在");
    EXPECT_EQ(Names(dir / "bk"), std::set<std::string>{"kivo-5-20231101-000000"});
}

}  // namespace
}  // namespace kivo
