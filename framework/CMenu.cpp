#include "CMenu.h"

namespace fw {

void SetMenuItemTextGbk(HMENU menu, UINT id, std::string_view gbk) {
    std::wstring text = WideFromGbk(gbk);
    MENUITEMINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_STRING;
    info.dwTypeData = text.data();
    ::SetMenuItemInfoW(menu, id, FALSE, &info);
}

}  // namespace fw
