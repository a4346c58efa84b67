// Small UTF-8 helpers: ZIP names are UTF-8, and so are POSIX names on the systems we run on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kivo {

// Decodes the code point at text[pos] and advances pos; nullopt for a malformed, overlong or
// surrogate sequence.
std::optional<char32_t> NextCodePoint(std::string_view text, size_t& pos);
bool IsValidUtf8(std::string_view text);
void AppendUtf8(std::string& out, char32_t cp);

// Appends text, keeping every well-formed sequence; each other byte becomes '?'.
void AppendValidUtf8(std::string& out, std::string_view text);

// Appends UTF-16 text (Windows names) as UTF-8; a lone surrogate, which UTF-8 cannot hold, becomes
// '?'. By hand rather than through the platform: a clean records every file it deletes.
template <class Unit>
void AppendUtf8FromUtf16(std::string& out, std::basic_string_view<Unit> text) {
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
            out += '?';
        }
    }
}

}  // namespace kivo
