// What one run of a rule does, and the manual backup and restore. The scheduler and the API
// (engine.h) decide when; a TaskRunner does the file work. Portable: no windows.h here.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "engine_api.h"
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
    // The first or the last line of a manual backup or restore: as Log, but the history keeps it
    // whenever it keeps any of the call's other lines.
    virtual void LogBoundary(const std::string& line) { Log(line); }
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

// What a preview of a clean rule found besides its files (kivo_preview_clear).
struct CleanPreview {
    int minFreePercent = 0;           // the rule's; 0: free space plays no part and is not measured
    uint64_t available = 0, total = 0;  // the volume's free and total bytes when the preview began
    // False when free space was already at or above minFreePercent: a run now deletes nothing, and
    // the files listed are what it would delete, oldest first, once free space is below it.
    bool deletesNow = true;
    uint64_t files = 0, bytes = 0;  // listed
    std::string reason;             // GBK: why the folder cannot be cleaned, in the run's own words
};

// Receives the files of a preview: path below the rule's folder in UTF-16, size, last write (s UTC).
class CleanListing {
public:
    virtual ~CleanListing() = default;
    virtual void File(std::u16string_view relative, uint64_t size, int64_t mtime) = 0;
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
    // What RunClear would delete now, deleting nothing; on the caller's thread. A KivoResult code.
    virtual int PreviewClear(const ClearRule& rule, RunContext& context, CleanListing& listing,
                             CleanPreview& preview) {
        (void)rule, (void)context, (void)listing, (void)preview;
        return KIVO_E_NOT_AVAILABLE;
    }
};

}  // namespace kivo
