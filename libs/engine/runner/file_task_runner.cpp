#include "file_task_runner.h"

#include "engine_api.h"

namespace kivo {
namespace {

class FileTaskRunner final : public TaskRunner {
  public:
    RunReport RunClear(const ClearRule&, RunContext&) override {
        return {RunOutcome::Failed, "清理失败: 尚未实现"};
    }
    RunReport RunBackup(const BackupRule&, RunContext&) override {
        return {RunOutcome::Failed, "备份失败: 尚未实现"};
    }
    int Backup(const std::string&, const std::string&, RunContext&) override { return KIVO_E_NOT_AVAILABLE; }
    int Restore(const std::string&, const std::string&, RunContext&) override { return KIVO_E_NOT_AVAILABLE; }
};

}  // namespace

std::unique_ptr<TaskRunner> MakeFileTaskRunner() {
    return std::make_unique<FileTaskRunner>();
}

}  // namespace kivo
