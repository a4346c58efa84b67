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

}  // namespace kivo
