// What every end-to-end test does with the app: a fresh data folder with one account made by
// plan_account beforehand, starting the app and logging in, the run buttons, the popup menus
// opened with real mouse input, the shell pickers, message boxes and screenshots.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "AppSession.h"
#include "AppWindows.h"
#include "MenuPicture.h"
#include "RemoteListView.h"
#include "ScratchFolder.h"
#include "ScreenCapture.h"

namespace e2e {

inline const std::wstring kLoginCaption = L"登录 - 任务计划管理";
inline const std::wstring kMainCaption = L"备份与清理计划 v1.0";
inline const std::wstring kRestoreCaption = L"手动备份与还原";
inline const std::wstring kUser = L"操作员";
inline const std::wstring kPassword = L"Pass-口令-7";

std::string U8(const std::wstring& text);
std::string Gbk(const std::wstring& text);

// Screenshots go to PLAN_DESK_E2E_SHOTS, else <build>\e2e-screenshots. Prints the file's name.
std::wstring ScreenshotFolder();
std::wstring SaveScreenshot(HWND window, const std::wstring& folder, const std::wstring& name);

// The popup items of both rule lists, in order: new, change, enable/disable, delete, run now; then the
// one-rule item of each list: the clean list's preview, the backup list's verify.
enum PopupItem { kNew, kChange, kToggle, kDelete, kRunNow, kPreview, kVerify = kPreview };
struct PopupState {
    bool grayed[6] = {};
    bool enableText = false;  // the third item reads "启用(&U)" rather than "禁用(&U)"
};

class PlanDeskSession {
  public:
    PlanDeskSession();
    ~PlanDeskSession();

    std::wstring Home() const { return m_home.Wide(); }
    AppSession& App() { return *m_app; }
    DWORD Pid() const { return m_app->Pid(); }

    // Starts plan_desk.exe and waits for its login dialog.
    HWND Start();
    // Starts plan_desk.exe /background and waits for its notification window (which is never shown).
    HWND StartInBackground();
    // Logs in with the account; returns the main window once the login has gone.
    HWND LogIn(HWND login);
    HWND StartLoggedIn() { return LogIn(Start()); }
    // Closes the main window with its close box; true when the app then ended with code 0.
    bool CloseApp(HWND main);

    // Waits for the run buttons to show the engine running (true) or stopped.
    bool RunButtonsShow(HWND main, bool running, DWORD timeoutMs = 3000);
    bool StopAutomaticRunning(HWND main);
    bool StartAutomaticRunning(HWND main);

    RemoteListView List(HWND main, int id) const {
        return RemoteListView(m_app->Process(), Control(main, id));
    }
    // Waits for a run-log line that equals text (or, with prefix, starts with it).
    bool WaitForLogLine(HWND main, const std::wstring& text, bool prefix = false, DWORD timeoutMs = 10000);

    // Selects rows with real clicks (none: a click on the empty part of the list), then right
    // clicks a selected row (or the empty part) and waits for the popup menu. With state, the
    // popup must look exactly like a menu drawn with those texts and greyed items.
    HWND OpenPopup(HWND main, int listId, const std::vector<int>& rows);
    HWND OpenPopup(HWND main, int listId, const std::vector<int>& rows, const PopupState& state);
    // Chooses the item by its accelerator and waits for the menu to close.
    void Choose(PopupItem item);

    // Waits for a message box, checks caption, text, information icon and single OK, answers it,
    // then checks the focus landed on focusId (with the whole text selected when selectAll).
    ::testing::AssertionResult Refuses(HWND owner, const std::wstring& caption, const std::wstring& text,
                                       int focusId, bool selectAll);
    // Clicks the save button (or any button) and expects the refusal.
    ::testing::AssertionResult SaveRefused(HWND dialog, const std::wstring& caption, const std::wstring& text,
                                           int focusId, bool selectAll, int button = IDOK);

    // Clicks a "..." button and picks the folder in the real shell folder picker.
    bool PickFolder(HWND dialog, int button, const std::wstring& folder);
    // Clicks a "..." button and types the file's full path into the real open-file chooser;
    // filter receives the chooser's file-type text.
    bool PickFile(HWND dialog, int button, const std::wstring& file, std::wstring* filter = nullptr);

    // Creates a rule through the popup's new item and its editor: the description, the folders
    // picked with the real picker, the schedule panel's default. True once the list shows it.
    bool AddCleanRule(HWND main, const std::wstring& description, const std::wstring& folder);
    bool AddBackupRule(HWND main, const std::wstring& description, const std::wstring& source,
                       const std::wstring& target);

    // Posts a click and waits until cond holds (the click has been handled).
    bool ClickAndWait(HWND dialog, int id, const std::function<bool()>& cond);

  private:
    const Pixels& ReferenceMenu(const PopupState& state, bool cleanList);
    // Opens the list's new-rule editor, lets fill set it up and saves it; each step that fails says so.
    bool AddRule(HWND main, int listId, const wchar_t* caption, const std::function<bool(HWND)>& fill);

    ScratchFolder m_home;
    std::map<std::wstring, Pixels> m_references;
    std::unique_ptr<AppSession> m_app;
};

// Writes the data folder's rule file with one daily clean rule over the folder whose schedule took
// effect three days ago and that never ran: the state a machine that was off meanwhile leaves, so
// the rule runs (late) as soon as automatic running starts. Written as the engine writes it.
bool WriteOverdueCleanRule(const std::wstring& home, const std::wstring& folder,
                           const std::wstring& description);

// The process's hidden window that owns its notification icon, or nullptr.
HWND NotifyWindowOf(DWORD pid);
// Every visible top-level window of the process, of any class.
std::vector<HWND> VisibleWindowsOf(DWORD pid);

// The file names of the files and folders in the data folder with their bytes and times.
struct FolderState {
    std::vector<std::pair<std::wstring, std::string>> files;
    std::vector<std::pair<std::wstring, ULONGLONG>> times;
    bool operator==(const FolderState&) const = default;
};
FolderState ReadFolderState(const std::wstring& folder);

}  // namespace e2e
