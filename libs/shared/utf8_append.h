// Writing UTF-8 by hand: the engine records every name it deletes and the preview's CSV holds every
// name it lists, so neither goes through the platform's conversion for each one.
#pragma once

#include <string>
#include <string_view>

namespace shared {

inline void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// Appends UTF-16 text (Windows names) as UTF-8; a lone surrogate, which UTF-8 cannot hold, becomes
// `lone`.
template <class Unit>
void AppendUtf8FromUtf16(std::string& out, std::basic_string_view<Unit> text, char32_t lone = U'?') {
    static_assert(sizeof(Unit) == 2);
    for (size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = char32_t(text[i]);
        if (unit < 0x80) {
            out += char(unit);
        } else if (unit < 0xD800 || unit > 0xDFFF) {
            AppendUtf8(out, unit);
        } else if (unit <= 0xDBFF && i + 1 < text.size() && char32_t(text[i + 1]) >= 0xDC00 &&
                   char32_t(text[i + 1]) <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
            ++i;
        } else {
            AppendUtf8(out, lone);
        }
    }
}

}  // namespace shared
