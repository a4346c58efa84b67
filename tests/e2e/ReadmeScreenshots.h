// The README's pictures of the real app, taken by scripts/screenshots.sh: login, the main window
// with a few example rules, the change editors of a clean rule and a backup rule, the manual
// backup and restore dialog, the notification icon's failure notice and menu, and the preview of a
// clean rule on a folder of example files.
#pragma once

#include <string>

namespace e2e {

// Writes login.png, main_window.png, clean_rule_editor.png, backup_rule_editor.png, restore.png,
// clean_preview.png, tray_balloon.png (when the notification area draws balloons) and tray_menu.png
// into folder (the default screenshot folder when empty) and prints their names; returns the process
// exit code.
int TakeReadmeScreenshots(const std::wstring& folder);

}  // namespace e2e
