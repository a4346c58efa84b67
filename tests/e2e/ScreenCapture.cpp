#include "ScreenCapture.h"

#include <zlib.h>

#include <cstdio>

namespace e2e {
namespace {

void PutBigEndian(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += char((value >> shift) & 0xFF);
}

void PutChunk(std::string& out, const char type[4], const std::string& data) {
    PutBigEndian(out, uint32_t(data.size()));
    const std::string typed = std::string(type, 4) + data;
    out += typed;
    PutBigEndian(out, uint32_t(::crc32(0, reinterpret_cast<const Bytef*>(typed.data()), uInt(typed.size()))));
}

}  // namespace

DibCanvas::DibCanvas(int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    m_hDc = ::CreateCompatibleDC(nullptr);
    void* bits = nullptr;
    if (width > 0 && height > 0)
        m_hBitmap = ::CreateDIBSection(m_hDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!m_hBitmap) return;
    m_pBits = static_cast<uint32_t*>(bits);
    m_hOld = ::SelectObject(m_hDc, m_hBitmap);
}

DibCanvas::~DibCanvas() {
    if (m_hBitmap) {
        ::SelectObject(m_hDc, m_hOld);
        ::DeleteObject(m_hBitmap);
    }
    if (m_hDc) ::DeleteDC(m_hDc);
}

Pixels CaptureScreenRect(const RECT& rect) {
    Pixels pixels;
    pixels.width = rect.right - rect.left;
    pixels.height = rect.bottom - rect.top;
    DibCanvas canvas(pixels.width, pixels.height);
    if (!canvas.Ok()) return {};
    HDC screen = ::GetDC(nullptr);
    ::BitBlt(canvas.Dc(), 0, 0, pixels.width, pixels.height, screen, rect.left, rect.top,
             SRCCOPY | CAPTUREBLT);
    ::ReleaseDC(nullptr, screen);
    ::GdiFlush();
    const size_t count = size_t(pixels.width) * size_t(pixels.height);
    pixels.bgra.reserve(count);
    for (size_t i = 0; i < count; ++i) pixels.bgra.push_back(canvas.Bits()[i] & 0xFFFFFF);
    return pixels;
}

Pixels CaptureWindow(HWND window) {
    RECT rect;
    if (!::GetWindowRect(window, &rect)) return {};
    // Let the app finish painting: a sent message returns only after the earlier input was handled,
    // and two equal captures in a row mean the painting has settled.
    DWORD_PTR ignored;
    ::SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 2000, &ignored);
    Pixels last = CaptureScreenRect(rect);
    for (int attempt = 0; attempt < 20; ++attempt) {
        ::Sleep(60);
        Pixels next = CaptureScreenRect(rect);
        if (next == last) break;
        last = std::move(next);
    }
    return last;
}

bool WritePng(const std::wstring& path, const Pixels& pixels) {
    if (pixels.width <= 0 || pixels.height <= 0) return false;
    std::string raw;
    raw.reserve(size_t(pixels.height) * (size_t(pixels.width) * 3 + 1));
    for (int y = 0; y < pixels.height; ++y) {
        raw += '\0';  // filter: none
        for (int x = 0; x < pixels.width; ++x) {
            const uint32_t p = pixels.bgra[size_t(y) * size_t(pixels.width) + size_t(x)];
            raw += char((p >> 16) & 0xFF);
            raw += char((p >> 8) & 0xFF);
            raw += char(p & 0xFF);
        }
    }
    uLongf packedSize = compressBound(uLong(raw.size()));
    std::string packed(packedSize, '\0');
    if (compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                  reinterpret_cast<const Bytef*>(raw.data()), uLong(raw.size()), 9) != Z_OK)
        return false;
    packed.resize(packedSize);

    std::string header;
    PutBigEndian(header, uint32_t(pixels.width));
    PutBigEndian(header, uint32_t(pixels.height));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8-bit RGB, deflate, no filter choice, no interlace
    std::string png = "\x89PNG\r\n\x1a\n";
    PutChunk(png, "IHDR", header);
    PutChunk(png, "IDAT", packed);
    PutChunk(png, "IEND", "");

    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) return false;
    const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
    return std::fclose(file) == 0 && written;
}

}  // namespace e2e
