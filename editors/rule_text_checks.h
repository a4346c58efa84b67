// The description and path checks that both rule editors and the manual backup and restore
// dialog share. Lengths are GBK bytes: a field of N bytes holds N-1 bytes of text.
#pragma once

#include <cstddef>
#include <optional>

#include "editor_input.h"

namespace editors {

inline constexpr size_t kDescriptionMaxBytes = 31;
inline constexpr size_t kPathMaxBytes = 255;

// A text with a character that GBK cannot represent is refused with its own message, in place of
// the length message and with the same focus: it could only be stored with a '?' in its place.
inline constexpr const char* kUnsavableDescriptionText = "规则描述含有无法保存的字符.";
inline constexpr const char* kUnsavablePathText = "路径含有无法保存的字符.";

// The messages of one path field and the button that gets the focus after either of them.
struct PathMessages {
    const char* empty;
    const char* tooLong;
    int focusId;
};

extern const PathMessages kWatchedPathMessages;    // rule editors' button 3004
extern const PathMessages kBackupPathMessages;     // backup editor's button 3007
extern const PathMessages kBackupFileMessages;     // manual backup and restore, button 3004
extern const PathMessages kRestoreFolderMessages;  // manual backup and restore, button 3007

// Empty, holding a character that GBK cannot represent, or too long, in that order: the length in
// GBK bytes means nothing until every character has its GBK form.
std::optional<InputFault> CheckDescription(const TextInput& description);
std::optional<InputFault> CheckPath(const TextInput& path, const PathMessages& messages);

}  // namespace editors
