#include "log_sink.h"

#include "engine_thread.h"
#include "history_text.h"
#include "run_log_text.h"

namespace kivo {
namespace {
thread_local const LogSink* t_deliveringSink = nullptr;
}

bool LogSink::OnSinkThread() const {
    return t_deliveringSink == this;
}

void LogSink::Start() {
    std::lock_guard lock(m_mutex);
    if (m_running) return;
    m_running = true;
    m_stopping = false;
    m_thread = std::thread([this] { Deliver(); });
}

void LogSink::Stop() {
    if (OnSinkThread()) return;  // a thread cannot wait for itself; the API refuses this case earlier
    {
        std::lock_guard lock(m_mutex);
        if (!m_running) return;
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
    std::lock_guard lock(m_mutex);
    m_running = false;
}

void LogSink::SetCallback(KivoLogCallback callback, void* context) {
    {
        std::lock_guard lock(m_mutex);
        m_callback = callback;
        m_context = context;
    }
    m_wake.notify_all();
}

void LogSink::Post(std::string line, HistoryWriter::Room room) {
    if (m_history) m_history->Add(line, room);
    Show(HistoryText::HasExactName(line) ? HistoryText::ScreenText(line) : std::move(line));
}

void LogSink::Show(std::string line) {
    {
        std::lock_guard lock(m_mutex);
        if (m_lines.size() >= kMaxQueued) {
            m_lines.pop_front();
            ++m_dropped;
        }
        m_lines.push_back(std::move(line));
    }
    m_wake.notify_all();
}

void LogSink::Flush() {
    if (OnSinkThread()) return;
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] {
        return !m_running || m_stopping || !m_callback ||
               (m_lines.empty() && m_dropped == 0 && !m_delivering);
    });
}

void LogSink::Deliver() {
    EngineThreadMark mark;
    t_deliveringSink = this;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || (m_callback && (!m_lines.empty() || m_dropped)); });
        if (!m_callback || (m_lines.empty() && m_dropped == 0)) {
            if (m_stopping) break;
            continue;
        }
        std::string line;
        if (m_dropped) {
            line = RunLogText::LinesDropped(m_dropped);
            m_dropped = 0;
        } else {
            line = std::move(m_lines.front());
            m_lines.pop_front();
        }
        KivoLogCallback callback = m_callback;
        void* context = m_context;
        m_delivering = true;
        lock.unlock();
        callback(line.c_str(), context);
        lock.lock();
        m_delivering = false;
        m_idle.notify_all();
    }
    m_idle.notify_all();
}

}  // namespace kivo
