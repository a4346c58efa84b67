// Message boxes, the shell pickers and the notification icon, replaceable so that tests can answer
// them.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

namespace fw {

class Services {
  public:
    virtual ~Services() = default;
    // A message box; texts are GBK. Returns the button pressed (IDOK, IDYES, ...).
    virtual int ShowMessage(HWND owner, const std::string& textGbk, const std::string& captionGbk, UINT type);
    // The shell folder picker. Empty when cancelled or when the item has no file-system path.
    virtual std::wstring PickFolder(const std::wstring& title, UINT flags);
    // The open-file chooser. filter uses '|' separators ("Text (*.txt)|*.txt||"). Empty when cancelled.
    virtual std::wstring PickFile(HWND owner, const std::wstring& filter, DWORD flags);
    // Shell_NotifyIconW: adds, changes or removes a notification-area icon.
    virtual bool NotifyIcon(DWORD message, NOTIFYICONDATAW& data);
    // The save-file chooser, offering name; defaultExt (no dot) is added to a name typed without one.
    // Asks before replacing a file. Empty when cancelled.
    virtual std::wstring PickSaveFile(HWND owner, const std::wstring& filter, const std::wstring& name,
                                      const std::wstring& defaultExt);
};

// The services in use: the real ones unless a test installed others.
Services& TheServices();
// Installs replacement services (nullptr restores the real ones). The caller keeps ownership.
void SetServices(Services* services);

inline int MessageBoxGbk(HWND owner, const std::string& textGbk, const std::string& captionGbk, UINT type) {
    return TheServices().ShowMessage(owner, textGbk, captionGbk, type);
}

}  // namespace fw
