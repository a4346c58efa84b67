// Run-log line helpers. Pure: no windows.h; texts are GBK.
#pragma once

#include <cstddef>
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

// Lines travelling from engine threads to the user-interface thread. Every line is kept, in
// order, however fast the engine reports; the user-interface thread needs at most one pending
// wake-up message, so a burst never overflows the window's posted-message queue.
class LogQueue {
  public:
    // Adds a line. True when the consumer must be woken (no wake-up is pending yet).
    bool Push(std::string line);
    // The wake-up could not be delivered: the next Push (or the consumer's own poll) retries.
    void WakeFailed();
    // Takes up to max lines, oldest first. When none are left, the next Push wakes the consumer.
    std::vector<std::string> Take(size_t max);
    bool Empty() const;
    // Drops every line (the window that would show them is gone).
    void Clear();

  private:
    mutable std::mutex m_mutex;
    std::deque<std::string> m_lines;
    bool m_wakePending = false;
};
