// The manual backup and restore dialog's checks and texts. Both commands run the same four
// checks, in the same order, with the same messages.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "editor_input.h"
#include "manual_progress.h"

namespace editors {

inline constexpr const char* kRestoreCaption = "手动备份与还原";
// Asked before a backup writes over an existing file, with Yes and No.
inline constexpr const char* kReplaceQuestion = "文件已存在，是否替换？";
inline constexpr const char* kReplaceCaption = "手动备份";

struct RestoreForm {
    TextInput backupFile;  // 1038
    TextInput folder;      // 3009
};

std::optional<InputFault> CheckRestoreForm(const RestoreForm& form);

// True when the backup file's attributes (sys_GetFileAttribute) name an existing file: writing the
// backup would replace it. A folder is left to the engine, which refuses it.
bool BackupWouldReplace(int attributes);

// The caption while the engine works: "手动备份与还原 - 正在备份… 1,234 个文件", without the count
// until the engine has reported one.
std::string RunningCaption(ManualOperation operation, std::optional<uint64_t> files);

// "执行备份失败,错误代码:%d" and "执行还原失败,错误代码:%d".
std::string BackupFailureText(int code);
std::string RestoreFailureText(int code);

}  // namespace editors
