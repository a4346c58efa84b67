#include "restore_form.h"

#include "rule_text_checks.h"

namespace editors {

std::optional<InputFault> CheckRestoreForm(const RestoreForm& form) {
    if (auto fault = CheckPath(form.backupFile, kBackupFileMessages)) return fault;
    return CheckPath(form.folder, kRestoreFolderMessages);
}

std::string BackupFailureText(int code) {
    return "执行备份失败,错误代码:" + DecimalText(code);
}

std::string RestoreFailureText(int code) {
    return "执行还原失败,错误代码:" + DecimalText(code);
}

}  // namespace editors
