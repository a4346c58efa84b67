// The clean-rule editor with a fake engine, fake pickers and a fake message box.
#include <cstring>

#include "CClearDlg.h"
#include "dialog_test_support.h"
#include "resource.h"

namespace editors_testing {
namespace {

ClearRule StoredRule() {
    ClearRule rule{};
    rule.rule_id = 4;
    rule.enabled = 1;
    rule.keep_days = 30;
    rule.min_free_percent = 20;
    rule.schedule = RunSchedule{0, 0, 0x1F, 200};
    std::strcpy(rule.description, "清理日志");
    std::strcpy(rule.path, "C:\\logs");
    std::strcpy(rule.name_filter, "tmp,log");
    std::strcpy(rule.size_range, "10,2000");
    std::strcpy(rule.date_range, "19700101,20991230");
    std::strcpy(rule.time_range, "0930,1745");
    return rule;
}

class ClearEditor : public RuleEditorTest<CClearDlg> {
  protected:
    ClearEditor() : RuleEditorTest(IDD_CLEAR_RULE, "新增删除规则", "修改删除规则 ID:4") {}

    void FillRequired() {
        Type(dialog, IDC_DESCRIPTION, L"清理");
        services.folders.push_back(L"C:\\logs");
        Click(dialog, IDC_PICK_PATH);
    }
    void Tick(bool ticked) {
        ::CheckDlgButton(dialog, IDC_FREE_SPACE_CHECK, ticked ? BST_CHECKED : BST_UNCHECKED);
        Click(dialog, IDC_FREE_SPACE_CHECK);
    }
    void Times(const wchar_t* h1, const wchar_t* m1, const wchar_t* h2, const wchar_t* m2) {
        Type(dialog, IDC_START_HOUR, h1);
        Type(dialog, IDC_START_MINUTE, m1);
        Type(dialog, IDC_END_HOUR, h2);
        Type(dialog, IDC_END_MINUTE, m2);
    }
};

TEST_F(ClearEditor, FullRuleReachesTheEngineByteForByte) {
    NewRule();
    ModalDriver driver;
    driver.Then([&] {
        dialog = editor.GetSafeHwnd();
        FillRequired();
        Tick(true);
        Type(dialog, IDC_FREE_SPACE_PERCENT, L"20");
        Type(dialog, IDC_NAME_FILTER, L"tmp,日志");
        Type(dialog, IDC_MIN_SIZE, L"10");
        Type(dialog, IDC_MAX_SIZE, L"2000");
        Type(dialog, IDC_START_DATE, L"20240101");
        Type(dialog, IDC_END_DATE, L"0");
        Times(L"08", L"00", L"18", L"30");
        Type(dialog, IDC_KEEP_DAYS, L"30");
        const HWND panel = editor.m_pSchedulePanel->GetSafeHwnd();
        Click(panel, IDC_MODE_WEEKLY);
        for (int id = IDC_WEEKDAY_FIRST; id < IDC_WEEKDAY_FIRST + 5; ++id)
            ::CheckDlgButton(panel, id, BST_CHECKED);
        Type(panel, IDC_HOUR, L"2");
        Click(dialog, IDOK);
    });
    EXPECT_EQ(driver.Run([&] { return editor.DoModal(); }), IDOK);

    ClearRule expected{};
    expected.enabled = 1;
    expected.keep_days = 30;
    expected.min_free_percent = 20;
    expected.schedule = RunSchedule{0, 0, 0x1F, 200};
    std::memcpy(expected.description, "清理", 4);
    std::memcpy(expected.path, "C:\\logs", 7);
    std::memcpy(expected.name_filter, "tmp,日志", 8);
    std::memcpy(expected.size_range, "10,2000", 7);
    std::memcpy(expected.date_range, "20240101,20991230", 17);
    std::memcpy(expected.time_range, "0800,1830", 9);
    EXPECT_EQ(Fakes().calls, std::vector<std::string>{"kivo_add_clear"});
    ASSERT_EQ(Fakes().addedClear.size(), 1u);
    EXPECT_EQ(Bytes(Fakes().addedClear[0]), Bytes(expected));
    EXPECT_TRUE(services.messages.empty());
}

TEST_F(ClearEditor, DescriptionAndPathOnlyGiveTheEmptyConditions) {
    NewRule();
    Open();
    FillRequired();
    Type(dialog, IDC_FREE_SPACE_PERCENT, L"3");  // hidden and unticked: ignored
    Click(dialog, IDOK);

    ClearRule expected{};
    expected.enabled = 1;
    expected.schedule.interval_minutes = 15;
    std::memcpy(expected.description, "清理", 4);
    std::memcpy(expected.path, "C:\\logs", 7);
    ASSERT_EQ(Fakes().addedClear.size(), 1u);
    EXPECT_EQ(Bytes(Fakes().addedClear[0]), Bytes(expected));
}

TEST_F(ClearEditor, StartsWithItsDefaultsAndLimits) {
    NewRule();
    Open();
    for (int id : {IDC_KEEP_DAYS, IDC_MIN_SIZE, IDC_MAX_SIZE, IDC_START_DATE, IDC_END_DATE}) {
        EXPECT_EQ(TextOf(dialog, id), L"0") << id;
    }
    for (int id : {IDC_START_HOUR, IDC_START_MINUTE, IDC_END_HOUR, IDC_END_MINUTE}) {
        EXPECT_EQ(TextOf(dialog, id), L"00") << id;
        EXPECT_EQ(::SendMessageW(Item(id), EM_GETLIMITTEXT, 0, 0), 2) << id;
    }
    for (int id : {IDC_START_DATE, IDC_END_DATE})
        EXPECT_EQ(::SendMessageW(Item(id), EM_GETLIMITTEXT, 0, 0), 8) << id;
    EXPECT_EQ(TextOf(dialog, IDC_FREE_SPACE_PERCENT), L"10");
    EXPECT_FALSE(HasVisibleStyle(dialog, IDC_FREE_SPACE_PERCENT));
    EXPECT_TRUE(HasStyle(dialog, IDC_CLEAR_PATH, ES_READONLY));
    EXPECT_EQ(std::make_tuple(editor.m_strStartHour, editor.m_strStartMinute, editor.m_strEndHour,
                              editor.m_strEndMinute, editor.m_strStartDate, editor.m_strEndDate),
              std::make_tuple("00", "00", "00", "00", "0", "0"));
    wchar_t caption[64] = {};
    ::GetWindowTextW(dialog, caption, 64);
    EXPECT_EQ(std::wstring(caption), L"新增删除规则");
    const RECT placeholder = ClientRectIn(Item(IDC_PANEL_PLACEHOLDER), dialog);
    const RECT panel = ClientRectIn(editor.m_pSchedulePanel->GetSafeHwnd(), dialog);
    EXPECT_EQ(std::make_pair(panel.left, panel.top), std::make_pair(placeholder.left, placeholder.top));
}

TEST_F(ClearEditor, LoadShowsEveryFieldAndTheTimesAsHoursAndMinutes) {
    ExistingRule(StoredRule());
    Open();
    EXPECT_EQ(TextOf(dialog, IDC_DESCRIPTION), L"清理日志");
    EXPECT_EQ(TextOf(dialog, IDC_CLEAR_PATH), L"C:\\logs");
    EXPECT_TRUE(::IsDlgButtonChecked(dialog, IDC_FREE_SPACE_CHECK));
    EXPECT_TRUE(HasVisibleStyle(dialog, IDC_FREE_SPACE_PERCENT));
    EXPECT_EQ(TextOf(dialog, IDC_FREE_SPACE_PERCENT), L"20");
    EXPECT_EQ(TextOf(dialog, IDC_KEEP_DAYS), L"30");
    EXPECT_EQ(TextOf(dialog, IDC_NAME_FILTER), L"tmp,log");
    EXPECT_EQ(TextOf(dialog, IDC_MIN_SIZE), L"10");
    EXPECT_EQ(TextOf(dialog, IDC_MAX_SIZE), L"2000");
    EXPECT_EQ(TextOf(dialog, IDC_START_DATE), L"19700101");
    EXPECT_EQ(TextOf(dialog, IDC_END_DATE), L"20991230");
    EXPECT_EQ(TextOf(dialog, IDC_START_HOUR), L"09");
    EXPECT_EQ(TextOf(dialog, IDC_START_MINUTE), L"30");
    EXPECT_EQ(TextOf(dialog, IDC_END_HOUR), L"17");
    EXPECT_EQ(TextOf(dialog, IDC_END_MINUTE), L"45");
    EXPECT_EQ(editor.m_pSchedulePanel->m_nMode, 2);
}

TEST_F(ClearEditor, LoadingDoesNotRunTheTimeGuard) {
    ClearRule rule = StoredRule();
    std::strcpy(rule.time_range, "2500,2575");  // damaged: the guard would have refused both
    ExistingRule(rule);
    Open();
    EXPECT_EQ(TextOf(dialog, IDC_START_HOUR), L"25");
    EXPECT_EQ(TextOf(dialog, IDC_END_MINUTE), L"75");
    // A refused change puts back the loaded text once, without bouncing.
    Type(dialog, IDC_START_HOUR, L"26");
    EXPECT_EQ(TextOf(dialog, IDC_START_HOUR), L"25");
}

TEST_F(ClearEditor, LoadAndGatherRoundTrip) {
    const ClearRule stored = StoredRule();
    ClearRule emptyRanges = StoredRule();
    emptyRanges.min_free_percent = 0;
    std::memset(emptyRanges.name_filter, 0, 32);
    std::memset(emptyRanges.size_range, 0, 32);
    std::memset(emptyRanges.date_range, 0, 32);
    std::memset(emptyRanges.time_range, 0, 32);
    emptyRanges.schedule = RunSchedule{0, 28, 0, 0};
    for (const ClearRule& rule : {stored, emptyRanges}) {
        ResetFakes();
        CClearDlg dlg;
        dlg.m_rule = rule;
        ShowModeless(dlg, IDD_CLEAR_RULE);
        Click(dlg.GetSafeHwnd(), IDOK);
        ASSERT_EQ(Fakes().updatedClear.size(), 1u);
        EXPECT_EQ(Bytes(Fakes().updatedClear[0]), Bytes(rule));
        EXPECT_EQ(Fakes().calls, std::vector<std::string>{"kivo_update_clear"});
    }
}

TEST_F(ClearEditor, TimeGuardPutsBackTheLastAcceptedText) {
    NewRule();
    Open();
    const struct {
        int id;
        const wchar_t* typed;
        const wchar_t* shown;
        std::string CClearDlg::*member;
        const char* memberAfter;
    } cases[] = {
        {IDC_START_HOUR, L"2", L"2", &CClearDlg::m_strStartHour, "2"},
        {IDC_START_HOUR, L"27", L"2", &CClearDlg::m_strStartHour, "2"},
        {IDC_START_HOUR, L"23", L"23", &CClearDlg::m_strStartHour, "23"},
        {IDC_END_HOUR, L"24", L"00", &CClearDlg::m_strEndHour, "00"},
        {IDC_START_MINUTE, L"60", L"00", &CClearDlg::m_strStartMinute, "00"},
        {IDC_END_MINUTE, L"59", L"59", &CClearDlg::m_strEndMinute, "59"},
        {IDC_END_HOUR, L"", L"", &CClearDlg::m_strEndHour, ""},
        {IDC_END_HOUR, L"30", L"", &CClearDlg::m_strEndHour, ""},  // the last accepted text may be empty
    };
    for (const auto& c : cases) {
        Type(dialog, c.id, c.typed);
        EXPECT_EQ(TextOf(dialog, c.id), c.shown) << c.id;
        EXPECT_EQ(editor.*c.member, c.memberAfter) << c.id;
        if (std::wstring(c.typed) != c.shown) {
            EXPECT_TRUE(WholeTextSelected(Item(c.id))) << c.id;
        }
    }
    // An accepted change stores all six exchanged edits.
    Type(dialog, IDC_START_DATE, L"20240101");
    EXPECT_EQ(editor.m_strStartDate, "0");
    Type(dialog, IDC_START_MINUTE, L"1");
    EXPECT_EQ(editor.m_strStartDate, "20240101");
}

TEST_F(ClearEditor, PercentBoxShowsItsEditFocusedAndHidingKeepsTheText) {
    NewRule();
    Open();
    Tick(true);
    EXPECT_TRUE(HasVisibleStyle(dialog, IDC_FREE_SPACE_PERCENT));
    EXPECT_EQ(::GetFocus(), Item(IDC_FREE_SPACE_PERCENT));
    EXPECT_TRUE(WholeTextSelected(Item(IDC_FREE_SPACE_PERCENT)));
    Type(dialog, IDC_FREE_SPACE_PERCENT, L"35");
    Tick(false);
    EXPECT_FALSE(HasVisibleStyle(dialog, IDC_FREE_SPACE_PERCENT));
    EXPECT_EQ(TextOf(dialog, IDC_FREE_SPACE_PERCENT), L"35");
    Tick(true);
    EXPECT_EQ(TextOf(dialog, IDC_FREE_SPACE_PERCENT), L"35");
}

TEST_F(ClearEditor, ChecksRunInOrderWithTheirMessagesAndFocus) {
    NewRule();
    Open();
    const HWND panel = editor.m_pSchedulePanel->GetSafeHwnd();
    Click(panel, IDC_MODE_WEEKLY);
    struct Step {
        const char* name;
        std::function<void()> input;
        const char* message;
        int focus;  // 0: unchanged
        bool selected;
    };
    const Step steps[] = {
        {"panel first", [] {}, "最少选择一天.", 0, false},
        {"description", [&] { ::CheckDlgButton(panel, IDC_WEEKDAY_FIRST, BST_CHECKED); }, "请输入规则描述.",
         IDC_DESCRIPTION, false},
        {"description 32 bytes", [&] { Type(dialog, IDC_DESCRIPTION, std::wstring(32, L'd')); },
         "规则描述长度超过限制范围，请重新输入.", IDC_DESCRIPTION, true},
        {"path", [&] { Type(dialog, IDC_DESCRIPTION, std::wstring(31, L'd')); }, "请选择监视路径.",
         IDC_PICK_PATH, false},
        {"path 256 bytes", [&] { Type(dialog, IDC_CLEAR_PATH, std::wstring(256, L'p')); },
         "路径长度超过限制范围，请重新选择路径.", IDC_PICK_PATH, false},
        {"percent 4",
         [&] {
             Type(dialog, IDC_CLEAR_PATH, std::wstring(255, L'p'));
             Tick(true);
             Type(dialog, IDC_FREE_SPACE_PERCENT, L"4");
         },
         "磁盘剩余空间区间[5,95]，请重新输入.", IDC_FREE_SPACE_PERCENT, true},
        {"percent 96", [&] { Type(dialog, IDC_FREE_SPACE_PERCENT, L"96"); },
         "磁盘剩余空间区间[5,95]，请重新输入.", IDC_FREE_SPACE_PERCENT, true},
        {"name filter 32 bytes",
         [&] {
             Type(dialog, IDC_FREE_SPACE_PERCENT, L"95");
             Type(dialog, IDC_NAME_FILTER, std::wstring(16, L'汉'));
         },
         "名称过滤字段最长32字节，请重新输入.", IDC_NAME_FILTER, true},
        {"start date",
         [&] {
             Type(dialog, IDC_NAME_FILTER, std::wstring(15, L'汉'));
             Type(dialog, IDC_START_DATE, L"19700100");
             Type(dialog, IDC_END_DATE, L"20991231");
         },
         "日期区间[19700101,20991230]，请重新输入.", IDC_START_DATE, true},
        {"end date", [&] { Type(dialog, IDC_START_DATE, L"20240102"); },
         "日期区间[19700101,20991230]，请重新输入.", IDC_END_DATE, true},
        {"date order", [&] { Type(dialog, IDC_END_DATE, L"20240101"); },
         "开始日期必须小于结束日期，请重新输入.", IDC_START_DATE, true},
        {"time order",
         [&] {
             Type(dialog, IDC_END_DATE, L"20240102");
             Times(L"22", L"00", L"02", L"00");
         },
         "开始时间必须小于结束时间，请重新输入.", IDC_START_HOUR, true},
        {"size order",
         [&] {
             Type(dialog, IDC_END_HOUR, L"22");
             Type(dialog, IDC_MIN_SIZE, L"100");
         },
         "文件大小最小值必须小于最大值，请重新输入.", IDC_MIN_SIZE, true},
    };
    for (const Step& step : steps) {
        services.messages.clear();
        step.input();
        ::SetFocus(Item(IDOK));
        Click(dialog, IDOK);
        ASSERT_EQ(MessageTexts(services), std::vector<std::string>{step.message}) << step.name;
        EXPECT_EQ(services.messages[0].caption, "错误") << step.name;
        EXPECT_EQ(services.messages[0].type, kInfoOk) << step.name;
        EXPECT_EQ(services.messages[0].owner, dialog) << step.name;
        EXPECT_EQ(::GetFocus(), step.focus ? Item(step.focus) : Item(IDOK)) << step.name;
        if (step.selected) {
            EXPECT_TRUE(WholeTextSelected(Item(step.focus))) << step.name;
        }
    }
    EXPECT_TRUE(Fakes().calls.empty());

    services.messages.clear();
    Type(dialog, IDC_MAX_SIZE, L"100");
    Click(dialog, IDOK);
    EXPECT_TRUE(services.messages.empty());
    ASSERT_EQ(Fakes().addedClear.size(), 1u);
    const ClearRule& sent = Fakes().addedClear[0];
    EXPECT_EQ(sent.min_free_percent, 95);
    EXPECT_EQ(FieldText(sent.description), std::string(31, 'd'));
    EXPECT_EQ(FieldText(sent.path), std::string(255, 'p'));
    std::string fifteen;
    for (int i = 0; i < 15; ++i) fifteen += "汉";
    EXPECT_EQ(FieldText(sent.name_filter), fifteen);
    EXPECT_EQ(FieldText(sent.date_range), "20240102,20240102");
    EXPECT_EQ(FieldText(sent.time_range), "2200,2200");
    EXPECT_EQ(FieldText(sent.size_range), "100,100");
    EXPECT_EQ(Bytes(sent.schedule), Bytes(RunSchedule{0, 0, 1, 0}));
}

TEST_F(ClearEditor, EngineRefusalKeepsTheDialogOpenWithTheExactText) {
    for (bool newRule : {true, false}) {
        ResetFakes();
        services.messages.clear();
        Fakes().addResult = Fakes().updateResult = 5;
        CClearDlg dlg;
        dlg.m_bNewRule = newRule;
        dlg.m_rule = StoredRule();
        bool open = false;
        ModalDriver driver;
        driver
            .Then([&] {
                Type(dlg.GetSafeHwnd(), IDC_DESCRIPTION, L"d");  // a new rule starts empty
                Type(dlg.GetSafeHwnd(), IDC_CLEAR_PATH, L"C:\\p");
                Click(dlg.GetSafeHwnd(), IDOK);
                open = dlg.IsModalLoopRunning() && ::IsWindowVisible(dlg.GetSafeHwnd());
            })
            .Then([&] { Click(dlg.GetSafeHwnd(), IDCANCEL); });
        EXPECT_EQ(driver.Run([&] { return dlg.DoModal(); }), IDCANCEL);
        EXPECT_TRUE(open);
        EXPECT_EQ(MessageTexts(services),
                  std::vector<std::string>{newRule ? "新增删除规则失败:5" : "修改删除规则失败:5"});
        EXPECT_EQ(services.messages[0].caption, "错误");
        EXPECT_EQ(Fakes().calls, std::vector<std::string>{newRule ? "kivo_add_clear" : "kivo_update_clear"});
    }
}

TEST_F(ClearEditor, EscapeAndTheCloseBoxSendNothing) {
    for (bool closeBox : {false, true}) {
        ResetFakes();
        CClearDlg dlg;
        dlg.m_bNewRule = true;
        ModalDriver driver;
        driver.Then([&] {
            Type(dlg.GetSafeHwnd(), IDC_DESCRIPTION, L"d");
            if (closeBox) {
                ::SendMessageW(dlg.GetSafeHwnd(), WM_CLOSE, 0, 0);
            } else {
                PressKey(::GetDlgItem(dlg.GetSafeHwnd(), IDC_NAME_FILTER), VK_ESCAPE);
            }
        });
        EXPECT_EQ(driver.Run([&] { return dlg.DoModal(); }), IDCANCEL) << closeBox;
        EXPECT_TRUE(Fakes().calls.empty()) << closeBox;
        EXPECT_EQ(dlg.m_pSchedulePanel == nullptr, closeBox);
    }
}

TEST_F(ClearEditor, FolderPickerFillsThePathAndCancelKeepsIt) {
    NewRule();
    Open();
    services.folders = {L"C:\\watched", L""};
    Click(dialog, IDC_PICK_PATH);
    Click(dialog, IDC_PICK_PATH);
    EXPECT_EQ(TextOf(dialog, IDC_CLEAR_PATH), L"C:\\watched");
    ASSERT_EQ(services.pickers.size(), 2u);
    EXPECT_EQ(services.pickers[0].kind, PickerCall::Folder);
    EXPECT_EQ(services.pickers[0].titleOrFilter, L"请选择文件夹");
}

TEST_F(ClearEditor, TabFromTheBoxOrThePercentEntersThePanel) {
    NewRule();
    HWND afterBox = nullptr, afterPercent = nullptr, modeRadio = nullptr;
    ModalDriver driver;
    driver.Then([&] { PressKey(::GetDlgItem(editor.GetSafeHwnd(), IDC_FREE_SPACE_CHECK), VK_TAB); })
        .Then([&] {
            afterBox = ::GetFocus();
            ::CheckDlgButton(editor.GetSafeHwnd(), IDC_FREE_SPACE_CHECK, BST_CHECKED);
            Click(editor.GetSafeHwnd(), IDC_FREE_SPACE_CHECK);
            PressKey(::GetDlgItem(editor.GetSafeHwnd(), IDC_FREE_SPACE_PERCENT), VK_TAB);
        })
        .Then([&] {
            afterPercent = ::GetFocus();
            modeRadio = PanelItem(IDC_MODE_INTERVAL);
            Click(editor.GetSafeHwnd(), IDCANCEL);
        });
    EXPECT_EQ(driver.Run([&] { return editor.DoModal(); }), IDCANCEL);
    EXPECT_NE(modeRadio, nullptr);
    EXPECT_EQ(afterBox, modeRadio);  // the panel's first tab stop: its checked mode button
    EXPECT_EQ(afterPercent, modeRadio);
}

}  // namespace
}  // namespace editors_testing
