#include "FakeServices.h"

namespace testing_support {

int FakeServices::ShowMessage(HWND owner, const std::string& textGbk, const std::string& captionGbk,
                              UINT type) {
    messages.push_back({owner, textGbk, captionGbk, type, ::GetFocus()});
    if (!answers.empty()) {
        int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    return (type & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
}

std::wstring FakeServices::PickFolder(const std::wstring& title, UINT flags) {
    pickers.push_back({PickerCall::Folder, title, flags, nullptr});
    if (folders.empty()) return {};
    std::wstring answer = folders.front();
    folders.pop_front();
    return answer;
}

std::wstring FakeServices::PickFile(HWND owner, const std::wstring& filter, DWORD flags) {
    pickers.push_back({PickerCall::File, filter, flags, owner});
    if (files.empty()) return {};
    std::wstring answer = files.front();
    files.pop_front();
    return answer;
}

bool FakeServices::NotifyIcon(DWORD message, NOTIFYICONDATAW& data) {
    iconCalls.push_back({message, data});
    return iconAnswer;
}

std::wstring FakeServices::PickSaveFile(HWND owner, const std::wstring& filter, const std::wstring& name,
                                        const std::wstring& defaultExt) {
    pickers.push_back({PickerCall::SaveFile, filter + L"\n" + name + L"\n" + defaultExt, 0, owner});
    if (files.empty()) return {};
    std::wstring answer = files.front();
    files.pop_front();
    return answer;
}

}  // namespace testing_support
