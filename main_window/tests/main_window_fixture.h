// A main window on fake libraries and fake services, for the GUI tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "CPlanDeskDlg.h"
#include "FakeLibraries.h"
#include "FakeServices.h"
#include "ModalDriver.h"
#include "TestSeams.h"
#include "resource.h"

namespace testing_support {

inline const wchar_t* kLoginCaptionW = L"登录 - 任务计划管理";

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetFakes();
        ResetFirstTick();
    }
    void TearDown() override {
        // A login still waiting in the queue must not run after the test.
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, WM_SHOW_LOGIN, WM_SHOW_LOGIN, PM_REMOVE)) {
        }
        window.reset();
        fw::SetMainWindow(nullptr);
    }

    // Creates the main window; its login is posted but waits until messages are pumped.
    HWND Open() {
        window = std::make_unique<CPlanDeskDlg>();
        EXPECT_TRUE(window->Create(IDD_PLAN_DESK, nullptr));
        fw::SetMainWindow(window->GetSafeHwnd());
        return window->GetSafeHwnd();
    }

    // Creates the main window and logs in through the login dialog.
    HWND OpenLoggedIn() {
        HWND hwnd = Open();
        ModalDriver driver;
        driver.Until([] { return FindDialog(kLoginCaptionW) != nullptr; })
            .Then([] {
                HWND login = FindDialog(kLoginCaptionW);
                Type(login, IDC_LOGIN_USER, L"op");
                Type(login, IDC_LOGIN_PASSWORD, L"pw");
                Click(login, IDC_LOGIN_BUTTON);
            })
            .Until([] { return FindDialog(kLoginCaptionW) == nullptr; })
            // The first tick's automatic start comes at its own time; let it pass before the test acts.
            .Until([] {
                const auto& calls = Fakes().calls;
                return std::find(calls.begin(), calls.end(), "kivo_auto_run") != calls.end();
            });
        driver.RunSteps();
        EXPECT_FALSE(driver.TimedOut());
        return hwnd;
    }

    HWND Item(int id) const { return ::GetDlgItem(window->GetSafeHwnd(), id); }

    FakeServices services;
    std::unique_ptr<CPlanDeskDlg> window;
};

inline ClearRule MakeClearRule(int id, int enabled, const char* description) {
    ClearRule rule{};
    rule.rule_id = id;
    rule.enabled = enabled;
    rule.schedule.interval_minutes = 15;
    WriteField(rule.description, description);
    WriteField(rule.path, "C:\\data");
    return rule;
}

inline BackupRule MakeBackupRule(int id, int enabled, const char* description) {
    BackupRule rule{};
    rule.rule_id = id;
    rule.enabled = enabled;
    rule.schedule.time_hhmm = 2300;
    WriteField(rule.description, description);
    WriteField(rule.source_path, "C:\\src");
    WriteField(rule.backup_path, "D:\\bak");
    return rule;
}

}  // namespace testing_support
