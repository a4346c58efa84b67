// Delivers run-log lines to the registered callback from its own thread, one at a time, in order,
// never while holding a lock an API call could need. Lines posted while no callback is registered wait
// (up to kMaxQueued; beyond that the oldest are dropped and counted). Every posted line also goes to
// the run history when it is posted, whether or not the screen ever gets it. Run events travel in
// the same queue, so each reaches its callback after the lines posted before it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine_api.h"
#include "history_writer.h"

namespace kivo {

class LogSink {
  public:
    static constexpr size_t kMaxQueued = 4096;

    explicit LogSink(HistoryWriter* history = nullptr) : m_history(history) {}
    ~LogSink() { Stop(); }
    LogSink(const LogSink&) = delete;
    LogSink& operator=(const LogSink&) = delete;

    void Start();
    // Delivers what is queued (when a callback is registered), then ends the thread.
    void Stop();

    // A line being delivered when this returns may still reach the previous callback.
    void SetCallback(KivoLogCallback callback, void* context);
    void SetRunEventCallback(KivoRunEventCallback callback, void* context);
    // To the history and the screen (which gets exact names in GBK, history_text.h); room as
    // HistoryWriter::Add's.
    void Post(std::string line, HistoryWriter::Room room = HistoryWriter::Room::Drop);
    // To the screen only: the history's own faults, and lines the caller has recorded itself.
    void Show(std::string line);
    // After the lines posted so far (while no line callback is registered, without waiting for them);
    // dropped at delivery when no run-event callback is registered.
    void PostRunEvent(const KivoRunEvent& event);
    // Waits until every queued line has been handed to the callback (at once when none is registered).
    void Flush();

    bool OnSinkThread() const;

  private:
    // A line, or a run event (then line is empty).
    struct Item {
        std::string line;
        std::unique_ptr<KivoRunEvent> event;
    };
    void Push(Item item);
    // Whether something can be handed on now.
    bool ReadyLocked() const;
    static bool IsEvent(const Item& item);
    void Deliver();

    HistoryWriter* const m_history;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Item> m_items;
    size_t m_dropped = 0;  // lines only; a dropped event is not announced
    KivoLogCallback m_callback = nullptr;
    void* m_context = nullptr;
    KivoRunEventCallback m_eventCallback = nullptr;
    void* m_eventContext = nullptr;
    bool m_delivering = false;
    bool m_stopping = false;
    bool m_running = false;
    std::thread m_thread;
};

}  // namespace kivo
