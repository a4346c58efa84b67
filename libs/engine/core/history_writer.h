// The run history: every run-log line, and the lines only the history keeps (each file a clean
// deleted), appended to one file per local day, "YYYY-MM-DD.log" in the logs folder, UTF-8 with a BOM
// and CRLF line ends, each line "YYYY-MM-DD HH:MM:SS text" (history_text.h).
//
// A line is stamped with the clock's time when it is added and written by the writer's own thread:
// at once when nothing was written in the last interval, else with the next batch, at most one
// interval later (so a flood costs one write a second, not one per line). Flush, at the end of every
// run, writes out at once; the file is then made durable (fsync / FlushFileBuffers) within an interval,
// at most once an interval, and at Stop. A killed process loses at most what it had not written out;
// what it wrote is whole lines, and a torn last line gets a line end before the next line.
//
// Faults (disk full, folder not writable, "logs" a file) never reach the caller: the lines that could
// not be written are counted, one screen line says so (again at most once an hour while the fault
// lasts), and the count is written into the history once writing works again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "clock.h"
#include "gbk_to_utf8.h"
#include "platform.h"

namespace kivo {

class HistoryWriter {
  public:
    static constexpr int kKeepDays = 90;
    static constexpr int64_t kFaultRepeatSeconds = 3600;

    // Test seam for faults a test cannot cause for real: called before each step; a fault fails the
    // step. Before an append, `allowed` is the size of the data, and the seam may lower it: that
    // much is written for real before the fault, as a disk that fills mid-write leaves it.
    enum class Step { MakeFolder, Open, Append };
    using Seam = std::function<platform::IoStatus(Step, size_t& allowed)>;

    struct Options {
        std::filesystem::path folder;  // the logs folder, created on the first write
        std::shared_ptr<const Clock> clock;
        std::function<void(std::string)> show;  // a GBK line for the screen only
        std::chrono::milliseconds interval{1000};
        size_t maxBufferedBytes = size_t(4) << 20;
        // How long a run's lines may wait for room while the disk does not keep up.
        std::chrono::milliseconds maxWaitForRoom{1000};
        Seam seam;
    };

    explicit HistoryWriter(Options options);
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // Starts the writer's thread, which first removes the day files older than kKeepDays (by the
    // date in their names; no other file). Until then nothing is kept.
    void Start();
    // Writes out what is buffered, makes it durable and ends the thread; later lines are not kept.
    void Stop();
    bool Active() const;

    // Keeps one GBK line, stamped now. Does no disk I/O. When the buffer is full, a caller that
    // allows it waits for room (a run's own lines: the run goes at the disk's pace); else, or once
    // the disk has not kept up for maxWaitForRoom, the line is dropped and counted.
    void Add(std::string_view gbk, bool mayWait = false);
    // Returns once every line added before is written out (not yet durable), or after a few seconds
    // when the disk does not answer.
    void Flush();

  private:
    void Run();
    void RemoveOldFiles();
    // Writes the records of a batch (see Add for their layout), grouped by local day.
    void Write(const std::string& batch);
    void WriteDay(int64_t day, std::string_view lines, uint64_t lineCount);
    bool OpenDay(int64_t day, platform::IoStatus& status);
    platform::IoStatus AppendAll(std::string_view data, size_t& written);
    void Sync();
    void Fault(const platform::IoStatus& status, uint64_t lostLines);

    const Options m_options;

    mutable std::mutex m_mutex;  // everything up to m_thread
    std::condition_variable m_wake;
    std::condition_variable m_progress;
    std::string m_pending;  // records: 8-byte UTC time, 4-byte length, GBK text
    uint64_t m_dropped = 0;
    uint64_t m_flushWanted = 0;
    uint64_t m_flushDone = 0;
    bool m_running = false;
    bool m_stopping = false;
    bool m_finished = false;
    bool m_stalled = false;  // the disk did not keep up: lines no longer wait for room
    std::chrono::steady_clock::time_point m_nextWrite{};
    std::thread m_thread;

    // The writer thread's own.
    GbkToUtf8 m_utf8;
    std::unique_ptr<platform::AppendFile> m_file;
    int64_t m_fileDay = 0;
    platform::AppendTail m_tail;
    bool m_unsynced = false;  // written since the last sync
    bool m_syncOwed = false;  // a flush was served: sync at m_nextSync
    std::chrono::steady_clock::time_point m_nextSync{};
    uint64_t m_lost = 0;  // lines not written, to be recorded once writing works
    std::optional<int64_t> m_faultShownAt;
};

}  // namespace kivo
