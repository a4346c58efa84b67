// The run-log lines the engine writes, in GBK. Failure lines contain "失败" or "错误" (the run log
// shows those red); no other line does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "task_runner.h"
#include "time_zone.h"

namespace kivo {

enum class RuleKind { Clear, Backup };
enum class RunTrigger { Scheduled, Manual, CatchUp, Verify };

class RunLogText {
  public:
    // "清理规则 7「临时文件」"
    static std::string Rule(RuleKind kind, int32_t id, std::string_view description);
    // "2024-05-01 02:00", local time.
    static std::string LocalMinute(int64_t utc, const TimeZone& zone);

    static std::string AutoRunStarted();
    static std::string AutoRunStopped();
    static std::string RunStarted(const std::string& rule, RunTrigger trigger,
                                  const std::string& scheduledAt);
    static std::string RunEnded(const std::string& rule, const RunReport& report);
    static std::string OverlapSkipped(const std::string& rule, const std::string& scheduledAt);
    static std::string QueuedRunDropped(int32_t id);  // the rule was deleted meanwhile
    static std::string DisabledRunDropped(const std::string& rule);
    static std::string QueuedRunsCancelled(size_t count);
    static std::string ClockSetBack(const std::string& rule);
    static std::string FolderLocked(const std::string& folder);
    static std::string FolderUnusable(const std::string& folder);
    static std::string ChangeRefused(std::string_view what);
    static std::string StoreReadOnly(std::string_view what);
    static std::string SaveFailed(std::string_view what);
    static std::string TimesSaveFailed();
    static std::string LockTakenOver();
    static std::string LinesDropped(size_t count);
    static std::string InternalError(std::string_view where);
    // The run history (history_writer.h): its folder could not be written; lines lost meanwhile.
    static std::string HistoryUnwritable(const std::string& folder, const std::string& reason);
    static std::string HistoryLinesLost(uint64_t count);
    // At shutdown the history's folder had not answered for seconds: these lines were never written.
    static std::string HistoryNotAnswering(const std::string& folder, uint64_t lostLines);
};

}  // namespace kivo
