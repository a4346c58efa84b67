// What one run of a rule does, and the manual backup and restore. The scheduler and the API
// (engine.h) decide when; a TaskRunner does the file work. Portable: no windows.h here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "rule_records.h"

namespace kivo {

enum class RunOutcome { Succeeded, PartiallyFailed, Failed, Cancelled };

struct RunReport {
    RunOutcome outcome = RunOutcome::Succeeded;
    std::string summary;  // GBK, one line for the run log, e.g. the totals
};

// What a runner may ask of the engine while it works.
class RunContext {
public:
    virtual ~RunContext() = default;
    // One GBK line for the run log (and the run history). Failure lines contain "失败" or "错误".
    virtual void Log(const std::string& line) = 0;
    // One GBK line for the run history only, never the screen: what a run did file by file.
    virtual void Record(const std::string& line) { (void)line; }
    // Whether Record keeps anything, so that a runner need not compose lines nobody keeps.
    virtual bool KeepsHistory() const { return false; }
    // True once the engine is shutting down; a runner stops at the next safe point.
    virtual bool Cancelled() const = 0;
    // Seconds since 1970-01-01 UTC, from the engine's (injectable) clock.
    virtual int64_t NowUtc() const = 0;
    // The identity of the installation that runs (installation_id.h), which its backup sets carry;
    // empty when it has none.
    virtual std::string Installation() const { return {}; }
};

class TaskRunner {
public:
    virtual ~TaskRunner() = default;
    virtual RunReport RunClear(const ClearRule& rule, RunContext& context) = 0;
    virtual RunReport RunBackup(const BackupRule& rule, RunContext& context) = 0;
    // Checks the rule's complete backup sets against their manifests (kivo_verify_backup).
    virtual RunReport VerifyBackup(const BackupRule& rule, RunContext& context) {
        (void)rule, (void)context;
        return {RunOutcome::Failed, "此版本不能校验备份"};
    }
    // kivo_backup / kivo_restore: a KivoResult code (engine_api.h).
    virtual int Backup(const std::string& sourceFolderGbk, const std::string& backupFileGbk, RunContext& context) = 0;
    virtual int Restore(const std::string& backupFileGbk, const std::string& targetFolderGbk, RunContext& context) = 0;
};

}  // namespace kivo
