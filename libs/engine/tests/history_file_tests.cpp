// The run history on real folders (POSIX): a clean run and a backup run followed into the day's file
// line by line, and a writer killed by SIGKILL at moments of chance.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <random>

#include "civil_date.h"
#include "crash_test_support.h"
#include "engine.h"
#include "engine_test_support.h"
#include "history_text.h"
#include "history_writer.h"
#include "runner_options.h"
#include "shared_files.h"

using namespace kivo;
using namespace kivo::test;

namespace {

namespace stdfs = std::filesystem;

// The lines of a day file: after the BOM, split at the line ends; `tail` gets what follows the last.
std::vector<std::string> SplitLines(std::string_view file, std::string* tail = nullptr) {
    std::vector<std::string> lines;
    if (file.substr(0, 3) == HistoryText::kBom) file.remove_prefix(3);
    for (size_t end; (end = file.find("\r\n")) != std::string_view::npos; file.remove_prefix(end + 2))
        lines.emplace_back(file.substr(0, end));
    if (tail) *tail = std::string(file);
    return lines;
}

void MakeFile(const stdfs::path& path, size_t size, int64_t mtime) {
    stdfs::create_directories(path.parent_path());
    shared::AtomicWriteFile(path, std::string(size, 'x'));
    const struct timespec times[2] = {{time_t(mtime), 0}, {time_t(mtime), 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

}  // namespace

TEST(HistoryOfRuns, FollowsACleanRunAndABackupRunLineByLine) {
    TempFolder folder;
    const stdfs::path data = folder.Path() / "data", watched = folder.Path() / u8"监视",
                      docs = folder.Path() / "docs";
    stdfs::create_directories(data);
    const TimeZone beijing = TimeZone::Fixed(8 * 3600);
    const int64_t now = Utc(2024, 7, 1, 2, 0);  // 10:00 in Beijing
    auto clock = std::make_shared<FakeClock>(now, beijing);
    const int64_t old = now - 10 * 86400;
    MakeFile(watched / "a.log", 100, old);
    MakeFile(watched / "locked.txt", 3, old);
    MakeFile(watched / "new.log", 7, now - 3600);
    MakeFile(watched / "sub" / "b.log", 2048, old - 61);
    MakeFile(docs / "x.txt", 5, old);
    MakeFile(docs / "y.txt", 6, old);

    RunnerOptions runner;
    runner.localTime = [beijing](int64_t utc) {
        const int64_t local = beijing.ToLocal(utc);
        const CivilDate date = CivilFromDays(FloorDiv(local, kSecondsPerDay));
        const int64_t second = FloorMod(local, kSecondsPerDay);
        return fs::CivilTime{date.year,       date.month, date.day, int(second / 3600), int(second / 60 % 60),
                             int(second % 60)};
    };
    runner.seam = [](RunnerOptions::Seam seam, const fs::NativeString& relative) {
        if ((seam == RunnerOptions::Seam::DeleteFile && relative == "locked.txt") ||
            (seam == RunnerOptions::Seam::OpenSource && relative == "y.txt"))
            return fs::Status{fs::Error::Locked, 0};
        return fs::Status{};
    };
    EngineOptions options;
    options.dataFolder = data;
    options.clock = clock;
    options.makeRunner = [runner] { return MakeFileTaskRunner(runner); };
    Engine engine(options);
    LogCollector screen;
    screen.Register(engine);
    engine.Start();

    ClearRule clean = ValidClearRule("旧日志");
    clean.min_free_percent = 0;
    for (char* condition : {clean.name_filter, clean.size_range, clean.date_range, clean.time_range})
        *condition = '\0';
    WriteField(clean.path, *shared::GbkFromPath(watched));
    BackupRule backup = ValidBackupRule();
    WriteField(backup.source_path, *shared::GbkFromPath(docs));
    WriteField(backup.backup_path, *shared::GbkFromPath(folder.Path() / "sets"));
    ASSERT_EQ(engine.AddClear(&clean), KIVO_OK);
    ASSERT_EQ(engine.AddBackup(&backup), KIVO_OK);
    ASSERT_EQ(engine.ManRun(clean.rule_id), KIVO_OK);
    engine.WaitIdle();
    clock->Advance(5);
    ASSERT_EQ(engine.ManRun(backup.rule_id), KIVO_OK);
    engine.WaitIdle();

    const std::string w = watched.string(), d = docs.string(), sets = (folder.Path() / "sets").string();
    const std::vector<std::string> expected = {
        U8(u8"2024-07-01 10:00:00 清理规则 1「旧日志」开始手动运行"),
        U8(u8"2024-07-01 10:00:00 已删除：") + w + U8(u8"/a.log，100 字节，修改时间 2024-06-21 10:00:00"),
        U8(u8"2024-07-01 10:00:00 删除失败：") + w +
            U8(u8"/locked.txt，3 字节，修改时间 2024-06-21 10:00:00：文件被其他程序占用"),
        U8(u8"2024-07-01 10:00:00 已删除：") + w +
            U8(u8"/sub/b.log，2048 字节，修改时间 2024-06-21 09:58:59"),
        U8(u8"2024-07-01 10:00:00 清理规则 1「旧日志」运行部分失败：检查文件 4 个，删除 2 个，释放 2148 "
           u8"字节，失败 1 个"),
        U8(u8"2024-07-01 10:00:05 备份规则 2「备份文档」开始手动运行"),
        U8(u8"2024-07-01 10:00:05 备份失败：") + d + U8(u8"/y.txt：文件被其他程序占用"),
        U8(u8"2024-07-01 10:00:05 本次备份不完整，保留所有旧备份"),
        U8(u8"2024-07-01 10:00:05 备份规则 2「备份文档」运行部分失败：备份到 ") + sets +
            U8(u8"/kivo-2-20240701-100005-incomplete，复制文件 1 个，共 5 字节，链接文件 0 个，失败 1 个"),
    };
    std::string tail;
    const std::vector<std::string> lines = SplitLines(FileOrMissing(data / "logs" / "2024-07-01.log"), &tail);
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(tail, "");

    // The screen got the same lines but for the deletions.
    std::vector<std::string> shown;
    for (const std::string& line : expected) {
        if (line.find(U8(u8" 已删除：")) == std::string::npos)
            shown.push_back(*shared::GbkFromUtf8(line.substr(HistoryText::kStampSize)));
    }
    EXPECT_EQ(screen.Lines(), shown);
}

TEST(HistoryCrash, AWriterKilledAtMomentsOfChanceLeavesEveryCompleteLineIntact) {
    TempFolder folder;
    const stdfs::path file = folder.Path() / "2024-07-01.log";
    // Long lines, so that a kill often lands inside one.
    auto expected = [](int round, int n) {
        return U8(u8"2024-07-01 00:00:00 第 ") + std::to_string(round) + U8(u8" 轮第 ") + std::to_string(n) +
               U8(u8" 行：删除了文件") + std::string(size_t(n % 16) * 2048, 'x');
    };
    std::mt19937 random(20240701);
    size_t checked = 0;  // bytes of the file checked in earlier rounds
    std::string torn;    // what the last round left of its last line
    int tornCount = 0;
    for (int round = 1; round <= 25; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        const int wanted = int(random() % 10) + 1;
        const auto pause = useconds_t(random() % 2000);
        // Adds lines without pause; every 16th waits until they are written out, and reports it.
        const int acknowledged = shared::testing::KillAfterAcknowledged(
            [&](const shared::testing::Acknowledge& acknowledge) {
                HistoryWriter::Options options;
                options.folder = folder.Path();
                options.clock = std::make_shared<FakeClock>(Utc(2024, 7, 1, 0, 0));
                HistoryWriter writer(options);
                writer.Start();
                for (int n = 1;; ++n) {
                    writer.Add(*shared::GbkFromUtf8(expected(round, n).substr(HistoryText::kStampSize)),
                               HistoryWriter::Room::Wait);
                    if (n % 16 == 0) {
                        writer.Flush();
                        acknowledge(n);
                    }
                }
            },
            wanted, pause);

        // This round's lines follow on a line of their own, whole and in order; only the last may be
        // torn, and then it is a piece of the line that was being written.
        const std::string all = FileOrMissing(file);
        std::string_view rest = std::string_view(all).substr(std::min(checked, all.size()));
        const std::string start = round == 1     ? std::string(HistoryText::kBom)
                                  : torn.empty() ? ""
                                                 : torn + "\r\n";
        ASSERT_EQ(rest.substr(0, start.size()), start);
        rest.remove_prefix(start.size());
        const std::vector<std::string> lines = SplitLines(rest, &torn);
        int n = 0;
        while (n < int(lines.size()) && lines[size_t(n)] == expected(round, n + 1)) ++n;
        EXPECT_EQ(n, int(lines.size())) << "damaged line after line " << n;
        EXPECT_GE(n, acknowledged) << "a line that was written out is missing";
        EXPECT_EQ((expected(round, n + 1) + "\r\n").rfind(torn, 0), 0u)
            << "the torn line is no piece of the next";
        checked = all.size() - torn.size();
        tornCount += !torn.empty();
    }
    std::printf("[ crash ] %d of 25 kills tore a line\n", tornCount);
}
