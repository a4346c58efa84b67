// Sets that share their unchanged files (POSIX): what a second set links and copies, histories that
// stay whole under restore and deletion, and the runs that must copy everything.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "backup_manifest.h"
#include "backup_set_name.h"
#include "runner_options.h"
#include "runner_test_support.h"
#include "shared_files.h"

namespace kivo {
namespace {

using test::Gbk;
using test::RecordingContext;
using test::ScratchDir;
using test::UtcOptions;
namespace stdfs = std::filesystem;

constexpr int64_t kNow = 1700000000;  // 2023-11-14 22:13:20 UTC
constexpr int64_t kDay = 86400;

struct stat StatOf(const stdfs::path& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// One rule's backups of one source, a set at a time, with the source as each set saw it.
class History {
  public:
    explicit History(const ScratchDir& dir, RunnerOptions options = UtcOptions())
        : source(dir / "src"), backup(dir / "bk"), m_options(std::move(options)) {
        context.now = kNow;
    }

    // Takes a set; its folder, or an empty path when the run did not succeed.
    stdfs::path Take(int keepDays = 0) {
        BackupRule rule = test::MakeBackupRule(5, source, backup);
        rule.keep_days = keepDays;
        report = MakeFileTaskRunner(m_options)->RunBackup(rule, context);
        const stdfs::path set = backup / SetBaseName(5, test::UtcCivil(context.now), 1);
        context.now += kDay;
        if (report.outcome != RunOutcome::Succeeded) return {};
        sets.push_back(set);
        seen.push_back(test::Snapshot(source));
        return set;
    }

    stdfs::path source, backup;
    RecordingContext context;
    RunReport report;
    std::vector<stdfs::path> sets;                         // in the order taken
    std::vector<std::map<std::string, std::string>> seen;  // the source as each set saw it

  private:
    RunnerOptions m_options;
};

std::string Summary(const stdfs::path& set, int copied, uint64_t bytes, int linked) {
    return "备份到 " + Gbk(set) + "，复制文件 " + std::to_string(copied) + " 个，共 " +
           std::to_string(bytes) + " 字节，链接文件 " + std::to_string(linked) + " 个";
}

BackupManifest ManifestOf(const stdfs::path& set) {
    BackupManifest manifest;
    EXPECT_EQ(BackupManifest::Parse(test::ReadFile(set / std::string(kSetManifestName)), manifest),
              ManifestProblem::None);
    return manifest;
}

TEST(LinkedSet, EachChangeOfTheSourceDecidesBetweenLinkAndCopy) {
    enum Expect { Linked, Copied, Absent };
    struct Row {
        const char* name;
        std::function<void(const stdfs::path& file, const stdfs::path& oldCopy)> change;
        Expect expect;
    };
    const std::vector<Row> rows = {
        {"same.txt", [](auto&, auto&) {}, Linked},
        {"size.txt", [](auto& file, auto&) { std::ofstream(file, std::ios::app) << "!"; }, Copied},
        {"time.txt", [](auto& file, auto&) { test::SetMtime(file, 1600000000); }, Copied},
        // Rewritten in place with its old size and its exact old time: only the change time tells.
        {"ctime.txt",
         [](auto& file, auto&) {
             const struct stat before = StatOf(file);
             test::WriteFile(file, "XXXXXXXX");
             const struct timespec times[2] = {before.st_atim, before.st_mtim};
             ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, AT_SYMLINK_NOFOLLOW), 0);
         },
         Copied},
        {"gone.txt", [](auto& file, auto&) { stdfs::remove(file); }, Absent},
        // The source is unchanged, but its copy in the last set was edited there: not carried on, and
        // reported, also when the edit kept the size.
        {"edited.txt", [](auto&, auto& oldCopy) { test::WriteFile(oldCopy, "edited in the set"); }, Copied},
        {"edited-same-size.txt", [](auto&, auto& oldCopy) { test::WriteFile(oldCopy, "EDITED!!"); }, Copied},
    };
    ScratchDir dir;
    History history(dir);
    for (const Row& row : rows) {
        test::WriteFile(history.source / row.name, "original");
        test::SetMtime(history.source / row.name, 1500000000);
    }
    const stdfs::path first = history.Take();
    ASSERT_FALSE(first.empty()) << history.report.summary;
    for (const Row& row : rows) row.change(history.source / row.name, first / "src" / row.name);
    test::WriteFile(history.source / "new.txt", "new");

    const stdfs::path second = history.Take();
    ASSERT_FALSE(second.empty()) << history.report.summary;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const stdfs::path copy = second / "src" / row.name;
        if (row.expect == Absent) {
            EXPECT_FALSE(stdfs::exists(copy));
            continue;
        }
        EXPECT_EQ(test::ReadFile(copy), test::ReadFile(history.source / row.name));
        EXPECT_EQ(StatOf(copy).st_ino == StatOf(first / "src" / row.name).st_ino, row.expect == Linked);
    }
    EXPECT_EQ(test::Snapshot(second / "src"), test::Snapshot(history.source));
    EXPECT_EQ(history.report.summary, Summary(second, 6, 9 + 8 + 8 + 8 + 8 + 3, 1));
    auto edited = [&](const char* name) {
        return "备份内容异常：" + Gbk(first / "src" / name) + " 在备份后被改动过，共用这份副本的备份：" +
               first.filename().string() + "；本次已重新复制此文件";
    };
    EXPECT_EQ(history.context.lines,
              (std::vector<std::string>{edited("edited-same-size.txt"), edited("edited.txt")}));

    // A link carries its entry over, CRC and all; a copy records the CRC of what it copied.
    const BackupManifest manifest = ManifestOf(second);
    EXPECT_EQ(manifest.Size(), 7u);
    for (const auto& entry : stdfs::directory_iterator(second / "src")) {
        const std::string content = test::ReadFile(entry.path());
        const std::optional<ManifestEntry> recorded =
            manifest.Find("src/" + entry.path().filename().string());
        ASSERT_TRUE(recorded) << entry.path();
        EXPECT_EQ(recorded->crc, shared::Crc32(content)) << entry.path();
        EXPECT_EQ(recorded->size, content.size()) << entry.path();
    }
}

// Three sets with changes between them: every kind of change, including a file that comes back.
void TakeThreeSets(History& history) {
    test::WriteFile(history.source / "keep.txt", "kept all along");
    test::WriteFile(history.source / "grow.log", "1");
    test::WriteFile(history.source / "sub/leave.txt", "leaves after the first");
    ASSERT_FALSE(history.Take().empty()) << history.report.summary;
    std::ofstream(history.source / "grow.log", std::ios::app) << "2";
    stdfs::remove(history.source / "sub/leave.txt");
    test::WriteFile(history.source / "sub/deeper/new.bin", std::string(5000, 'n'));
    ASSERT_FALSE(history.Take().empty()) << history.report.summary;
    std::ofstream(history.source / "grow.log", std::ios::app) << "3";
    test::WriteFile(history.source / "sub/leave.txt", "back again");
    ASSERT_FALSE(history.Take().empty()) << history.report.summary;
}

TEST(LinkedSet, EverySetOfAHistoryRestoresByCopyAsItsSourceWas) {
    ScratchDir dir;
    History history(dir);
    TakeThreeSets(history);
    ASSERT_EQ(history.sets.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        const stdfs::path restored = dir / ("restored" + std::to_string(i));
        stdfs::copy(history.sets[i] / "src", restored, stdfs::copy_options::recursive);
        EXPECT_EQ(test::Snapshot(restored), history.seen[i]) << i;
    }
    EXPECT_EQ(StatOf(history.sets[2] / "src/keep.txt").st_nlink, 3u);
}

TEST(LinkedSet, DeletingSetsInAnyOrderLeavesTheOthersWhole) {
    // By retention: a fourth set three days on removes the first.
    {
        ScratchDir dir;
        History history(dir);
        TakeThreeSets(history);
        ASSERT_FALSE(history.Take(3).empty()) << history.report.summary;
        EXPECT_FALSE(stdfs::exists(history.sets[0]));
        EXPECT_EQ(history.context.Matching("删除过期备份：").size(), 1u);
        for (size_t i = 1; i < 4; ++i)
            EXPECT_EQ(test::Snapshot(history.sets[i] / "src"), history.seen[i]) << i;
    }
    // By hand, in every order.
    std::vector<size_t> order = {0, 1, 2};
    do {
        ScratchDir dir;
        History history(dir);
        TakeThreeSets(history);
        std::vector<bool> gone(3, false);
        for (size_t doomed : order) {
            stdfs::remove_all(history.sets[doomed]);
            gone[doomed] = true;
            for (size_t i = 0; i < 3; ++i) {
                if (gone[i]) continue;
                EXPECT_EQ(test::Snapshot(history.sets[i] / "src"), history.seen[i])
                    << "set " << i << " after deleting " << doomed;
            }
        }
    } while (std::next_permutation(order.begin(), order.end()));
}

TEST(LinkedSet, ATargetThatRefusesLinksGetsFullCopiesAndOneLine) {
    struct Row {
        fs::Status refusal;
        std::string line;
        int attempts;  // a volume without links is not asked again; a file at its limit is one file
    } rows[] = {
        {{fs::Error::NotSupported, EXDEV},
         "无法在备份目录中建立硬链接（所在的卷不支持此操作），改为复制文件",
         1},
        {{fs::Error::TooManyLinks, EMLINK},
         "无法在备份目录中建立硬链接（硬链接数已达上限），改为复制文件",
         3},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line);
        int attempts = 0;
        RunnerOptions options = UtcOptions();
        options.seam = [&](RunnerOptions::Seam seam, const fs::NativeString&) {
            if (seam != RunnerOptions::Seam::Link) return fs::Status{};
            ++attempts;
            return row.refusal;
        };
        ScratchDir dir;
        History history(dir, options);
        test::WriteFile(history.source / "a.txt", "a");
        test::WriteFile(history.source / "b/b.txt", "bb");
        test::WriteFile(history.source / "b/c.txt", "ccc");
        const stdfs::path first = history.Take();
        ASSERT_FALSE(first.empty());
        EXPECT_EQ(attempts, 0);
        const stdfs::path second = history.Take();
        ASSERT_FALSE(second.empty()) << history.report.summary;
        EXPECT_EQ(attempts, row.attempts);
        EXPECT_EQ(history.context.lines, std::vector<std::string>{row.line});
        EXPECT_EQ(history.report.summary, Summary(second, 3, 6, 0));
        EXPECT_EQ(test::Snapshot(second / "src"), test::Snapshot(history.source));
        EXPECT_EQ(StatOf(second / "src/b/c.txt").st_nlink, 1u);
    }
}

TEST(LinkedSet, AManifestThatCannotBeTrustedMeansFullCopiesAndOneLine) {
    struct Row {
        const char* problem;
        std::function<void(const stdfs::path& manifest, History&)> spoil;
        std::string line;  // after "上次的备份 <set>"
    } rows[] = {
        {"missing", [](auto& manifest, auto&) { stdfs::remove(manifest); }, " 没有文件清单"},
        {"damaged",
         [](auto& manifest, auto&) {
             std::string text = test::ReadFile(manifest);
             text[text.size() / 2] ^= 1;
             test::WriteFile(manifest, text);
         },
         " 的文件清单已损坏"},
        {"newer",
         [](auto& manifest, auto&) {
             std::string text = test::ReadFile(manifest);
             test::WriteFile(manifest, text.replace(text.find("version=2"), 9, "version=3"));
         },
         " 的文件清单由较新版本的程序写入"},
        {"another source",
         [](auto&, History& history) {
             stdfs::copy(history.source, history.source.parent_path() / "other",
                         stdfs::copy_options::recursive);
             history.source = history.source.parent_path() / "other";
         },
         " 来自另一个源路径"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.problem);
        ScratchDir dir;
        History history(dir);
        test::WriteFile(history.source / "a.txt", "a");
        test::WriteFile(history.source / "b.txt", "bb");
        const stdfs::path first = history.Take();
        ASSERT_FALSE(first.empty());
        row.spoil(first / std::string(kSetManifestName), history);
        const stdfs::path second = history.Take();
        ASSERT_FALSE(second.empty()) << history.report.summary;
        EXPECT_EQ(history.context.lines,
                  std::vector<std::string>{"上次的备份 " + Gbk(first) + row.line + "，本次复制全部文件"});
        EXPECT_EQ(history.report.summary, Summary(second, 2, 3, 0));
        EXPECT_EQ(ManifestOf(second).Size(), 2u);  // the new set is linkable again
    }
}

TEST(LinkedSet, AFlushThatFailsKeepsItsFileOutOfTheSet) {
    struct Row {
        fs::Status fault;
        RunOutcome outcome;
        std::string line, summary;  // summary after the set's path
    } rows[] = {
        {{fs::Error::Io, 5},
         RunOutcome::PartiallyFailed,
         "/b.txt：读写错误 (系统代码 5)",
         "-incomplete，复制文件 2 个，共 4 字节，链接文件 0 个，失败 1 个"},
        {{fs::Error::DiskFull, 28}, RunOutcome::Failed, "/b.txt：磁盘空间不足", ""},
    };
    for (const Row& row : rows) {
        RunnerOptions options = UtcOptions();
        options.flushEachFile = true;
        options.flushWorkers = 2;
        options.seam = [&](RunnerOptions::Seam seam, const fs::NativeString& relative) {
            return seam == RunnerOptions::Seam::Flush && relative == "b.txt" ? row.fault : fs::Status{};
        };
        ScratchDir dir;
        History history(dir, options);
        test::WriteFile(history.source / "a.txt", "a");
        test::WriteFile(history.source / "b.txt", "bb");
        test::WriteFile(history.source / "c.txt", "ccc");
        history.Take();
        EXPECT_EQ(history.report.outcome, row.outcome);
        EXPECT_EQ(history.context.lines,
                  std::vector<std::string>{"备份失败：" + Gbk(history.source) + row.line});
        const stdfs::path set = history.backup / "kivo-5-20231114-221320-incomplete";
        if (row.outcome == RunOutcome::Failed) {
            EXPECT_EQ(history.report.summary, "备份目录所在的磁盘空间不足，已删除未完成的备份");
            EXPECT_TRUE(stdfs::is_empty(history.backup));
            continue;
        }
        EXPECT_EQ(history.report.summary,
                  "备份到 " + Gbk(history.backup) + "/kivo-5-20231114-221320" + row.summary);
        EXPECT_FALSE(stdfs::exists(set / "src/b.txt"));
        const BackupManifest manifest = ManifestOf(set);
        EXPECT_EQ(manifest.Size(), 2u);
        EXPECT_FALSE(manifest.Find("src/b.txt"));
    }
}

}  // namespace
}  // namespace kivo
