#include "backup_rule_form.h"

#include "rule_text_checks.h"

namespace editors {

Checked<BackupRule> ComposeBackupRule(const BackupRule& rule, const RunSchedule& schedule,
                                      const BackupForm& form) {
    BackupRule out = rule;
    out.schedule = schedule;
    if (auto fault = CheckDescription(form.description)) return *fault;
    WriteField(out.description, form.description.text);
    if (auto fault = CheckPath(form.sourcePath, kWatchedPathMessages)) return *fault;
    WriteField(out.source_path, form.sourcePath.text);
    if (auto fault = CheckPath(form.backupPath, kBackupPathMessages)) return *fault;
    WriteField(out.backup_path, form.backupPath.text);
    out.keep_days = ReadDecimal(form.keepDays);
    return out;
}

BackupRuleView ViewOfBackupRule(const BackupRule& rule) {
    return {DecimalText(rule.keep_days), std::string(FieldText(rule.description)),
            std::string(FieldText(rule.source_path)), std::string(FieldText(rule.backup_path))};
}

bool SourceFitsMode(SourceMode mode, int attributes) {
    const bool directory = (attributes & kDirectoryAttribute) != 0;
    return mode == SourceMode::Folder ? directory : !directory;
}

std::string BackupSaveFailureText(bool newRule, int code) {
    return std::string(newRule ? "新增" : "修改") + "备份规则失败:" + DecimalText(code);
}

}  // namespace editors
