// The manual backup and restore dialog's checks and failure texts. Both commands run the same
// four checks, in the same order, with the same messages.
#pragma once

#include <optional>
#include <string>

#include "editor_input.h"

namespace editors {

struct RestoreForm {
    TextInput backupFile;  // 1038
    TextInput folder;      // 3009
};

std::optional<InputFault> CheckRestoreForm(const RestoreForm& form);

// "执行备份失败,错误代码:%d" and "执行还原失败,错误代码:%d".
std::string BackupFailureText(int code);
std::string RestoreFailureText(int code);

}  // namespace editors
