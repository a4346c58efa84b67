#include "unavailable_task_runner.h"

#include "engine_api.h"

namespace kivo {
namespace {
constexpr const char* kNoFileWork = "此版本的任务引擎不能执行文件操作";
}

RunReport UnavailableTaskRunner::RunClear(const ClearRule&, RunContext&) {
    return {RunOutcome::Failed, kNoFileWork};
}

RunReport UnavailableTaskRunner::RunBackup(const BackupRule&, RunContext&) {
    return {RunOutcome::Failed, kNoFileWork};
}

int UnavailableTaskRunner::Backup(const std::string&, const std::string&, RunContext& context) {
    context.Log("错误：手动备份不可用，此版本的任务引擎不能执行文件操作");
    return KIVO_E_NOT_AVAILABLE;
}

int UnavailableTaskRunner::Restore(const std::string&, const std::string&, RunContext& context) {
    context.Log("错误：手动还原不可用，此版本的任务引擎不能执行文件操作");
    return KIVO_E_NOT_AVAILABLE;
}

}  // namespace kivo
