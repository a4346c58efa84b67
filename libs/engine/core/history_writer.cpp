#include "history_writer.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "civil_date.h"
#include "history_text.h"
#include "run_log_text.h"
#include "shared_files.h"

namespace kivo {
namespace {

using SteadyClock = std::chrono::steady_clock;

// A record in the buffer: the UTC time, the text's length, the text.
constexpr size_t kRecordHeader = sizeof(int64_t) + sizeof(uint32_t);
// Lines are converted and written in pieces of about this size.
constexpr size_t kChunk = size_t(256) << 10;
// Flush waits no longer for a disk that does not answer: a run's end must not hang on it.
constexpr auto kFlushWait = std::chrono::seconds(5);

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

}  // namespace

HistoryWriter::HistoryWriter(Options options) : m_options(std::move(options)) {}

HistoryWriter::~HistoryWriter() {
    Stop();
}

void HistoryWriter::Start() {
    std::lock_guard lock(m_mutex);
    if (m_running) return;
    m_running = true;
    m_stopping = false;
    m_finished = false;
    m_thread = std::thread([this] { Run(); });
}

void HistoryWriter::Stop() {
    {
        std::lock_guard lock(m_mutex);
        if (!m_running || m_stopping) return;
        m_stopping = true;
    }
    m_wake.notify_all();
    m_progress.notify_all();
    m_thread.join();
    std::lock_guard lock(m_mutex);
    m_running = false;
    m_stopping = false;
}

bool HistoryWriter::Active() const {
    std::lock_guard lock(m_mutex);
    return m_running && !m_stopping;
}

void HistoryWriter::Add(std::string_view gbk, bool mayWait) {
    const int64_t utc = m_options.clock->NowUtc();
    const size_t size = kRecordHeader + gbk.size();
    const size_t max = m_options.maxBufferedBytes;
    std::unique_lock lock(m_mutex);
    if (!m_running || m_stopping) return;
    auto full = [&] { return !m_pending.empty() && m_pending.size() + size > max; };
    if (full()) {
        if (mayWait && !m_stalled &&
            !m_progress.wait_for(lock, m_options.maxWaitForRoom, [&] { return m_stopping || !full(); }))
            m_stalled = true;
        if (m_stopping) return;
        if (full()) {
            ++m_dropped;
            return;
        }
    }
    const bool wasEmpty = m_pending.empty();
    const bool crossesHalf = m_pending.size() < max / 2 && m_pending.size() + size >= max / 2;
    const uint32_t length = uint32_t(gbk.size());
    char header[kRecordHeader];
    std::memcpy(header, &utc, sizeof utc);
    std::memcpy(header + sizeof utc, &length, sizeof length);
    m_pending.append(header, kRecordHeader);
    m_pending.append(gbk);
    lock.unlock();
    // The writer sleeps until the first line or the next interval; waking it for every line would
    // cost a system call a line.
    if (wasEmpty || crossesHalf) m_wake.notify_one();
}

void HistoryWriter::Flush() {
    std::unique_lock lock(m_mutex);
    if (!m_running || m_finished || std::this_thread::get_id() == m_thread.get_id()) return;
    const uint64_t ticket = ++m_flushWanted;
    m_wake.notify_one();
    m_progress.wait_for(lock, kFlushWait, [&] { return m_flushDone >= ticket || m_finished; });
}

void HistoryWriter::Run() {
    RemoveOldFiles();
    std::string batch;
    std::unique_lock lock(m_mutex);
    for (;;) {
        const size_t half = m_options.maxBufferedBytes / 2;
        for (;;) {
            const auto now = SteadyClock::now();
            if (m_stopping || m_flushWanted != m_flushDone || m_pending.size() >= half ||
                (!m_pending.empty() && now >= m_nextWrite) || (m_syncOwed && now >= m_nextSync))
                break;
            auto until = SteadyClock::time_point::max();
            if (!m_pending.empty()) until = m_nextWrite;
            if (m_syncOwed) until = std::min(until, m_nextSync);
            if (until == SteadyClock::time_point::max()) {
                m_wake.wait(lock);
            } else {
                m_wake.wait_until(lock, until);
            }
        }
        batch.swap(m_pending);
        m_pending.clear();
        m_lost += std::exchange(m_dropped, 0);
        const uint64_t flushTicket = m_flushWanted;
        const bool flushing = flushTicket != m_flushDone;
        const bool stopping = m_stopping;
        lock.unlock();

        if (!batch.empty()) Write(batch);
        if (flushing && m_unsynced) m_syncOwed = true;

        lock.lock();
        if (!batch.empty()) m_nextWrite = SteadyClock::now() + m_options.interval;
        batch.clear();
        m_stalled = false;
        m_flushDone = flushTicket;
        m_progress.notify_all();
        if (stopping) break;
        // After the flush is answered: a run's end waits for the write, not for the disk.
        if (m_syncOwed && SteadyClock::now() >= m_nextSync) {
            lock.unlock();
            Sync();
            lock.lock();
        }
    }
    lock.unlock();
    Sync();
    m_file.reset();
    lock.lock();
    m_finished = true;
    m_progress.notify_all();
}

void HistoryWriter::RemoveOldFiles() {
    const int64_t today =
        FloorDiv(m_options.clock->Zone().ToLocal(m_options.clock->NowUtc()), kSecondsPerDay);
    for (const std::string& name : platform::PlainFileNames(m_options.folder)) {
        const auto day = HistoryText::DayOfFileName(name);
        if (day && today - *day > kKeepDays) platform::RemoveFileName(m_options.folder / name);
    }
}

void HistoryWriter::Write(const std::string& batch) {
    const TimeZone zone = m_options.clock->Zone();
    std::string lines;
    uint64_t count = 0;
    int64_t day = 0;
    int64_t stampedUtc = 0;
    std::string stamp;
    for (size_t pos = 0; pos < batch.size();) {
        int64_t utc = 0;
        uint32_t length = 0;
        std::memcpy(&utc, batch.data() + pos, sizeof utc);
        std::memcpy(&length, batch.data() + pos + sizeof utc, sizeof length);
        const std::string_view text(batch.data() + pos + kRecordHeader, length);
        pos += kRecordHeader + length;

        if (stamp.empty() || utc != stampedUtc) {
            const int64_t local = zone.ToLocal(utc);
            const int64_t lineDay = FloorDiv(local, kSecondsPerDay);
            if (count && lineDay != day) {
                WriteDay(day, lines, count);
                lines.clear();
                count = 0;
            }
            day = lineDay;
            stampedUtc = utc;
            stamp = HistoryText::Stamp(local);
        }
        lines += stamp;
        m_utf8.Append(lines, text);
        lines += HistoryText::kLineEnd;
        ++count;
        if (lines.size() >= kChunk) {
            WriteDay(day, lines, count);
            lines.clear();
            count = 0;
        }
    }
    if (count) WriteDay(day, lines, count);
}

void HistoryWriter::WriteDay(int64_t day, std::string_view lines, uint64_t lineCount) {
    platform::IoStatus status;
    if (!OpenDay(day, status)) {
        Fault(status, lineCount);
        return;
    }
    // Usually nothing goes before the lines, and then they are written as they are, not copied.
    std::string prefixed;
    if (!m_tail.endsWithLineEnd) prefixed += HistoryText::kLineEnd;
    if (m_tail.empty) prefixed += HistoryText::kBom;
    size_t lostLineEnd = 0;
    if (m_lost) {
        // Dated as the first line that follows it: every line it counts is older than that.
        prefixed += lines.substr(0, HistoryText::kStampSize);
        m_utf8.Append(prefixed, RunLogText::HistoryLinesLost(m_lost));
        prefixed += HistoryText::kLineEnd;
        lostLineEnd = prefixed.size();
    }
    const size_t linesStart = prefixed.size();
    if (!prefixed.empty()) prefixed += lines;
    const std::string_view out = prefixed.empty() ? lines : std::string_view(prefixed);

    size_t written = 0;
    status = AppendAll(out, written);
    if (lostLineEnd && written >= lostLineEnd) m_lost = 0;
    if (!status) {
        Fault(status, CountLineEnds(out.substr(std::max(written, linesStart))));
        return;
    }
    m_tail = {false, true};
    m_unsynced = true;
}

bool HistoryWriter::OpenDay(int64_t day, platform::IoStatus& status) {
    // A day's file an operator deleted while it was open is made anew, not written into oblivion.
    if (m_file && m_fileDay == day && !m_file->Removed()) return true;
    if (m_file) {
        Sync();  // the day's file is done with
        m_file.reset();
    }
    size_t none = 0;
    if (m_options.seam && !(status = m_options.seam(Step::MakeFolder, none))) return false;
    if (!(status = platform::MakeFolder(m_options.folder))) return false;
    if (m_options.seam && !(status = m_options.seam(Step::Open, none))) return false;
    m_file = platform::OpenAppendFile(m_options.folder / HistoryText::FileName(day), m_tail, status);
    m_fileDay = day;
    return m_file != nullptr;
}

platform::IoStatus HistoryWriter::AppendAll(std::string_view data, size_t& written) {
    written = 0;
    size_t allowed = data.size();
    if (m_options.seam) {
        if (platform::IoStatus fault = m_options.seam(Step::Append, allowed); !fault) {
            if (allowed) m_file->Append(data.substr(0, std::min(allowed, data.size())), written);
            return fault;
        }
    }
    return m_file->Append(data, written);
}

void HistoryWriter::Sync() {
    if (m_file && m_unsynced) {
        if (platform::IoStatus status = m_file->Sync(); !status) Fault(status, 0);
    }
    m_unsynced = false;
    m_syncOwed = false;
    m_nextSync = SteadyClock::now() + m_options.interval;
}

void HistoryWriter::Fault(const platform::IoStatus& status, uint64_t lostLines) {
    m_lost += lostLines;
    m_file.reset();  // reopened on the next write, which starts on a fresh line if this one tore
    const int64_t now = m_options.clock->NowUtc();
    if (m_faultShownAt && now >= *m_faultShownAt && now - *m_faultShownAt < kFaultRepeatSeconds) return;
    m_faultShownAt = now;
    if (m_options.show) {
        const std::string folder = shared::GbkFromPath(m_options.folder).value_or("logs");
        m_options.show(RunLogText::HistoryUnwritable(folder, ReasonText(status)));
    }
}

}  // namespace kivo
