// The application with its notification icon, in-process on fake libraries and fake services: the
// background start, opening through the login, the close box, exit, failure balloons, the logon
// start and a second copy's request to open.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <functional>

#include "CPlanDeskApp.h"
#include "CPlanDeskDlg.h"
#include "CTrayWnd.h"
#include "FakeLibraries.h"
#include "FakeServices.h"
#include "LogonStart.h"
#include "ModalDriver.h"
#include "TestSeams.h"
#include "resource.h"
#include "start_options.h"

using namespace testing_support;

namespace {

const wchar_t* kLogin = L"登录 - 任务计划管理";
const wchar_t* kMain = L"备份与清理计划 v1.0";
const wchar_t* kTestRunKey = L"Software\\plan_desk_tests\\Run";

HWND TrayWindow() {
    return ::FindWindowW(kTrayWindowClass, nullptr);
}
// The main window, hidden or not.
HWND MainWindow() {
    return ::FindWindowW(L"#32770", kMain);
}
bool Visible(HWND hwnd) {
    return hwnd && ::IsWindowVisible(hwnd);
}
int Rows(int listId) {
    return ListView_GetItemCount(::GetDlgItem(MainWindow(), listId));
}

BOOL CALLBACK CollectVisible(HWND hwnd, LPARAM param) {
    if (::IsWindowVisible(hwnd)) reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}
std::vector<HWND> VisibleWindowsOfThisThread() {
    std::vector<HWND> windows;
    ::EnumThreadWindows(::GetCurrentThreadId(), CollectVisible, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

size_t Count(const std::string& call) {
    return size_t(std::count(Fakes().calls.begin(), Fakes().calls.end(), call));
}
size_t IndexOf(const std::string& call) {
    return size_t(std::find(Fakes().calls.begin(), Fakes().calls.end(), call) - Fakes().calls.begin());
}

void SendIconEvent(UINT event) {
    ::SendMessageW(TrayWindow(), WM_TRAY_ICON, MAKEWPARAM(100, 100), MAKELPARAM(event, kTrayIconId));
}

KivoRunEvent RunEvent(int outcome, const char* description, const char* endLine, int64_t endUtc) {
    KivoRunEvent e{};
    e.size = sizeof e;
    e.rule_id = 3;
    e.kind = KIVO_RULE_BACKUP;
    e.outcome = outcome;
    e.end_utc = endUtc;
    WriteField(e.description, description);
    WriteField(e.end_line, endLine);
    return e;
}

std::string LocalMinute(int64_t utc) {
    const std::time_t t = std::time_t(utc);
    std::tm local{};
    localtime_s(&local, &t);
    char text[32];
    std::strftime(text, sizeof text, "%m-%d %H:%M", &local);
    return text;
}

std::wstring Wide(const std::string& gbk) {
    return fw::WideFromGbk(gbk);
}

class TrayApp : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFakes();
        ResetFirstTick();
        g_logonStartKey = kTestRunKey;
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\plan_desk_tests");
        ClearRule clear{};
        clear.rule_id = 1;
        clear.enabled = 1;
        WriteField(clear.description, "清理");
        WriteField(clear.path, "C:\\data");
        BackupRule backup{};
        backup.rule_id = 2;
        backup.enabled = 1;
        WriteField(backup.description, "备份");
        WriteField(backup.source_path, "C:\\src");
        WriteField(backup.backup_path, "D:\\bak");
        Fakes().clearRules = {clear};
        Fakes().backupRules = {backup};
    }
    void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\plan_desk_tests"); }

    // Runs the application while the driver's steps run. Should a step wait in vain, the driver
    // ends the dialogs and a guard exits through the icon, so a test never hangs.
    void RunApp(bool background, ModalDriver& driver) {
        static TrayApp* current = nullptr;
        current = this;
        const UINT_PTR guard = ::SetTimer(nullptr, 0, 15000, [](HWND, UINT, UINT_PTR, DWORD) {
            current->services.answers.clear();  // Yes to the exit question
            EndAllDialogs();
            ::PostMessageW(TrayWindow(), WM_COMMAND, IDM_TRAY_EXIT, 0);
        });
        driver.Run([&] {
            app.RunMainWindow(background);
            return 0;
        });
        ::KillTimer(nullptr, guard);
        EXPECT_FALSE(driver.TimedOut());
        EXPECT_EQ(TrayWindow(), nullptr);
    }

    std::vector<IconCall> IconCalls(DWORD message) const {
        std::vector<IconCall> calls;
        for (const IconCall& call : services.iconCalls) {
            if (call.message == message) calls.push_back(call);
        }
        return calls;
    }
    std::vector<IconCall> Balloons() const {
        std::vector<IconCall> balloons;
        for (const IconCall& call : IconCalls(NIM_MODIFY)) {
            if (call.data.uFlags & NIF_INFO) balloons.push_back(call);
        }
        return balloons;
    }
    std::wstring LastTip() const {
        for (auto it = services.iconCalls.rbegin(); it != services.iconCalls.rend(); ++it) {
            if (it->data.uFlags & NIF_TIP) return it->data.szTip;
        }
        return L"";
    }

    static void LogIn(HWND login) {
        Type(login, IDC_LOGIN_USER, L"op");
        Type(login, IDC_LOGIN_PASSWORD, L"pw");
        Click(login, IDC_LOGIN_BUTTON);
    }
    // Waits for the login over the shown main window, checks that the window shows no rule, and
    // logs in or leaves.
    static ModalDriver& PassLogin(ModalDriver& driver, bool logIn) {
        return driver.Until([] { return FindDialog(kLogin) != nullptr; })
            .Then([logIn] {
                EXPECT_TRUE(Visible(MainWindow()));
                EXPECT_EQ(Rows(IDC_CLEAR_LIST), 0) << "a rule showed before the login";
                EXPECT_EQ(Rows(IDC_BACKUP_LIST), 0) << "a rule showed before the login";
                if (logIn) {
                    LogIn(FindDialog(kLogin));
                } else {
                    PressKey(::GetDlgItem(FindDialog(kLogin), IDC_LOGIN_PASSWORD), VK_ESCAPE);
                }
            })
            .Until([logIn] { return !FindDialog(kLogin) && Visible(MainWindow()) == logIn; });
    }
    static void ExitThroughTheIcon(ModalDriver& driver) {
        driver.Then([] { ::PostMessageW(TrayWindow(), WM_COMMAND, IDM_TRAY_EXIT, 0); });
    }

    FakeServices services;
    CPlanDeskApp app;
};

TEST_F(TrayApp, ABackgroundStartShowsNoWindowStartsRunningAtOnceAndShowsTheIconUntilExit) {
    ModalDriver driver;
    driver.Until([] { return MainWindow() != nullptr; }).Then([&] {
        EXPECT_NE(TrayWindow(), nullptr);
        EXPECT_EQ(VisibleWindowsOfThisThread(), std::vector<HWND>{});
        // At once: before any timer tick could have started it.
        EXPECT_EQ(Count("kivo_auto_run"), 1u);
        EXPECT_LT(IndexOf("kivo_init"), IndexOf("kivo_auto_run"));
        EXPECT_LT(IndexOf("kivo_regist_run_event"), IndexOf("kivo_init"));
        const std::vector<IconCall> added = IconCalls(NIM_ADD);
        ASSERT_EQ(added.size(), 1u);
        const NOTIFYICONDATAW& icon = added[0].data;
        EXPECT_EQ(icon.cbSize, sizeof(NOTIFYICONDATAW));
        EXPECT_EQ(icon.hWnd, TrayWindow());
        EXPECT_EQ(icon.uID, kTrayIconId);
        EXPECT_EQ(icon.uFlags, UINT(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP));
        EXPECT_EQ(icon.uCallbackMessage, WM_TRAY_ICON);
        EXPECT_NE(icon.hIcon, nullptr);
        EXPECT_STREQ(icon.szTip, L"备份与清理计划 v1.0\n已停止运行");
        ASSERT_EQ(IconCalls(NIM_SETVERSION).size(), 1u);
        EXPECT_EQ(IconCalls(NIM_SETVERSION)[0].data.uVersion, UINT(NOTIFYICON_VERSION_4));
        Fakes().isRun = 1;
    });
    // The tip follows the engine's running state.
    driver.Until([&] { return LastTip() == L"备份与清理计划 v1.0\n自动运行中"; });
    // Hidden, the main window takes no first tick: automatic running was started once, at the start.
    driver.Then([] { ::Sleep(300); }).Then([] { EXPECT_EQ(Count("kivo_auto_run"), 1u); });
    ExitThroughTheIcon(driver);
    RunApp(true, driver);

    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0].text, kExitQuestion);
    EXPECT_EQ(services.messages[0].caption, "备份与清理计划 v1.0");
    EXPECT_EQ(services.messages[0].type, UINT(MB_YESNO | MB_DEFBUTTON2 | MB_ICONINFORMATION));
    // Never shown: no widths to save. The icon goes first, then the libraries stop in reverse order.
    EXPECT_TRUE(Fakes().settingWrites.empty());
    ASSERT_FALSE(services.iconCalls.empty());
    EXPECT_EQ(services.iconCalls.back().message, DWORD(NIM_DELETE));
    const size_t deinit = IndexOf("kivo_deinit");
    EXPECT_LT(IndexOf("kivo_regist_run_event(null)"), deinit);
    EXPECT_EQ(std::vector<std::string>(Fakes().calls.begin() + std::ptrdiff_t(deinit), Fakes().calls.end()),
              (std::vector<std::string>{"kivo_deinit", "account_stop", "settings_stop"}));
}

TEST_F(TrayApp, EachWayOfOpeningBringsTheLoginWhichLeftHidesAgainAndPassedShowsTheRules) {
    ModalDriver driver;
    driver.Until([] { return TrayWindow() && MainWindow(); });
    for (UINT event :
         {UINT(WM_LBUTTONDBLCLK), UINT(NIN_SELECT), UINT(NIN_KEYSELECT), UINT(NIN_BALLOONUSERCLICK)}) {
        driver.Then([event] { SendIconEvent(event); });
        PassLogin(driver, false);
    }
    driver.Then([&] {
        EXPECT_TRUE(Fakes().logins.empty());
        EXPECT_EQ(Fakes().settingWrites.size(), 4 * 19u);  // each time hidden, as at a close
        EXPECT_EQ(Count("kivo_deinit"), 0u);               // the engine keeps running
        ::PostMessageW(TrayWindow(), WM_COMMAND, IDM_TRAY_OPEN, 0);
    });
    PassLogin(driver, true).Then([] {
        EXPECT_EQ(Rows(IDC_CLEAR_LIST), 1);
        EXPECT_EQ(Rows(IDC_BACKUP_LIST), 1);
        EXPECT_EQ(Count("kivo_auto_run"), 1u);  // once per process, also after the first visible tick
    });
    // Opening a window that is shown and unlocked only brings it forward.
    driver.Then([] { SendIconEvent(WM_LBUTTONDBLCLK); }).Then([] {
        EXPECT_EQ(FindDialog(kLogin), nullptr);
        EXPECT_EQ(Rows(IDC_CLEAR_LIST), 1);
    });
    ExitThroughTheIcon(driver);
    RunApp(true, driver);
    EXPECT_EQ(Fakes().settingWrites.size(), 5 * 19u);  // shown at some time: saved at the exit too
}

TEST_F(TrayApp, TheCloseBoxHidesInTheBackgroundAndWithTheSettingOnAndEndsTheAppWithItOff) {
    struct Case {
        bool background;
        int closeToTray;
        bool hides;
    } cases[] = {{true, 0, true}, {false, 1, true}, {false, 0, false}, {false, 2, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.background << " " << c.closeToTray);
        SetUp();
        services.iconCalls.clear();
        services.messages.clear();
        Fakes().settings["main_window_cfg/close_to_tray"] = c.closeToTray;
        ModalDriver driver;
        driver.Until([] { return TrayWindow() && MainWindow(); });
        if (c.background) driver.Then([] { SendIconEvent(WM_LBUTTONDBLCLK); });
        PassLogin(driver, true);
        driver.Then([] {
            EXPECT_TRUE(Fakes().settingWrites.empty());
            ::PostMessageW(MainWindow(), WM_CLOSE, 0, 0);
        });
        if (c.hides) {
            driver.Until([] { return !Visible(MainWindow()); }).Then([&] {
                EXPECT_EQ(Fakes().settingWrites.size(), 19u);
                EXPECT_EQ(Rows(IDC_CLEAR_LIST), 0);  // locked again
                EXPECT_EQ(Count("kivo_deinit"), 0u);
                EXPECT_EQ(IconCalls(NIM_ADD).size(), 1u);
                EXPECT_EQ(IconCalls(NIM_DELETE).size(), 0u);
            });
            ExitThroughTheIcon(driver);
        }
        RunApp(c.background, driver);
        EXPECT_EQ(Count("kivo_deinit"), 1u);
        // A normal start shows its icon only while its window is hidden.
        EXPECT_EQ(IconCalls(NIM_ADD).size(), c.hides ? 1u : 0u);
    }
}

TEST_F(TrayApp, TheMenuOffersOpenThenExitAndExitWaitsWhileADialogIsOpenAndNoKeepsEverything) {
    struct Seen {
        std::vector<UINT> ids;
        UINT defaultId = 0;
        bool exitGrayed = false;
    };
    Seen hidden, withLogin;
    // The menu runs its own loop inside the icon's message: the driver's next step reads it there.
    auto openAndRead = [](ModalDriver& driver, Seen& seen) {
        driver
            .Then([] {
                ::PostMessageW(TrayWindow(), WM_TRAY_ICON, MAKEWPARAM(100, 100),
                               MAKELPARAM(WM_CONTEXTMENU, kTrayIconId));
            })
            .Until([] { return ::FindWindowW(L"#32768", nullptr) != nullptr; })
            .Then([&seen] {
                HMENU menu = reinterpret_cast<HMENU>(
                    ::SendMessageW(::FindWindowW(L"#32768", nullptr), MN_GETHMENU, 0, 0));
                for (int i = 0; i < ::GetMenuItemCount(menu); ++i)
                    seen.ids.push_back(::GetMenuItemID(menu, i));
                seen.defaultId = ::GetMenuDefaultItem(menu, FALSE, 0);
                const UINT state = ::GetMenuState(menu, IDM_TRAY_EXIT, MF_BYCOMMAND);
                seen.exitGrayed = (state & MF_GRAYED) && (state & MF_DISABLED);
                ::EndMenu();
            })
            .Until([] { return ::FindWindowW(L"#32768", nullptr) == nullptr; });
    };
    ModalDriver driver;
    driver.Until([] { return TrayWindow() && MainWindow(); });
    openAndRead(driver, hidden);
    driver.Then([] { SendIconEvent(WM_LBUTTONDBLCLK); }).Until([] { return FindDialog(kLogin) != nullptr; });
    openAndRead(driver, withLogin);
    driver.Then([&] {
        // Exit while the login is open does nothing, and asks nothing.
        ::SendMessageW(TrayWindow(), WM_COMMAND, IDM_TRAY_EXIT, 0);
        EXPECT_TRUE(services.messages.empty());
        PressKey(::GetDlgItem(FindDialog(kLogin), IDC_LOGIN_PASSWORD), VK_ESCAPE);
    });
    driver.Until([] { return !FindDialog(kLogin) && !Visible(MainWindow()); }).Then([&] {
        services.answers = {IDNO};
        ::SendMessageW(TrayWindow(), WM_COMMAND, IDM_TRAY_EXIT, 0);
        EXPECT_EQ(services.messages.size(), 1u);
        EXPECT_EQ(Count("kivo_deinit"), 0u);
        EXPECT_EQ(IconCalls(NIM_DELETE).size(), 0u);
        EXPECT_NE(MainWindow(), nullptr);
    });
    // Still running: the icon still opens the window.
    driver.Then([] { SendIconEvent(WM_LBUTTONDBLCLK); });
    PassLogin(driver, false);
    ExitThroughTheIcon(driver);
    RunApp(true, driver);

    EXPECT_EQ(hidden.ids, (std::vector<UINT>{IDM_TRAY_OPEN, 0, IDM_TRAY_EXIT}));
    EXPECT_EQ(hidden.defaultId, UINT(IDM_TRAY_OPEN));
    EXPECT_FALSE(hidden.exitGrayed);
    EXPECT_EQ(withLogin.ids, hidden.ids);
    EXPECT_TRUE(withLogin.exitGrayed);
}

TEST_F(TrayApp, AFailedRunRaisesABalloonAGoodOneNoneAndFailuresWithinAMinuteAreCountedInTheTip) {
    const int64_t endUtc = 1751335200;  // 2025-07-01 02:00 UTC
    ModalDriver driver;
    driver.Until([] { return TrayWindow() && MainWindow() && Fakes().runEventCallback; }).Then([&] {
        const KivoRunEvent good =
            RunEvent(KIVO_RUN_SUCCEEDED, "每日备份", "备份规则 3「每日备份」运行完成", endUtc);
        Fakes().runEventCallback(&good, Fakes().runEventContext);
    });
    driver.Then([] { ::Sleep(100); }).Then([&] {
        EXPECT_TRUE(Balloons().empty());
        const KivoRunEvent failed = RunEvent(KIVO_RUN_FAILED, "每日备份",
                                             "备份规则 3「每日备份」运行失败：目标文件夹无法写入", endUtc);
        Fakes().runEventCallback(&failed, Fakes().runEventContext);
    });
    driver.Until([&] { return !Balloons().empty(); }).Then([&] {
        const NOTIFYICONDATAW& balloon = Balloons()[0].data;
        EXPECT_EQ(balloon.uFlags, UINT(NIF_INFO));
        EXPECT_EQ(balloon.hWnd, TrayWindow());
        EXPECT_EQ(balloon.uID, kTrayIconId);
        EXPECT_EQ(balloon.dwInfoFlags, DWORD(NIIF_WARNING));
        EXPECT_STREQ(balloon.szInfoTitle, L"规则运行失败");
        EXPECT_STREQ(balloon.szInfo, L"备份规则 3「每日备份」运行失败：目标文件夹无法写入");
        EXPECT_EQ(LastTip(),
                  L"备份与清理计划 v1.0\n已停止运行\n上次失败：" + Wide(LocalMinute(endUtc)) + L" 每日备份");
        const KivoRunEvent partly =
            RunEvent(KIVO_RUN_PARTLY_FAILED, "清理", "清理规则 4「清理」运行部分失败", endUtc + 60);
        Fakes().runEventCallback(&partly, Fakes().runEventContext);
    });
    driver.Until([&] { return LastTip().find(L"另有") != std::wstring::npos; }).Then([&] {
        EXPECT_EQ(Balloons().size(), 1u);  // within the minute: counted, not shown
        EXPECT_EQ(LastTip(), L"备份与清理计划 v1.0\n已停止运行\n上次失败：" + Wide(LocalMinute(endUtc + 60)) +
                                 L" 清理\n另有 1 次失败未提示");
    });
    // Logging in puts the run log before the operator: nothing is owed any more.
    driver.Then([] { SendIconEvent(WM_LBUTTONDBLCLK); });
    PassLogin(driver, true).Until([&] { return LastTip().find(L"另有") == std::wstring::npos; });
    ExitThroughTheIcon(driver);
    RunApp(true, driver);
}

TEST_F(TrayApp, TheIconComesBackWithANewTaskbarAndIsRetriedWhileThereIsNone) {
    services.iconAnswer = false;  // no taskbar yet, as early at logon
    ModalDriver driver;
    driver
        .Until([&] { return IconCalls(NIM_ADD).size() >= 2; })  // tried again by the timer
        .Then([&] {
            EXPECT_TRUE(IconCalls(NIM_SETVERSION).empty());
            services.iconAnswer = true;
        })
        .Until([&] { return IconCalls(NIM_SETVERSION).size() == 1; })
        .Then([&] {
            const size_t added = IconCalls(NIM_ADD).size();
            ::SendMessageW(TrayWindow(), ::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
            EXPECT_EQ(IconCalls(NIM_ADD).size(), added + 1);
            EXPECT_EQ(IconCalls(NIM_SETVERSION).size(), 2u);
            EXPECT_EQ(services.iconCalls.back().data.uVersion, UINT(NOTIFYICON_VERSION_4));
        });
    ExitThroughTheIcon(driver);
    RunApp(true, driver);
}

TEST_F(TrayApp, AHiddenCopyAskedToOpenByASecondCopyShowsItsLoginNeverItsRules) {
    ModalDriver driver;
    driver.Until([] { return TrayWindow() && MainWindow(); }).Then([] { SendIconEvent(WM_LBUTTONDBLCLK); });
    PassLogin(driver, true).Then([] { ::PostMessageW(MainWindow(), WM_CLOSE, 0, 0); });
    driver.Until([] { return !Visible(MainWindow()); }).Then([] {
        // The hidden main window keeps its class and caption: a plain FindWindow would find it.
        EXPECT_NE(MainWindow(), nullptr);
        // A login asked for before the window hid again does not come over the hidden window.
        ::SendMessageW(MainWindow(), WM_SHOW_LOGIN, 1, 0);
        EXPECT_EQ(FindDialog(kLogin), nullptr);
        BringRunningCopyToFront();
        EXPECT_FALSE(Visible(MainWindow()));  // not switched to: the request is posted to the icon's window
    });
    PassLogin(driver, false);
    ExitThroughTheIcon(driver);
    RunApp(true, driver);
    EXPECT_EQ(Fakes().logins.size(), 1u);
}

TEST_F(TrayApp, WhenTheSessionEndsTheApplicationShutsDownBeforeTheNotificationReturns) {
    ModalDriver driver;
    driver.Until([] { return TrayWindow() && MainWindow(); }).Then([] { SendIconEvent(WM_LBUTTONDBLCLK); });
    PassLogin(driver, true).Then([] {
        EXPECT_EQ(::SendMessageW(TrayWindow(), WM_QUERYENDSESSION, 0, 0), TRUE);
        EXPECT_EQ(Count("kivo_deinit"), 0u);
        ::SendMessageW(TrayWindow(), WM_ENDSESSION, TRUE, 0);
        // Windows may end the process as soon as the notification returns: everything is done by then.
        EXPECT_EQ(Fakes().settingWrites.size(), 19u);
        EXPECT_EQ(std::vector<std::string>(Fakes().calls.end() - 3, Fakes().calls.end()),
                  (std::vector<std::string>{"kivo_deinit", "account_stop", "settings_stop"}));
    });
    RunApp(true, driver);
    EXPECT_EQ(Count("kivo_deinit"), 1u);
    EXPECT_EQ(Count("settings_stop"), 1u);
    EXPECT_EQ(IconCalls(NIM_DELETE).size(), 1u);
}

class LogonStartTest : public TrayApp {
  protected:
    // A key name longer than the registry allows (255 characters).
    static const wchar_t* UncreatableKey() {
        static const std::wstring key = L"Software\\plan_desk_tests\\Run\\" + std::wstring(300, L'x');
        return key.c_str();
    }
    std::optional<std::wstring> RunValue() const {
        wchar_t value[1024] = {};
        DWORD bytes = sizeof value;
        if (::RegGetValueW(HKEY_CURRENT_USER, kTestRunKey, L"plan_desk", RRF_RT_REG_SZ, nullptr, value,
                           &bytes) != ERROR_SUCCESS)
            return std::nullopt;
        return std::wstring(value);
    }
    void SetRunValue(const std::wstring& value) const {
        ::RegSetKeyValueW(HKEY_CURRENT_USER, kTestRunKey, L"plan_desk", REG_SZ, value.c_str(),
                          DWORD((value.size() + 1) * sizeof(wchar_t)));
    }
};

TEST_F(LogonStartTest, TheSystemMenuItemsWriteAndRemoveAndTheirChecksShowTheRealState) {
    CTrayWnd tray(false);
    ASSERT_TRUE(tray.Create());
    CPlanDeskDlg main;
    ASSERT_TRUE(main.Create(IDD_PLAN_DESK, nullptr));
    tray.SetMainWindow(&main);
    HWND hwnd = main.GetSafeHwnd();
    HMENU system = ::GetSystemMenu(hwnd, FALSE);
    ASSERT_NE(system, nullptr);
    auto checks = [&] {
        ::SendMessageW(hwnd, WM_INITMENUPOPUP, WPARAM(system), MAKELPARAM(0, TRUE));
        return std::make_pair(
            (::GetMenuState(system, IDM_SYS_AUTOSTART, MF_BYCOMMAND) & MF_CHECKED) != 0,
            (::GetMenuState(system, IDM_SYS_CLOSE_TO_TRAY, MF_BYCOMMAND) & MF_CHECKED) != 0);
    };
    auto text = [&](UINT id) {
        wchar_t buffer[128] = {};
        ::GetMenuStringW(system, id, buffer, 128, MF_BYCOMMAND);
        return std::wstring(buffer);
    };
    EXPECT_EQ(text(IDM_SYS_AUTOSTART), L"登录 Windows 时在后台运行(&L)");
    EXPECT_EQ(text(IDM_SYS_CLOSE_TO_TRAY), L"关闭窗口时在后台继续运行(&B)");
    EXPECT_EQ(checks(), std::make_pair(false, false));

    ::SendMessageW(hwnd, WM_SYSCOMMAND, IDM_SYS_AUTOSTART, 0);
    EXPECT_EQ(RunValue(), L"\"" + ThisProgramPath() + L"\" /background");
    EXPECT_EQ(checks(), std::make_pair(true, false));
    SetRunValue(L"\"D:\\别处\\plan_desk.exe\" /background");  // another copy took it over meanwhile
    EXPECT_EQ(checks(), std::make_pair(false, false));
    ::SendMessageW(hwnd, WM_SYSCOMMAND, IDM_SYS_AUTOSTART, 0);  // ... this one takes it back
    EXPECT_EQ(checks(), std::make_pair(true, false));
    ::SendMessageW(hwnd, WM_SYSCOMMAND, IDM_SYS_AUTOSTART, 0);
    EXPECT_EQ(RunValue(), std::nullopt);
    EXPECT_EQ(checks(), std::make_pair(false, false));

    ::SendMessageW(hwnd, WM_SYSCOMMAND, IDM_SYS_CLOSE_TO_TRAY, 0);
    EXPECT_EQ(Fakes().settings["main_window_cfg/close_to_tray"], 1);
    EXPECT_EQ(checks(), std::make_pair(false, true));
    ::SendMessageW(hwnd, WM_SYSCOMMAND, IDM_SYS_CLOSE_TO_TRAY, 0);
    EXPECT_EQ(Fakes().settings["main_window_cfg/close_to_tray"], 0);
    EXPECT_EQ(checks(), std::make_pair(false, false));
    EXPECT_TRUE(services.messages.empty());

    // Failures are told, and the checks still show what is stored.
    Fakes().settingWriteResult = -3;
    ::SendMessageW(hwnd, WM_SYSCOMMAND, IDM_SYS_CLOSE_TO_TRAY, 0);
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0].text, "保存设置失败,错误代码:-3");
    EXPECT_EQ(services.messages[0].caption, "错误");
    EXPECT_EQ(services.messages[0].owner, hwnd);
    EXPECT_EQ(checks(), std::make_pair(false, false));
    g_logonStartKey = UncreatableKey();
    ::SendMessageW(hwnd, WM_SYSCOMMAND, IDM_SYS_AUTOSTART, 0);
    ASSERT_EQ(services.messages.size(), 2u);
    EXPECT_EQ(services.messages[1].text.rfind("无法", 0), 0u) << services.messages[1].text;
    EXPECT_EQ(services.messages[1].caption, "错误");
    EXPECT_EQ(checks(), std::make_pair(false, false));
}

// On, off and a bad value go through the real exe end to end; here, a registry that refuses.
TEST_F(LogonStartTest, TheAutostartSwitchReportsARegistryThatRefusesUnlessQuiet) {
    StartOptions on;
    on.mode = StartMode::AutoStart;
    on.autoStartOn = true;
    g_logonStartKey = UncreatableKey();
    EXPECT_EQ(RunAutoStartCommand(on), 1);
    ASSERT_EQ(services.messages.size(), 1u);
    EXPECT_EQ(services.messages[0].text.rfind("无法打开注册表项 HKCU\\Software\\plan_desk_tests\\Run", 0), 0u)
        << services.messages[0].text;
    EXPECT_EQ(services.messages[0].caption, "错误");
    on.quiet = true;
    EXPECT_EQ(RunAutoStartCommand(on), 1);
    EXPECT_EQ(services.messages.size(), 1u);
}

}  // namespace
