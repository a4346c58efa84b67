#include "latest_progress.h"

namespace editors {

void LatestProgress::Begin(ManualOperation operation) {
    std::lock_guard lock(m_mutex);
    m_listening = operation;
    m_files.reset();
}

void LatestProgress::End() {
    std::lock_guard lock(m_mutex);
    m_listening.reset();
    m_files.reset();
}

void LatestProgress::Note(std::string_view line) {
    const auto progress = ParseManualProgressLine(line);
    if (!progress) return;
    std::lock_guard lock(m_mutex);
    if (m_listening == progress->operation) m_files = progress->files;
}

std::optional<uint64_t> LatestProgress::Files() const {
    std::lock_guard lock(m_mutex);
    return m_files;
}

LatestProgress& ManualCallProgress() {
    static LatestProgress progress;
    return progress;
}

}  // namespace editors
