// GBK (code page 936) <-> UTF-16 for the user interface. Always code page 936, never the
// system code page, so the app behaves the same under any Windows locale.
#pragma once

#include <string>
#include <string_view>

namespace fw {

std::wstring WideFromGbk(std::string_view gbk);
// Converts into a caller's buffer of capacity units (a GBK text never needs more units than bytes);
// returns the units written.
int WideFromGbkInto(std::string_view gbk, wchar_t* buffer, int capacity);
// exact (optional) tells whether every character had a GBK counterpart; unmappable ones become '?'.
std::string GbkFromWide(std::wstring_view wide, bool* exact = nullptr);

}  // namespace fw
