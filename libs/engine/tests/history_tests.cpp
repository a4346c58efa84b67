// The run history: which day's file a line goes to, retention, who may write, and what faults do.
// Through whole engines with a fake clock and a scripted runner, and through the writer alone where a
// fault has to be made to order.
#include "history_writer.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>
#include <set>
#include <stdexcept>

#include "engine.h"
#include "engine_test_support.h"
#include "gbk_to_utf8.h"
#include "history_text.h"
#include "shared_files.h"

using namespace kivo;
using namespace kivo::test;

namespace {

namespace stdfs = std::filesystem;

int64_t Beijing(int month, int day, int h, int mi, int s = 0) {
    return Utc(2024, month, day, h, mi, s) - 8 * 3600;
}

std::string Gbk(std::u8string_view text) {
    return *shared::GbkFromUtf8(U8(text));
}

// A day file as the writer makes it: the BOM, then each line with its line end.
std::string DayFile(std::initializer_list<std::u8string_view> lines) {
    std::string out(HistoryText::kBom);
    for (auto line : lines) out += U8(line) + "\r\n";
    return out;
}

std::set<std::string> Names(const stdfs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : stdfs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

class History : public ::testing::Test {
  protected:
    void Start() {
        m_engine = StartEngine(m_folder.Path(), m_clock, m_script);
        m_log.Register(*m_engine);
    }
    stdfs::path Logs() const { return m_folder.Path() / "logs"; }
    std::string Day(const char* name) const { return FileOrMissing(Logs() / name); }
    int32_t AddClear() {
        ClearRule rule = ValidClearRule();
        EXPECT_EQ(m_engine->AddClear(&rule), KIVO_OK);
        return rule.rule_id;
    }
    void RunNow(int32_t id) {
        ASSERT_EQ(m_engine->ManRun(id), KIVO_OK);
        m_engine->WaitIdle();
    }
    // Screen lines that hold the text.
    size_t Shown(std::string_view text) const {
        size_t n = 0;
        for (const auto& line : m_log.Lines()) n += line.find(text) != std::string::npos;
        return n;
    }

    TempFolder m_folder;
    std::shared_ptr<FakeClock> m_clock =
        std::make_shared<FakeClock>(Beijing(7, 1, 23, 59, 50), TimeZone::Fixed(8 * 3600));
    std::shared_ptr<RunnerScript> m_script = std::make_shared<RunnerScript>();
    LogCollector m_log;
    std::unique_ptr<Engine> m_engine;
};

}  // namespace

TEST_F(History, ARunAcrossMidnightContinuesInTheNextDaysFileAndARestartAppends) {
    Start();
    const int32_t id = AddClear();
    m_script->holdRuns = true;
    ASSERT_EQ(m_engine->ManRun(id), KIVO_OK);
    m_script->WaitRunning(1);
    m_clock->Set(Beijing(7, 2, 0, 0, 10));
    m_script->Release();
    m_engine->WaitIdle();
    EXPECT_EQ(Day("2024-07-01.log"),
              DayFile({u8"2024-07-01 23:59:50 清理规则 1「清理临时文件」开始手动运行"}));
    EXPECT_EQ(Day("2024-07-02.log"),
              DayFile({u8"2024-07-02 00:00:10 清理规则 1「清理临时文件」运行完成：共 0 个文件"}));

    // Another engine later that day appends to the day's file: no second BOM, nothing overwritten.
    m_engine.reset();
    m_clock->Set(Beijing(7, 2, 8, 30));
    Start();
    RunNow(id);
    EXPECT_EQ(Day("2024-07-02.log"),
              DayFile({u8"2024-07-02 00:00:10 清理规则 1「清理临时文件」运行完成：共 0 个文件",
                       u8"2024-07-02 08:30:00 清理规则 1「清理临时文件」开始手动运行",
                       u8"2024-07-02 08:30:00 清理规则 1「清理临时文件」运行完成：共 0 个文件"}));
    EXPECT_EQ(Names(Logs()), (std::set<std::string>{"2024-07-01.log", "2024-07-02.log"}));
}

TEST_F(History, ADayFileDeletedWhileOpenIsMadeAnewForTheNextLines) {
    // Wine 8 defers the delete to the last close and reports no pending delete in between.
    if (UnderWine()) GTEST_SKIP() << "Wine does not report a pending delete";
    m_clock->Set(Beijing(7, 2, 9, 0));
    Start();
    const int32_t id = AddClear();
    RunNow(id);
    ASSERT_TRUE(stdfs::remove(Logs() / "2024-07-02.log"));
    m_clock->Advance(60);
    RunNow(id);
    EXPECT_EQ(Day("2024-07-02.log"),
              DayFile({u8"2024-07-02 09:01:00 清理规则 1「清理临时文件」开始手动运行",
                       u8"2024-07-02 09:01:00 清理规则 1「清理临时文件」运行完成：共 0 个文件"}));
}

TEST(HistoryWriter, DatesEachLineByTheLocalTimeOfTheInjectedClock) {
    const TimeZone berlin = *TimeZone::FromPosix("CET-1CEST,M3.5.0,M10.5.0/3");
    // Changes at local midnight: the spring day starts at 01:00, and in autumn 23:00 comes twice.
    const TimeZone santiago = *TimeZone::FromPosix("<-04>4<-03>,M9.1.6/24,M4.1.6/24");
    struct Case {
        const TimeZone& zone;
        int64_t utc;
        const char* file;
        const char8_t* stamp;
    };
    const Case cases[] = {
        {berlin, Utc(2024, 3, 31, 0, 59, 59), "2024-03-31.log", u8"2024-03-31 01:59:59"},
        {berlin, Utc(2024, 3, 31, 1, 0, 0), "2024-03-31.log", u8"2024-03-31 03:00:00"},
        {berlin, Utc(2024, 10, 27, 0, 59, 59), "2024-10-27.log", u8"2024-10-27 02:59:59"},
        {berlin, Utc(2024, 10, 27, 1, 0, 0), "2024-10-27.log", u8"2024-10-27 02:00:00"},
        {santiago, Utc(2024, 9, 8, 3, 59, 59), "2024-09-07.log", u8"2024-09-07 23:59:59"},
        {santiago, Utc(2024, 9, 8, 4, 0, 0), "2024-09-08.log", u8"2024-09-08 01:00:00"},
        {santiago, Utc(2024, 4, 7, 2, 59, 59), "2024-04-06.log", u8"2024-04-06 23:59:59"},
        {santiago, Utc(2024, 4, 7, 3, 0, 0), "2024-04-06.log", u8"2024-04-06 23:00:00"},
        {santiago, Utc(2024, 4, 7, 4, 0, 0), "2024-04-07.log", u8"2024-04-07 00:00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + std::string(" ") + U8(c.stamp));
        TempFolder folder;
        HistoryWriter::Options options;
        options.folder = folder.Path() / "logs";
        options.clock = std::make_shared<FakeClock>(c.utc, c.zone);
        HistoryWriter writer(options);
        writer.Start();
        writer.Add(Gbk(u8"一行"));
        writer.Stop();
        EXPECT_EQ(Names(options.folder), std::set<std::string>{c.file});
        EXPECT_EQ(FileOrMissing(options.folder / c.file), DayFile({c.stamp + std::u8string(u8" 一行")}));
    }
}

TEST(GbkToUtf8, WritesEachTextAsOneLineWhateverItHolds) {
    struct Case {
        std::string gbk;
        std::u8string utf8;
    };
    const Case cases[] = {
        {"C:\\data\\a.log", u8"C:\\data\\a.log"},
        {Gbk(u8"已删除：中文名.txt，字节"), u8"已删除：中文名.txt，字节"},
        {"a\nb\r\tc\x7F", u8"a?b??c?"},  // a file name may hold a line break
        {"\xB0", u8"?"},                 // a lead byte without its trail
        {"\xB0"
         "1" +
             Gbk(u8"表"),
         u8"?1表"},                             // ... before text that goes on
        {Gbk(u8"表") + Gbk(u8"表"), u8"表表"},  // the second comes from memory
        // A name carried exactly goes in as it is, GBK around it or not, and still as one line.
        {Gbk(u8"已删除：") + "\xFF" + U8(u8"한글😀.txt") + "\xFF" + Gbk(u8"，字节"),
         u8"已删除：한글😀.txt，字节"},
        {"\xFF"
         "a\nb\xC0\xAF\xED\xA0\x80\xFF",
         u8"a?b?????"},                   // overlong, a surrogate
        {"x\xFF" + U8(u8"名"), u8"x名"},  // to the end when not closed
    };
    GbkToUtf8 convert;
    for (const Case& c : cases) {
        std::string out = "> ";
        convert.Append(out, c.gbk);
        EXPECT_EQ(out, "> " + U8(c.utf8)) << c.gbk;
    }
}

TEST(HistoryText, AnExactNameTravelsMarkedUnlessAsciiAndTheScreenGetsItInGbk) {
    const std::string folder = Gbk(u8"已删除：D:\\数据\\");
    std::string line = folder;
    HistoryText::AppendExactName(line, [](std::string& out) { out += U8(u8"한글😀表.log"); });
    EXPECT_EQ(line, folder + "\xFF" + U8(u8"한글😀表.log") + "\xFF");
    EXPECT_EQ(HistoryText::ScreenText(line + Gbk(u8"，1 字节")),
              Gbk(u8"已删除：D:\\数据\\???表.log，1 字节"));
    std::string ascii = folder;
    HistoryText::AppendExactName(ascii, [](std::string& out) { out += "a.log"; });
    EXPECT_EQ(ascii, folder + "a.log");
    EXPECT_FALSE(HistoryText::HasExactName(ascii));
}

TEST_F(History, StartRemovesOnlyDayFilesOlderThanNinetyDays) {
    // Today is 2024-07-01 in the clock's zone: 2024-04-02 is 90 days ago.
    const std::set<std::string> kept = {
        "2024-04-02.log",     "2024-07-01.log",  "2024-08-01.log",  // 90 days old, today, a clock set back
        "2024-02-30.log",     "2024-1-01.log",   "2024-01-01.LOG",  // not dates we name files by
        "2024-01-01.log.bak", "x2024-01-01.log", "notes.txt",
    };
    const std::set<std::string> removed = {"2024-04-01.log", "2023-12-31.log", "1999-01-01.log"};
    stdfs::create_directories(Logs() / "2020-01-01.log");  // a folder is no history file
    for (const auto& name : kept) shared::AtomicWriteFile(Logs() / name, "x");
    for (const auto& name : removed) shared::AtomicWriteFile(Logs() / name, "x");
    std::set<std::string> expected = kept;
    expected.insert("2020-01-01.log");
#ifndef _WIN32
    // A link named like an old day file goes; what it points to stays.
    shared::AtomicWriteFile(m_folder.Path() / "target.log", "kept");
    stdfs::create_symlink(m_folder.Path() / "target.log", Logs() / "2020-01-02.log");
    expected.insert("2020-01-02.log");
#endif
    m_clock->Set(Beijing(7, 1, 9, 0));
    Start();
    m_engine->WaitIdle();
    EXPECT_EQ(Names(Logs()), expected);
}

TEST_F(History, AnEngineThatOnlyReadsWritesNothingUntilItHoldsTheFolder) {
    Start();
    const int32_t id = AddClear();
    RunNow(id);
    const std::string before = Day("2024-07-01.log");
    ASSERT_NE(before, "<missing>");
    shared::AtomicWriteFile(Logs() / "2020-01-01.log", "old");

    auto second = StartEngine(m_folder.Path(), m_clock, m_script);
    LogCollector secondLog;
    secondLog.Register(*second);
    ClearRule rule = ValidClearRule();
    EXPECT_EQ(second->AddClear(&rule), KIVO_E_STORE_LOCKED);
    EXPECT_EQ(second->ManRun(id), KIVO_E_STORE_LOCKED);
    second->WaitIdle();
    EXPECT_EQ(secondLog.Lines().size(), 3u);  // its refusals are on its screen, and nowhere else
    EXPECT_EQ(Names(Logs()), (std::set<std::string>{"2020-01-01.log", "2024-07-01.log"}));
    EXPECT_EQ(Day("2024-07-01.log"), before);

    // Once the holder has gone, the next change takes the folder over, and the history with it.
    m_engine.reset();
    EXPECT_EQ(second->AddClear(&rule), KIVO_OK);
    second->WaitIdle();
    EXPECT_EQ(Day("2024-07-01.log"),
              before + U8(u8"2024-07-01 23:59:50 另一个任务引擎已释放数据文件夹，重新读取规则\r\n"));
    EXPECT_EQ(Names(Logs()), std::set<std::string>{"2024-07-01.log"});
}

TEST_F(History, AnUnwritableLogsFolderKeepsTheEngineRunningAndSaysSoOnceAnHour) {
    shared::AtomicWriteFile(Logs(), "a file where the folder belongs");
    Start();
    const int32_t id = AddClear();
    ASSERT_EQ(m_engine->AutoRun(), KIVO_OK);
    RunNow(id);
    const std::string folder = *shared::GbkFromPath(Logs());
    const std::string fault = "错误：无法写入运行历史 " + folder +
                              "：同名的文件占用了文件夹的位置。任务照常运行，未写入的行数在恢复后补记";
    EXPECT_EQ(Shown(fault), 1u);

    m_clock->Advance(59 * 60);
    RunNow(id);
    EXPECT_EQ(Shown(fault), 1u);
    m_clock->Advance(60);
    RunNow(id);
    EXPECT_EQ(Shown(fault), 2u);

    // Writing works again: the lines lost meanwhile are counted first.
    const size_t lost = m_log.Lines().size() - Shown(fault);
    EXPECT_EQ(lost, 7u);  // automatic running started, and three runs of two lines
    stdfs::remove(Logs());
    RunNow(id);
    EXPECT_EQ(Day("2024-07-02.log"),
              DayFile({u8"2024-07-02 00:59:50 错误：此前有 7 行运行历史未能写入",
                       u8"2024-07-02 00:59:50 清理规则 1「清理临时文件」开始手动运行",
                       u8"2024-07-02 00:59:50 清理规则 1「清理临时文件」运行完成：共 0 个文件"}));
    EXPECT_EQ(Shown(fault), 2u);
}

namespace {

// A writer whose appends a test can fail, cut short or hold.
class FaultyWriter {
  public:
    explicit FaultyWriter(const stdfs::path& folder, size_t maxBuffered = size_t(4) << 20) {
        HistoryWriter::Options options;
        options.folder = folder;
        options.clock = m_clock;
        options.show = [this](std::string line) {
            std::lock_guard lock(m_mutex);
            m_shown.push_back(std::move(line));
        };
        options.interval = std::chrono::hours(1);  // written at once when idle, then only on Flush
        options.maxBufferedBytes = maxBuffered;
        options.maxWaitForRoom = std::chrono::milliseconds(50);
        options.seam = [this](HistoryWriter::Step step, size_t& allowed) {
            std::unique_lock lock(m_mutex);
            if (step != HistoryWriter::Step::Append) return platform::IoStatus{};
            m_appending = true;
            m_changed.notify_all();
            m_changed.wait(lock, [&] { return !m_hold; });
            m_appending = false;
            if (m_throw) std::exchange(m_throw, nullptr)();
            if (!m_cutAt) return platform::IoStatus{};
            allowed = *m_cutAt;
            return platform::IoStatus{platform::IoFault::DiskFull, 28};
        };
        m_writer = std::make_unique<HistoryWriter>(options);
        m_writer->Start();
    }

    HistoryWriter& Writer() { return *m_writer; }
    void CutAt(std::optional<size_t> bytes) {
        std::lock_guard lock(m_mutex);
        m_cutAt = bytes;
    }
    // The next append throws what throwing throws.
    void ThrowNext(std::function<void()> throwing) {
        std::lock_guard lock(m_mutex);
        m_throw = std::move(throwing);
    }
    void Hold() {
        std::lock_guard lock(m_mutex);
        m_hold = true;
    }
    void WaitAppending() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_appending; });
    }
    void Release() {
        std::lock_guard lock(m_mutex);
        m_hold = false;
        m_changed.notify_all();
    }
    std::vector<std::string> Shown() {
        std::lock_guard lock(m_mutex);
        return m_shown;
    }

  private:
    std::shared_ptr<FakeClock> m_clock = std::make_shared<FakeClock>(Utc(2024, 7, 1, 8, 0));
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<size_t> m_cutAt;
    std::function<void()> m_throw;
    bool m_hold = false;
    bool m_appending = false;
    std::vector<std::string> m_shown;
    std::unique_ptr<HistoryWriter> m_writer;
};

}  // namespace

TEST(HistoryWriter, ADiskFullMidWriteLosesOnlyTheLinesNotWrittenAndCountsThem) {
    TempFolder folder;
    FaultyWriter faulty(folder.Path());
    HistoryWriter& writer = faulty.Writer();
    writer.Add("line 1");
    writer.Flush();
    // The disk fills five bytes into the third line.
    faulty.CutAt(U8(u8"2024-07-01 08:00:00 line 2\r\n").size() + 5);
    for (const char* line : {"line 2", "line 3", "line 4"}) writer.Add(line);
    writer.Flush();
    faulty.CutAt(std::nullopt);
    writer.Add("line 5");
    writer.Stop();

    EXPECT_EQ(
        FileOrMissing(folder.Path() / "2024-07-01.log"),
        DayFile({u8"2024-07-01 08:00:00 line 1", u8"2024-07-01 08:00:00 line 2", u8"2024-",
                 u8"2024-07-01 08:00:00 错误：此前有 2 行运行历史未能写入", u8"2024-07-01 08:00:00 line 5"}));
    EXPECT_EQ(faulty.Shown(),
              std::vector<std::string>{"错误：无法写入运行历史 " + *shared::GbkFromPath(folder.Path()) +
                                       "：磁盘空间不足。任务照常运行，未写入的行数在恢复后补记"});
}

TEST(HistoryWriter, AStalledDiskDropsAndCountsLinesInsteadOfGrowingOrBlocking) {
    TempFolder folder;
    FaultyWriter faulty(folder.Path(), 1024);
    HistoryWriter& writer = faulty.Writer();
    faulty.Hold();
    writer.Add("first");
    faulty.WaitAppending();           // the disk hangs in the middle of the first write
    const std::string line(88, 'x');  // 100 bytes a line in the buffer: ten fit
    for (int i = 0; i < 1000; ++i) writer.Add(line, HistoryWriter::Room::Wait);
    faulty.Release();
    writer.Stop();

    // The note of the lines dropped stands after the lines kept before them.
    std::string file = DayFile({u8"2024-07-01 08:00:00 first"});
    for (int i = 0; i < 10; ++i) file += U8(u8"2024-07-01 08:00:00 ") + line + "\r\n";
    file += U8(u8"2024-07-01 08:00:00 错误：此前有 990 行运行历史未能写入\r\n");
    EXPECT_EQ(FileOrMissing(folder.Path() / "2024-07-01.log"), file);
    EXPECT_TRUE(faulty.Shown().empty());
}

TEST(HistoryWriter, AStartAndAnEndOfARunAreKeptWhereItsFileLinesAreDropped) {
    TempFolder folder;
    FaultyWriter faulty(folder.Path(), 1024);
    HistoryWriter& writer = faulty.Writer();
    using Room = HistoryWriter::Room;
    faulty.Hold();
    writer.Add("first");
    faulty.WaitAppending();
    const std::string line(89, 'x');  // 101 bytes in the buffer: ten leave no room for another line
    for (int i = 0; i < 10; ++i) writer.Add(line);
    writer.Add("start", Room::Keep);  // waits for room, but the disk does not move: kept all the same
    writer.Add("file", Room::Wait);   // the disk has stalled: dropped without waiting
    writer.Add("end", Room::Keep);
    // Beyond the bound by an eighth of it (128 bytes) at most: this one would be the 139th.
    writer.Add(line, Room::Keep);
    writer.Add("engine");
    faulty.Release();
    writer.Stop();

    std::string file = DayFile({u8"2024-07-01 08:00:00 first"});
    for (int i = 0; i < 10; ++i) file += U8(u8"2024-07-01 08:00:00 ") + line + "\r\n";
    file += DayFile({u8"2024-07-01 08:00:00 start", u8"2024-07-01 08:00:00 错误：此前有 1 行运行历史未能写入",
                     u8"2024-07-01 08:00:00 end", u8"2024-07-01 08:00:00 错误：此前有 2 行运行历史未能写入"})
                .substr(HistoryText::kBom.size());
    EXPECT_EQ(FileOrMissing(folder.Path() / "2024-07-01.log"), file);
}

TEST(HistoryWriter, AFaultAfterWritingWorkedAgainIsShownAgainAtOnce) {
    TempFolder folder;
    FaultyWriter faulty(folder.Path());
    HistoryWriter& writer = faulty.Writer();
    const std::string fault = "错误：无法写入运行历史 " + *shared::GbkFromPath(folder.Path()) +
                              "：磁盘空间不足。任务照常运行，未写入的行数在恢复后补记";
    for (const char* line : {"lost", "kept", "lost again"}) {
        faulty.CutAt(std::string_view(line).starts_with("lost") ? std::optional<size_t>(0) : std::nullopt);
        writer.Add(line);
        writer.Flush();
    }
    writer.Stop();
    // Within the hour, but writing had worked in between: the second fault is news.
    EXPECT_EQ(faulty.Shown(), (std::vector<std::string>{fault, fault}));
    EXPECT_EQ(
        FileOrMissing(folder.Path() / "2024-07-01.log"),
        DayFile({u8"2024-07-01 08:00:00 错误：此前有 1 行运行历史未能写入", u8"2024-07-01 08:00:00 kept"}));
}

TEST(HistoryWriter, AnExceptionInTheWriterCostsOnlyItsLinesAndTheWriterGoesOn) {
    const struct {
        std::function<void()> throwing;
        std::string reason;
    } cases[] = {
        {[] { throw std::bad_alloc(); }, "内存不足"},
        {[] { throw std::runtime_error("?"); }, "内部错误"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        TempFolder folder;
        FaultyWriter faulty(folder.Path());
        HistoryWriter& writer = faulty.Writer();
        faulty.ThrowNext(c.throwing);
        writer.Add("a");
        writer.Add("b");
        writer.Flush();
        writer.Add("c");
        writer.Stop();
        EXPECT_EQ(
            FileOrMissing(folder.Path() / "2024-07-01.log"),
            DayFile({u8"2024-07-01 08:00:00 错误：此前有 2 行运行历史未能写入", u8"2024-07-01 08:00:00 c"}));
        EXPECT_EQ(faulty.Shown(),
                  std::vector<std::string>{"错误：无法写入运行历史 " + *shared::GbkFromPath(folder.Path()) +
                                           "：" + c.reason + "。任务照常运行，未写入的行数在恢复后补记"});
    }
}

TEST(HistoryWriter, StopLeavesAWriterStuckInTheKernelAndCountsWhatItHeld) {
    // The share behind the logs folder stopped answering: the first append never returns until the
    // test lets it, and then it fails.
    struct Share {
        std::mutex mutex;
        std::condition_variable changed;
        bool stuck = false, answers = false;
    };
    auto share = std::make_shared<Share>();
    std::mutex shownMutex;
    std::vector<std::string> shown;
    TempFolder folder;
    HistoryWriter::Options options;
    options.folder = folder.Path();
    options.clock = std::make_shared<FakeClock>(Utc(2024, 7, 1, 8, 0));
    options.show = [&](std::string line) {
        std::lock_guard lock(shownMutex);
        shown.push_back(std::move(line));
    };
    options.flushWait = std::chrono::milliseconds(100);
    options.seam = [share](HistoryWriter::Step step, size_t& allowed) {
        if (step != HistoryWriter::Step::Append) return platform::IoStatus{};
        std::unique_lock lock(share->mutex);
        share->stuck = true;
        share->changed.notify_all();
        share->changed.wait(lock, [&] { return share->answers; });
        allowed = 0;
        return platform::IoStatus{platform::IoFault::Other, 53};
    };
    auto writer = std::make_unique<HistoryWriter>(std::move(options));
    writer->Start();
    writer->Add("first");
    {
        std::unique_lock lock(share->mutex);
        share->changed.wait(lock, [&] { return share->stuck; });
    }
    writer->Add("second");
    writer->Flush();  // unanswered: it gives up, and says so
    writer->Add("third");
    auto stopped = std::async(std::launch::async, [&] { writer->Stop(); });
    const bool ended = stopped.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
    auto answer = [&] {
        std::lock_guard lock(share->mutex);
        share->answers = true;
        share->changed.notify_all();
    };
    if (!ended) answer();
    ASSERT_TRUE(ended) << "Stop waited for a write that does not return";

    const std::string folderGbk = *shared::GbkFromPath(folder.Path());
    const std::vector<std::string> expected = {
        "错误：无法写入运行历史 " + folderGbk + "：没有响应。任务照常运行，未写入的行数在恢复后补记",
        "错误：运行历史 " + folderGbk + " 没有响应，停止时有 3 行未能写入"};
    {
        std::lock_guard lock(shownMutex);
        EXPECT_EQ(shown, expected);
    }
    // The stuck thread outlives its writer. Once its call returns it ends, touching nothing of the
    // writer's and saying nothing more, and lets go of what it held (the seam and the share).
    writer.reset();
    answer();
    for (int i = 0; i < 1000 && share.use_count() > 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(share.use_count(), 1);
    std::lock_guard lock(shownMutex);
    EXPECT_EQ(shown, expected);
    EXPECT_EQ(FileOrMissing(folder.Path() / "2024-07-01.log"), "");  // opened, never written
}

TEST(HistoryWriter, RetentionRunsAgainWhenTheLocalDayChangesWhileTheWriterIdles) {
    TempFolder folder;
    auto clock = std::make_shared<FakeClock>(Beijing(7, 1, 12, 0), TimeZone::Fixed(8 * 3600));
    for (const char* name : {"2024-04-01.log", "2024-04-02.log", "2024-04-03.log"})
        shared::AtomicWriteFile(folder.Path() / name, "x");
    HistoryWriter::Options options;
    options.folder = folder.Path();
    options.clock = clock;
    options.dayCheck = std::chrono::milliseconds(10);
    HistoryWriter writer(options);
    writer.Start();
    writer.Flush();
    EXPECT_EQ(Names(folder.Path()), (std::set<std::string>{"2024-04-02.log", "2024-04-03.log"}));

    // Nothing is added: the writer notices the new day by itself, and 2024-04-02 is now 91 days old.
    clock->Set(Beijing(7, 2, 0, 0, 1));
    for (int i = 0; i < 1000 && Names(folder.Path()).size() > 1; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_EQ(Names(folder.Path()), std::set<std::string>{"2024-04-03.log"});
}
