#include <map>

#include "main_window_fixture.h"

using namespace testing_support;

namespace {

struct PopupSeen {
    std::map<UINT, bool> grayed;  // command id -> greyed and disabled
    std::vector<UINT> order;
    std::wstring toggleText;
    bool opened = false;
};

class RuleCommands : public MainWindowTest {
  protected:
    void Select(int listId, const std::vector<int>& rows) {
        HWND list = Item(listId);
        ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
        for (int row : rows) ListView_SetItemState(list, row, LVIS_SELECTED, LVIS_SELECTED);
    }

    // Right-clicks the list with these rows selected, reads the popup, closes it, and then
    // (when command is non-zero) delivers that command as if it had been chosen.
    PopupSeen RightClick(int listId, const std::vector<int>& rows, UINT command = 0) {
        Select(listId, rows);
        PopupSeen seen;
        ModalDriver driver;
        driver.Until([] { return ::FindWindowW(L"#32768", nullptr) != nullptr; }).Then([&] {
            HMENU menu =
                reinterpret_cast<HMENU>(::SendMessageW(::FindWindowW(L"#32768", nullptr), MN_GETHMENU, 0, 0));
            seen.opened = true;
            for (int i = 0; i < ::GetMenuItemCount(menu); ++i) {
                UINT id = ::GetMenuItemID(menu, i);
                seen.order.push_back(id);
                UINT state = ::GetMenuState(menu, id, MF_BYCOMMAND);
                seen.grayed[id] = (state & MF_GRAYED) && (state & MF_DISABLED);
            }
            wchar_t text[64] = {};
            ::GetMenuStringW(menu, IDM_TOGGLE_RULES, text, 64, MF_BYCOMMAND);
            seen.toggleText = text;
            ::EndMenu();
        });
        NMHDR header{Item(listId), UINT_PTR(listId), UINT(NM_RCLICK)};
        driver.Run([&] { return ::SendMessageW(window->GetSafeHwnd(), WM_NOTIFY, listId, LPARAM(&header)); });
        EXPECT_FALSE(driver.TimedOut());
        if (command) ::SendMessageW(window->GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(command, 0), 0);
        return seen;
    }

    std::vector<std::string> CallsSince(size_t from) const {
        return {Fakes().calls.begin() + std::ptrdiff_t(from), Fakes().calls.end()};
    }
};

TEST_F(RuleCommands, MenusHoldTheirItemsInOrder) {
    OpenLoggedIn();
    EXPECT_EQ(RightClick(IDC_CLEAR_LIST, {}).order,
              (std::vector<UINT>{IDM_NEW_CLEAR_RULE, IDM_EDIT_CLEAR_RULE, IDM_TOGGLE_RULES, IDM_DELETE_RULES,
                                 IDM_MANUAL_RUN, IDM_CLEAR_PREVIEW}));
    EXPECT_EQ(window->m_nPopupList, 1);
    EXPECT_EQ(RightClick(IDC_BACKUP_LIST, {}).order,
              (std::vector<UINT>{IDM_NEW_BACKUP_RULE, IDM_EDIT_BACKUP_RULE, IDM_TOGGLE_RULES,
                                 IDM_DELETE_RULES, IDM_MANUAL_RUN, IDM_VERIFY_BACKUP}));
    EXPECT_EQ(window->m_nPopupList, 0);
}

TEST_F(RuleCommands, AvailabilityFollowsSelectionAndRunningState) {
    Fakes().clearRules = {MakeClearRule(1, 1, "a"), MakeClearRule(2, 1, "b"), MakeClearRule(3, 0, "c")};
    OpenLoggedIn();
    using Gray = std::map<UINT, bool>;
    EXPECT_EQ(RightClick(IDC_CLEAR_LIST, {}).grayed, (Gray{{IDM_NEW_CLEAR_RULE, false},
                                                           {IDM_EDIT_CLEAR_RULE, true},
                                                           {IDM_TOGGLE_RULES, true},
                                                           {IDM_DELETE_RULES, true},
                                                           {IDM_MANUAL_RUN, true},
                                                           {IDM_CLEAR_PREVIEW, true}}));
    EXPECT_TRUE(window->m_vecSelRows.empty());
    EXPECT_EQ(RightClick(IDC_CLEAR_LIST, {1}).grayed, (Gray{{IDM_NEW_CLEAR_RULE, false},
                                                            {IDM_EDIT_CLEAR_RULE, false},
                                                            {IDM_TOGGLE_RULES, false},
                                                            {IDM_DELETE_RULES, false},
                                                            {IDM_MANUAL_RUN, false},
                                                            {IDM_CLEAR_PREVIEW, false}}));
    EXPECT_EQ(RightClick(IDC_CLEAR_LIST, {2, 0}).grayed, (Gray{{IDM_NEW_CLEAR_RULE, true},
                                                               {IDM_EDIT_CLEAR_RULE, true},
                                                               {IDM_TOGGLE_RULES, false},
                                                               {IDM_DELETE_RULES, false},
                                                               {IDM_MANUAL_RUN, true},
                                                               {IDM_CLEAR_PREVIEW, true}}));
    EXPECT_EQ(window->m_vecSelRows, (std::vector<int>{0, 2}));  // captured top first
    window->m_nRunState = 1;
    EXPECT_EQ(RightClick(IDC_CLEAR_LIST, {1}).grayed, (Gray{{IDM_NEW_CLEAR_RULE, false},
                                                            {IDM_EDIT_CLEAR_RULE, false},
                                                            {IDM_TOGGLE_RULES, false},
                                                            {IDM_DELETE_RULES, false},
                                                            {IDM_MANUAL_RUN, true},
                                                            {IDM_CLEAR_PREVIEW, false}}));
    // A disabled rule can be previewed too: that is how a new rule is tried before it runs.
    EXPECT_FALSE(RightClick(IDC_CLEAR_LIST, {2}).grayed[IDM_CLEAR_PREVIEW]);
}

TEST_F(RuleCommands, PreviewOpensOnTheCapturedRuleWithItsDescription) {
    Fakes().clearRules = {MakeClearRule(4, 1, "a"), MakeClearRule(5, 0, "清理日志")};
    Fakes().backupRules = {MakeBackupRule(6, 1, "b")};
    OpenLoggedIn();
    // A command that arrives after the backup list's popup previews nothing (a dialog that opened
    // all the same is ended by the driver, and the calls tell).
    RightClick(IDC_BACKUP_LIST, {0});
    const size_t beforeProbe = Fakes().calls.size();
    ModalDriver probe;
    probe.Then([] { EndAllDialogs(); });
    probe.Run([&] {
        return ::SendMessageW(window->GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(IDM_CLEAR_PREVIEW, 0), 0);
    });
    EXPECT_TRUE(CallsSince(beforeProbe).empty());
    RightClick(IDC_CLEAR_LIST, {1});
    Select(IDC_CLEAR_LIST, {0});  // what is selected later does not count
    const size_t from = Fakes().calls.size();
    bool opened = false;
    ModalDriver driver;
    driver.Until([] { return FindDialog(L"清理预览 - 清理日志") != nullptr; }).Then([&] {
        opened = true;
        Click(FindDialog(L"清理预览 - 清理日志"), IDCANCEL);
    });
    driver.Run([&] {
        return ::SendMessageW(window->GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(IDM_CLEAR_PREVIEW, 0), 0);
    });
    EXPECT_FALSE(driver.TimedOut());
    EXPECT_TRUE(opened);
    const std::vector<std::string> calls = CallsSince(from);
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 2),
              (std::vector<std::string>{"kivo_get_clear(5)", "kivo_preview_clear(5)"}));
}

TEST_F(RuleCommands, VerifyIsOfferedForOneBackupRuleAndARefusalShowsItsCode) {
    Fakes().backupRules = {MakeBackupRule(31, 1, "a"), MakeBackupRule(32, 0, "b")};
    OpenLoggedIn();
    window->m_nRunState = 1;  // also while the engine runs by itself
    EXPECT_FALSE(RightClick(IDC_BACKUP_LIST, {1}).grayed[IDM_VERIFY_BACKUP]);
    EXPECT_TRUE(RightClick(IDC_BACKUP_LIST, {}).grayed[IDM_VERIFY_BACKUP]);
    EXPECT_TRUE(RightClick(IDC_BACKUP_LIST, {0, 1}).grayed[IDM_VERIFY_BACKUP]);

    size_t from = Fakes().calls.size();
    RightClick(IDC_BACKUP_LIST, {1}, IDM_VERIFY_BACKUP);
    EXPECT_EQ(CallsSince(from), std::vector<std::string>{"kivo_verify_backup(32)"});
    EXPECT_TRUE(services.messages.empty());  // the result comes in the run log

    Fakes().verifyResult = 11;
    RightClick(IDC_BACKUP_LIST, {0}, IDM_VERIFY_BACKUP);
    EXPECT_EQ(Fakes().calls.back(), "kivo_verify_backup(31)");
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0].text, "校验备份失败,错误代码:11");
    EXPECT_EQ(services.messages[0].caption, "警告");
    EXPECT_EQ(services.messages[0].type, UINT(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(services.messages[0].owner, window->GetSafeHwnd());
}

TEST_F(RuleCommands, ToggleEnablesAllWhenAnyIsDisabledElseDisablesAll) {
    Fakes().backupRules = {MakeBackupRule(11, 1, "a"), MakeBackupRule(12, 0, "b"),
                           MakeBackupRule(13, 1, "c")};
    OpenLoggedIn();
    size_t from = Fakes().calls.size();
    EXPECT_EQ(RightClick(IDC_BACKUP_LIST, {0, 1}, IDM_TOGGLE_RULES).toggleText, L"启用(&U)");
    EXPECT_EQ(CallsSince(from),
              (std::vector<std::string>{"kivo_enable_rule(11,1)", "kivo_enable_rule(12,1)",
                                        "kivo_get_backup_list(null)", "kivo_get_backup_list(buffer)"}));
    from = Fakes().calls.size();
    EXPECT_EQ(RightClick(IDC_BACKUP_LIST, {0, 2}, IDM_TOGGLE_RULES).toggleText, L"禁用(&U)");
    EXPECT_EQ(CallsSince(from),
              (std::vector<std::string>{"kivo_enable_rule(11,0)", "kivo_enable_rule(13,0)",
                                        "kivo_get_backup_list(null)", "kivo_get_backup_list(buffer)"}));
}

TEST_F(RuleCommands, DeleteAsksAndNoCallsNothing) {
    Fakes().clearRules = {MakeClearRule(1, 1, "a")};
    OpenLoggedIn();
    services.answers = {IDNO};
    size_t from = Fakes().calls.size();
    RightClick(IDC_CLEAR_LIST, {0}, IDM_DELETE_RULES);
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0].text, "确定删除吗？");
    EXPECT_EQ(services.messages[0].caption, "删除警告");
    EXPECT_EQ(services.messages[0].type, UINT(MB_YESNO | MB_ICONINFORMATION));
    EXPECT_EQ(services.messages[0].owner, window->GetSafeHwnd());
    EXPECT_TRUE(CallsSince(from).empty());
    EXPECT_EQ(window->m_lstClear.GetItemCount(), 1);
}

TEST_F(RuleCommands, DeletingThreeRowsCallsThreeTimesTopFirstThenRefillsOnce) {
    Fakes().clearRules = {MakeClearRule(4, 1, "a"), MakeClearRule(5, 1, "b"), MakeClearRule(6, 1, "c"),
                          MakeClearRule(7, 1, "d")};
    OpenLoggedIn();
    size_t from = Fakes().calls.size();
    RightClick(IDC_CLEAR_LIST, {3, 0, 1}, IDM_DELETE_RULES);
    EXPECT_EQ(CallsSince(from),
              (std::vector<std::string>{"kivo_del_rule(4)", "kivo_del_rule(5)", "kivo_del_rule(7)",
                                        "kivo_get_clear_list(null)", "kivo_get_clear_list(buffer)"}));
}

TEST_F(RuleCommands, RunNowFailureAndStartFailureShowTheirWarnings) {
    Fakes().backupRules = {MakeBackupRule(21, 1, "a")};
    OpenLoggedIn();
    Fakes().manRunResult = 5;
    RightClick(IDC_BACKUP_LIST, {0}, IDM_MANUAL_RUN);
    EXPECT_EQ(Fakes().calls.back(), "kivo_man_run(21)");
    Fakes().autoRunResult = 3;
    Click(window->GetSafeHwnd(), IDC_AUTO_RUN);
    Click(window->GetSafeHwnd(), IDC_STOP_RUN);
    ASSERT_EQ(services.messages.size(), 2u);
    EXPECT_EQ(services.messages[0].text, "手动执行失败.");
    EXPECT_EQ(services.messages[0].caption, "警告");
    EXPECT_EQ(services.messages[0].type, UINT(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(services.messages[1].text, "启动失败.");
    EXPECT_EQ(services.messages[1].caption, "警告");
    EXPECT_EQ(Fakes().calls.back(), "kivo_stop_run");
    // Neither button press touched the buttons: they follow the engine's answer.
    EXPECT_TRUE(::IsWindowEnabled(Item(IDC_AUTO_RUN)));
    EXPECT_FALSE(::IsWindowEnabled(Item(IDC_STOP_RUN)));
}

TEST_F(RuleCommands, CancellingTheChangeEditorLeavesTheRow) {
    Fakes().clearRules = {MakeClearRule(7, 1, "old")};
    OpenLoggedIn();
    ModalDriver driver;
    std::wstring caption = L"修改删除规则 ID:7";
    driver.Until([&] { return FindDialog(caption) != nullptr; }).Then([&] {
        PressKey(::GetDlgItem(FindDialog(caption), IDC_DESCRIPTION), VK_ESCAPE);
    });
    size_t from = Fakes().calls.size();
    driver.Run([&] { return RightClick(IDC_CLEAR_LIST, {0}, IDM_EDIT_CLEAR_RULE).opened; });
    EXPECT_FALSE(driver.TimedOut());
    EXPECT_EQ(CallsSince(from), std::vector<std::string>{"kivo_get_clear(7)"});
    EXPECT_EQ(window->m_lstClear.GetItemText(0, 1), "old");
}

TEST_F(RuleCommands, ConfirmedChangeRewritesOnlyThatRow) {
    Fakes().backupRules = {MakeBackupRule(8, 1, "first"), MakeBackupRule(9, 1, "second")};
    OpenLoggedIn();
    std::wstring caption = L"修改备份规则 ID:9";
    ModalDriver driver;
    driver.Until([&] { return FindDialog(caption) != nullptr; }).Then([&] {
        HWND editor = FindDialog(caption);
        Type(editor, IDC_DESCRIPTION, L"改过的");
        Click(editor, IDOK);
    });
    size_t from = Fakes().calls.size();
    driver.Run([&] { return RightClick(IDC_BACKUP_LIST, {1}, IDM_EDIT_BACKUP_RULE).opened; });
    EXPECT_FALSE(driver.TimedOut());
    EXPECT_EQ(CallsSince(from), (std::vector<std::string>{"kivo_get_backup(9)", "kivo_update_backup"}));
    EXPECT_EQ(window->m_lstBackup.GetItemText(1, 1), "改过的");
    EXPECT_EQ(window->m_lstBackup.GetItemText(0, 1), "first");
}

TEST_F(RuleCommands, ChangeOfARuleTheEngineDidNotReturnRefillsTheList) {
    Fakes().backupRules = {MakeBackupRule(8, 1, "first")};
    OpenLoggedIn();
    Fakes().backupRules[0].rule_id = 99;  // the row's id no longer names a rule: the fetch leaves zeros
    ModalDriver driver;
    std::wstring caption = L"修改备份规则 ID:0";
    driver.Until([&] { return FindDialog(caption) != nullptr; }).Then([&] {
        HWND editor = FindDialog(caption);
        Type(editor, IDC_DESCRIPTION, L"x");
        Type(editor, IDC_BACKUP_SOURCE, L"C:\\a");
        Type(editor, IDC_BACKUP_TARGET, L"C:\\b");
        Click(editor, IDOK);
    });
    size_t from = Fakes().calls.size();
    driver.Run([&] { return RightClick(IDC_BACKUP_LIST, {0}, IDM_EDIT_BACKUP_RULE).opened; });
    EXPECT_EQ(CallsSince(from),
              (std::vector<std::string>{"kivo_get_backup(8)", "kivo_update_backup",
                                        "kivo_get_backup_list(null)", "kivo_get_backup_list(buffer)"}));
    EXPECT_EQ(window->m_lstBackup.GetItemText(0, 0), "99");  // the engine's view, not a row of zeros
}

TEST_F(RuleCommands, NewRuleReachesTheListOnlyThroughTheRefill) {
    OpenLoggedIn();
    ModalDriver driver;
    driver.Until([] { return FindDialog(L"新增删除规则") != nullptr; }).Then([&] {
        HWND editor = FindDialog(L"新增删除规则");
        Type(editor, IDC_DESCRIPTION, L"新规则");
        Type(editor, IDC_CLEAR_PATH, L"C:\\logs");
        Fakes().clearRules = {MakeClearRule(30, 1, "新规则")};
        Click(editor, IDOK);
    });
    driver.Run([&] { return RightClick(IDC_CLEAR_LIST, {}, IDM_NEW_CLEAR_RULE).opened; });
    ASSERT_EQ(Fakes().addedClear.size(), 1u);
    EXPECT_EQ(Fakes().addedClear[0].enabled, 1);
    EXPECT_EQ(Fakes().addedClear[0].rule_id, 0);
    ASSERT_EQ(window->m_lstClear.GetItemCount(), 1);
    EXPECT_EQ(window->m_lstClear.GetItemText(0, 0), "30");
}

TEST_F(RuleCommands, ManualRestoreIsUnreachableWhileRunning) {
    OpenLoggedIn();
    Fakes().isRun = 1;
    ModalDriver driver;
    driver.Until([&] { return !::IsWindowEnabled(Item(IDC_MANUAL_RESTORE)); });
    driver.RunSteps();
    EXPECT_FALSE(driver.TimedOut());
    Fakes().isRun = 0;
    ModalDriver opens;
    opens.Until([&] { return ::IsWindowEnabled(Item(IDC_MANUAL_RESTORE)) != FALSE; })
        .Then([&] {
            Click(window->GetSafeHwnd(), IDC_MANUAL_RESTORE);
        })  // runs the dialog; later steps run inside it
        .Until([] { return FindDialog(L"手动备份与还原") != nullptr; })
        .Then(
            [] { PressKey(::GetDlgItem(FindDialog(L"手动备份与还原"), IDC_PICK_RESTORE_FILE), VK_ESCAPE); });
    opens.RunSteps();
    EXPECT_FALSE(opens.TimedOut());
    EXPECT_TRUE(Fakes().restores.empty());
}

}  // namespace
