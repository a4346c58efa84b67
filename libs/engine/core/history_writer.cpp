#include "history_writer.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <utility>

#include "civil_date.h"
#include "gbk_to_utf8.h"
#include "history_text.h"
#include "run_log_text.h"
#include "shared_files.h"

namespace kivo {
namespace {

using SteadyClock = std::chrono::steady_clock;

// A record in the buffer: the UTC time, the text's length, the text. A record of lines dropped for
// want of room has kDroppedMark for its length and the count of them for its text, so that the
// note of their loss stands where they would have stood.
constexpr size_t kRecordHeader = sizeof(int64_t) + sizeof(uint32_t);
constexpr uint32_t kDroppedMark = 0xFFFFFFFF;
constexpr size_t kDroppedRecord = kRecordHeader + sizeof(uint64_t);
// Lines are converted and written in pieces of about this size.
constexpr size_t kChunk = size_t(256) << 10;

std::string ReasonText(const platform::IoStatus& status) {
    switch (status.fault) {
        case platform::IoFault::DiskFull:
            return "磁盘空间不足";
        case platform::IoFault::AccessDenied:
            return "拒绝访问";
        case platform::IoFault::NotAFolder:
            return "同名的文件占用了文件夹的位置";
        case platform::IoFault::None:
        case platform::IoFault::Other:
            break;
    }
    return "读写错误 (系统代码 " + std::to_string(status.code) + ")";
}

size_t CountLineEnds(std::string_view text) {
    return size_t(std::count(text.begin(), text.end(), '\n'));
}

template <class T>
T Read(const std::string& buffer, size_t pos) {
    T value;
    std::memcpy(&value, buffer.data() + pos, sizeof value);
    return value;
}

}  // namespace

struct HistoryWriter::Shared {
    explicit Shared(Options o) : options(std::move(o)) {}

    const Options options;

    std::mutex mutex;  // everything below
    std::condition_variable wake;
    std::condition_variable progress;
    std::string pending;                  // records (kRecordHeader)
    uint64_t pendingLines = 0;            // text records in pending
    uint64_t pendingDropped = 0;          // lines counted by its dropped-lines records
    size_t lastMark = std::string::npos;  // the dropped-lines record that ends pending, if one does
    uint64_t unplaced = 0;  // dropped where not even their count found memory: noted before the next lines
    uint64_t lost = 0;      // not written, to be noted in the history once writing works
    uint64_t inFlight = 0;  // lines of the batch being written, neither written nor counted lost yet
    uint64_t flushWanted = 0;
    uint64_t flushDone = 0;
    // Of the current writer thread; one of an earlier one was left by Stop. Changed under the mutex,
    // read without it by a writer between its writes.
    std::atomic<uint64_t> generation{0};
    bool running = false;
    bool stopping = false;
    bool finished = false;
    bool stalled = false;  // the disk did not keep up: lines no longer wait for room
    bool hung = false;     // a flush went unanswered, and no batch was written since
    std::optional<int64_t> faultShownAt;
    SteadyClock::time_point nextWrite{};
    std::thread::id writerThread;

    // Shows a line about a fault, at most once an hour while faults last (the caller holds the mutex).
    void ShowFaultLocked(const std::string& reason) {
        const int64_t now = options.clock->NowUtc();
        if (faultShownAt && now >= *faultShownAt && now - *faultShownAt < kFaultRepeatSeconds) return;
        faultShownAt = now;
        Show(RunLogText::HistoryUnwritable(Folder(), reason));
    }
    void Show(std::string line) const {
        if (!options.show) return;
        try {
            options.show(std::move(line));
        } catch (...) {  // the screen line is lost, the count is not
        }
    }
    std::string Folder() const { return shared::GbkFromPath(options.folder).value_or("logs"); }
};

// The writer's thread: takes batches from the buffer and writes them. Everything here but Shared is
// its own. A worker that Stop has left (its generation is no longer the current one) touches nothing
// shared any more, and ends once its blocked call returns.
class HistoryWriter::Worker {
  public:
    Worker(std::shared_ptr<Shared> shared, uint64_t generation)
        : m_shared(std::move(shared)), m_s(*m_shared), m_generation(generation) {}
    void Run();

  private:
    bool Current() const { return m_s.generation == m_generation; }
    // Runs f under the mutex if this is still the current writer; false once it was left.
    template <class F>
    bool Locked(F&& f) {
        std::lock_guard lock(m_s.mutex);
        if (!Current()) return false;
        f();
        return true;
    }
    void ApplyRetention();
    void Write(const std::string& batch);
    // Writes the lines of one local day and, first, the note of lines lost before them (dated as the
    // first of the lines, or lostStamp); false when they could not be written.
    bool WriteDay(int64_t day, std::string_view lines, uint64_t lineCount, std::string_view lostStamp = {});
    bool OpenDay(int64_t day, platform::IoStatus& status);
    platform::IoStatus AppendAll(std::string_view data, size_t& written);
    void Sync();
    // The lines could not be written: counted, and said on the screen.
    void Fault(const std::string& reason, uint64_t lostLines);
    // What an exception cost: every line of the batch not yet written or counted.
    void LoseInFlight(const char* reason);

    const std::shared_ptr<Shared> m_shared;  // keeps it alive while this thread runs
    Shared& m_s;
    const uint64_t m_generation;

    GbkToUtf8 m_utf8;
    std::unique_ptr<platform::AppendFile> m_file;
    int64_t m_fileDay = 0;
    platform::AppendTail m_tail;
    bool m_unsynced = false;  // written since the last sync
    bool m_syncOwed = false;  // a flush was served: sync at m_nextSync
    SteadyClock::time_point m_nextSync{};
    std::optional<int64_t> m_retainedDay;  // the local day retention last ran for
    SteadyClock::time_point m_nextDayCheck{};
};

HistoryWriter::HistoryWriter(Options options) : m_shared(std::make_shared<Shared>(std::move(options))) {}

HistoryWriter::~HistoryWriter() {
    Stop();
}

void HistoryWriter::Start() {
    Shared& s = *m_shared;
    std::lock_guard lock(s.mutex);
    if (s.running) return;
    s.running = true;
    s.stopping = false;
    s.finished = false;
    s.stalled = false;
    s.hung = false;
    const uint64_t generation = ++s.generation;
    m_thread = std::thread([shared = m_shared, generation] { Worker(shared, generation).Run(); });
    s.writerThread = m_thread.get_id();
}

void HistoryWriter::Stop() {
    Shared& s = *m_shared;
    std::unique_lock lock(s.mutex);
    if (!s.running || s.stopping) return;
    s.stopping = true;
    s.wake.notify_all();
    s.progress.notify_all();
    // A flush that went unanswered says the writer is stuck: waiting again would only add to it.
    const bool finished =
        s.hung ? s.finished : s.progress.wait_for(lock, s.options.stopWait, [&] { return s.finished; });
    if (finished) {
        lock.unlock();
        m_thread.join();
        lock.lock();
    } else {
        // Stuck in the kernel, on a share that stopped answering: no portable way to cancel that.
        // The thread keeps Shared alive and, once its call returns, ends without touching anything
        // else; what it held is counted as lost.
        const uint64_t lost = s.lost + s.inFlight + s.pendingLines + s.pendingDropped + s.unplaced;
        ++s.generation;
        s.pending.clear();
        s.pending.shrink_to_fit();
        s.pendingLines = s.pendingDropped = s.unplaced = s.lost = s.inFlight = 0;
        s.lastMark = std::string::npos;
        m_thread.detach();
        s.Show(RunLogText::HistoryNotAnswering(s.Folder(), lost));
    }
    s.running = false;
    s.stopping = false;
    s.progress.notify_all();
}

bool HistoryWriter::Active() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->running && !m_shared->stopping;
}

void HistoryWriter::Add(std::string_view gbk, Room room) {
    Shared& s = *m_shared;
    const int64_t utc = s.options.clock->NowUtc();
    const size_t size = kRecordHeader + gbk.size();
    const size_t max = s.options.maxBufferedBytes;
    std::unique_lock lock(s.mutex);
    if (!s.running || s.stopping) return;
    auto fits = [&](size_t bound) { return s.pending.empty() || s.pending.size() + size <= bound; };
    if (!fits(max)) {
        if (room != Room::Drop && !s.stalled &&
            !s.progress.wait_for(lock, s.options.maxWaitForRoom, [&] { return s.stopping || fits(max); }))
            s.stalled = true;
        if (!s.running || s.stopping) return;
        if (!fits(room == Room::Keep ? max + max / 8 : max)) {
            ++s.pendingDropped;
            if (s.lastMark != std::string::npos) {
                // Dropped right after other dropped lines: one note counts them all.
                std::memcpy(s.pending.data() + s.lastMark, &utc, sizeof utc);
                const uint64_t count = Read<uint64_t>(s.pending, s.lastMark + kRecordHeader) + 1;
                std::memcpy(s.pending.data() + s.lastMark + kRecordHeader, &count, sizeof count);
                return;
            }
            char record[kDroppedRecord];
            const uint64_t one = 1;
            std::memcpy(record, &utc, sizeof utc);
            std::memcpy(record + sizeof utc, &kDroppedMark, sizeof kDroppedMark);
            std::memcpy(record + kRecordHeader, &one, sizeof one);
            try {
                s.pending.append(record, kDroppedRecord);
                s.lastMark = s.pending.size() - kDroppedRecord;
            } catch (const std::bad_alloc&) {
                --s.pendingDropped;
                ++s.unplaced;
            }
            return;
        }
    }
    const bool wasEmpty = s.pending.empty();
    const bool crossesHalf = s.pending.size() < max / 2 && s.pending.size() + size >= max / 2;
    const uint32_t length = uint32_t(gbk.size());
    char header[kRecordHeader];
    std::memcpy(header, &utc, sizeof utc);
    std::memcpy(header + sizeof utc, &length, sizeof length);
    const size_t before = s.pending.size();
    try {
        s.pending.append(header, kRecordHeader);
        s.pending.append(gbk);
    } catch (const std::bad_alloc&) {
        s.pending.resize(before);
        ++s.unplaced;
        return;
    }
    ++s.pendingLines;
    s.lastMark = std::string::npos;
    lock.unlock();
    // The writer sleeps until the first line or the next interval; waking it for every line would
    // cost a system call a line.
    if (wasEmpty || crossesHalf) s.wake.notify_one();
}

void HistoryWriter::Flush() {
    Shared& s = *m_shared;
    std::unique_lock lock(s.mutex);
    if (!s.running || s.finished || s.hung || std::this_thread::get_id() == s.writerThread) return;
    const uint64_t generation = s.generation;
    const uint64_t ticket = ++s.flushWanted;
    s.wake.notify_one();
    if (s.progress.wait_for(lock, s.options.flushWait, [&] {
            return s.flushDone >= ticket || s.finished || s.generation != generation;
        }))
        return;
    // The writer is stuck in a write: later flushes and Stop need not wait for it again.
    s.hung = true;
    s.ShowFaultLocked("没有响应");
}

void HistoryWriter::Worker::Run() {
    std::string batch;
    std::unique_lock lock(m_s.mutex);
    for (;;) {
        const size_t half = m_s.options.maxBufferedBytes / 2;
        for (;;) {
            if (!Current()) return;
            const auto now = SteadyClock::now();
            if (m_s.stopping || m_s.flushWanted != m_s.flushDone || m_s.pending.size() >= half ||
                (!m_s.pending.empty() && now >= m_s.nextWrite) || (m_syncOwed && now >= m_nextSync) ||
                now >= m_nextDayCheck)
                break;
            auto until = m_nextDayCheck;
            if (!m_s.pending.empty()) until = std::min(until, m_s.nextWrite);
            if (m_syncOwed) until = std::min(until, m_nextSync);
            m_s.wake.wait_until(lock, until);
        }
        batch.swap(m_s.pending);
        m_s.pending.clear();
        m_s.lost += std::exchange(m_s.unplaced, 0);
        m_s.inFlight = m_s.pendingLines + m_s.pendingDropped;
        m_s.pendingLines = m_s.pendingDropped = 0;
        m_s.lastMark = std::string::npos;
        const uint64_t flushTicket = m_s.flushWanted;
        const bool flushing = flushTicket != m_s.flushDone;
        const bool stopping = m_s.stopping;
        lock.unlock();

        // An exception here must not end the process, nor this thread: what it cost is counted.
        try {
            ApplyRetention();
        } catch (...) {  // tried again the next day
        }
        try {
            if (!batch.empty()) Write(batch);
        } catch (const std::bad_alloc&) {
            LoseInFlight("内存不足");
        } catch (...) {
            LoseInFlight("内部错误");
        }
        if (flushing && m_unsynced) m_syncOwed = true;

        lock.lock();
        if (!Current()) return;
        if (!batch.empty()) m_s.nextWrite = SteadyClock::now() + m_s.options.interval;
        batch.clear();
        m_s.stalled = false;
        m_s.hung = false;
        m_s.flushDone = flushTicket;
        m_s.progress.notify_all();
        if (stopping) break;
        // After the flush is answered: a run's end waits for the write, not for the disk.
        if (m_syncOwed && SteadyClock::now() >= m_nextSync) {
            lock.unlock();
            Sync();
            lock.lock();
            if (!Current()) return;
        }
    }
    lock.unlock();
    Sync();
    m_file.reset();
    lock.lock();
    if (!Current()) return;
    m_s.finished = true;
    m_s.progress.notify_all();
}

void HistoryWriter::Worker::ApplyRetention() {
    const auto now = SteadyClock::now();
    const bool due = now >= m_nextDayCheck;
    if (due) m_nextDayCheck = now + m_s.options.dayCheck;
    const Clock& clock = *m_s.options.clock;
    const int64_t today = FloorDiv(clock.Zone().ToLocal(clock.NowUtc()), kSecondsPerDay);
    if (m_retainedDay == today) return;
    m_retainedDay = today;
    for (const std::string& name : platform::PlainFileNames(m_s.options.folder)) {
        const auto day = HistoryText::DayOfFileName(name);
        if (day && today - *day > kKeepDays) platform::RemoveFileName(m_s.options.folder / name);
    }
}

void HistoryWriter::Worker::Write(const std::string& batch) {
    const TimeZone zone = m_s.options.clock->Zone();
    std::string lines;
    uint64_t count = 0;
    int64_t day = 0;
    int64_t stampedUtc = 0;
    std::string stamp;
    bool wrote = false;  // the last piece was written
    std::optional<int64_t> droppedAt;
    auto writeOut = [&] {
        if (!count) return true;
        wrote = WriteDay(day, lines, count);
        lines.clear();
        count = 0;
        return Current();
    };
    for (size_t pos = 0; pos < batch.size();) {
        const int64_t utc = Read<int64_t>(batch, pos);
        const uint32_t length = Read<uint32_t>(batch, pos + sizeof utc);
        if (length == kDroppedMark) {
            // The lines written so far came before the dropped ones; the note follows them.
            if (!writeOut()) return;
            const uint64_t dropped = Read<uint64_t>(batch, pos + kRecordHeader);
            if (!Locked([&] {
                    m_s.lost += dropped;
                    m_s.inFlight -= dropped;
                }))
                return;
            droppedAt = utc;
            pos += kDroppedRecord;
            continue;
        }
        const std::string_view text(batch.data() + pos + kRecordHeader, length);
        pos += kRecordHeader + length;

        if (stamp.empty() || utc != stampedUtc) {
            const int64_t local = zone.ToLocal(utc);
            const int64_t lineDay = FloorDiv(local, kSecondsPerDay);
            if (count && lineDay != day && !writeOut()) return;
            day = lineDay;
            stampedUtc = utc;
            stamp = HistoryText::Stamp(local);
        }
        lines += stamp;
        m_utf8.Append(lines, text);
        lines += HistoryText::kLineEnd;
        ++count;
        if (lines.size() >= kChunk && !writeOut()) return;
    }
    if (!writeOut()) return;
    // Lines dropped at the end of the batch: their note stands after the lines before them now,
    // dated as the last of them, rather than wait for a line that may never come.
    if (droppedAt && wrote) {
        const int64_t local = zone.ToLocal(*droppedAt);
        uint64_t lost = 0;
        Locked([&] { lost = m_s.lost; });
        if (lost) WriteDay(FloorDiv(local, kSecondsPerDay), {}, 0, HistoryText::Stamp(local));
    }
}

bool HistoryWriter::Worker::WriteDay(int64_t day, std::string_view lines, uint64_t lineCount,
                                     std::string_view lostStamp) {
    platform::IoStatus status;
    if (!OpenDay(day, status)) {
        Fault(ReasonText(status), lineCount);
        return false;
    }
    uint64_t lost = 0;
    if (!Locked([&] { lost = m_s.lost; })) return false;
    // Usually nothing goes before the lines, and then they are written as they are, not copied.
    std::string prefixed;
    if (!m_tail.endsWithLineEnd) prefixed += HistoryText::kLineEnd;
    if (m_tail.empty) prefixed += HistoryText::kBom;
    size_t lostLineEnd = 0;
    if (lost) {
        // Dated as the first line that follows it: every line it counts is older than that.
        prefixed += lostStamp.empty() ? lines.substr(0, HistoryText::kStampSize) : lostStamp;
        m_utf8.Append(prefixed, RunLogText::HistoryLinesLost(lost));
        prefixed += HistoryText::kLineEnd;
        lostLineEnd = prefixed.size();
    }
    const size_t linesStart = prefixed.size();
    if (!prefixed.empty()) prefixed += lines;
    const std::string_view out = prefixed.empty() ? lines : std::string_view(prefixed);

    size_t written = 0;
    status = AppendAll(out, written);
    const uint64_t notWritten = status ? 0 : CountLineEnds(out.substr(std::max(written, linesStart)));
    if (!Locked([&] {
            if (lostLineEnd && written >= lostLineEnd) m_s.lost -= lost;
            m_s.inFlight -= lineCount;
            m_s.lost += notWritten;
            if (status) m_s.faultShownAt.reset();  // writing works: the next fault is news again
        }))
        return false;
    if (!status) {
        Fault(ReasonText(status), 0);
        return false;
    }
    m_tail = {false, true};
    m_unsynced = true;
    return true;
}

bool HistoryWriter::Worker::OpenDay(int64_t day, platform::IoStatus& status) {
    // A day's file an operator deleted while it was open is made anew, not written into oblivion.
    if (m_file && m_fileDay == day && !m_file->Removed()) return true;
    if (m_file) {
        Sync();  // the day's file is done with
        m_file.reset();
    }
    const Seam& seam = m_s.options.seam;
    size_t none = 0;
    if (seam && !(status = seam(Step::MakeFolder, none))) return false;
    if (!(status = platform::MakeFolder(m_s.options.folder))) return false;
    if (seam && !(status = seam(Step::Open, none))) return false;
    m_file = platform::OpenAppendFile(m_s.options.folder / HistoryText::FileName(day), m_tail, status);
    m_fileDay = day;
    return m_file != nullptr;
}

platform::IoStatus HistoryWriter::Worker::AppendAll(std::string_view data, size_t& written) {
    written = 0;
    size_t allowed = data.size();
    if (m_s.options.seam) {
        if (platform::IoStatus fault = m_s.options.seam(Step::Append, allowed); !fault) {
            if (allowed) m_file->Append(data.substr(0, std::min(allowed, data.size())), written);
            return fault;
        }
    }
    return m_file->Append(data, written);
}

void HistoryWriter::Worker::Sync() {
    if (m_file && m_unsynced) {
        if (platform::IoStatus status = m_file->Sync(); !status) Fault(ReasonText(status), 0);
    }
    m_unsynced = false;
    m_syncOwed = false;
    m_nextSync = SteadyClock::now() + m_s.options.interval;
}

void HistoryWriter::Worker::Fault(const std::string& reason, uint64_t lostLines) {
    m_file.reset();  // reopened on the next write, which starts on a fresh line if this one tore
    Locked([&] {
        m_s.lost += lostLines;
        m_s.inFlight -= std::min(m_s.inFlight, lostLines);
        m_s.ShowFaultLocked(reason);
    });
}

void HistoryWriter::Worker::LoseInFlight(const char* reason) {
    m_file.reset();  // where the file ends is unknown now
    Locked([&] {
        m_s.lost += std::exchange(m_s.inFlight, 0);
        m_s.ShowFaultLocked(reason);
    });
}

}  // namespace kivo
