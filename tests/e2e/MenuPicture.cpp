#include "MenuPicture.h"

#include "AppWindows.h"

namespace e2e {
namespace {

Pixels g_captured;
bool g_capturing = false;

// Runs inside TrackPopupMenu's own loop: once the menu shows, take its picture and end it.
void CALLBACK CaptureAndEndMenu(HWND, UINT, UINT_PTR, DWORD) {
    if (!g_capturing) return;
    HWND menu = FindPopupMenu(::GetCurrentProcessId());
    if (!menu) return;
    g_capturing = false;
    g_captured = CaptureWindow(menu);
    ::EndMenu();
}

}  // namespace

Pixels DrawReferenceMenu(const std::vector<MenuLine>& lines, POINT at) {
    HWND owner = ::CreateWindowExW(WS_EX_TOOLWINDOW, L"STATIC", L"", WS_POPUP | WS_VISIBLE, at.x, at.y, 1, 1,
                                   nullptr, nullptr, ::GetModuleHandleW(nullptr), nullptr);
    HMENU menu = ::CreatePopupMenu();
    UINT id = 100;
    for (const MenuLine& line : lines)
        ::AppendMenuW(menu, MF_STRING | (line.grayed ? MF_GRAYED : MF_ENABLED), id++, line.text.c_str());
    ::SetForegroundWindow(owner);
    g_captured = {};
    g_capturing = true;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 30, &CaptureAndEndMenu);
    ::TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD | TPM_NONOTIFY, at.x, at.y, 0,
                     owner, nullptr);
    ::KillTimer(nullptr, timer);
    g_capturing = false;
    ::DestroyMenu(menu);
    ::DestroyWindow(owner);
    return g_captured;
}

HWND FindPopupMenu(DWORD pid) {
    const std::vector<HWND> menus = TopLevelWindows(pid, L"#32768");
    return menus.empty() ? nullptr : menus.front();
}

HWND WaitForPopupMenu(DWORD pid, DWORD timeoutMs) {
    HWND menu = nullptr;
    WaitUntil([&] { return (menu = FindPopupMenu(pid)) != nullptr; }, timeoutMs);
    return menu;
}

}  // namespace e2e
