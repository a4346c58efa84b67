#include "run_log_text.h"

#include <cstdio>

#include "civil_date.h"

namespace kivo {

std::string RunLogText::Rule(RuleKind kind, int32_t id, std::string_view description) {
    std::string text = kind == RuleKind::Clear ? "清理规则 " : "备份规则 ";
    text += std::to_string(id);
    text += "「";
    text += description;
    text += "」";
    return text;
}

std::string RunLogText::LocalMinute(int64_t utc, const TimeZone& zone) {
    const int64_t local = zone.ToLocal(utc);
    const CivilDate date = CivilFromDays(FloorDiv(local, kSecondsPerDay));
    const int64_t minute = FloorMod(local, kSecondsPerDay) / 60;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d", date.year, date.month, date.day,
                  int(minute / 60), int(minute % 60));
    return buf;
}

std::string RunLogText::AutoRunStarted() {
    return "自动运行已启动";
}
std::string RunLogText::AutoRunStopped() {
    return "自动运行已停止";
}

std::string RunLogText::RunStarted(const std::string& rule, RunTrigger trigger,
                                   const std::string& scheduledAt) {
    switch (trigger) {
        case RunTrigger::Manual:
            return rule + "开始手动运行";
        case RunTrigger::CatchUp:
            return rule + "开始补运行（自 " + scheduledAt + " 起错过的计划运行）";
        case RunTrigger::Verify:
            return rule + "开始校验备份";
        case RunTrigger::Scheduled:
            break;
    }
    return rule + "开始运行";
}

std::string RunLogText::RunEnded(const std::string& rule, const RunReport& report) {
    std::string text = rule;
    switch (report.outcome) {
        case RunOutcome::Succeeded:
            text += "运行完成";
            break;
        case RunOutcome::PartiallyFailed:
            text += "运行部分失败";
            break;
        case RunOutcome::Failed:
            text += "运行失败";
            break;
        case RunOutcome::Cancelled:
            text += "运行已取消";
            break;
    }
    if (!report.summary.empty()) text += "：" + report.summary;
    return text;
}

std::string RunLogText::OverlapSkipped(const std::string& rule, const std::string& scheduledAt) {
    return rule + "上次运行尚未结束，跳过 " + scheduledAt + " 的计划运行";
}

std::string RunLogText::QueuedRunDropped(int32_t id) {
    return "规则 " + std::to_string(id) + " 已被删除，取消它排队的运行";
}

std::string RunLogText::DisabledRunDropped(const std::string& rule) {
    return rule + "已被禁用，取消它排队的运行";
}

std::string RunLogText::QueuedRunsCancelled(size_t count) {
    return "任务引擎关闭，取消了 " + std::to_string(count) + " 个排队的运行";
}

std::string RunLogText::ClockSetBack(const std::string& rule) {
    return rule + "的上次运行时间比当前时间晚两天以上（系统时间被调回？），从现在起重新计划";
}

std::string RunLogText::FolderLocked(const std::string& folder) {
    return "错误：数据文件夹 " + folder + " 正被另一个任务引擎使用，本引擎不会更改其中的规则";
}

std::string RunLogText::FolderUnusable(const std::string& folder) {
    return "错误：无法在数据文件夹 " + folder + " 中创建锁文件，本引擎不会更改其中的规则";
}

std::string RunLogText::ChangeRefused(std::string_view what) {
    std::string text = "错误：数据文件夹正被另一个任务引擎使用，拒绝";
    text += what;
    return text;
}

std::string RunLogText::StoreReadOnly(std::string_view what) {
    std::string text = "错误：规则文件不能更改，拒绝";
    text += what;
    return text;
}

std::string RunLogText::SaveFailed(std::string_view what) {
    std::string text = "错误：保存规则文件失败，";
    text += what;
    text += "未生效";
    return text;
}

std::string RunLogText::TimesSaveFailed() {
    return "错误：保存规则的运行时间失败，稍后重试";
}

std::string RunLogText::LockTakenOver() {
    return "另一个任务引擎已释放数据文件夹，重新读取规则";
}

std::string RunLogText::LinesDropped(size_t count) {
    return "错误：日志过多，丢弃了 " + std::to_string(count) + " 行";
}

std::string RunLogText::InternalError(std::string_view where) {
    std::string text = "错误：";
    text += where;
    text += "时发生内部错误";
    return text;
}

std::string RunLogText::HistoryUnwritable(const std::string& folder, const std::string& reason) {
    return "错误：无法写入运行历史 " + folder + "：" + reason + "。任务照常运行，未写入的行数在恢复后补记";
}

std::string RunLogText::HistoryLinesLost(uint64_t count) {
    return "错误：此前有 " + std::to_string(count) + " 行运行历史未能写入";
}

std::string RunLogText::HistoryNotAnswering(const std::string& folder, uint64_t lostLines) {
    return "错误：运行历史 " + folder + " 没有响应，停止时有 " + std::to_string(lostLines) + " 行未能写入";
}

}  // namespace kivo
