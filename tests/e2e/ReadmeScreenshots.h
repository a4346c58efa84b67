// The README's pictures of the real app: login, the main window with a few rules, the clean-rule
// editor, the backup-rule editor and the manual backup and restore dialog.
#pragma once

#include <string>

namespace e2e {

// Writes the pictures into folder (the default screenshot folder when empty) and prints their
// names; returns the process exit code.
int TakeReadmeScreenshots(const std::wstring& folder);

}  // namespace e2e
