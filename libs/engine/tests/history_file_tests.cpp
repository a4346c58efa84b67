// The run history on real folders (POSIX): a clean run and a backup run followed into the day's file
// line by line, names GBK cannot say, a day file whose writes block in the kernel, and a writer killed
// by SIGKILL at moments of chance.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <future>
#include <mutex>
#include <random>
#include <thread>

#include "civil_date.h"
#include "crash_test_support.h"
#include "engine.h"
#include "engine_test_support.h"
#include "history_text.h"
#include "history_writer.h"
#include "run_log_text.h"
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

// A day file that is a full pipe nobody reads: the engine's first write to it blocks in the kernel, as
// one to a share that stopped answering does, until the test answers by reading it.
class StuckDayFile {
  public:
    explicit StuckDayFile(const stdfs::path& file) {
        stdfs::create_directories(file.parent_path());
        EXPECT_EQ(::mkfifo(file.c_str(), 0600), 0);
        m_read = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        const int write = ::open(file.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        const std::string filler(4096, 'f');  // whole or not at all: at most PIPE_BUF
        while (::write(write, filler.data(), filler.size()) > 0) m_filler += filler.size();
        ::close(write);
    }
    ~StuckDayFile() {
        Answer();
        m_reader.join();
        ::close(m_read);
    }
    // Reads what comes, from now on, until every writer has closed the file.
    void Answer() {
        if (m_reader.joinable()) return;
        ::fcntl(m_read, F_SETFL, 0);
        m_reader = std::thread([this] {
            char buffer[1 << 16];
            for (ssize_t n; (n = ::read(m_read, buffer, sizeof buffer)) > 0;) {
                std::lock_guard lock(m_mutex);
                m_data.append(buffer, size_t(n));
            }
            std::lock_guard lock(m_mutex);
            m_closed = true;
            m_changed.notify_all();
        });
    }
    // What the engine wrote, once every writer closed the file; false when that took 20 s.
    bool WaitClosed(std::string& written) {
        std::unique_lock lock(m_mutex);
        if (!m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_closed; })) return false;
        written = m_data.substr(std::min(m_filler, m_data.size()));
        return true;
    }

  private:
    int m_read = -1;
    size_t m_filler = 0;
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::string m_data;
    bool m_closed = false;
};

fs::CivilTime BeijingCivil(int64_t utc) {
    const int64_t local = TimeZone::Fixed(8 * 3600).ToLocal(utc);
    const CivilDate date = CivilFromDays(FloorDiv(local, kSecondsPerDay));
    const int64_t second = FloorMod(local, kSecondsPerDay);
    return {date.year, date.month, date.day, int(second / 3600), int(second / 60 % 60), int(second % 60)};
}

std::string Utf8(const std::string& gbk) {
    return *shared::Utf8FromGbk(gbk);
}

// Waits (20 s at most) until the screen has shown a line holding each text.
bool WaitShown(const LogCollector& screen, const std::vector<std::string>& texts) {
    for (int i = 0; i < 2000; ++i) {
        const auto lines = screen.Lines();
        if (std::all_of(texts.begin(), texts.end(), [&](const std::string& text) {
                return std::any_of(lines.begin(), lines.end(),
                                   [&](const std::string& line) { return line.find(text) != line.npos; });
            }))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// An engine with the file runner (local time in Beijing), a clean rule that deletes every file below
// watched, and a backup rule from docs into sets; the file named locked cannot be deleted, the one
// named unread cannot be read.
class FileRuns {
  public:
    FileRuns(const stdfs::path& data, std::shared_ptr<const Clock> clock, const stdfs::path& watched,
             const stdfs::path& docs, const stdfs::path& sets, std::string locked, std::string unread) {
        stdfs::create_directories(data);
        RunnerOptions runner;
        runner.localTime = BeijingCivil;
        runner.seam = [locked, unread](RunnerOptions::Seam seam, const fs::NativeString& relative) {
            if ((seam == RunnerOptions::Seam::DeleteFile && relative == locked) ||
                (seam == RunnerOptions::Seam::OpenSource && relative == unread))
                return fs::Status{fs::Error::Locked, 0};
            return fs::Status{};
        };
        EngineOptions options;
        options.dataFolder = data;
        options.clock = std::move(clock);
        options.makeRunner = [runner] { return MakeFileTaskRunner(runner); };
        engine = std::make_unique<Engine>(options);
        screen.Register(*engine);
        engine->Start();

        clean.min_free_percent = 0;
        for (char* condition : {clean.name_filter, clean.size_range, clean.date_range, clean.time_range})
            *condition = '\0';
        WriteField(clean.path, *shared::GbkFromPath(watched));
        WriteField(backup.source_path, *shared::GbkFromPath(docs));
        WriteField(backup.backup_path, *shared::GbkFromPath(sets));
        EXPECT_EQ(engine->AddClear(&clean), KIVO_OK);
        EXPECT_EQ(engine->AddBackup(&backup), KIVO_OK);
    }
    void Run(int32_t id) {
        ASSERT_EQ(engine->ManRun(id), KIVO_OK);
        engine->WaitIdle();
    }

    std::unique_ptr<Engine> engine;
    LogCollector screen;
    ClearRule clean = ValidClearRule("旧日志");
    BackupRule backup = ValidBackupRule();
};

}  // namespace

TEST(HistoryOfRuns, FollowsACleanRunAndABackupRunLineByLine) {
    TempFolder folder;
    const stdfs::path data = folder.Path() / "data", watched = folder.Path() / u8"监视",
                      docs = folder.Path() / "docs";
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

    FileRuns runs(data, clock, watched, docs, folder.Path() / "sets", "locked.txt", "y.txt");
    runs.Run(runs.clean.rule_id);
    clock->Advance(5);
    runs.Run(runs.backup.rule_id);

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
    EXPECT_EQ(runs.screen.Lines(), shown);
}

TEST(HistoryOfRuns, NamesFilesAsTheyAreOnDiskWhichTheScreenCanOnlyApproach) {
    TempFolder folder;
    const stdfs::path data = folder.Path() / "data", watched = folder.Path() / "watched",
                      docs = folder.Path() / "docs";
    const int64_t now = Utc(2024, 7, 1, 2, 0), old = now - 10 * 86400;
    // Hangul and an emoji: no GBK character for either.
    const std::string deleted = U8(u8"한글😀.log"), locked = U8(u8"잠김.txt"), unread = U8(u8"백업😀.txt");
    MakeFile(watched / deleted, 1, old);
    MakeFile(watched / locked, 2, old);
    MakeFile(docs / unread, 3, old);
    FileRuns runs(data, std::make_shared<FakeClock>(now, TimeZone::Fixed(8 * 3600)), watched, docs,
                  folder.Path() / "sets", locked, unread);
    runs.Run(runs.clean.rule_id);
    runs.Run(runs.backup.rule_id);

    const std::string w = watched.string() + "/", d = docs.string() + "/";
    const std::string stamp = U8(u8"2024-07-01 10:00:00 ");
    const std::string inHistory[] = {
        stamp + U8(u8"已删除：") + w + deleted + U8(u8"，1 字节，修改时间 2024-06-21 10:00:00"),
        stamp + U8(u8"删除失败：") + w + locked +
            U8(u8"，2 字节，修改时间 2024-06-21 10:00:00：文件被其他程序占用"),
        stamp + U8(u8"备份失败：") + d + unread + U8(u8"：文件被其他程序占用"),
    };
    const std::vector<std::string> lines = SplitLines(FileOrMissing(data / "logs" / "2024-07-01.log"));
    for (const std::string& line : inHistory)
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
    // The screen shows GBK: what it cannot say is '?', one for each character.
    EXPECT_TRUE(
        WaitShown(runs.screen, {"删除失败：" + w + "??.txt，2 字节", "备份失败：" + d + "??" + "?.txt："}));
}

TEST(HistoryOfRuns, ShutdownEndsWithinSecondsWhenTheHistoryDoesNotAnswer) {
    TempFolder folder;
    const stdfs::path logs = folder.Path() / "logs";
    StuckDayFile day(logs / "2024-07-01.log");  // outlives the engine and its writer
    auto clock = std::make_shared<FakeClock>(Utc(2024, 7, 1, 2, 0), TimeZone::Fixed(8 * 3600));
    auto engine = StartEngine(folder.Path(), clock, std::make_shared<RunnerScript>());
    LogCollector screen;
    screen.Register(*engine);
    ASSERT_EQ(engine->AutoRun(), KIVO_OK);  // its line is the history's first write, which blocks

    auto shutdown = std::async(std::launch::async, [&] { engine->Shutdown(); });
    const bool ended = shutdown.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    if (!ended) day.Answer();
    ASSERT_TRUE(ended) << "shutdown waited for a write that does not return";
    EXPECT_EQ(screen.Lines().back(),
              "错误：运行历史 " + *shared::GbkFromPath(logs) + " 没有响应，停止时有 2 行未能写入");

    // The engine is gone and its writer still stuck. Once its write returns, the writer ends without
    // writing another line (the stopping line, if it was not part of that write, never comes).
    engine.reset();
    day.Answer();
    std::string written;
    ASSERT_TRUE(day.WaitClosed(written)) << "the writer did not end";
    const std::string first = std::string(HistoryText::kBom) + U8(u8"2024-07-01 10:00:00 ") +
                              Utf8(RunLogText::AutoRunStarted()) + "\r\n";
    const std::string both =
        first + U8(u8"2024-07-01 10:00:00 ") + Utf8(RunLogText::AutoRunStopped()) + "\r\n";
    EXPECT_TRUE(written == first || written == both) << written;
}

TEST(HistoryOfRuns, RunsAndManualCallsKeepTheirFirstAndLastLinesWhenTheHistoryCannotKeepUp) {
    TempFolder folder;
    StuckDayFile day(folder.Path() / "logs" / "2024-07-01.log");
    auto clock = std::make_shared<FakeClock>(Utc(2024, 7, 1, 2, 0), TimeZone::Fixed(8 * 3600));
    auto script = std::make_shared<RunnerScript>();
    script->recordLines = 50000;  // about 5 MB: more than the 4 MiB that may wait
    script->holdRuns = true;
    auto engine = StartEngine(folder.Path(), clock, script, 2);
    LogCollector screen;
    screen.Register(*engine);
    ClearRule first = ValidClearRule("甲"), second = ValidClearRule("乙");
    ASSERT_EQ(engine->AddClear(&first), KIVO_OK);
    ASSERT_EQ(engine->AddClear(&second), KIVO_OK);
    ASSERT_EQ(engine->ManRun(first.rule_id), KIVO_OK);
    script->WaitRunning(1);                              // its lines filled the buffer, the rest were dropped
    ASSERT_EQ(engine->ManRun(second.rule_id), KIVO_OK);  // so its start finds the buffer full
    script->WaitRunning(2);
    script->Release();
    const RunReport report{RunOutcome::Succeeded, "共 0 个文件"};
    std::vector<std::string> edges;
    for (const ClearRule* rule : {&first, &second}) {
        const std::string label = RunLogText::Rule(RuleKind::Clear, rule->rule_id, rule->description);
        edges.push_back(RunLogText::RunStarted(label, RunTrigger::Manual, ""));
        edges.push_back(RunLogText::RunEnded(label, report));
    }
    ASSERT_TRUE(WaitShown(screen, {edges[1], edges[3]}));
    // A manual backup too: it meets the same full buffer.
    const std::string source = AbsolutePath("src"), file = AbsolutePath("f.bkp");
    edges.push_back(ManualBackupStarted(source));
    edges.push_back(ManualBackupEnded(file));
    auto manual =
        std::async(std::launch::async, [&] { return engine->Backup(source.c_str(), file.c_str()); });
    ASSERT_TRUE(WaitShown(screen, {edges.back()}));
    day.Answer();
    EXPECT_EQ(manual.get(), KIVO_OK);
    engine->WaitIdle();
    engine->Shutdown();
    std::string written;
    ASSERT_TRUE(day.WaitClosed(written));

    // Every start and end is there, and every file line is either there or counted.
    const std::string lostHead = Utf8("错误：此前有 "), record = Utf8(RecordLine(1).substr(0, 14));
    std::vector<std::string> kept;
    uint64_t records = 0, lost = 0;
    for (const std::string& line : SplitLines(written)) {
        const std::string text = line.substr(HistoryText::kStampSize);
        if (text.starts_with(record)) {
            ++records;
        } else if (text.starts_with(lostHead)) {
            lost += std::stoull(text.substr(lostHead.size()));
        } else {
            kept.push_back(*shared::GbkFromUtf8(text));
        }
    }
    std::sort(kept.begin(), kept.end());
    std::sort(edges.begin(), edges.end());
    EXPECT_EQ(kept, edges);
    EXPECT_GT(lost, 0u);
    EXPECT_EQ(records + lost, 150000u);
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
