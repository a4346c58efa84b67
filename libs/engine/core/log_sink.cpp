#include "log_sink.h"

#include <algorithm>

#include "engine_thread.h"
#include "history_text.h"
#include "run_log_text.h"

namespace kivo {
namespace {
thread_local const LogSink* t_deliveringSink = nullptr;
}

bool LogSink::IsEvent(const Item& item) {
    return item.event != nullptr;
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

void LogSink::SetRunEventCallback(KivoRunEventCallback callback, void* context) {
    std::lock_guard lock(m_mutex);
    m_eventCallback = callback;
    m_eventContext = context;
}

void LogSink::Post(std::string line, HistoryWriter::Room room) {
    if (m_history) m_history->Add(line, room);
    Show(HistoryText::HasExactName(line) ? HistoryText::ScreenText(line) : std::move(line));
}

void LogSink::Show(std::string line) {
    Push(Item{std::move(line), nullptr});
}

void LogSink::PostRunEvent(const KivoRunEvent& event) {
    Push(Item{{}, std::make_unique<KivoRunEvent>(event)});
}

void LogSink::Push(Item item) {
    {
        std::lock_guard lock(m_mutex);
        if (m_items.size() >= kMaxQueued) {
            if (!m_items.front().event) ++m_dropped;
            m_items.pop_front();
        }
        m_items.push_back(std::move(item));
    }
    m_wake.notify_all();
}

void LogSink::Flush() {
    if (OnSinkThread()) return;
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] {
        return !m_running || m_stopping || !m_callback ||
               (m_items.empty() && m_dropped == 0 && !m_delivering);
    });
}

bool LogSink::ReadyLocked() const {
    if (m_callback) return m_dropped || !m_items.empty();
    // Lines wait for a callback; an event never waits for one, nor behind lines nobody takes yet.
    return std::any_of(m_items.begin(), m_items.end(), IsEvent);
}

void LogSink::Deliver() {
    EngineThreadMark mark;
    t_deliveringSink = this;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || ReadyLocked(); });
        if (!ReadyLocked()) {
            if (m_stopping) break;
            continue;
        }
        Item item;
        if (!m_callback) {
            const auto next = std::find_if(m_items.begin(), m_items.end(), IsEvent);
            item = std::move(*next);
            m_items.erase(next);
        } else if (m_dropped) {
            item.line = RunLogText::LinesDropped(m_dropped);
            m_dropped = 0;
        } else {
            item = std::move(m_items.front());
            m_items.pop_front();
        }
        KivoLogCallback callback = m_callback;
        void* context = m_context;
        KivoRunEventCallback eventCallback = m_eventCallback;
        void* eventContext = m_eventContext;
        if (item.event && !eventCallback) {
            m_idle.notify_all();  // it may have been the last item a Flush waits for
            continue;
        }
        m_delivering = true;
        lock.unlock();
        if (item.event) {
            eventCallback(item.event.get(), eventContext);
        } else {
            callback(item.line.c_str(), context);
        }
        lock.lock();
        m_delivering = false;
        m_idle.notify_all();
    }
    m_idle.notify_all();
}

}  // namespace kivo
