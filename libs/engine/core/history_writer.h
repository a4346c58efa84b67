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
// Faults (disk full, folder not writable, "logs" a file, a share that stopped answering, even an
// exception in the writer's thread) never reach the caller: the lines that could not be written are
// counted, one screen line says so (again at most once an hour while the fault lasts, and at once
// for a fault after writing worked again), and the count is written into the history once writing
// works again, after the lines it follows. Stop waits a few seconds at most: a writer stuck in the
// kernel is left to itself, and what it held is counted on the screen.
//
// Retention: the day files older than kKeepDays go when the writer starts and whenever the local day
// changes while it runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "clock.h"
#include "platform.h"

namespace kivo {

class HistoryWriter {
  public:
    static constexpr int kKeepDays = 90;
    static constexpr int64_t kFaultRepeatSeconds = 3600;

    // Test seam for faults a test cannot cause for real: called before each step; a fault fails the
    // step. Before an append, `allowed` is the size of the data, and the seam may lower it: that
    // much is written for real before the fault, as a disk that fills mid-write leaves it. The seam
    // may also block, as a write to a share that stopped answering does, or throw.
    enum class Step { MakeFolder, Open, Append };
    using Seam = std::function<platform::IoStatus(Step, size_t& allowed)>;

    // What becomes of a line that finds the buffer full.
    enum class Room {
        Drop,  // the engine's own lines: dropped and counted at once
        Wait,  // a run's lines: wait for room while the disk keeps up, else dropped and counted
        Keep,  // a run's start and end: wait as a run's lines do, then kept beyond the bound (by up
               // to an eighth of it), so that a run's file lines never stand without them
    };

    struct Options {
        std::filesystem::path folder;  // the logs folder, created on the first write
        std::shared_ptr<const Clock> clock;
        std::function<void(std::string)> show;  // a GBK line for the screen only
        std::chrono::milliseconds interval{1000};
        size_t maxBufferedBytes = size_t(4) << 20;
        // How long a run's lines may wait for room while the disk does not keep up.
        std::chrono::milliseconds maxWaitForRoom{1000};
        // How long Flush waits for a disk that does not answer: a run's end must not hang on it.
        std::chrono::milliseconds flushWait{5000};
        // How long Stop waits for the last lines to be written.
        std::chrono::milliseconds stopWait{3000};
        // How often an idle writer looks whether the local day changed (for retention).
        std::chrono::milliseconds dayCheck{std::chrono::minutes(5)};
        Seam seam;
    };

    explicit HistoryWriter(Options options);
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    // Starts the writer's thread, which first applies retention. Until then nothing is kept.
    void Start();
    // Writes out what is buffered, makes it durable and ends the thread; later lines are not kept.
    // Returns within Options::stopWait (at once when a flush already went unanswered): a writer that
    // has not finished by then is left to end by itself, and the lines it could not write are
    // counted in a screen line.
    void Stop();
    bool Active() const;

    // Keeps one GBK line (which may carry exact names, history_text.h), stamped now. Does no disk
    // I/O. A full buffer is handled as `room` says.
    void Add(std::string_view gbk, Room room = Room::Drop);
    // Returns once every line added before is written out (not yet durable), or after a few seconds
    // when the disk does not answer; then at once until the writer answers again.
    void Flush();

  private:
    struct Shared;
    class Worker;

    // Shared with the writer's thread, which may outlive this object when Stop had to leave it.
    const std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
};

}  // namespace kivo
