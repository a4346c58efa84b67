#include <algorithm>

#include "main_window_fixture.h"

using namespace testing_support;

namespace {

int OuterWidth(HWND list) {
    RECT rect;
    ::GetWindowRect(list, &rect);
    return rect.right - rect.left;
}

std::vector<int> Widths(const CMyListCtrl& list) {
    std::vector<int> widths;
    for (int i = 0; i < list.m_nColumnCount; ++i) widths.push_back(list.GetColumnWidth(i));
    return widths;
}

using MainWindowFrame = MainWindowTest;

TEST_F(MainWindowFrame, ListsColumnsStylesAndCaption) {
    Open();
    EXPECT_EQ(window->GetText(), "备份与清理计划 v1.0");
    EXPECT_EQ(window->m_lstLog.m_nColumnCount, 2);
    EXPECT_EQ(window->m_lstClear.m_nColumnCount, 10);
    EXPECT_EQ(window->m_lstBackup.m_nColumnCount, 7);
    auto heading = [](const CMyListCtrl& list, int i) {
        wchar_t text[64] = {};
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_FMT;
        column.pszText = text;
        column.cchTextMax = 64;
        ::SendMessageW(list.GetSafeHwnd(), LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
        return std::pair<std::wstring, int>(text, column.fmt & LVCFMT_JUSTIFYMASK);
    };
    EXPECT_EQ(heading(window->m_lstLog, 0), std::make_pair(std::wstring(L"时间"), int(LVCFMT_CENTER)));
    EXPECT_EQ(heading(window->m_lstLog, 1), std::make_pair(std::wstring(L"内容"), int(LVCFMT_LEFT)));
    EXPECT_EQ(heading(window->m_lstClear, 9).first, L"按日期清理");
    EXPECT_EQ(heading(window->m_lstClear, 6).first, L"保存天数(0无效)");
    EXPECT_EQ(heading(window->m_lstBackup, 4).first, L"备份路径");

    const LONG logStyle = ::GetWindowLongW(Item(IDC_LOG_LIST), GWL_STYLE);
    EXPECT_EQ(logStyle & LVS_TYPEMASK, LVS_REPORT);
    EXPECT_TRUE(logStyle & LVS_OWNERDRAWFIXED);
    EXPECT_TRUE((window->m_lstLog.GetExtendedStyle() & 0x21) == 0x21);
    EXPECT_EQ(window->m_lstClear.GetExtendedStyle(), 0x21u);
    EXPECT_EQ(window->m_lstBackup.GetExtendedStyle(), 0x21u);

    LOGFONTW font{};
    ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(Item(IDC_LOG_LIST), WM_GETFONT, 0, 0)), sizeof font,
                 &font);
    EXPECT_EQ(font.lfHeight, 13);
    EXPECT_STREQ(font.lfFaceName, L"宋体");
    // The owner-drawn rows fit that font: the row height asked before WM_INITDIALOG was answered.
    RECT row{};
    window->m_lstLog.InsertItem(0, "x");
    ListView_GetItemRect(Item(IDC_LOG_LIST), 0, &row, LVIR_BOUNDS);
    EXPECT_EQ(row.bottom - row.top, window->m_lstLog.m_nRowHeight);
}

TEST_F(MainWindowFrame, LogFontRowsAndColumnWidthsFollowTheDisplaysDpi) {
    Fakes().settings["task_list_cfg/clearlst_1"] = 100;  // kept at 96 DPI
    HWND hwnd = Open();
    window->m_lstLog.InsertItem(0, "x");
    auto fontHeight = [&] {
        LOGFONTW font{};
        ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(Item(IDC_LOG_LIST), WM_GETFONT, 0, 0)),
                     sizeof font, &font);
        return font.lfHeight;
    };
    auto rowHeight = [&] {
        RECT row{};
        ListView_GetItemRect(Item(IDC_LOG_LIST), 0, &row, LVIR_BOUNDS);
        return row.bottom - row.top;
    };
    auto moveTo = [&](int dpi) {
        RECT window;
        ::GetWindowRect(hwnd, &window);
        ::SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&window));
    };
    const struct {
        int dpi, font, row, clearColumn;
    } steps[] = {
        {96, 13, 17, 100}, {144, 20, 26, 150}, {96, 13, 17, 100}, {192, 26, 34, 200}, {144, 20, 26, 150}};
    for (size_t i = 0; i < std::size(steps); ++i) {
        const auto& step = steps[i];
        if (i > 0) moveTo(step.dpi);  // the first is the display's own
        EXPECT_EQ(fontHeight(), step.font) << step.dpi;
        EXPECT_EQ(rowHeight(), step.row) << step.dpi;
        EXPECT_EQ(window->m_lstClear.GetColumnWidth(0), step.clearColumn) << step.dpi;
    }
    ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(Fakes().settings["task_list_cfg/clearlst_1"], 100);  // back at 96 DPI, for any display
}

TEST_F(MainWindowFrame, NoStoredWidthsGiveEqualShares) {
    Open();
    for (const CMyListCtrl* list : {&window->m_lstLog, &window->m_lstClear, &window->m_lstBackup}) {
        const int share = OuterWidth(list->GetSafeHwnd()) / list->m_nColumnCount;
        EXPECT_EQ(Widths(*list), std::vector<int>(size_t(list->m_nColumnCount), share));
    }
}

TEST_F(MainWindowFrame, StoredZeroFallsBackForThatColumnOnly) {
    for (int i = 1; i <= 10; ++i) Fakes().settings["task_list_cfg/clearlst_" + std::to_string(i)] = 40 + i;
    Fakes().settings["task_list_cfg/clearlst_3"] = 0;
    Open();
    const int share = OuterWidth(Item(IDC_CLEAR_LIST)) / 10;
    EXPECT_EQ(Widths(window->m_lstClear), (std::vector<int>{41, 42, share, 44, 45, 46, 47, 48, 49, 50}));
}

TEST_F(MainWindowFrame, ClosingWritesNineteenWidthsInOrder) {
    HWND hwnd = Open();
    window->m_lstClear.SetColumnWidth(3, 123);
    ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
    std::vector<std::string> keys;
    for (const auto& [key, value] : Fakes().settingWrites) keys.push_back(key);
    std::vector<std::string> expected = {"task_list_cfg/loglst_1", "task_list_cfg/loglst_2"};
    for (int i = 1; i <= 10; ++i) expected.push_back("task_list_cfg/clearlst_" + std::to_string(i));
    for (int i = 1; i <= 7; ++i) expected.push_back("task_list_cfg/backuplst_" + std::to_string(i));
    EXPECT_EQ(keys, expected);
    EXPECT_EQ(Fakes().settings["task_list_cfg/clearlst_4"], 123);
    EXPECT_FALSE(::IsWindowVisible(hwnd));
    EXPECT_EQ(window->m_pLogFont, nullptr);
}

TEST_F(MainWindowFrame, EnterEscapeAndHelpDoNothing) {
    HWND hwnd = Open();
    ::ShowWindow(hwnd, SW_SHOW);
    ModalDriver driver;
    LRESULT help = 0;
    driver.Then([&] { PressKey(Item(IDC_CLEAR_LIST), VK_RETURN); })
        .Then([&] { PressKey(Item(IDC_CLEAR_LIST), VK_ESCAPE); })
        .Then([&] {
            HELPINFO info{};
            info.cbSize = sizeof info;
            help = ::SendMessageW(hwnd, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
        });
    // Run the steps inside the main window's own loop, as the application does; the login is
    // left waiting because the test never lets WM_SHOW_LOGIN through a loop that ends.
    ::PeekMessageW(nullptr, hwnd, WM_SHOW_LOGIN, WM_SHOW_LOGIN, PM_REMOVE);
    driver.Then([&] { window->EndModalLoop(99); });
    EXPECT_EQ(driver.Run([&] { return window->RunModalLoop(); }), 99);
    EXPECT_TRUE(::IsWindowVisible(hwnd));
    EXPECT_EQ(help, TRUE);
    EXPECT_TRUE(Fakes().settingWrites.empty());  // nothing closed the window
}

TEST_F(MainWindowFrame, FirstTickStartsAutoRunOnceAndButtonsFollowTheEngine) {
    Open();
    auto autoRuns = [] { return std::count(Fakes().calls.begin(), Fakes().calls.end(), "kivo_auto_run"); };
    auto enabled = [&](int id) { return ::IsWindowEnabled(Item(id)) != FALSE; };
    bool startedBeforeLogin = false;
    bool buttonsBefore[3], buttonsRunning[3], buttonsStopped[3];
    DWORD since = 0;
    ModalDriver driver(15000);
    driver.Until([] { return FindDialog(kLoginCaptionW) != nullptr; })
        .Until([&] { return autoRuns() == 1; })
        .Then([&] {
            startedBeforeLogin = FindDialog(kLoginCaptionW) != nullptr;
            buttonsBefore[0] = enabled(IDC_AUTO_RUN), buttonsBefore[1] = enabled(IDC_STOP_RUN),
            buttonsBefore[2] = enabled(IDC_MANUAL_RESTORE);
            Fakes().isRun = 1;
        })
        .Until([&] { return enabled(IDC_STOP_RUN); })
        .Then([&] {
            buttonsRunning[0] = enabled(IDC_AUTO_RUN), buttonsRunning[1] = enabled(IDC_STOP_RUN),
            buttonsRunning[2] = enabled(IDC_MANUAL_RESTORE);
            // While the answer stays the same no button is touched: an enable by other code stays.
            ::EnableWindow(Item(IDC_AUTO_RUN), TRUE);
        })
        .Until([&] { return window->m_nRunState == 1; })
        .Then([&] { since = ::GetTickCount(); })
        .Until([&] { return ::GetTickCount() - since > 450; })  // a few ticks with the same answer
        .Then([&] {
            EXPECT_TRUE(enabled(IDC_AUTO_RUN));
            Fakes().isRun = 0;
        })
        .Until([&] { return !enabled(IDC_STOP_RUN); })
        .Then([&] {
            buttonsStopped[0] = enabled(IDC_AUTO_RUN), buttonsStopped[1] = enabled(IDC_STOP_RUN),
            buttonsStopped[2] = enabled(IDC_MANUAL_RESTORE);
            Click(FindDialog(kLoginCaptionW), IDCANCEL);
        });
    driver.RunSteps();
    ASSERT_FALSE(driver.TimedOut());
    EXPECT_TRUE(startedBeforeLogin);
    EXPECT_EQ(autoRuns(), 1);  // never again, also after the engine stopped
    EXPECT_TRUE(buttonsBefore[0] && !buttonsBefore[1] && buttonsBefore[2]);
    EXPECT_TRUE(!buttonsRunning[0] && buttonsRunning[1] && !buttonsRunning[2]);
    EXPECT_TRUE(buttonsStopped[0] && !buttonsStopped[1] && buttonsStopped[2]);
}

TEST_F(MainWindowFrame, LoginFillsCleanThenBackupList) {
    Fakes().clearRules = {MakeClearRule(1, 1, "c")};
    Fakes().backupRules = {MakeBackupRule(2, 1, "b")};
    OpenLoggedIn();
    std::vector<std::string> lists;
    for (const std::string& call : Fakes().calls) {
        if (call.find("_list(") != std::string::npos) lists.push_back(call);
    }
    EXPECT_EQ(lists,
              (std::vector<std::string>{"kivo_get_clear_list(null)", "kivo_get_clear_list(buffer)",
                                        "kivo_get_backup_list(null)", "kivo_get_backup_list(buffer)"}));
    EXPECT_EQ(window->m_lstClear.GetItemCount(), 1);
    EXPECT_EQ(window->m_lstBackup.GetItemCount(), 1);
    EXPECT_TRUE(window->IsVisible());
}

TEST_F(MainWindowFrame, CancelledLoginClosesWithoutFillingAndSavesWidths) {
    Fakes().clearRules = {MakeClearRule(1, 1, "c")};
    HWND hwnd = Open();
    ModalDriver driver;
    driver.Until([] { return FindDialog(kLoginCaptionW) != nullptr; })
        .Then([] { PressKey(::GetDlgItem(FindDialog(kLoginCaptionW), IDC_LOGIN_USER), VK_ESCAPE); })
        .Until([] { return FindDialog(kLoginCaptionW) == nullptr; });
    driver.RunSteps();
    EXPECT_FALSE(driver.TimedOut());
    EXPECT_EQ(window->m_lstClear.GetItemCount(), 0);
    EXPECT_EQ(Fakes().settingWrites.size(), 19u);
    EXPECT_FALSE(::IsWindowVisible(hwnd));
    EXPECT_EQ(std::count(Fakes().calls.begin(), Fakes().calls.end(), "login"), 0);
}

}  // namespace
