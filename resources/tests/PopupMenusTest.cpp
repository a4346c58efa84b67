// The two rule-list popup menus and the notification icon's: one popup each, its items in the order
// they are shown.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "resource.h"

namespace {

std::wstring TextAt(HMENU menu, UINT position) {
    wchar_t text[128] = {};
    GetMenuStringW(menu, position, text, 128, MF_BYPOSITION);
    return text;
}

TEST(PopupMenus, HoldOnePopupWithTheirCommands) {
    using Items = std::vector<std::pair<UINT, std::wstring>>;
    const struct {
        int id;
        const wchar_t* caption;
        Items items;
    } menus[] = {
        {IDR_CLEAR_MENU,
         L"清理规则",
         {{IDM_NEW_CLEAR_RULE, L"新建规则(&N)"},
          {IDM_EDIT_CLEAR_RULE, L"修改规则(&E)"},
          {IDM_TOGGLE_RULES, L"禁用(&U)"},
          {IDM_DELETE_RULES, L"删除(&D)"},
          {IDM_MANUAL_RUN, L"手动执行(&R)"},
          {IDM_CLEAR_PREVIEW, L"预览清理(&V)…"}}},
        {IDR_BACKUP_MENU,
         L"备份规则",
         {{IDM_NEW_BACKUP_RULE, L"新建规则(&N)"},
          {IDM_EDIT_BACKUP_RULE, L"修改规则(&E)"},
          {IDM_TOGGLE_RULES, L"禁用(&U)"},
          {IDM_DELETE_RULES, L"删除(&D)"},
          {IDM_MANUAL_RUN, L"手动执行(&R)"},
          {IDM_VERIFY_BACKUP, L"校验备份(&V)"}}},
        {IDR_TRAY_MENU,
         L"通知区域图标",
         {{IDM_TRAY_OPEN, L"打开主窗口(&O)"}, {0, L""}, {IDM_TRAY_EXIT, L"退出(&X)"}}},
    };
    for (const auto& want : menus) {
        SCOPED_TRACE(testing::Message() << "menu " << want.id);
        HMENU menu = LoadMenuW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(want.id));
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(GetMenuItemCount(menu), 1);
        EXPECT_EQ(TextAt(menu, 0), want.caption);
        HMENU popup = GetSubMenu(menu, 0);
        ASSERT_NE(popup, nullptr);
        Items got;
        for (int i = 0; i < GetMenuItemCount(popup); ++i)
            got.emplace_back(GetMenuItemID(popup, i), TextAt(popup, i));
        EXPECT_EQ(got, want.items);
        for (int i = 0; i < GetMenuItemCount(popup); ++i) {
            const UINT state = GetMenuState(popup, i, MF_BYPOSITION);
            if (want.items[size_t(i)].first == 0) {
                EXPECT_TRUE(state & MF_SEPARATOR) << "item " << i;
            } else {
                EXPECT_EQ(state, static_cast<UINT>(MF_STRING)) << "item " << i;
            }
        }
        DestroyMenu(menu);
    }
}

}  // namespace
