// The manual backup and restore dialog with a fake engine and fake choosers.
#include <windows.h>
#include <commdlg.h>

#include <algorithm>

#include "CRestoreDlg.h"
#include "dialog_test_support.h"
#include "latest_progress.h"
#include "manual_progress.h"
#include "resource.h"

namespace editors_testing {
namespace {

class RestoreDialog : public DialogTest {
  protected:
    // Runs the dialog; steps get its window. The engine call runs on a worker thread: each step
    // waits until the previous one's call has answered.
    INT_PTR Run(const std::vector<std::function<void(HWND)>>& steps) {
        ModalDriver driver;
        for (const auto& step : steps) {
            driver.Until(
                [&] { return !dialog.GetSafeHwnd() || ::IsWindowEnabled(::GetDlgItem(dialog, IDOK)); });
            driver.Then([&, step] { step(dialog.GetSafeHwnd()); });
        }
        const INT_PTR result = driver.Run([&] { return dialog.DoModal(); });
        EXPECT_FALSE(driver.TimedOut());
        return result;
    }
    static void Cancel(HWND hwnd) { Click(hwnd, IDCANCEL); }

    CRestoreDlg dialog;
};

TEST_F(RestoreDialog, StartsWithTwoReadOnlyEmptyPaths) {
    std::wstring caption;
    bool readOnly = false, buttonsShown = false;
    HICON icon = nullptr;
    EXPECT_EQ(Run({[&](HWND h) {
                  wchar_t text[64] = {};
                  ::GetWindowTextW(h, text, 64);
                  caption = text;
                  readOnly = HasStyle(h, IDC_RESTORE_FILE, ES_READONLY) &&
                             HasStyle(h, IDC_RESTORE_FOLDER, ES_READONLY);
                  buttonsShown = HasVisibleStyle(h, IDC_PICK_RESTORE_FILE) &&
                                 HasVisibleStyle(h, IDC_PICK_RESTORE_FOLDER);
                  icon = reinterpret_cast<HICON>(::SendMessageW(h, WM_GETICON, ICON_SMALL, 0));
                  EXPECT_EQ(TextOf(h, IDC_RESTORE_FILE), L"");
                  EXPECT_EQ(TextOf(h, IDC_RESTORE_FOLDER), L"");
                  EXPECT_EQ(TextOf(h, IDOK), L"还原");
                  EXPECT_EQ(TextOf(h, IDC_RESTORE_BACKUP), L"备份");
                  Cancel(h);
              }}),
              IDCANCEL);
    EXPECT_EQ(caption, L"手动备份与还原");
    EXPECT_TRUE(readOnly);
    EXPECT_TRUE(buttonsShown);
    EXPECT_EQ(icon, dialog.m_hIcon);
}

TEST_F(RestoreDialog, BothCommandsCheckTheFileBeforeTheFolder) {
    for (int command : {IDC_RESTORE_BACKUP, IDOK}) {
        services.messages.clear();
        HWND focusEmpty = nullptr, focusFileOnly = nullptr, pickFileButton = nullptr,
             pickFolderButton = nullptr;
        EXPECT_EQ(Run({[&](HWND h) {
                           pickFileButton = ::GetDlgItem(h, IDC_PICK_RESTORE_FILE);
                           pickFolderButton = ::GetDlgItem(h, IDC_PICK_RESTORE_FOLDER);
                           Click(h, command);
                           focusEmpty = ::GetFocus();
                           Type(h, IDC_RESTORE_FILE, L"C:\\a.bkp");
                           Click(h, command);
                           focusFileOnly = ::GetFocus();
                       },
                       Cancel}),
                  IDCANCEL);
        EXPECT_EQ(MessageTexts(services), (std::vector<std::string>{"请选择备份文件.", "请选择还原路径."}))
            << command;
        for (const ShownMessage& message : services.messages) {
            EXPECT_EQ(message.caption, "错误");
            EXPECT_EQ(message.type, kInfoOk);
        }
        EXPECT_EQ(focusEmpty, pickFileButton);
        EXPECT_EQ(focusFileOnly, pickFolderButton);
        EXPECT_TRUE(Fakes().calls.empty());
    }
}

TEST_F(RestoreDialog, PathsOf255BytesPassAnd256AreRefused) {
    const std::wstring p255 = L"C:\\" + std::wstring(252, L'p'), p256 = p255 + L"q";
    const struct {
        std::wstring file, folder;
        std::vector<std::string> messages;
        std::vector<std::string> calls;
    } cases[] = {
        {p256, L"", {"路径长度超过限制范围，请重新选择路径."}, {}},
        {L"C:\\a.bkp", p256, {"还原路径长度超过限制范围，请重新选择路径."}, {}},
        {L"C:\\\u0915.bkp", L"D:\\r", {"路径含有无法保存的字符."}, {}},
        {p255, p255, {}, {"kivo_restore"}},
    };
    for (const auto& c : cases) {
        ResetFakes();
        services.messages.clear();
        CRestoreDlg dlg;
        ModalDriver driver;
        driver.Then([&] {
            Type(dlg.GetSafeHwnd(), IDC_RESTORE_FILE, c.file);
            Type(dlg.GetSafeHwnd(), IDC_RESTORE_FOLDER, c.folder);
            Click(dlg.GetSafeHwnd(), IDOK);
        });
        driver.Then([&] {
            if (dlg.GetSafeHwnd()) Click(dlg.GetSafeHwnd(), IDCANCEL);
        });
        driver.Run([&] { return dlg.DoModal(); });
        EXPECT_EQ(MessageTexts(services), c.messages);
        EXPECT_EQ(Fakes().calls, c.calls);
    }
    ASSERT_EQ(Fakes().restores.size(), 1u);
    EXPECT_EQ(Fakes().restores[0].first.size(), 255u);
}

TEST_F(RestoreDialog, RestoreHandsFileThenFolderAndAFailureKeepsTheDialogOpen) {
    Fakes().restoreResult = 5;
    bool openAfterFailure = false;
    EXPECT_EQ(Run({[&](HWND h) {
                       Type(h, IDC_RESTORE_FILE, L"C:\\备份.bkp");
                       Type(h, IDC_RESTORE_FOLDER, L"D:\\还原");
                       Click(h, IDOK);
                   },
                   [&](HWND h) {
                       openAfterFailure = dialog.IsModalLoopRunning() && ::IsWindowVisible(h);
                       Fakes().restoreResult = 0;
                       Click(h, IDOK);
                   },
                   [](HWND) {}}),
              IDOK);
    EXPECT_TRUE(openAfterFailure);
    EXPECT_EQ(MessageTexts(services), std::vector<std::string>{"执行还原失败,错误代码:5"});
    EXPECT_EQ(services.messages[0].caption, "错误");
    EXPECT_EQ(services.messages[0].type, kInfoOk);
    EXPECT_EQ(Fakes().calls, (std::vector<std::string>{"kivo_restore", "kivo_restore"}));
    ASSERT_EQ(Fakes().restores.size(), 2u);
    EXPECT_EQ(Fakes().restores[1], std::make_pair(std::string("C:\\备份.bkp"), std::string("D:\\还原")));
}

TEST_F(RestoreDialog, BackupHandsFolderThenFileAndShowsItsOwnFailure) {
    Fakes().backupResult = 21;
    EXPECT_EQ(Run({[&](HWND h) {
                       Type(h, IDC_RESTORE_FILE, L"C:\\new.bkp");
                       Type(h, IDC_RESTORE_FOLDER, L"D:\\data");
                       Click(h, IDC_RESTORE_BACKUP);
                   },
                   [&](HWND h) {
                       Fakes().backupResult = 0;
                       Click(h, IDC_RESTORE_BACKUP);
                   },
                   [](HWND) {}}),
              IDOK);
    EXPECT_EQ(MessageTexts(services), std::vector<std::string>{"执行备份失败,错误代码:21"});
    ASSERT_EQ(Fakes().backups.size(), 2u);
    EXPECT_EQ(Fakes().backups[1], std::make_pair(std::string("D:\\data"), std::string("C:\\new.bkp")));
}

TEST_F(RestoreDialog, AnExistingBackupFileIsReplacedOnlyAfterYes) {
    // No: nothing is called, the dialog stays open with its paths (and is cancelled afterwards).
    const struct {
        int answer;
        INT_PTR result;
        std::vector<std::string> calls;
    } cases[] = {{IDNO, IDCANCEL, {}}, {IDYES, IDOK, {"kivo_backup"}}};
    for (const auto& c : cases) {
        ResetFakes();
        Fakes().attributes["C:\\旧.bkp"] = FILE_ATTRIBUTE_ARCHIVE;
        services.messages.clear();
        services.answers = {c.answer};
        CRestoreDlg dlg;
        std::wstring fileAfter;
        ModalDriver driver;
        driver.Then([&] {
            Type(dlg, IDC_RESTORE_FILE, L"C:\\旧.bkp");
            Type(dlg, IDC_RESTORE_FOLDER, L"D:\\data");
            Click(dlg, IDC_RESTORE_BACKUP);
            fileAfter = TextOf(dlg, IDC_RESTORE_FILE);
        });
        driver.Then([&] { Click(dlg, IDCANCEL); });  // refused while a call runs
        EXPECT_EQ(driver.Run([&] { return dlg.DoModal(); }), c.result) << c.answer;
        EXPECT_EQ(Fakes().calls, c.calls);
        EXPECT_EQ(fileAfter, L"C:\\旧.bkp");
        ASSERT_EQ(services.messages.size(), 1u);
        EXPECT_EQ(services.messages[0].text, "文件已存在，是否替换？");
        EXPECT_EQ(services.messages[0].caption, "手动备份");
        EXPECT_EQ(services.messages[0].type, UINT(MB_YESNO | MB_ICONINFORMATION));
    }
}

TEST_F(RestoreDialog, ChoosersFillThePathsAndCancelKeepsThem) {
    services.files = {L"C:\\new.bkp", L""};
    services.folders = {L"D:\\target", L""};
    std::wstring file, folder;
    HWND hwnd = nullptr;
    EXPECT_EQ(Run({[&](HWND h) {
                  hwnd = h;
                  for (int i = 0; i < 2; ++i) {
                      Click(h, IDC_PICK_RESTORE_FILE);
                      Click(h, IDC_PICK_RESTORE_FOLDER);
                  }
                  file = TextOf(h, IDC_RESTORE_FILE);
                  folder = TextOf(h, IDC_RESTORE_FOLDER);
                  Cancel(h);
              }}),
              IDCANCEL);
    EXPECT_EQ(file, L"C:\\new.bkp");
    EXPECT_EQ(folder, L"D:\\target");
    ASSERT_EQ(services.pickers.size(), 4u);
    EXPECT_EQ(services.pickers[0].kind, PickerCall::File);
    EXPECT_EQ(services.pickers[0].titleOrFilter, L"BackFiles (*.bkp)|*.bkp||");
    EXPECT_EQ(services.pickers[0].owner, hwnd);
    // A backup names a file that does not exist yet: the chooser must not insist on an existing one.
    EXPECT_EQ(services.pickers[0].flags & OFN_FILEMUSTEXIST, 0u);
    EXPECT_EQ(services.pickers[0].flags, DWORD(OFN_HIDEREADONLY | OFN_PATHMUSTEXIST));
    EXPECT_EQ(services.pickers[1].kind, PickerCall::Folder);
    EXPECT_EQ(services.pickers[1].titleOrFilter, L"请选择文件夹");
    EXPECT_TRUE(Fakes().calls.empty());
}

TEST_F(RestoreDialog, WhileTheCallRunsItsButtonsAreOffClosingIsRefusedAndTheCaptionCounts) {
    const struct {
        int command;
        ManualOperation operation;
        int result;
        std::wstring running, counting;  // the caption before and after the engine's first figures
        INT_PTR ended;
        std::vector<std::string> messages;
    } cases[] = {
        {IDC_RESTORE_BACKUP,
         ManualOperation::Backup,
         0,
         L"手动备份与还原 - 正在备份…",
         L"手动备份与还原 - 正在备份… 1,234 个文件",
         IDOK,
         {}},
        {IDOK,
         ManualOperation::Restore,
         7,
         L"手动备份与还原 - 正在还原…",
         L"手动备份与还原 - 正在还原… 1,234 个文件",
         IDCANCEL,
         {"执行还原失败,错误代码:7"}},
    };
    const int buttons[] = {IDC_PICK_RESTORE_FILE, IDC_PICK_RESTORE_FOLDER, IDC_RESTORE_BACKUP, IDOK};
    auto anyEnabled = [&](HWND h) {
        return std::any_of(std::begin(buttons), std::end(buttons),
                           [&](int id) { return ::IsWindowEnabled(::GetDlgItem(h, id)) != FALSE; });
    };
    auto caption = [](HWND h) {
        wchar_t text[128] = {};
        ::GetWindowTextW(h, text, 128);
        return std::wstring(text);
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.command);
        ResetFakes();
        services.messages.clear();
        Fakes().backupResult = Fakes().restoreResult = c.result;
        CRestoreDlg dlg;
        std::wstring running, afterCall;
        bool enabledWhileRunning = true, openAfterRefusals = false, enabledAfterCall = false;
        ModalDriver driver;
        driver.Then([&] {
            Type(dlg, IDC_RESTORE_FILE, L"C:\\a.bkp");
            Type(dlg, IDC_RESTORE_FOLDER, L"D:\\d");
            ManualCallGate().Close();
            Click(dlg, c.command);
        });
        driver.Until([] { return ManualCallGate().Holding(); });
        driver.Then([&] {
            running = caption(dlg);
            enabledWhileRunning = anyEnabled(dlg);
            Click(dlg, c.command);  // slips past the disabled button: nothing
            PressKey(::GetDlgItem(dlg, IDC_RESTORE_FILE), VK_ESCAPE);
            ::SendMessageW(dlg, WM_CLOSE, 0, 0);
            // What the run-log callback hands over while the engine works.
            editors::ManualCallProgress().Note(ManualProgressLine({c.operation, 1234, 5678}));
        });
        driver.Until([&] { return caption(dlg) == c.counting; });
        driver.Then([&] {
            openAfterRefusals = dlg.IsModalLoopRunning() && ::IsWindowVisible(dlg.GetSafeHwnd());
            ManualCallGate().Open();
        });
        if (c.ended == IDCANCEL) {
            driver.Until([&] { return anyEnabled(dlg); });
            driver.Then([&] {
                afterCall = caption(dlg);
                enabledAfterCall = ::IsWindowEnabled(::GetDlgItem(dlg, IDC_PICK_RESTORE_FILE)) &&
                                   ::IsWindowEnabled(::GetDlgItem(dlg, IDC_RESTORE_BACKUP)) &&
                                   ::IsWindowEnabled(::GetDlgItem(dlg, IDOK));
                Click(dlg, IDCANCEL);
            });
        }
        EXPECT_EQ(driver.Run([&] { return dlg.DoModal(); }), c.ended);
        ManualCallGate().Open();
        EXPECT_FALSE(driver.TimedOut());
        EXPECT_EQ(running, c.running);
        EXPECT_FALSE(enabledWhileRunning);
        EXPECT_TRUE(openAfterRefusals);
        EXPECT_EQ(Fakes().calls.size(), 1u);
        EXPECT_EQ(MessageTexts(services), c.messages);
        if (c.ended == IDCANCEL) {
            EXPECT_EQ(afterCall, L"手动备份与还原");
            EXPECT_TRUE(enabledAfterCall);
        }
    }
}

TEST_F(RestoreDialog, EscapeAndTheCloseBoxCallNothing) {
    for (bool closeBox : {false, true}) {
        ResetFakes();
        CRestoreDlg dlg;
        ModalDriver driver;
        driver.Then([&] {
            Type(dlg.GetSafeHwnd(), IDC_RESTORE_FILE, L"C:\\a.bkp");
            Type(dlg.GetSafeHwnd(), IDC_RESTORE_FOLDER, L"D:\\d");
            if (closeBox) {
                ::SendMessageW(dlg.GetSafeHwnd(), WM_CLOSE, 0, 0);
            } else {
                PressKey(::GetDlgItem(dlg.GetSafeHwnd(), IDC_PICK_RESTORE_FILE), VK_ESCAPE);
            }
        });
        EXPECT_EQ(driver.Run([&] { return dlg.DoModal(); }), IDCANCEL) << closeBox;
        EXPECT_TRUE(Fakes().calls.empty()) << closeBox;
    }
}

}  // namespace
}  // namespace editors_testing
