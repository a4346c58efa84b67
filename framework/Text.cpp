#include "Text.h"

#include <windows.h>

namespace fw {

constexpr UINT kGbk = 936;

std::wstring WideFromGbk(std::string_view gbk) {
    if (gbk.empty()) return {};
    int n = MultiByteToWideChar(kGbk, 0, gbk.data(), int(gbk.size()), nullptr, 0);
    std::wstring out(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(kGbk, 0, gbk.data(), int(gbk.size()), out.data(), n);
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
