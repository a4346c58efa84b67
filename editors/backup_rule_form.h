// The backup-rule editor's logic: composing the record from the controls' texts in the fixed
// order of checks, what loading a rule shows, the source-path pruning and the failure text.
#pragma once

#include <string>

#include "editor_input.h"
#include "rule_records.h"

namespace editors {

struct BackupForm {
    TextInput description;  // 3006
    TextInput sourcePath;   // 1038
    TextInput backupPath;   // 3009
    std::string keepDays;   // 3010
};

// Checks description, source path, backup path in that order and writes the record: the
// caller's record with the gathered schedule and every text field NUL-filled to its end, so
// no byte of an earlier, longer text travels to the engine.
Checked<BackupRule> ComposeBackupRule(const BackupRule& rule, const RunSchedule& schedule,
                                      const BackupForm& form);

struct BackupRuleView {
    std::string keepDays, description, sourcePath, backupPath;
};
BackupRuleView ViewOfBackupRule(const BackupRule& rule);

enum class SourceMode { Folder, File };
inline constexpr int kDirectoryAttribute = 0x10;

// Whether a source with these file attributes may stay when this mode is chosen.
bool SourceFitsMode(SourceMode mode, int attributes);

// "新增备份规则失败:%d" or "修改备份规则失败:%d".
std::string BackupSaveFailureText(bool newRule, int code);

}  // namespace editors
