// The shared shell pickers of the editors and the manual backup and restore dialog.
#pragma once

#include <string>

#include "CWnd.h"

// The folder picker titled "请选择文件夹": file-system folders only, with an edit box. Empty when
// cancelled or when the chosen item has no file-system path.
std::wstring BrowseForFolder();

// The handler of a "..." button that picks the dialog's folder: the backup editor's backup path
// and the manual dialog's folder, which share control 3009. A cancelled picker leaves the edit as
// it was. The wide text goes in whole: nothing is lost on the way, and the checks later find out
// whether it can be stored as GBK.
void PickFolderIntoFolderEdit(const fw::CWnd& dialog);

// Puts a picked path into an edit unless it is empty (cancelled).
void PutPickedPath(const fw::CWnd& dialog, int id, const std::wstring& path);
