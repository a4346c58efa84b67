// Run-log line helpers. Pure: no windows.h; texts are GBK.
#pragma once

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// True when the line holds one of the alert keywords ("失败", "报警", "异常", "停止", "急停",
// "错误", "超时", "触发"). A match must start on a GBK character boundary, so the trail byte of
// one character and the lead byte of the next never make a false match.
bool HasAlertKeyword(std::string_view line);

// The rows the run-log list keeps at most.
constexpr int kMaxLogRows = 513;

// Items travelling from engine threads to the user-interface thread. Every item is kept, in order,
// however fast the engine reports; the user-interface thread needs at most one pending wake-up
// message, so a burst never overflows the window's posted-message queue.
template <class Item>
class WakeQueue {
  public:
    // Adds an item. True when the consumer must be woken (no wake-up is pending yet).
    bool Push(Item item) {
        std::lock_guard lock(m_mutex);
        m_items.push_back(std::move(item));
        if (m_wakePending) return false;
        m_wakePending = true;
        return true;
    }
    // The wake-up could not be delivered: the next Push (or the consumer's own poll) retries.
    void WakeFailed() {
        std::lock_guard lock(m_mutex);
        m_wakePending = false;
    }
    // Takes up to max items, oldest first. When none are left, the next Push wakes the consumer.
    std::vector<Item> Take(size_t max) {
        std::lock_guard lock(m_mutex);
        const size_t n = std::min(max, m_items.size());
        std::vector<Item> items(std::make_move_iterator(m_items.begin()),
                                std::make_move_iterator(m_items.begin() + std::ptrdiff_t(n)));
        m_items.erase(m_items.begin(), m_items.begin() + std::ptrdiff_t(n));
        if (m_items.empty()) m_wakePending = false;
        return items;
    }
    bool Empty() const {
        std::lock_guard lock(m_mutex);
        return m_items.empty();
    }
    // Drops every item (the window that would take them is gone).
    void Clear() {
        std::lock_guard lock(m_mutex);
        m_items.clear();
        m_wakePending = false;
    }

  private:
    mutable std::mutex m_mutex;
    std::deque<Item> m_items;
    bool m_wakePending = false;
};

// Run-log lines on their way to the main window.
using LogQueue = WakeQueue<std::string>;
