#include "Services.h"

#include <commdlg.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "Text.h"

namespace fw {
namespace {

Services g_realServices;
Services* g_services = nullptr;

}  // namespace

Services& TheServices() {
    return g_services ? *g_services : g_realServices;
}
void SetServices(Services* services) {
    g_services = services;
}

int Services::ShowMessage(HWND owner, const std::string& textGbk, const std::string& captionGbk, UINT type) {
    return ::MessageBoxW(owner, WideFromGbk(textGbk).c_str(), WideFromGbk(captionGbk).c_str(), type);
}

std::wstring Services::PickFolder(const std::wstring& title, UINT flags) {
    // The picker needs COM on this thread; a second initialisation is harmless.
    HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::vector<wchar_t> path(MAX_PATH, L'\0');
    BROWSEINFOW info{};
    info.lpszTitle = title.c_str();
    info.ulFlags = flags;
    std::wstring result;
    if (PIDLIST_ABSOLUTE item = ::SHBrowseForFolderW(&info)) {
        if (::SHGetPathFromIDListW(item, path.data())) result = path.data();
        ::CoTaskMemFree(item);
    }
    if (SUCCEEDED(com)) ::CoUninitialize();
    return result;
}

namespace {

// One chooser, open or save: filter uses '|' separators; name is offered in the name box.
std::wstring ChooseFile(HWND owner, const std::wstring& filter, const std::wstring& name,
                        const std::wstring& defaultExt, DWORD flags, bool save) {
    std::wstring filters = filter;
    for (wchar_t& c : filters) {
        if (c == L'|') c = L'\0';
    }
    std::vector<wchar_t> file(32768, L'\0');
    name.copy(file.data(), std::min(name.size(), file.size() - 1));
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filters.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = DWORD(file.size());
    ofn.lpstrDefExt = defaultExt.empty() ? nullptr : defaultExt.c_str();
    ofn.Flags = flags | OFN_EXPLORER | OFN_ENABLESIZING;
    if (!(save ? ::GetSaveFileNameW(&ofn) : ::GetOpenFileNameW(&ofn))) return {};
    return file.data();
}

}  // namespace

std::wstring Services::PickFile(HWND owner, const std::wstring& filter, DWORD flags) {
    return ChooseFile(owner, filter, {}, {}, flags, false);
}

std::wstring Services::PickSaveFile(HWND owner, const std::wstring& filter, const std::wstring& name,
                                    const std::wstring& defaultExt) {
    return ChooseFile(owner, filter, name, defaultExt,
                      OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOREADONLYRETURN,
                      true);
}

bool Services::NotifyIcon(DWORD message, NOTIFYICONDATAW& data) {
    return ::Shell_NotifyIconW(message, &data) != FALSE;
}

}  // namespace fw
