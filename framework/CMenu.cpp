#include "CMenu.h"

#include <iterator>

namespace fw {

void SetMenuItemTextGbk(HMENU menu, UINT id, std::string_view gbk) {
    std::wstring text = WideFromGbk(gbk);
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = text.data();
    ::SetMenuItemInfoW(menu, id, FALSE, &info);
}

std::string GetMenuItemTextGbk(HMENU menu, UINT id) {
    wchar_t buffer[256] = {};
    ::GetMenuStringW(menu, id, buffer, int(std::size(buffer)), MF_BYCOMMAND);
    return GbkFromWide(buffer);
}

}  // namespace fw
