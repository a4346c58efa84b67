// Stepping over GBK text one character at a time. A trail byte may be any of 0x40-0x7E, so a byte
// such as '|', '[' or ']' inside a double-byte character must never be taken for itself.
#pragma once

#include <cstddef>
#include <string_view>

namespace shared {

inline bool IsGbkLeadByte(unsigned char b) {
    return b >= 0x81 && b <= 0xFE;
}
inline bool IsGbkTrailByte(unsigned char b) {
    return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFE);
}

// Length in bytes (1 or 2) of the character starting at text[pos]. A lead byte without a valid
// trail byte after it counts as a single byte, so damaged text is still walked to its end.
inline size_t GbkCharLength(std::string_view text, size_t pos) {
    if (pos + 1 < text.size() && IsGbkLeadByte(static_cast<unsigned char>(text[pos])) &&
        IsGbkTrailByte(static_cast<unsigned char>(text[pos + 1])))
        return 2;
    return 1;
}

}  // namespace shared
