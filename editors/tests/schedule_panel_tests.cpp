// The schedule panel, hosted as its editors host it.
#include <set>

#include "CBackupDlg.h"
#include "dialog_test_support.h"
#include "resource.h"

namespace editors_testing {
namespace {

class SchedulePanel : public DialogTest {
  protected:
    void Open() {
        editor.m_bNewRule = true;
        editor.m_rule.enabled = 1;
        dialog = ShowModeless(editor, IDD_BACKUP_RULE);
        panel = editor.m_pSchedulePanel.get();
        hwnd = panel->GetSafeHwnd();
    }
    bool Checked(int id) const { return ::IsDlgButtonChecked(hwnd, id) == BST_CHECKED; }
    HWND Item(int id) const { return ::GetDlgItem(hwnd, id); }
    // Pixels of a dialog-unit y coordinate in the panel.
    int PanelY(int y) const {
        RECT rect{0, y, 0, y};
        ::MapDialogRect(hwnd, &rect);
        return rect.top;
    }
    std::set<int> ModeControlsShown() const {
        std::set<int> shown;
        for (int id = IDC_WEEKDAY_FIRST; id <= IDC_DAY; ++id) {
            if (HasVisibleStyle(hwnd, id)) shown.insert(id);
        }
        return shown;
    }
    void Sends(int id, const std::wstring& text) { Type(hwnd, id, text); }

    CBackupDlg editor;
    CRunTimeDlg* panel = nullptr;
    HWND dialog = nullptr;
    HWND hwnd = nullptr;
};

TEST_F(SchedulePanel, StartsAsEveryFifteenMinutesWithMidnightAndDayOneBehind) {
    Open();
    EXPECT_EQ(panel->m_nMode, 0);
    EXPECT_TRUE(Checked(IDC_MODE_INTERVAL));
    EXPECT_FALSE(Checked(IDC_MODE_DAILY) || Checked(IDC_MODE_WEEKLY) || Checked(IDC_MODE_MONTHLY));
    EXPECT_EQ(TextOf(hwnd, IDC_INTERVAL), L"15");
    EXPECT_EQ(TextOf(hwnd, IDC_HOUR), L"00");
    EXPECT_EQ(TextOf(hwnd, IDC_MINUTE), L"00");
    EXPECT_EQ(TextOf(hwnd, IDC_DAY), L"1");
    EXPECT_EQ(panel->m_strHour, "00");
    EXPECT_EQ(panel->m_strMinute, "00");
    EXPECT_EQ(panel->m_strDay, "1");
    for (int id = IDC_WEEKDAY_FIRST; id <= IDC_WEEKDAY_LAST; ++id) EXPECT_FALSE(Checked(id)) << id;
    for (int id : {IDC_HOUR, IDC_MINUTE, IDC_DAY})
        EXPECT_EQ(::SendMessageW(Item(id), EM_GETLIMITTEXT, 0, 0), 2) << id;
    EXPECT_EQ(panel->m_nTimeRowTop, PanelY(110));
}

TEST_F(SchedulePanel, SitsOnThePlaceholderAtItsOwnSize) {
    Open();
    const RECT placeholder = ClientRectIn(::GetDlgItem(dialog, IDC_PANEL_PLACEHOLDER), dialog);
    const RECT placed = ClientRectIn(hwnd, dialog);
    EXPECT_EQ(placed.left, placeholder.left);
    EXPECT_EQ(placed.top, placeholder.top);
    RECT size{0, 0, 166, 156};
    ::MapDialogRect(hwnd, &size);
    EXPECT_EQ(placed.right - placed.left, size.right);
    EXPECT_EQ(placed.bottom - placed.top, size.bottom);
    EXPECT_TRUE(::IsWindowVisible(hwnd));
    EXPECT_TRUE(::GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD);
    EXPECT_EQ(::GetParent(hwnd), dialog);
}

TEST_F(SchedulePanel, EachModeShowsExactlyItsControlsWithTheTimeRowAtItsHeight) {
    Open();
    const std::set<int> timeRow{IDC_TIME_LABEL, IDC_HOUR, IDC_HOUR_LABEL, IDC_MINUTE, IDC_MINUTE_LABEL};
    std::set<int> weekly(timeRow);
    for (int id = IDC_WEEKDAY_FIRST; id <= IDC_WEEKDAY_LAST; ++id) weekly.insert(id);
    std::set<int> monthly(timeRow);
    monthly.insert({IDC_DAY_LABEL, IDC_DAY});
    const struct {
        int radio, mode;
        std::set<int> shown;
        int rowTop;  // dialog units; 0: the row is hidden
    } cases[] = {
        {IDC_MODE_DAILY, 1, timeRow, 54},   {IDC_MODE_WEEKLY, 2, weekly, 110},
        {IDC_MODE_MONTHLY, 3, monthly, 71}, {IDC_MODE_INTERVAL, 0, {IDC_INTERVAL_LABEL, IDC_INTERVAL}, 0},
        {IDC_MODE_MONTHLY, 3, monthly, 71},  // any mode may follow any other
        {IDC_MODE_DAILY, 1, timeRow, 54},   {IDC_MODE_WEEKLY, 2, weekly, 110},
    };
    for (const auto& c : cases) {
        ::CheckRadioButton(hwnd, IDC_MODE_INTERVAL, IDC_MODE_MONTHLY, c.radio);
        Click(hwnd, c.radio);
        EXPECT_EQ(panel->m_nMode, c.mode);
        EXPECT_EQ(ModeControlsShown(), c.shown) << "mode " << c.mode;
        if (c.rowTop == 0) continue;
        for (int id : timeRow)
            EXPECT_EQ(TopOf(Item(id)), PanelY(c.rowTop)) << "mode " << c.mode << " control " << id;
        // The row keeps its columns.
        RECT column{99, 0, 0, 0};
        ::MapDialogRect(hwnd, &column);
        EXPECT_EQ(ClientRectIn(Item(IDC_HOUR), hwnd).left, column.left);
    }
}

TEST_F(SchedulePanel, GuardsPutBackTheLastAcceptedTextSelected) {
    Open();
    const struct {
        int id;
        const wchar_t* typed;
        const wchar_t* shown;
        std::string CRunTimeDlg::*member;
        const char* memberAfter;
    } cases[] = {
        {IDC_HOUR, L"2", L"2", &CRunTimeDlg::m_strHour, "2"},
        {IDC_HOUR, L"24", L"2", &CRunTimeDlg::m_strHour, "2"},
        {IDC_HOUR, L"23", L"23", &CRunTimeDlg::m_strHour, "23"},
        {IDC_HOUR, L"", L"", &CRunTimeDlg::m_strHour, ""},  // empty counts as 0
        {IDC_MINUTE, L"5", L"5", &CRunTimeDlg::m_strMinute, "5"},
        {IDC_MINUTE, L"60", L"5", &CRunTimeDlg::m_strMinute, "5"},
        {IDC_MINUTE, L"59", L"59", &CRunTimeDlg::m_strMinute, "59"},
        {IDC_DAY, L"3", L"3", &CRunTimeDlg::m_strDay, "3"},
        {IDC_DAY, L"0", L"3", &CRunTimeDlg::m_strDay, "3"},
        {IDC_DAY, L"32", L"3", &CRunTimeDlg::m_strDay, "3"},
        {IDC_DAY, L"", L"3", &CRunTimeDlg::m_strDay, "3"},
        {IDC_DAY, L"31", L"31", &CRunTimeDlg::m_strDay, "31"},
    };
    for (const auto& c : cases) {
        Sends(c.id, c.typed);
        EXPECT_EQ(TextOf(hwnd, c.id), c.shown)
            << c.id << " typed " << testing::PrintToString(std::wstring(c.typed));
        EXPECT_EQ(panel->*c.member, c.memberAfter) << c.id;
        if (std::wstring(c.typed) != c.shown) {
            EXPECT_TRUE(WholeTextSelected(Item(c.id))) << c.id;
        }
    }
    // An accepted change stores all three edits at once.
    EXPECT_EQ(std::make_tuple(panel->m_strHour, panel->m_strMinute, panel->m_strDay),
              std::make_tuple(std::string(""), std::string("59"), std::string("31")));
}

TEST_F(SchedulePanel, ValuesSurviveModeChangesAndOnlyTheActiveModeIsGathered) {
    Open();
    Sends(IDC_INTERVAL, L"30");
    Click(hwnd, IDC_MODE_WEEKLY);
    ::CheckDlgButton(hwnd, IDC_WEEKDAY_FIRST, BST_CHECKED);
    ::CheckDlgButton(hwnd, IDC_WEEKDAY_LAST, BST_CHECKED);
    Sends(IDC_HOUR, L"8");
    Click(hwnd, IDC_MODE_MONTHLY);
    Sends(IDC_DAY, L"12");
    Click(hwnd, IDC_MODE_DAILY);

    RunSchedule daily{};
    ASSERT_TRUE(panel->GatherSchedule(daily));
    EXPECT_EQ(Bytes(daily), Bytes(RunSchedule{0, 0, 0, 800}));
    Click(hwnd, IDC_MODE_WEEKLY);
    RunSchedule weekly{};
    ASSERT_TRUE(panel->GatherSchedule(weekly));
    EXPECT_EQ(Bytes(weekly), Bytes(RunSchedule{0, 0, 0x41, 800}));
    Click(hwnd, IDC_MODE_MONTHLY);
    RunSchedule monthly{};
    ASSERT_TRUE(panel->GatherSchedule(monthly));
    EXPECT_EQ(Bytes(monthly), Bytes(RunSchedule{0, 12, 0, 800}));
    Click(hwnd, IDC_MODE_INTERVAL);
    RunSchedule interval{};
    ASSERT_TRUE(panel->GatherSchedule(interval));
    EXPECT_EQ(Bytes(interval), Bytes(RunSchedule{30, 0, 0, 0}));
    EXPECT_TRUE(services.messages.empty());
}

TEST_F(SchedulePanel, IntervalFaultsAreWarningsOnTheIntervalEdit) {
    Open();
    const struct {
        const wchar_t* typed;
        const char* message;
        bool selected;
    } cases[] = {
        {L"", "请输入间隔时长.", false},
        {L"0", "间隔时长区间[1,1440]，请重新输入", true},
        {L"1441", "间隔时长区间[1,1440]，请重新输入", true},
        {L"65537", "间隔时长区间[1,1440]，请重新输入", true},
        {L"99999999999", "间隔时长区间[1,1440]，请重新输入", true},
    };
    for (const auto& c : cases) {
        services.messages.clear();
        ::SetFocus(::GetDlgItem(dialog, IDC_DESCRIPTION));
        Sends(IDC_INTERVAL, c.typed);
        RunSchedule out{7, 7, 7, 7};
        EXPECT_FALSE(panel->GatherSchedule(out));
        ASSERT_EQ(services.messages.size(), 1u);
        EXPECT_EQ(services.messages[0].text, c.message);
        EXPECT_EQ(services.messages[0].caption, "警告");
        EXPECT_EQ(services.messages[0].type, kInfoOk);
        EXPECT_EQ(services.messages[0].owner, dialog);
        EXPECT_EQ(::GetFocus(), Item(IDC_INTERVAL));
        if (c.selected) {
            EXPECT_TRUE(WholeTextSelected(Item(IDC_INTERVAL)));
        }
    }
}

TEST_F(SchedulePanel, WeeklyWithoutADayIsAnErrorThatLeavesTheFocus) {
    Open();
    Click(hwnd, IDC_MODE_WEEKLY);
    ::SetFocus(::GetDlgItem(dialog, IDC_DESCRIPTION));
    RunSchedule out{};
    EXPECT_FALSE(panel->GatherSchedule(out));
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0].text, "最少选择一天.");
    EXPECT_EQ(services.messages[0].caption, "错误");
    EXPECT_EQ(services.messages[0].type, kInfoOk);
    EXPECT_EQ(::GetFocus(), ::GetDlgItem(dialog, IDC_DESCRIPTION));
}

TEST_F(SchedulePanel, LoadingShowsTheModeThatPrecedenceGives) {
    Open();
    ::CheckDlgButton(hwnd, IDC_WEEKDAY_FIRST + 2, BST_CHECKED);
    panel->LoadSchedule(RunSchedule{30, 0, 0, 0});
    EXPECT_EQ(panel->m_nMode, 0);
    EXPECT_TRUE(Checked(IDC_MODE_INTERVAL));
    EXPECT_EQ(TextOf(hwnd, IDC_INTERVAL), L"30");
    EXPECT_TRUE(Checked(IDC_WEEKDAY_FIRST + 2));  // interval leaves the weekday boxes alone

    panel->LoadSchedule(RunSchedule{0, 0, 127, 630});
    EXPECT_EQ(panel->m_nMode, 2);
    EXPECT_TRUE(Checked(IDC_MODE_WEEKLY));
    EXPECT_FALSE(Checked(IDC_MODE_INTERVAL));
    for (int id = IDC_WEEKDAY_FIRST; id <= IDC_WEEKDAY_LAST; ++id) EXPECT_TRUE(Checked(id)) << id;
    EXPECT_EQ(TextOf(hwnd, IDC_HOUR), L"06");
    EXPECT_EQ(TextOf(hwnd, IDC_MINUTE), L"30");
    EXPECT_EQ(TextOf(hwnd, IDC_INTERVAL), L"30");  // the interval edit keeps its text
    EXPECT_EQ(TextOf(hwnd, IDC_DAY), L"1");        // no month day: the day stays valid

    panel->LoadSchedule(RunSchedule{0, 31, 3, 830});
    EXPECT_EQ(panel->m_nMode, 3);
    EXPECT_TRUE(Checked(IDC_MODE_MONTHLY));
    EXPECT_FALSE(Checked(IDC_MODE_WEEKLY));
    EXPECT_EQ(TextOf(hwnd, IDC_DAY), L"31");
    EXPECT_EQ(panel->m_strDay, "31");
    EXPECT_TRUE(Checked(IDC_WEEKDAY_FIRST) && Checked(IDC_WEEKDAY_FIRST + 1) &&
                !Checked(IDC_WEEKDAY_FIRST + 2));

    panel->LoadSchedule(RunSchedule{0, 0, 0, 2359});
    EXPECT_EQ(panel->m_nMode, 1);
    EXPECT_TRUE(Checked(IDC_MODE_DAILY));
    EXPECT_EQ(std::make_pair(panel->m_strHour, panel->m_strMinute),
              std::make_pair(std::string("23"), std::string("59")));
}

TEST_F(SchedulePanel, WeeklyRuleSwitchedToMonthlyKeepsAValidDay) {
    editor.m_rule.schedule = RunSchedule{0, 0, 0x04, 900};
    Open();
    panel->LoadSchedule(editor.m_rule.schedule);
    Click(hwnd, IDC_MODE_MONTHLY);
    RunSchedule out{};
    ASSERT_TRUE(panel->GatherSchedule(out));
    EXPECT_EQ(Bytes(out), Bytes(RunSchedule{0, 1, 0, 900}));  // monthly on day 1, never a silent daily run
}

// Keys need the editor's modal loop: they travel through the PreTranslateMessage chain.
class SchedulePanelKeys : public DialogTest {
  protected:
    INT_PTR Run(ModalDriver& driver) {
        editor.m_bNewRule = true;
        editor.m_rule.enabled = 1;
        return driver.Run([&] { return editor.DoModal(); });
    }
    HWND PanelItem(int id) const { return ::GetDlgItem(editor.m_pSchedulePanel->GetSafeHwnd(), id); }
    HWND EditorItem(int id) const { return ::GetDlgItem(editor.GetSafeHwnd(), id); }
    CBackupDlg editor;
};

TEST_F(SchedulePanelKeys, EnterInThePanelSavesThroughTheEditor) {
    services.folders = {L"C:\\src", L"D:\\dst"};
    ModalDriver driver;
    driver
        .Then([&] {
            Type(editor.GetSafeHwnd(), IDC_DESCRIPTION, L"d");
            Click(editor.GetSafeHwnd(), IDC_PICK_PATH);
            Click(editor.GetSafeHwnd(), IDC_PICK_BACKUP_TARGET);
            PressKey(PanelItem(IDC_INTERVAL), VK_RETURN);
        })
        .Then([] {});
    EXPECT_EQ(Run(driver), IDOK);
    EXPECT_EQ(Fakes().calls, std::vector<std::string>{"kivo_add_backup"});
}

TEST_F(SchedulePanelKeys, EscapeInThePanelCancelsTheEditorAndSendsNothing) {
    ModalDriver driver;
    bool panelVisibleBefore = false;
    driver.Then([&] {
        panelVisibleBefore = ::IsWindowVisible(editor.m_pSchedulePanel->GetSafeHwnd());
        PressKey(PanelItem(IDC_INTERVAL), VK_ESCAPE);
    });
    EXPECT_EQ(Run(driver), IDCANCEL);
    EXPECT_TRUE(panelVisibleBefore);
    EXPECT_TRUE(Fakes().calls.empty());
    EXPECT_TRUE(services.messages.empty());
}

TEST_F(SchedulePanelKeys, TabLeavesThePanelOnlyFromItsLastField) {
    ModalDriver driver;
    HWND afterInterval = nullptr, afterHour = nullptr, afterMinute = nullptr, description = nullptr,
         minute = nullptr;
    driver
        .Then([&] {
            description = EditorItem(IDC_DESCRIPTION);
            minute = PanelItem(IDC_MINUTE);
            PressKey(PanelItem(IDC_INTERVAL), VK_TAB);
        })
        .Then([&] {
            afterInterval = ::GetFocus();
            Click(editor.m_pSchedulePanel->GetSafeHwnd(), IDC_MODE_DAILY);
            PressKey(PanelItem(IDC_HOUR), VK_TAB);
        })
        .Then([&] {
            afterHour = ::GetFocus();
            PressKey(PanelItem(IDC_MINUTE), VK_TAB);
        })
        .Then([&] {
            afterMinute = ::GetFocus();
            Click(editor.GetSafeHwnd(), IDCANCEL);
        });
    EXPECT_EQ(Run(driver), IDCANCEL);
    EXPECT_NE(description, nullptr);
    EXPECT_EQ(afterInterval, description);  // the editor's tab order goes on after the panel
    EXPECT_EQ(afterHour, minute);           // inside the panel, the panel's own order
    EXPECT_EQ(afterMinute, description);
}

}  // namespace
}  // namespace editors_testing
