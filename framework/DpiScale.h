// Pixel sizes at a display's DPI. The app keeps its own sizes (fonts, row heights, remembered widths)
// at 96 DPI, as Windows' own dialog units do, and converts on the way to and from the screen, so that
// a remembered width carries across displays. Pure: no windows.h.
#pragma once

namespace fw {

inline constexpr int kBaseDpi = 96;

// A 96-DPI size at dpi, rounded to the nearest pixel (as MulDiv does); a dpi of 0 or less is 96.
constexpr int ScaleToDpi(int size96, int dpi) {
    if (dpi <= 0) dpi = kBaseDpi;
    const long long scaled = static_cast<long long>(size96) * dpi;
    return static_cast<int>((scaled + (scaled >= 0 ? kBaseDpi / 2 : -kBaseDpi / 2)) / kBaseDpi);
}

// A size on a screen of dpi back at 96 DPI, rounded to the nearest.
constexpr int ScaleTo96(int size, int dpi) {
    if (dpi <= 0) dpi = kBaseDpi;
    const long long scaled = static_cast<long long>(size) * kBaseDpi;
    return static_cast<int>((scaled + (scaled >= 0 ? dpi / 2 : -dpi / 2)) / dpi);
}

}  // namespace fw
