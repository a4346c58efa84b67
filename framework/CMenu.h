// A loaded menu resource, destroyed with the object.
#pragma once

#include "CWnd.h"

namespace fw {

class CMenu {
  public:
    CMenu() = default;
    CMenu(const CMenu&) = delete;
    CMenu& operator=(const CMenu&) = delete;
    ~CMenu() {
        if (m_hMenu) ::DestroyMenu(m_hMenu);
    }

    bool Load(int id) {
        m_hMenu = ::LoadMenuW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id));
        return m_hMenu != nullptr;
    }
    HMENU GetSubMenu(int pos) const { return m_hMenu ? ::GetSubMenu(m_hMenu, pos) : nullptr; }

  private:
    HMENU m_hMenu = nullptr;
};

// Popup helpers on a (sub-)menu handle.
inline void GrayMenuItem(HMENU menu, UINT id) {
    ::EnableMenuItem(menu, id, MF_BYCOMMAND | MF_GRAYED | MF_DISABLED);
}
void SetMenuItemTextGbk(HMENU menu, UINT id, std::string_view gbk);

}  // namespace fw
