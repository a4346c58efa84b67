#include "BrowseForFolder.h"

#include <shlobj.h>

#include "Services.h"
#include "resource.h"

// Both dialogs that use this handler keep their folder in 3009.
static_assert(IDC_BACKUP_TARGET == IDC_RESTORE_FOLDER);

std::wstring BrowseForFolder() {
    return fw::TheServices().PickFolder(L"请选择文件夹", BIF_RETURNONLYFSDIRS | BIF_EDITBOX);
}

void PutPickedPath(const fw::CWnd& dialog, int id, const std::wstring& path) {
    if (!path.empty()) ::SetWindowTextW(dialog.GetDlgItem(id), path.c_str());
}

void PickFolderIntoFolderEdit(const fw::CWnd& dialog) {
    PutPickedPath(dialog, IDC_BACKUP_TARGET, BrowseForFolder());
}
