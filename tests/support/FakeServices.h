// Replacement message box and pickers: they record what the app asked and answer as told.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "Services.h"

namespace testing_support {

struct ShownMessage {
    HWND owner;
    std::string text;     // GBK
    std::string caption;  // GBK
    UINT type;
    HWND focusBefore;  // where the focus was when the box opened
};

struct PickerCall {
    enum Kind { Folder, File, SaveFile } kind;
    std::wstring titleOrFilter;
    DWORD flags;
    HWND owner;
};

struct IconCall {
    DWORD message;  // NIM_ADD, NIM_MODIFY, NIM_SETVERSION, NIM_DELETE
    NOTIFYICONDATAW data;
};

class FakeServices : public fw::Services {
  public:
    FakeServices() { fw::SetServices(this); }
    ~FakeServices() override { fw::SetServices(nullptr); }

    int ShowMessage(HWND owner, const std::string& textGbk, const std::string& captionGbk,
                    UINT type) override;
    std::wstring PickFolder(const std::wstring& title, UINT flags) override;
    std::wstring PickFile(HWND owner, const std::wstring& filter, DWORD flags) override;
    bool NotifyIcon(DWORD message, NOTIFYICONDATAW& data) override;
    // Recorded with the offered name after the filter, "\n" between; answered from files.
    std::wstring PickSaveFile(HWND owner, const std::wstring& filter, const std::wstring& name,
                              const std::wstring& defaultExt) override;

    std::vector<ShownMessage> messages;
    std::deque<int> answers;  // answers to message boxes; IDOK (or IDYES for Yes/No) when empty
    std::vector<PickerCall> pickers;
    std::deque<std::wstring> folders;  // answers of the folder picker; empty string = cancelled
    std::deque<std::wstring> files;    // answers of the file chooser
    std::vector<IconCall> iconCalls;
    bool iconAnswer = true;  // what every icon call answers (false: as while no taskbar is there)
};

}  // namespace testing_support
