#include "utf8_text.h"

namespace kivo {

std::optional<char32_t> NextCodePoint(std::string_view text, size_t& pos) {
    if (pos >= text.size()) return std::nullopt;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    unsigned char b0 = byte(pos);
    if (b0 < 0x80) {
        ++pos;
        return b0;
    }
    size_t len;
    char32_t cp;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
        len = 2, cp = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        len = 3, cp = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        len = 4, cp = b0 & 0x07, min = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - pos < len) return std::nullopt;
    for (size_t i = 1; i < len; ++i) {
        unsigned char b = byte(pos + i);
        if ((b & 0xC0) != 0x80) return std::nullopt;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return std::nullopt;
    pos += len;
    return cp;
}

bool IsValidUtf8(std::string_view text) {
    size_t pos = 0;
    while (pos < text.size()) {
        if (static_cast<unsigned char>(text[pos]) < 0x80) {
            ++pos;
        } else if (!NextCodePoint(text, pos)) {
            return false;
        }
    }
    return true;
}

void AppendValidUtf8(std::string& out, std::string_view text) {
    for (size_t pos = 0; pos < text.size();) {
        const size_t start = pos;
        if (static_cast<unsigned char>(text[pos]) < 0x80) {
            ++pos;
        } else if (!NextCodePoint(text, pos)) {
            out += '?';
            pos = start + 1;
            continue;
        }
        out.append(text.data() + start, pos - start);
    }
}

}  // namespace kivo
