// Clean runs on real folders (POSIX): conditions, links, free space, faults.
#include <gtest/gtest.h>

#include <unistd.h>

#include <set>

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

// Files below root, relative, sorted.
std::set<std::string> Files(const std::filesystem::path& root) {
    std::set<std::string> out;
    for (const auto& [path, content] : test::Snapshot(root)) {
        if (path.back() != '/') out.insert(path);
    }
    return out;
}

struct Sample {
    const char* path;
    size_t size;
    int64_t mtime;
};

// A watched folder with files of known names, sizes and ages.
void MakeTree(const std::filesystem::path& root) {
    const Sample samples[] = {
        {"old.log", 100, kNow - 10 * kDay},                  // 2023-11-04 22:13
        {"new.log", 100, kNow - 3600},                       // 2023-11-14 21:13
        {"old.txt", 3000, kNow - 10 * kDay},                 //
        {"sub/deep/old.tmp", 2048, kNow - 5 * kDay - 7200},  // 2023-11-09 20:13
        {"sub/new.TMP", 1024, kNow - 60},                    // 2023-11-14 22:12
        {"sub/report.doc", 5000, kNow - 30 * kDay},          // 2023-10-15 22:13
    };
    for (const Sample& s : samples) {
        test::WriteFile(root / s.path, std::string(s.size, 'x'));
        test::SetMtime(root / s.path, s.mtime);
    }
    std::filesystem::create_directories(root / "empty");
}

ClearRule Rule(const std::filesystem::path& root, int keepDays, std::string_view filter,
               std::string_view size, std::string_view date, std::string_view time) {
    ClearRule rule = test::MakeClearRule(root);
    rule.keep_days = keepDays;
    WriteField(rule.name_filter, filter);
    WriteField(rule.size_range, size);
    WriteField(rule.date_range, date);
    WriteField(rule.time_range, time);
    return rule;
}

TEST(Cleaner, DeletesExactlyTheFilesThatMeetEverySetCondition) {
    struct Case {
        int keepDays;
        const char *filter, *size, *date, *time;
        std::set<std::string> survivors;
    };
    const std::set<std::string> all = {"new.log",          "old.log",     "old.txt",
                                       "sub/deep/old.tmp", "sub/new.TMP", "sub/report.doc"};
    const Case cases[] = {
        {0, "", "", "", "", {}},
        {2, "", "", "", "", {"new.log", "sub/new.TMP"}},
        {0, ".tmp", "", "", "", {"new.log", "old.log", "old.txt", "sub/report.doc"}},
        {0, "", "1,2", "", "", {"new.log", "old.log", "old.txt", "sub/report.doc"}},
        {0, "", "", "20231101,20231110", "", {"new.log", "sub/new.TMP", "sub/report.doc"}},
        {0, "", "", "", "2200,2300", {"new.log", "sub/deep/old.tmp"}},
        {7,
         "log,doc",
         "0,4",
         "",
         "",
         {"new.log", "old.txt", "sub/deep/old.tmp", "sub/new.TMP", "sub/report.doc"}},
        {0, "nothing-matches", "", "", "", all},
    };
    for (const Case& c : cases) {
        ScratchDir dir;
        MakeTree(dir.Path());
        RecordingContext context;
        context.now = kNow;
        const ClearRule rule = Rule(dir.Path(), c.keepDays, c.filter, c.size, c.date, c.time);
        RunReport report = MakeFileTaskRunner(UtcOptions())->RunClear(rule, context);
        EXPECT_EQ(report.outcome, RunOutcome::Succeeded) << report.summary;
        EXPECT_EQ(Files(dir.Path()), c.survivors)
            << c.keepDays << " " << c.filter << " " << c.size << " " << c.date;
        // Folders stay, emptied or not.
        EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "sub/deep"));
        EXPECT_TRUE(std::filesystem::is_directory(dir.Path() / "empty"));
    }
}

TEST(Cleaner, ReportsItsTotals) {
    ScratchDir dir;
    MakeTree(dir.Path());
    RecordingContext context;
    context.now = kNow;
    RunReport report =
        MakeFileTaskRunner(UtcOptions())->RunClear(Rule(dir.Path(), 2, ".log", "", "", ""), context);
    EXPECT_EQ(report.outcome, RunOutcome::Succeeded);
    EXPECT_EQ(report.summary, "检查文件 6 个，删除 1 个，释放 100 字节");
    EXPECT_TRUE(context.lines.empty());
}

TEST(Cleaner, DeleteEverythingRuleNeverFollowsOrRemovesLinks) {
    ScratchDir dir;
    const auto watched = dir.Path() / "watched";
    const auto canary = dir.Path() / "canary";
    test::WriteFile(canary / "precious.txt", "keep me");
    test::WriteFile(canary / "inner/also.txt", "me too");
    test::WriteFile(watched / "junk.txt", "junk");
    test::WriteFile(watched / "sub/junk2.txt", "junk");
    std::filesystem::create_directory_symlink(canary, watched / "dirlink");
    std::filesystem::create_directory_symlink(canary, watched / "sub/dirlink2");
    std::filesystem::create_symlink(canary / "precious.txt", watched / "filelink.txt");
    const auto before = test::Snapshot(canary);

    RecordingContext context;
    RunReport report = MakeFileTaskRunner(UtcOptions())->RunClear(test::MakeClearRule(watched), context);
    EXPECT_EQ(report.outcome, RunOutcome::Succeeded);
    EXPECT_EQ(report.summary, "检查文件 2 个，删除 2 个，释放 8 字节");
    EXPECT_EQ(test::Snapshot(canary), before);
    EXPECT_TRUE(std::filesystem::is_symlink(watched / "dirlink"));
    EXPECT_TRUE(std::filesystem::is_symlink(watched / "sub/dirlink2"));
    EXPECT_TRUE(std::filesystem::is_symlink(watched / "filelink.txt"));
    const std::string root = Gbk(watched);
    EXPECT_EQ(context.lines, (std::vector<std::string>{"跳过链接：" + root + "/dirlink",
                                                       "跳过链接：" + root + "/filelink.txt",
                                                       "跳过链接：" + root + "/sub/dirlink2"}));
}

TEST(Cleaner, RefusesAWatchedFolderThatIsItselfALink) {
    ScratchDir dir;
    test::WriteFile(dir / "canary/precious.txt", "keep me");
    std::filesystem::create_directory_symlink(dir / "canary", dir / "watched");
    RecordingContext context;
    RunReport report =
        MakeFileTaskRunner(UtcOptions())->RunClear(test::MakeClearRule(dir / "watched"), context);
    EXPECT_EQ(report.outcome, RunOutcome::Failed);
    EXPECT_EQ(report.summary, "监视目录 " + Gbk(dir / "watched") + " 是链接，为安全起见不清理");
    EXPECT_EQ(test::ReadFile(dir / "canary/precious.txt"), "keep me");
}

TEST(Cleaner, MissingFolderAndBrokenConditionsFailTheRun) {
    ScratchDir dir;
    RecordingContext context;
    auto runner = MakeFileTaskRunner(UtcOptions());
    RunReport missing = runner->RunClear(test::MakeClearRule(dir / "nowhere"), context);
    EXPECT_EQ(missing.outcome, RunOutcome::Failed);
    EXPECT_EQ(missing.summary, "无法打开监视目录 " + Gbk(dir / "nowhere") + "：文件不存在");

    test::WriteFile(dir / "a.txt", "a");
    ClearRule broken = Rule(dir.Path(), 0, "", "9,1", "", "");
    RunReport refused = runner->RunClear(broken, context);
    EXPECT_EQ(refused.outcome, RunOutcome::Failed);
    EXPECT_EQ(refused.summary, "规则条件无效：文件大小范围无效");
    EXPECT_TRUE(std::filesystem::exists(dir / "a.txt"));
}

// A volume of 200 bytes whose used space is the watched folder's files.
RunnerOptions SmallVolume(const std::filesystem::path& root) {
    RunnerOptions options = UtcOptions();
    options.freeSpace = [root](const fs::Dir&, uint64_t& available, uint64_t& total) {
        uint64_t used = 0;
        for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
            if (e.is_regular_file()) used += e.file_size();
        }
        total = 200;
        available = total - used;
        return fs::Status{};
    };
    return options;
}

void MakeTenFiles(const std::filesystem::path& root) {
    for (int i = 0; i < 10; ++i) {
        const auto path = root / ("f" + std::to_string(i) + (i % 2 ? ".log" : ".dat"));
        test::WriteFile(path, std::string(10, 'x'));
        test::SetMtime(path, kNow - (100 - i) * kDay);  // f0 oldest
    }
}

TEST(Cleaner, FreeSpaceDeletesOldestFirstUntilReached) {
    ScratchDir dir;
    MakeTenFiles(dir.Path());  // 100 of 200 bytes used: 50% free
    ClearRule rule = test::MakeClearRule(dir.Path());
    rule.min_free_percent = 60;
    RecordingContext context;
    RunReport report = MakeFileTaskRunner(SmallVolume(dir.Path()))->RunClear(rule, context);
    EXPECT_EQ(report.outcome, RunOutcome::Succeeded);
    EXPECT_EQ(report.summary, "检查文件 10 个，删除 2 个，释放 20 字节，可用空间 60%");
    EXPECT_EQ(Files(dir.Path()), (std::set<std::string>{"f2.dat", "f3.log", "f4.dat", "f5.log", "f6.dat",
                                                        "f7.log", "f8.dat", "f9.log"}));
    EXPECT_EQ(context.lines,
              std::vector<std::string>{"可用空间 50% 低于 60%，按修改时间从早到晚删除符合条件的文件"});
    EXPECT_EQ(context.records,
              (std::vector<std::string>{
                  "已删除：" + Gbk(dir / "f0.dat") + "，10 字节，修改时间 2023-08-06 22:13:20",
                  "已删除：" + Gbk(dir / "f1.log") + "，10 字节，修改时间 2023-08-07 22:13:20"}));
}

TEST(Cleaner, FreeSpaceAlreadyMetDeletesNothing) {
    ScratchDir dir;
    MakeTenFiles(dir.Path());
    ClearRule rule = test::MakeClearRule(dir.Path());
    rule.min_free_percent = 50;
    RecordingContext context;
    RunReport report = MakeFileTaskRunner(SmallVolume(dir.Path()))->RunClear(rule, context);
    EXPECT_EQ(report.outcome, RunOutcome::Succeeded);
    EXPECT_EQ(report.summary, "可用空间 50% 不低于 50%，无需删除");
    EXPECT_EQ(Files(dir.Path()).size(), 10u);
}

TEST(Cleaner, FreeSpaceOnlyDeletesFilesMeetingTheOtherConditions) {
    ScratchDir dir;
    MakeTenFiles(dir.Path());
    ClearRule rule = test::MakeClearRule(dir.Path());
    rule.min_free_percent = 90;
    WriteField(rule.name_filter, ".log");
    RecordingContext context;
    RunReport report = MakeFileTaskRunner(SmallVolume(dir.Path()))->RunClear(rule, context);
    EXPECT_EQ(report.outcome, RunOutcome::Succeeded);
    EXPECT_EQ(report.summary, "检查文件 10 个，删除 5 个，释放 50 字节，可用空间 75%");
    EXPECT_EQ(Files(dir.Path()), (std::set<std::string>{"f0.dat", "f2.dat", "f4.dat", "f6.dat", "f8.dat"}));
    EXPECT_EQ(context.lines.back(), "已删除全部符合条件的文件，可用空间 75% 仍低于 90%");
}

TEST(Cleaner, AFileThatCannotBeDeletedIsAFailureLineAndTheRunIsPartial) {
    ScratchDir dir;
    test::WriteFile(dir / "a.txt", "a");
    test::WriteFile(dir / "locked.txt", "bb");
    test::WriteFile(dir / "z.txt", "ccc");
    for (const char* name : {"a.txt", "locked.txt", "z.txt"}) test::SetMtime(dir / name, kNow - 10 * kDay);
    RunnerOptions options = UtcOptions();
    options.seam = [](RunnerOptions::Seam seam, const fs::NativeString& relative) {
        if (seam == RunnerOptions::Seam::DeleteFile && relative == "locked.txt")
            return fs::Status{fs::Error::Locked, 0};
        return fs::Status{};
    };
    RecordingContext context;
    RunReport report = MakeFileTaskRunner(options)->RunClear(test::MakeClearRule(dir.Path()), context);
    EXPECT_EQ(report.outcome, RunOutcome::PartiallyFailed);
    EXPECT_EQ(report.summary, "检查文件 3 个，删除 2 个，释放 4 字节，失败 1 个");
    // The screen gets the failure; the history also every deletion, with size and last-write time.
    EXPECT_EQ(context.lines,
              std::vector<std::string>{"删除失败：" + Gbk(dir / "locked.txt") +
                                       "，2 字节，修改时间 2023-11-04 22:13:20：文件被其他程序占用"});
    EXPECT_EQ(context.records,
              (std::vector<std::string>{
                  "已删除：" + Gbk(dir / "a.txt") + "，1 字节，修改时间 2023-11-04 22:13:20",
                  "已删除：" + Gbk(dir / "z.txt") + "，3 字节，修改时间 2023-11-04 22:13:20"}));
    EXPECT_EQ(Files(dir.Path()), std::set<std::string>{"locked.txt"});
}

TEST(Cleaner, CancellingStopsAtTheNextFile) {
    ScratchDir dir;
    MakeTenFiles(dir.Path());
    RecordingContext context;
    context.cancelAfterChecks = 3;
    RunReport report = MakeFileTaskRunner(UtcOptions())->RunClear(test::MakeClearRule(dir.Path()), context);
    EXPECT_EQ(report.outcome, RunOutcome::Cancelled);
    EXPECT_EQ(report.summary, "检查文件 3 个，删除 3 个，释放 30 字节");
    EXPECT_EQ(Files(dir.Path()).size(), 7u);
}

TEST(Cleaner, WorksInFoldersWithChineseNames) {
    ScratchDir dir;
    const auto watched = dir / U8(u8"日志目录");
    test::WriteFile(watched / U8(u8"旧日志.log"), "x");
    test::WriteFile(watched / U8(u8"保留.txt"), "y");
    ClearRule rule = test::MakeClearRule(watched);
    WriteField(rule.name_filter, "日志");
    RecordingContext context;
    RunReport report = MakeFileTaskRunner(UtcOptions())->RunClear(rule, context);
    EXPECT_EQ(report.summary, "检查文件 2 个，删除 1 个，释放 1 字节");
    EXPECT_EQ(Files(watched), std::set<std::string>{U8(u8"保留.txt")});
}

}  // namespace
}  // namespace kivo
