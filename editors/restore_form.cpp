#include "restore_form.h"

#include "backup_rule_form.h"
#include "rule_text_checks.h"
#include "sysutil_api.h"

namespace editors {

std::optional<InputFault> CheckRestoreForm(const RestoreForm& form) {
    if (auto fault = CheckPath(form.backupFile, kBackupFileMessages)) return fault;
    return CheckPath(form.folder, kRestoreFolderMessages);
}

bool BackupWouldReplace(int attributes) {
    return attributes != SYS_NO_ATTRIBUTES && (attributes & kDirectoryAttribute) == 0;
}

std::string RunningCaption(ManualOperation operation, std::optional<uint64_t> files) {
    std::string caption = kRestoreCaption;
    caption += operation == ManualOperation::Backup ? " - 正在备份…" : " - 正在还原…";
    if (files) caption += " " + GroupedDecimal(*files) + " 个文件";
    return caption;
}

std::string BackupFailureText(int code) {
    return "执行备份失败,错误代码:" + DecimalText(code);
}

std::string RestoreFailureText(int code) {
    return "执行还原失败,错误代码:" + DecimalText(code);
}

}  // namespace editors
