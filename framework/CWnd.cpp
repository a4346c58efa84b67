#include "CWnd.h"

namespace fw {
namespace {

bool PaintMinimisedIcon(HWND hwnd, HICON icon) {
    if (!::IsIconic(hwnd)) return false;
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(hwnd, &paint);
    ::SendMessageW(hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    ::GetClientRect(hwnd, &client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, icon);
    ::EndPaint(hwnd, &paint);
    return true;
}

}  // namespace

int WindowDpi(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow && hwnd) {
        if (const UINT dpi = getDpiForWindow(hwnd)) return int(dpi);
    }
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

std::wstring GetWindowTextWide(HWND hwnd) {
    int n = ::GetWindowTextLengthW(hwnd);
    if (n <= 0) return {};
    std::wstring text(size_t(n) + 1, L'\0');
    n = ::GetWindowTextW(hwnd, text.data(), n + 1);
    text.resize(size_t(n > 0 ? n : 0));
    return text;
}

std::string GetWindowTextGbk(HWND hwnd, bool* exact) {
    return GbkFromWide(GetWindowTextWide(hwnd), exact);
}

void SetWindowTextGbk(HWND hwnd, std::string_view gbk) {
    ::SetWindowTextW(hwnd, WideFromGbk(gbk).c_str());
}

void CWnd::FocusAndSelect(int id) const {
    HWND item = GetDlgItem(id);
    ::SetFocus(item);
    SelectWholeText(item);
}

void SelectWholeText(HWND edit) {
    ::SendMessageW(edit, EM_SETSEL, 0, -1);
    ::SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

void SetWindowIcon(HWND hwnd, HICON icon) {
    ::SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

bool AnswerIconMessage(HWND hwnd, HICON icon, UINT msg, LRESULT* result) {
    switch (msg) {
        case WM_PAINT:
            return PaintMinimisedIcon(hwnd, icon);
        case WM_QUERYDRAGICON:
            *result = reinterpret_cast<LRESULT>(icon);
            return true;
        default:
            return false;
    }
}

}  // namespace fw
