#include "log_lines.h"

#include <algorithm>

#include "gbk_bytes.h"

namespace {

bool ContainsOnCharBoundary(std::string_view text, std::string_view word) {
    for (size_t i = 0; i + word.size() <= text.size(); i += shared::GbkCharLength(text, i)) {
        if (text.compare(i, word.size(), word) == 0) return true;
    }
    return false;
}

}  // namespace

bool HasAlertKeyword(std::string_view line) {
    static const char* const kKeywords[] = {"失败", "报警", "异常", "停止", "急停", "错误", "超时", "触发"};
    return std::any_of(std::begin(kKeywords), std::end(kKeywords),
                       [&](const char* word) { return ContainsOnCharBoundary(line, word); });
}

bool LogQueue::Push(std::string line) {
    std::lock_guard lock(m_mutex);
    m_lines.push_back(std::move(line));
    if (m_wakePending) return false;
    m_wakePending = true;
    return true;
}

void LogQueue::WakeFailed() {
    std::lock_guard lock(m_mutex);
    m_wakePending = false;
}

std::vector<std::string> LogQueue::Take(size_t max) {
    std::lock_guard lock(m_mutex);
    const size_t n = std::min(max, m_lines.size());
    std::vector<std::string> lines(std::make_move_iterator(m_lines.begin()),
                                   std::make_move_iterator(m_lines.begin() + std::ptrdiff_t(n)));
    m_lines.erase(m_lines.begin(), m_lines.begin() + std::ptrdiff_t(n));
    if (m_lines.empty()) m_wakePending = false;
    return lines;
}

bool LogQueue::Empty() const {
    std::lock_guard lock(m_mutex);
    return m_lines.empty();
}

void LogQueue::Clear() {
    std::lock_guard lock(m_mutex);
    m_lines.clear();
    m_wakePending = false;
}
