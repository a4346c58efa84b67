// What the notification icon says and when it raises a balloon. Pure: no windows.h. Texts are GBK;
// every GBK character is one UTF-16 unit, so the limits of the icon's fields count characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Characters the icon's fields hold, their terminators not counted.
constexpr size_t kTipChars = 127;
constexpr size_t kBalloonTextChars = 255;

inline constexpr const char* kBalloonTitle = "规则运行失败";

// The text cut to at most maxChars characters, never inside one; a cut text ends with "…".
std::string CutToChars(std::string_view gbk, size_t maxChars);

// A failed run as the tip names it: when it ended (local time) and the rule's description.
struct FailedRun {
    int month = 1, day = 1, hour = 0, minute = 0;
    std::string description;
};

// "备份与清理计划 v1.0", then "自动运行中" or "已停止运行", then after a failure
// "上次失败：MM-DD HH:MM <description>", then, when some failures raised no balloon,
// "另有 N 次失败未提示"; one line each, cut to kTipChars.
std::string TrayTip(bool running, const std::optional<FailedRun>& last, int unannounced);

// Decides which finished runs raise a balloon: only failed or partly failed ones, only while the icon
// is shown, at most one a minute. The failures the icon did not announce are counted for the tip.
class FailureNotices {
  public:
    static constexpr int64_t kBalloonGapMs = 60000;

    // One run ended with the engine's outcome (KivoRunOutcome). nowMs: a monotonic clock. True
    // when this run raises a balloon now.
    bool OnRunEnded(int32_t outcome, const FailedRun& run, bool iconShown, int64_t nowMs);
    // The operator opened the window and has the run log before them: nothing is owed any more.
    void Seen() { m_unannounced = 0; }

    const std::optional<FailedRun>& Last() const { return m_last; }
    int Unannounced() const { return m_unannounced; }

  private:
    std::optional<FailedRun> m_last;
    std::optional<int64_t> m_lastBalloonMs;
    int m_unannounced = 0;
};
