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

// A 32-bit top-down bitmap selected into a memory device context: drawn into with GDI, read
// through Bits() (0xAARRGGBB, row after row) once GdiFlush has run.
class DibCanvas {
  public:
    DibCanvas(int width, int height);
    ~DibCanvas();
    DibCanvas(const DibCanvas&) = delete;
    DibCanvas& operator=(const DibCanvas&) = delete;

    bool Ok() const { return m_hBitmap != nullptr; }
    HDC Dc() const { return m_hDc; }
    uint32_t* Bits() const { return m_pBits; }

  private:
    HDC m_hDc = nullptr;
    HBITMAP m_hBitmap = nullptr;
    HGDIOBJ m_hOld = nullptr;
    uint32_t* m_pBits = nullptr;
};

// The screen's pixels inside rect (screen coordinates).
Pixels CaptureScreenRect(const RECT& rect);
// The window's rectangle once its painting has settled (two equal captures in a row).
Pixels CaptureWindow(HWND window);
// Writes 8-bit RGB PNG. False when the file cannot be written.
bool WritePng(const std::wstring& path, const Pixels& pixels);

}  // namespace e2e
