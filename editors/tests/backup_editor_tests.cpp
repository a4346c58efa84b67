// The backup-rule editor with a fake engine, fake pickers and a fake message box.
#include <windows.h>
#include <commdlg.h>
#include <shlobj.h>

#include <climits>
#include <cstring>

#include "CBackupDlg.h"
#include "dialog_test_support.h"
#include "resource.h"

namespace editors_testing {
namespace {

BackupRule StoredRule() {
    BackupRule rule{};
    rule.rule_id = 12;
    rule.enabled = 1;
    rule.keep_days = 7;
    rule.schedule = RunSchedule{0, 0, 0x15, 1230};
    std::strcpy(rule.description, "每日备份");
    std::strcpy(rule.source_path, "C:\\data\\file.txt");
    std::strcpy(rule.backup_path, "D:\\backup");
    return rule;
}

class BackupEditor : public RuleEditorTest<CBackupDlg> {
  protected:
    BackupEditor() : RuleEditorTest(IDD_BACKUP_RULE, "新增备份规则", "修改备份规则 ID:12") {}

    // Fills the three required fields the way a user does: typing and picking folders.
    void FillRequired() {
        Type(dialog, IDC_DESCRIPTION, L"备份");
        services.folders.push_back(L"C:\\data");
        Click(dialog, IDC_PICK_PATH);
        services.folders.push_back(L"D:\\backup");
        Click(dialog, IDC_PICK_BACKUP_TARGET);
    }
    void PickSourceMode(int radio) {
        ::CheckRadioButton(dialog, IDC_SOURCE_IS_FOLDER, IDC_SOURCE_IS_FILE, radio);
        Click(dialog, radio);
    }
};

TEST_F(BackupEditor, NewRuleSavedUntouchedIsTheDefaultRecordByteForByte) {
    NewRule();
    ModalDriver driver;
    driver.Then([&] {
        dialog = editor.GetSafeHwnd();
        FillRequired();
        Click(dialog, IDOK);
    });
    EXPECT_EQ(driver.Run([&] { return editor.DoModal(); }), IDOK);

    BackupRule expected{};
    expected.enabled = 1;
    expected.schedule.interval_minutes = 15;
    std::memcpy(expected.description, "备份", 4);
    std::memcpy(expected.source_path, "C:\\data", 7);
    std::memcpy(expected.backup_path, "D:\\backup", 9);
    EXPECT_EQ(Fakes().calls, std::vector<std::string>{"kivo_add_backup"});
    ASSERT_EQ(Fakes().addedBackup.size(), 1u);
    EXPECT_EQ(Bytes(Fakes().addedBackup[0]), Bytes(expected));
    EXPECT_EQ(Bytes(editor.m_rule), Bytes(expected));
    EXPECT_TRUE(services.messages.empty());
}

TEST_F(BackupEditor, StartsWithItsDefaultsAndTheCallersCaption) {
    NewRule();
    Open();
    EXPECT_EQ(TextOf(dialog, IDC_KEEP_DAYS), L"0");
    EXPECT_TRUE(::IsDlgButtonChecked(dialog, IDC_SOURCE_IS_FOLDER));
    EXPECT_FALSE(::IsDlgButtonChecked(dialog, IDC_SOURCE_IS_FILE));
    EXPECT_TRUE(HasStyle(dialog, IDC_BACKUP_SOURCE, ES_READONLY));
    EXPECT_TRUE(HasStyle(dialog, IDC_BACKUP_TARGET, ES_READONLY));
    EXPECT_FALSE(HasStyle(dialog, IDC_DESCRIPTION, ES_READONLY));
    wchar_t caption[64] = {};
    ::GetWindowTextW(dialog, caption, 64);
    EXPECT_EQ(std::wstring(caption), L"新增备份规则");
    EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageW(dialog, WM_GETICON, ICON_BIG, 0)), editor.m_hIcon);
    EXPECT_NE(editor.m_hIcon, nullptr);
    EXPECT_TRUE(Fakes().calls.empty());
}

TEST_F(BackupEditor, EditModeLoadsTheRuleAndAlwaysChecksFolderMode) {
    ExistingRule(StoredRule());
    Open();
    EXPECT_EQ(TextOf(dialog, IDC_DESCRIPTION), L"每日备份");
    EXPECT_EQ(TextOf(dialog, IDC_BACKUP_SOURCE), L"C:\\data\\file.txt");
    EXPECT_EQ(TextOf(dialog, IDC_BACKUP_TARGET), L"D:\\backup");
    EXPECT_EQ(TextOf(dialog, IDC_KEEP_DAYS), L"7");
    EXPECT_TRUE(::IsDlgButtonChecked(dialog, IDC_SOURCE_IS_FOLDER));
    EXPECT_EQ(editor.m_pSchedulePanel->m_nMode, 2);
    EXPECT_TRUE(Fakes().attributeQueries.empty());  // loading prunes nothing
}

TEST_F(BackupEditor, LoadAndGatherRoundTripEveryMode) {
    const RunSchedule schedules[] = {
        {30, 0, 0, 0},    {1440, 0, 0, 0}, {0, 0, 0, 2359}, {0, 0, 0, 0},
        {0, 0, 127, 630}, {0, 0, 0x41, 5}, {0, 31, 0, 830}, {0, 1, 0, 0},
    };
    for (const RunSchedule& schedule : schedules) {
        ResetFakes();
        CBackupDlg dlg;
        BackupRule rule = StoredRule();
        rule.schedule = schedule;
        dlg.m_rule = rule;
        ShowModeless(dlg, IDD_BACKUP_RULE);
        Click(dlg.GetSafeHwnd(), IDOK);
        ASSERT_EQ(Fakes().updatedBackup.size(), 1u) << testing::PrintToString(Bytes(schedule));
        EXPECT_EQ(Bytes(Fakes().updatedBackup[0]), Bytes(rule))
            << "schedule " << schedule.interval_minutes << ' ' << schedule.month_day << ' '
            << schedule.week_mask << ' ' << schedule.time_hhmm;
    }
}

TEST_F(BackupEditor, ShorterTextsAreNulFilledOverTheStoredOnes) {
    BackupRule stored = StoredRule();
    std::memset(stored.description, 'x', sizeof stored.description - 1);
    std::memset(stored.source_path, 'y', sizeof stored.source_path - 1);
    std::memset(stored.backup_path, 'z', sizeof stored.backup_path - 1);
    ExistingRule(stored);
    Open();
    Type(dialog, IDC_DESCRIPTION, L"短");
    services.folders = {L"C:\\s", L"D:\\t"};
    Click(dialog, IDC_PICK_PATH);
    Click(dialog, IDC_PICK_BACKUP_TARGET);
    Type(dialog, IDC_KEEP_DAYS, L"99999999999");
    Click(dialog, IDOK);

    BackupRule expected = stored;
    std::memset(expected.description, 0, sizeof expected.description);
    std::memset(expected.source_path, 0, sizeof expected.source_path);
    std::memset(expected.backup_path, 0, sizeof expected.backup_path);
    std::memcpy(expected.description, "短", 2);
    std::memcpy(expected.source_path, "C:\\s", 4);
    std::memcpy(expected.backup_path, "D:\\t", 4);
    expected.keep_days = INT32_MAX;  // an overlong number saturates instead of wrapping
    ASSERT_EQ(Fakes().updatedBackup.size(), 1u);
    EXPECT_EQ(Bytes(Fakes().updatedBackup[0]), Bytes(expected));
}

TEST_F(BackupEditor, ChecksRunInOrderWithTheirMessagesAndFocus) {
    NewRule();
    Open();
    struct Step {
        const char* name;
        std::function<void()> input;
        const char* message;
        const char* caption;
        int focus;
        bool selected;
    };
    const std::string d31(31, 'd');
    const Step steps[] = {
        {"panel first", [&] { Type(editor.m_pSchedulePanel->GetSafeHwnd(), IDC_INTERVAL, L""); },
         "请输入间隔时长.", "警告", -IDC_INTERVAL, false},
        {"then description", [&] { Type(editor.m_pSchedulePanel->GetSafeHwnd(), IDC_INTERVAL, L"15"); },
         "请输入规则描述.", "错误", IDC_DESCRIPTION, false},
        {"32 bytes", [&] { Type(dialog, IDC_DESCRIPTION, std::wstring(32, L'd')); },
         "规则描述长度超过限制范围，请重新输入.", "错误", IDC_DESCRIPTION, true},
        {"16 Chinese", [&] { Type(dialog, IDC_DESCRIPTION, std::wstring(16, L'汉')); },
         "规则描述长度超过限制范围，请重新输入.", "错误", IDC_DESCRIPTION, true},
        {"not GBK", [&] { Type(dialog, IDC_DESCRIPTION, L"caf\u00e9\u0915"); }, "规则描述含有无法保存的字符.",
         "错误", IDC_DESCRIPTION, true},
        {"source before backup", [&] { Type(dialog, IDC_DESCRIPTION, std::wstring(15, L'汉')); },
         "请选择监视路径.", "错误", IDC_PICK_PATH, false},
        {"source 256 bytes", [&] { Type(dialog, IDC_BACKUP_SOURCE, std::wstring(256, L's')); },
         "路径长度超过限制范围，请重新选择路径.", "错误", IDC_PICK_PATH, false},
        {"source not GBK", [&] { Type(dialog, IDC_BACKUP_SOURCE, L"C:\\\u0915"); }, "路径含有无法保存的字符.",
         "错误", IDC_PICK_PATH, false},
        {"backup empty", [&] { Type(dialog, IDC_BACKUP_SOURCE, std::wstring(255, L's')); }, "请选择备份路径.",
         "错误", IDC_PICK_BACKUP_TARGET, false},
        {"backup 256 bytes", [&] { Type(dialog, IDC_BACKUP_TARGET, std::wstring(128, L'汉')); },
         "备份路径长度超过限制范围，请重新选择路径.", "错误", IDC_PICK_BACKUP_TARGET, false},
    };
    for (const Step& step : steps) {
        services.messages.clear();
        step.input();
        ::SetFocus(Item(IDOK));
        Click(dialog, IDOK);
        ASSERT_EQ(MessageTexts(services), std::vector<std::string>{step.message}) << step.name;
        EXPECT_EQ(services.messages[0].caption, step.caption) << step.name;
        EXPECT_EQ(services.messages[0].type, kInfoOk) << step.name;
        EXPECT_EQ(services.messages[0].owner, dialog) << step.name;
        const HWND focus = step.focus < 0 ? PanelItem(-step.focus) : Item(step.focus);
        EXPECT_EQ(::GetFocus(), focus) << step.name;
        if (step.selected) {
            EXPECT_TRUE(WholeTextSelected(focus)) << step.name;
        }
    }
    EXPECT_TRUE(Fakes().calls.empty());

    services.messages.clear();
    Type(dialog, IDC_BACKUP_TARGET, std::wstring(255, L't'));
    Type(dialog, IDC_DESCRIPTION, std::wstring(31, L'd'));
    Click(dialog, IDOK);
    EXPECT_TRUE(services.messages.empty());
    ASSERT_EQ(Fakes().addedBackup.size(), 1u);
    EXPECT_EQ(FieldText(Fakes().addedBackup[0].description), d31);
    EXPECT_EQ(FieldText(Fakes().addedBackup[0].source_path), std::string(255, 's'));
    EXPECT_EQ(FieldText(Fakes().addedBackup[0].backup_path), std::string(255, 't'));
}

TEST_F(BackupEditor, EngineRefusalKeepsTheDialogOpenWithTheExactText) {
    const struct {
        bool newRule;
        int code;
        const char* text;
        const char* call;
    } cases[] = {
        {true, 5, "新增备份规则失败:5", "kivo_add_backup"},
        {false, 13, "修改备份规则失败:13", "kivo_update_backup"},
    };
    for (const auto& c : cases) {
        ResetFakes();
        services.messages.clear();
        Fakes().addResult = Fakes().updateResult = c.code;
        CBackupDlg dlg;
        dlg.m_bNewRule = c.newRule;
        dlg.m_rule = StoredRule();
        bool openAfterRefusal = false;
        ModalDriver driver;
        driver
            .Then([&] {
                Type(dlg.GetSafeHwnd(), IDC_DESCRIPTION, L"d");  // a new rule starts empty
                Type(dlg.GetSafeHwnd(), IDC_BACKUP_SOURCE, L"C:\\s");
                Type(dlg.GetSafeHwnd(), IDC_BACKUP_TARGET, L"D:\\t");
                Click(dlg.GetSafeHwnd(), IDOK);
                openAfterRefusal = ::IsWindowVisible(dlg.GetSafeHwnd()) && dlg.IsModalLoopRunning();
                Fakes().addResult = Fakes().updateResult = 0;
            })
            .Then([&] { Click(dlg.GetSafeHwnd(), IDOK); });
        EXPECT_EQ(driver.Run([&] { return dlg.DoModal(); }), IDOK);
        EXPECT_TRUE(openAfterRefusal);
        ASSERT_EQ(services.messages.size(), 1u);
        EXPECT_EQ(services.messages[0].text, c.text);
        EXPECT_EQ(services.messages[0].caption, "错误");
        EXPECT_EQ(services.messages[0].type, kInfoOk);
        EXPECT_EQ(Fakes().calls, (std::vector<std::string>{c.call, c.call}));
    }
}

TEST_F(BackupEditor, EscapeAndTheCloseBoxSendNothingAndReleaseThePanelOnce) {
    for (bool closeBox : {false, true}) {
        ResetFakes();
        CBackupDlg dlg;
        dlg.m_bNewRule = true;
        HWND panel = nullptr;
        bool panelGoneFirst = false;
        ModalDriver driver;
        driver.Then([&] {
            panel = dlg.m_pSchedulePanel->GetSafeHwnd();
            Type(dlg.GetSafeHwnd(), IDC_DESCRIPTION, L"d");
            if (closeBox) {
                ::SendMessageW(dlg.GetSafeHwnd(), WM_CLOSE, 0, 0);
                panelGoneFirst = !::IsWindow(panel) && !dlg.m_pSchedulePanel && ::IsWindow(dlg.GetSafeHwnd());
            } else {
                PressKey(::GetDlgItem(dlg.GetSafeHwnd(), IDC_DESCRIPTION), VK_ESCAPE);
            }
        });
        EXPECT_EQ(driver.Run([&] { return dlg.DoModal(); }), IDCANCEL) << closeBox;
        EXPECT_FALSE(driver.TimedOut());
        EXPECT_TRUE(Fakes().calls.empty()) << closeBox;
        EXPECT_FALSE(::IsWindow(panel));
        if (closeBox) {
            EXPECT_TRUE(panelGoneFirst);
        }
    }
}

TEST_F(BackupEditor, SourcePickerFollowsTheCheckedMode) {
    NewRule();
    Open();
    services.folders = {L"C:\\folder"};
    Click(dialog, IDC_PICK_PATH);
    EXPECT_EQ(TextOf(dialog, IDC_BACKUP_SOURCE), L"C:\\folder");

    PickSourceMode(IDC_SOURCE_IS_FILE);  // a folder does not fit file mode
    services.files = {L"C:\\folder\\a.txt"};
    Click(dialog, IDC_PICK_PATH);
    EXPECT_EQ(TextOf(dialog, IDC_BACKUP_SOURCE), L"C:\\folder\\a.txt");
    Click(dialog, IDC_PICK_PATH);  // cancelled: nothing changes
    EXPECT_EQ(TextOf(dialog, IDC_BACKUP_SOURCE), L"C:\\folder\\a.txt");

    ASSERT_EQ(services.pickers.size(), 3u);
    EXPECT_EQ(services.pickers[0].kind, PickerCall::Folder);
    EXPECT_EQ(services.pickers[0].titleOrFilter, L"请选择文件夹");
    EXPECT_EQ(services.pickers[0].flags, DWORD(BIF_RETURNONLYFSDIRS | BIF_EDITBOX));
    EXPECT_EQ(services.pickers[0].flags, 0x11u);
    EXPECT_EQ(services.pickers[1].kind, PickerCall::File);
    EXPECT_EQ(services.pickers[1].titleOrFilter, L"Describe Files All Files (*.*)|*.*||");
    EXPECT_EQ(services.pickers[1].flags, DWORD(OFN_HIDEREADONLY));
    EXPECT_EQ(services.pickers[1].owner, dialog);
    EXPECT_TRUE(services.messages.empty());
}

TEST_F(BackupEditor, CancelledBackupFolderPickerKeepsTheText) {
    NewRule();
    Open();
    services.folders = {L"D:\\one", L""};
    Click(dialog, IDC_PICK_BACKUP_TARGET);
    Click(dialog, IDC_PICK_BACKUP_TARGET);
    EXPECT_EQ(TextOf(dialog, IDC_BACKUP_TARGET), L"D:\\one");
    EXPECT_EQ(services.pickers.size(), 2u);
}

TEST_F(BackupEditor, PickedWidePathGoesInWholeAndIsRefusedIfNotGbk) {
    NewRule();
    Open();
    Type(dialog, IDC_DESCRIPTION, L"d");
    services.folders = {L"C:\\\u0915\u093F", L"D:\\b"};
    Click(dialog, IDC_PICK_PATH);
    Click(dialog, IDC_PICK_BACKUP_TARGET);
    EXPECT_EQ(TextOf(dialog, IDC_BACKUP_SOURCE), L"C:\\\u0915\u093F");
    Click(dialog, IDOK);
    EXPECT_EQ(MessageTexts(services), std::vector<std::string>{"路径含有无法保存的字符."});
    EXPECT_TRUE(Fakes().calls.empty());
}

TEST_F(BackupEditor, PruningDropsASourceThatDoesNotFitTheClickedMode) {
    const struct {
        const char* name;
        int radio;
        const wchar_t* source;
        int attributes;  // answered for the source
        const wchar_t* after;
        bool queried;
    } cases[] = {
        {"folder, then file mode", IDC_SOURCE_IS_FILE, L"C:\\dir", 0x10, L"", true},
        {"file, then folder mode", IDC_SOURCE_IS_FOLDER, L"C:\\a.txt", 0x20, L"", true},
        {"folder, folder mode again", IDC_SOURCE_IS_FOLDER, L"C:\\dir", 0x10, L"C:\\dir", true},
        {"file, file mode again", IDC_SOURCE_IS_FILE, L"C:\\a.txt", 0x20, L"C:\\a.txt", true},
        {"missing path, folder mode", IDC_SOURCE_IS_FOLDER, L"C:\\gone", 0, L"", true},
        {"missing path, file mode", IDC_SOURCE_IS_FILE, L"C:\\gone", 0, L"C:\\gone", true},
        {"empty, file mode", IDC_SOURCE_IS_FILE, L"", 0x10, L"", false},
        {"empty, folder mode", IDC_SOURCE_IS_FOLDER, L"", 0x20, L"", false},
    };
    NewRule();
    Open();
    for (const auto& c : cases) {
        ResetFakes();
        Type(dialog, IDC_BACKUP_SOURCE, c.source);
        const std::string gbk(c.source, c.source + std::wcslen(c.source));  // ASCII paths
        Fakes().attributes[gbk] = c.attributes;
        PickSourceMode(c.radio);
        EXPECT_EQ(TextOf(dialog, IDC_BACKUP_SOURCE), c.after) << c.name;
        EXPECT_EQ(Fakes().attributeQueries,
                  c.queried ? std::vector<std::string>{gbk} : std::vector<std::string>{})
            << c.name;
    }
    Type(dialog, IDC_BACKUP_TARGET, L"D:\\kept");
    PickSourceMode(IDC_SOURCE_IS_FOLDER);
    PickSourceMode(IDC_SOURCE_IS_FILE);
    EXPECT_EQ(TextOf(dialog, IDC_BACKUP_TARGET), L"D:\\kept");  // the backup path is never pruned
}

TEST_F(BackupEditor, TabFromTheBackupPathOrItsButtonEntersThePanel) {
    NewRule();
    HWND afterEdit = nullptr, afterButton = nullptr, afterDescription = nullptr;
    HWND modeRadio = nullptr, source = nullptr;
    ModalDriver driver;
    driver.Then([&] { PressKey(::GetDlgItem(editor.GetSafeHwnd(), IDC_BACKUP_TARGET), VK_TAB); })
        .Then([&] {
            afterEdit = ::GetFocus();
            PressKey(::GetDlgItem(editor.GetSafeHwnd(), IDC_PICK_BACKUP_TARGET), VK_TAB);
        })
        .Then([&] {
            afterButton = ::GetFocus();
            PressKey(::GetDlgItem(editor.GetSafeHwnd(), IDC_DESCRIPTION), VK_TAB);
        })
        .Then([&] {
            afterDescription = ::GetFocus();
            modeRadio = PanelItem(IDC_MODE_INTERVAL);
            source = ::GetDlgItem(editor.GetSafeHwnd(), IDC_BACKUP_SOURCE);
            Click(editor.GetSafeHwnd(), IDCANCEL);
        });
    EXPECT_EQ(driver.Run([&] { return editor.DoModal(); }), IDCANCEL);
    // The panel's first tab stop: its checked mode button.
    EXPECT_NE(modeRadio, nullptr);
    EXPECT_EQ(afterEdit, modeRadio);
    EXPECT_EQ(afterButton, modeRadio);
    EXPECT_EQ(afterDescription, source);  // elsewhere Tab keeps the normal order
}

}  // namespace
}  // namespace editors_testing
