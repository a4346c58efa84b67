// Small UTF-8 helpers: ZIP names are UTF-8, and so are POSIX names on the systems we run on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "utf8_append.h"

namespace kivo {

// Decodes the code point at text[pos] and advances pos; nullopt for a malformed, overlong or
// surrogate sequence.
std::optional<char32_t> NextCodePoint(std::string_view text, size_t& pos);
bool IsValidUtf8(std::string_view text);

// Appends text, keeping every well-formed sequence; each other byte becomes '?'.
void AppendValidUtf8(std::string& out, std::string_view text);

// UTF-16 to UTF-8 (AppendUtf8FromUtf16), shared with the app.
using shared::AppendUtf8;
using shared::AppendUtf8FromUtf16;

}  // namespace kivo
