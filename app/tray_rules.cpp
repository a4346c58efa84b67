#include "tray_rules.h"

#include <cstdio>

#include "engine_api.h"
#include "gbk_bytes.h"

namespace {

constexpr std::string_view kEllipsis = "…";

size_t CountChars(std::string_view text) {
    size_t count = 0;
    for (size_t i = 0; i < text.size(); i += shared::GbkCharLength(text, i)) ++count;
    return count;
}

}  // namespace

std::string CutToChars(std::string_view gbk, size_t maxChars) {
    if (CountChars(gbk) <= maxChars) return std::string(gbk);
    if (maxChars == 0) return {};
    size_t end = 0;
    for (size_t chars = 0; chars + 1 < maxChars; ++chars) end += shared::GbkCharLength(gbk, end);
    return std::string(gbk.substr(0, end)) + std::string(kEllipsis);
}

std::string TrayTip(bool running, const std::optional<FailedRun>& last, int unannounced) {
    std::string tip = "备份与清理计划 v1.0\n";
    tip += running ? "自动运行中" : "已停止运行";
    if (last) {
        char when[32];
        std::snprintf(when, sizeof when, "%02d-%02d %02d:%02d", last->month, last->day, last->hour,
                      last->minute);
        tip += "\n上次失败：";
        tip += when;
        tip += " " + last->description;
    }
    if (unannounced > 0) tip += "\n另有 " + std::to_string(unannounced) + " 次失败未提示";
    return CutToChars(tip, kTipChars);
}

bool FailureNotices::OnRunEnded(int32_t outcome, const FailedRun& run, bool iconShown, int64_t nowMs) {
    if (outcome != KIVO_RUN_FAILED && outcome != KIVO_RUN_PARTLY_FAILED) return false;
    m_last = run;
    if (!iconShown) return false;  // the window is shown: its run log has the line in red
    if (m_lastBalloonMs && nowMs - *m_lastBalloonMs < kBalloonGapMs) {
        ++m_unannounced;
        return false;
    }
    m_lastBalloonMs = nowMs;
    return true;
}
