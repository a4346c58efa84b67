// The runner of a build without the file runner: every run fails, backup and restore are unavailable.
#pragma once

#include <memory>

#include "task_runner.h"

namespace kivo {

class UnavailableTaskRunner final : public TaskRunner {
  public:
    RunReport RunClear(const ClearRule& rule, RunContext& context) override;
    RunReport RunBackup(const BackupRule& rule, RunContext& context) override;
    int Backup(const std::string& sourceFolderGbk, const std::string& backupFileGbk,
               RunContext& context) override;
    int Restore(const std::string& backupFileGbk, const std::string& targetFolderGbk,
                RunContext& context) override;
};

}  // namespace kivo
