// Screenshots of windows as the screen shows them (GDI BitBlt from the screen), saved as PNG.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace e2e {

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> bgra;  // top-down rows, 0x00RRGGBB
    bool operator==(const Pixels&) const = default;
};

// The screen's pixels inside rect (screen coordinates).
Pixels CaptureScreenRect(const RECT& rect);
// The window's rectangle once its painting has settled (two equal captures in a row).
Pixels CaptureWindow(HWND window);
// Writes 8-bit RGB PNG. False when the file cannot be written.
bool WritePng(const std::wstring& path, const Pixels& pixels);

}  // namespace e2e
