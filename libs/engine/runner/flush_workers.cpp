#include "flush_workers.h"

#include <algorithm>
#include <new>

namespace kivo {
namespace {

// Enough to keep every worker busy; few enough that open handles stay few.
constexpr size_t kMaxWaiting = 256;
// A sleeping worker is woken for this many copies at a time, not for each: under Wine every wake-up
// is a round trip to the server, as dear as the flush itself on a fast disk.
constexpr size_t kWakeBatch = 16;

}  // namespace

FlushWorkers::FlushWorkers(const RunnerOptions& options, int threads) : m_options(options) {
    for (int i = 0; i < threads; ++i) m_threads.emplace_back([this] { Work(); });
}

FlushWorkers::~FlushWorkers() {
    Abandon();
}

void FlushWorkers::Add(Copy copy) {
    std::unique_lock lock(m_mutex);
    const size_t order = m_added++;
    if (m_threads.empty()) {
        lock.unlock();
        Flush(copy, order);
        return;
    }
    if (m_waiting.size() >= kMaxWaiting) {
        m_producerWaiting = true;
        m_room.wait(lock, [&] { return m_waiting.size() < kMaxWaiting; });
        m_producerWaiting = false;
    }
    m_waiting.emplace_back(order, std::move(copy));
    if (m_idle > 0 && m_waiting.size() >= kWakeBatch) m_ready.notify_one();
}

void FlushWorkers::Work() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_waiting.empty()) {
            if (m_closing) return;
            ++m_idle;
            m_ready.wait(lock, [&] { return m_closing || m_waiting.size() >= kWakeBatch; });
            --m_idle;
            continue;
        }
        auto [order, copy] = std::move(m_waiting.front());
        m_waiting.pop_front();
        if (m_producerWaiting) m_room.notify_one();
        // Another sleeper joins in while there is plenty to do.
        if (m_idle > 0 && m_waiting.size() >= kWakeBatch) m_ready.notify_one();
        lock.unlock();
        Flush(copy, order);
        copy = Copy();  // closes the file outside the lock
        lock.lock();
    }
}

void FlushWorkers::Flush(Copy& copy, size_t order) {
    fs::Status s = AtSeam(m_options, RunnerOptions::Seam::Flush, copy.relative);
    if (s) s = copy.file.Sync();
    copy.file.Close();
    if (s) return;
    copy.parent->DeleteFile(copy.name);
    std::lock_guard lock(m_mutex);
    try {
        m_failures.push_back({order, {std::move(copy.relative), s, copy.tag}});
    } catch (const std::bad_alloc&) {
        m_lostFailure = true;  // Finish must not report this copy as flushed
    }
}

std::vector<FlushWorkers::Failure> FlushWorkers::Finish() {
    {
        std::lock_guard lock(m_mutex);
        m_closing = true;
    }
    m_ready.notify_all();
    for (std::thread& t : m_threads) t.join();
    m_threads.clear();
    if (m_lostFailure) throw std::bad_alloc();
    std::sort(m_failures.begin(), m_failures.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Failure> out;
    out.reserve(m_failures.size());
    for (auto& f : m_failures) out.push_back(std::move(f.second));
    m_failures.clear();
    return out;
}

void FlushWorkers::Abandon() {
    {
        std::lock_guard lock(m_mutex);
        m_waiting.clear();
        m_closing = true;
    }
    m_room.notify_all();
    m_ready.notify_all();
    for (std::thread& t : m_threads) t.join();
    m_threads.clear();
}

}  // namespace kivo
