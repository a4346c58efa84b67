// Another process's popup menu cannot be read under Wine (its HMENU means nothing here), so a
// popup is checked by its picture: the driver draws the menu it expects with the same system
// code and compares the two pixel for pixel. Texts, order and greying must all match.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "ScreenCapture.h"

namespace e2e {

struct MenuLine {
    std::wstring text;
    bool grayed = false;
};

// Tracks a popup menu with these lines at the screen point in this process and captures it.
Pixels DrawReferenceMenu(const std::vector<MenuLine>& lines, POINT at);

// The visible popup menu window of the process, or nullptr.
HWND FindPopupMenu(DWORD pid);
HWND WaitForPopupMenu(DWORD pid, DWORD timeoutMs = 5000);

}  // namespace e2e
