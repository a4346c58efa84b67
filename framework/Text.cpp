#include "Text.h"

#include <windows.h>

namespace fw {

constexpr UINT kGbk = 936;

int WideFromGbkInto(std::string_view gbk, wchar_t* buffer, int capacity) {
    if (gbk.empty() || capacity <= 0) return 0;
    int n = MultiByteToWideChar(kGbk, 0, gbk.data(), int(gbk.size()), buffer, capacity);
    return n > 0 ? n : 0;
}

std::wstring WideFromGbk(std::string_view gbk) {
    // A GBK text never has more UTF-16 units than bytes, so one conversion call is enough.
    std::wstring out(gbk.size(), L'\0');
    out.resize(size_t(WideFromGbkInto(gbk, out.data(), int(out.size()))));
    return out;
}

std::string GbkFromWide(std::wstring_view wide, bool* exact) {
    if (exact) *exact = true;
    if (wide.empty()) return {};
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), nullptr, 0,
                                nullptr, &usedDefault);
    std::string out(size_t(n > 0 ? n : 0), '\0');
    if (n > 0) {
        WideCharToMultiByte(kGbk, WC_NO_BEST_FIT_CHARS, wide.data(), int(wide.size()), out.data(), n, nullptr,
                            &usedDefault);
    }
    if (exact) *exact = n > 0 && !usedDefault;
    return out;
}

}  // namespace fw
