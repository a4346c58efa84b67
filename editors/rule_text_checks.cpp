#include "rule_text_checks.h"

#include "resource.h"

namespace editors {

const PathMessages kWatchedPathMessages{"请选择监视路径.", "路径长度超过限制范围，请重新选择路径.",
                                        IDC_PICK_PATH};
const PathMessages kBackupPathMessages{"请选择备份路径.", "备份路径长度超过限制范围，请重新选择路径.",
                                       IDC_PICK_BACKUP_TARGET};
const PathMessages kBackupFileMessages{"请选择备份文件.", "路径长度超过限制范围，请重新选择路径.",
                                       IDC_PICK_RESTORE_FILE};
const PathMessages kRestoreFolderMessages{"请选择还原路径.", "还原路径长度超过限制范围，请重新选择路径.",
                                          IDC_PICK_RESTORE_FOLDER};

std::optional<InputFault> CheckDescription(const TextInput& description) {
    if (description.text.empty()) return InputFault{"请输入规则描述.", kErrorCaption, IDC_DESCRIPTION, false};
    if (!description.exact)
        return InputFault{kUnsavableDescriptionText, kErrorCaption, IDC_DESCRIPTION, true};
    if (description.text.size() > kDescriptionMaxBytes) {
        return InputFault{"规则描述长度超过限制范围，请重新输入.", kErrorCaption, IDC_DESCRIPTION, true};
    }
    return std::nullopt;
}

std::optional<InputFault> CheckPath(const TextInput& path, const PathMessages& messages) {
    // A path fault focuses the path's button, never the read-only edit.
    if (path.text.empty()) return InputFault{messages.empty, kErrorCaption, messages.focusId, false};
    if (!path.exact) return InputFault{kUnsavablePathText, kErrorCaption, messages.focusId, false};
    if (path.text.size() > kPathMaxBytes)
        return InputFault{messages.tooLong, kErrorCaption, messages.focusId, false};
    return std::nullopt;
}

}  // namespace editors
