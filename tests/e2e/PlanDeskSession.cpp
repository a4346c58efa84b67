#include "PlanDeskSession.h"

#include <commctrl.h>
#include <shlobj.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <algorithm>

#include "ScreenCapture.h"
#include "UserInput.h"
#include "resource.h"
#include "rule_store.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

constexpr int kPickerTree = 14145;   // the folder picker's tree
constexpr int kPickerTitle = 14146;  // the title text the caller gave the picker
constexpr int kFileNameBox = 1148;   // the open-file chooser's file name (cmb13)
constexpr int kFileTypeBox = 1136;   // its file types (cmb1)

std::string Convert(const std::wstring& text, UINT codePage) {
    if (text.empty()) return {};
    const int n =
        ::WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(size_t(n), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

// A new dialog of the process that holds the control, other than the ones listed.
HWND WaitForDialogWith(DWORD pid, int controlId, DWORD timeoutMs = 5000) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (HWND window : TopLevelWindows(pid)) {
                if (::GetDlgItem(window, controlId)) return (found = window) != nullptr;
            }
            return false;
        },
        timeoutMs);
    return found;
}

const wchar_t* const kNewItem = L"新建规则(&N)";
const wchar_t* const kChangeItem = L"修改规则(&E)";
const wchar_t* const kDisableItem = L"禁用(&U)";
const wchar_t* const kEnableItem = L"启用(&U)";
const wchar_t* const kDeleteItem = L"删除(&D)";
const wchar_t* const kRunNowItem = L"手动执行(&R)";
const wchar_t* const kPreviewItem = L"预览清理(&V)…";
const wchar_t* const kVerifyItem = L"校验备份(&V)";
const WORD kItemKeys[] = {'N', 'E', 'U', 'D', 'R', 'V'};

}  // namespace

std::string U8(const std::wstring& text) {
    return Convert(text, CP_UTF8);
}

std::string Gbk(const std::wstring& text) {
    return Convert(text, 936);
}

std::wstring ScreenshotFolder() {
    wchar_t configured[MAX_PATH] = L"";
    std::wstring folder;
    if (::GetEnvironmentVariableW(L"PLAN_DESK_E2E_SHOTS", configured, MAX_PATH) > 0) {
        folder = configured;
    } else {
        folder = (fs::path(BinFolder()).parent_path() / L"e2e-screenshots").wstring();
    }
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    return folder;
}

std::wstring SaveScreenshot(HWND window, const std::wstring& folder, const std::wstring& name) {
    const std::wstring path = (fs::path(folder) / name).wstring();
    if (!WritePng(path, CaptureWindow(window))) {
        std::printf("screenshot failed: %s\n", U8(path).c_str());
        return L"";
    }
    // Under Wine, also name the file as the host sees it.
    std::wstring host;
    if (path.size() > 2 && (path[0] == L'Z' || path[0] == L'z') && path[1] == L':') {
        host = path.substr(2);
        for (wchar_t& c : host) c = c == L'\\' ? L'/' : c;
    }
    std::printf("screenshot: %s%s%s\n", U8(path).c_str(), host.empty() ? "" : "  =  ", U8(host).c_str());
    std::fflush(stdout);
    return path;
}

PlanDeskSession::PlanDeskSession() : m_home(L"home") {
    // The app is DPI-aware; the driver must see the same pixels to aim its clicks and pictures.
    ::SetProcessDPIAware();
    // The account exists before the app first starts, as an administrator would have made it.
    std::string output;
    const std::string password = Gbk(kPassword) + "\n";
    const int code =
        RunTool(L"plan_account.exe", L"add " + kUser, m_home.Wide(), password + password, &output);
    EXPECT_EQ(code, 0) << output;
}

PlanDeskSession::~PlanDeskSession() {
    m_app.reset();
}

HWND PlanDeskSession::Start() {
    if (m_app) m_app->Kill();
    m_app = std::make_unique<AppSession>(m_home.Wide());
    EXPECT_TRUE(m_app->Started());
    HWND login = WaitForDialog(m_app->Pid(), kLoginCaption);
    EXPECT_NE(login, nullptr) << "no login dialog";
    return login;
}

HWND PlanDeskSession::StartInBackground() {
    if (m_app) m_app->Kill();
    m_app = std::make_unique<AppSession>(m_home.Wide(), false, L"/background");
    EXPECT_TRUE(m_app->Started());
    HWND notify = nullptr;
    WaitUntil([&] { return (notify = NotifyWindowOf(m_app->Pid())) != nullptr; });
    EXPECT_NE(notify, nullptr) << "no notification window";
    return notify;
}

bool WriteOverdueCleanRule(const std::wstring& home, const std::wstring& folder,
                           const std::wstring& description) {
    kivo::RuleSet rules;
    kivo::StoredRule<ClearRule> stored;
    stored.rule.rule_id = 1;
    stored.rule.enabled = 1;
    stored.rule.schedule = RunSchedule{0, 0, 0, 200};
    WriteField(stored.rule.description, Gbk(description));
    WriteField(stored.rule.path, Gbk(folder));
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    stored.times.since = std::chrono::duration_cast<std::chrono::seconds>(now).count() - 3 * 86400;
    rules.clear[1] = stored;
    rules.nextId = 2;
    return kivo::RuleStore(fs::path(home)).Save(rules);
}

HWND NotifyWindowOf(DWORD pid) {
    for (HWND found = nullptr;
         (found = ::FindWindowExW(nullptr, found, L"plan_desk.NotifyIconWindow", nullptr));) {
        DWORD owner = 0;
        ::GetWindowThreadProcessId(found, &owner);
        if (owner == pid) return found;
    }
    return nullptr;
}

std::vector<HWND> VisibleWindowsOf(DWORD pid) {
    struct Search {
        DWORD pid;
        std::vector<HWND> found;
    } search{pid, {}};
    ::EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* s = reinterpret_cast<Search*>(param);
            DWORD owner = 0;
            ::GetWindowThreadProcessId(window, &owner);
            if (owner == s->pid && ::IsWindowVisible(window)) s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND PlanDeskSession::LogIn(HWND login) {
    if (!login) return nullptr;
    SetText(login, IDC_LOGIN_USER, kUser);
    SetText(login, IDC_LOGIN_PASSWORD, kPassword);
    Click(login, IDC_LOGIN_BUTTON);
    const bool gone = WaitForDialogGone(Pid(), kLoginCaption);
    EXPECT_TRUE(gone) << "the login dialog stayed open";
    HWND main = WaitForDialog(Pid(), kMainCaption);
    EXPECT_NE(main, nullptr) << "no main window";
    return gone ? main : nullptr;
}

bool PlanDeskSession::CloseApp(HWND main) {
    PressCloseBox(main);
    DWORD code = 1;
    return m_app->WaitForExit(15000, &code) && code == 0;
}

bool PlanDeskSession::RunButtonsShow(HWND main, bool running, DWORD timeoutMs) {
    return WaitUntil(
        [&] {
            return IsEnabled(main, IDC_STOP_RUN) == running && IsEnabled(main, IDC_AUTO_RUN) == !running &&
                   IsEnabled(main, IDC_MANUAL_RESTORE) == !running;
        },
        timeoutMs);
}

bool PlanDeskSession::StopAutomaticRunning(HWND main) {
    if (!RunButtonsShow(main, true)) return false;
    Click(main, IDC_STOP_RUN);
    return RunButtonsShow(main, false);
}

bool PlanDeskSession::StartAutomaticRunning(HWND main) {
    if (!RunButtonsShow(main, false)) return false;
    Click(main, IDC_AUTO_RUN);
    return RunButtonsShow(main, true);
}

bool PlanDeskSession::WaitForLogLine(HWND main, const std::wstring& text, bool prefix, DWORD timeoutMs) {
    RemoteListView log = List(main, IDC_LOG_LIST);
    return WaitUntil(
        [&] {
            for (const std::wstring& line : log.Column(1)) {
                if (prefix ? line.rfind(text, 0) == 0 : line == text) return true;
            }
            return false;
        },
        timeoutMs);
}

HWND PlanDeskSession::OpenPopup(HWND main, int listId, const std::vector<int>& rows) {
    RemoteListView list = List(main, listId);
    // A click on a window in the background would first have to bring it forward.
    if (::GetForegroundWindow() != main) {
        ::SetForegroundWindow(main);
        WaitUntil([&] { return ::GetForegroundWindow() == main; }, 2000);
    }
    // Selects the rows with left clicks, then right clicks. The left clicks come first also where
    // they change nothing: under Wine the first right click after a popup menu closed opens no new
    // one, while a left click in between lets it.
    bool selected = true;
    auto clickOpen = [&]() -> HWND {
        POINT target;
        if (rows.empty()) {
            // Below the last row: a click there selects nothing.
            RECT client;
            ::GetClientRect(list.Window(), &client);
            ::MapWindowPoints(list.Window(), nullptr, reinterpret_cast<POINT*>(&client), 2);
            target = {client.left + 40, client.bottom - 12};
            ClickAt(target, MouseButton::Left);
        } else {
            for (size_t i = 0; i < rows.size(); ++i)
                ClickAt(RowPoint(list.RowRect(rows[i])), MouseButton::Left, i > 0);
            target = RowPoint(list.RowRect(rows.front()));
        }
        if (!WaitUntil([&] { return list.SelectedRows() == rows; }, 3000)) {
            ADD_FAILURE() << "the clicks did not select the rows";
            selected = false;
            return nullptr;
        }
        ClickAt(target, MouseButton::Right);
        return WaitForPopupMenu(Pid());
    };
    HWND menu = clickOpen();
    // Now and then (once in a few dozen runs, on a busy machine) Wine drops that right click as well;
    // a user would click again, and so does the driver, once. A menu that came late is taken as it is:
    // a click beside it would only close it.
    if (!menu && selected) menu = FindPopupMenu(Pid());
    if (!menu && selected) menu = clickOpen();
    if (selected) {
        EXPECT_NE(menu, nullptr) << "no popup menu after the right click";
    }
    return menu;
}

HWND PlanDeskSession::OpenPopup(HWND main, int listId, const std::vector<int>& rows,
                                const PopupState& state) {
    // Drawn first: the reference must not take the input while the app's menu is open. Each list's
    // menu ends with an item available for exactly one rule (the preview, the verify).
    PopupState drawn = state;
    const bool cleanList = listId == IDC_CLEAR_LIST;
    drawn.grayed[kPreview] = rows.size() != 1;
    const Pixels& expected = ReferenceMenu(drawn, cleanList);
    HWND menu = OpenPopup(main, listId, rows);
    if (!menu) return nullptr;
    const Pixels shown = CaptureWindow(menu);
    if (shown == expected) return menu;
    std::wstring differences;
    if (shown.width != expected.width || shown.height != expected.height) {
        differences = L" size " + std::to_wstring(shown.width) + L"x" + std::to_wstring(shown.height) +
                      L" instead of " + std::to_wstring(expected.width) + L"x" +
                      std::to_wstring(expected.height);
    } else {
        // Name the items whose band of the picture differs.
        const int items = 6;
        const int band = shown.height / items;
        for (int item = 0; item < items; ++item) {
            for (int y = item * band; y < (item + 1) * band; ++y) {
                const auto row = size_t(y) * size_t(shown.width);
                if (!std::equal(shown.bgra.begin() + long(row),
                                shown.bgra.begin() + long(row + size_t(shown.width)),
                                expected.bgra.begin() + long(row))) {
                    differences += L" item " + std::to_wstring(item + 1);
                    break;
                }
            }
        }
    }
    const std::wstring folder = ScreenshotFolder();
    WritePng(folder + L"\\popup-shown.png", shown);
    WritePng(folder + L"\\popup-expected.png", expected);
    ADD_FAILURE() << "the popup differs from the expected menu:" << U8(differences)
                  << " (pictures: popup-shown.png, popup-expected.png)";
    return menu;
}

const Pixels& PlanDeskSession::ReferenceMenu(const PopupState& state, bool cleanList) {
    const wchar_t* texts[] = {kNewItem,    kChangeItem, state.enableText ? kEnableItem : kDisableItem,
                              kDeleteItem, kRunNowItem, cleanList ? kPreviewItem : kVerifyItem};
    std::vector<MenuLine> lines;
    std::wstring key;
    for (int i = 0; i < 6; ++i) {
        lines.push_back({texts[i], state.grayed[i]});
        key += std::wstring(texts[i]) + (state.grayed[i] ? L"-" : L"+");
    }
    auto found = m_references.find(key);
    if (found == m_references.end()) {
        // Away from the app's windows; a menu's picture does not depend on where it opens.
        found = m_references.emplace(key, DrawReferenceMenu(lines, {900, 560})).first;
    }
    return found->second;
}

void PlanDeskSession::Choose(PopupItem item) {
    PressKey(kItemKeys[item]);
    EXPECT_TRUE(WaitUntil([&] { return FindPopupMenu(Pid()) == nullptr; }, 3000)) << "the popup stayed open";
}

::testing::AssertionResult PlanDeskSession::Refuses(HWND owner, const std::wstring& caption,
                                                    const std::wstring& text, int focusId, bool selectAll) {
    const MessageBoxView box = WaitForMessageBox(Pid(), caption);
    if (!box.window) return ::testing::AssertionFailure() << "no message box titled " << U8(caption);
    std::string faults;
    if (box.text != text) faults += " message \"" + U8(box.text) + "\"";
    if (box.icon != BoxIcon::Information) faults += std::string(" icon ") + IconName(box.icon);
    if (box.buttons != std::vector<int>{IDOK}) faults += " not a single OK button";
    if (::GetWindow(box.window, GW_OWNER) != owner) faults += " owned by another window";
    AnswerMessageBox(box, IDOK);
    if (!faults.empty())
        return ::testing::AssertionFailure() << faults << " (expected \"" << U8(text) << "\")";
    HWND expected = Control(owner, focusId);
    if (!WaitUntil([&] { return FocusOf(owner) == expected; }, 2000)) {
        return ::testing::AssertionFailure() << "after \"" << U8(text) << "\" the focus is on control "
                                             << ::GetDlgCtrlID(FocusOf(owner)) << ", not " << focusId;
    }
    if (selectAll && !WholeTextSelected(expected)) {
        const auto [start, end] = SelectionOf(expected);
        return ::testing::AssertionFailure()
               << "after \"" << U8(text) << "\" control " << focusId << " selects " << start << ".." << end
               << " of \"" << U8(TextOf(expected)) << "\"";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult PlanDeskSession::SaveRefused(HWND dialog, const std::wstring& caption,
                                                        const std::wstring& text, int focusId, bool selectAll,
                                                        int button) {
    Click(dialog, button);
    return Refuses(dialog, caption, text, focusId, selectAll);
}

bool PlanDeskSession::PickFolder(HWND dialog, int button, const std::wstring& folder) {
    Click(dialog, button);
    HWND picker = WaitForDialogWith(Pid(), kPickerTree);
    if (!picker) {
        ADD_FAILURE() << "no folder picker after clicking control " << button;
        return false;
    }
    EXPECT_EQ(U8(TextOf(picker, kPickerTitle)), U8(L"请选择文件夹"));
    // Select the folder in the picker's tree, as a user clicking down to it would. The tree fills
    // itself after the picker shows, so ask until the folder's own name is the selected item.
    HWND tree = Control(picker, kPickerTree);
    const std::wstring leaf = fs::path(folder).filename().wstring();
    char* remote = static_cast<char*>(
        ::VirtualAllocEx(m_app->Process(), nullptr, 8192, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    const bool selected = WaitUntil(
        [&] {
            DWORD_PTR item = 0;
            ::WriteProcessMemory(m_app->Process(), remote, folder.c_str(),
                                 (folder.size() + 1) * sizeof(wchar_t), nullptr);
            ::SendMessageTimeoutW(picker, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote),
                                  SMTO_ABORTIFHUNG, 5000, &item);
            ::SendMessageTimeoutW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0, SMTO_ABORTIFHUNG, 5000, &item);
            if (!item) return false;
            TVITEMW query{};
            query.mask = TVIF_TEXT;
            query.hItem = reinterpret_cast<HTREEITEM>(item);
            query.pszText = reinterpret_cast<LPWSTR>(remote + 1024);
            query.cchTextMax = 1024;
            ::WriteProcessMemory(m_app->Process(), remote, &query, sizeof query, nullptr);
            DWORD_PTR got = 0;
            ::SendMessageTimeoutW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG,
                                  5000, &got);
            wchar_t text[260] = L"";
            ::ReadProcessMemory(m_app->Process(), remote + 1024, text, sizeof text - sizeof(wchar_t),
                                nullptr);
            return got && leaf == text;
        },
        3000);
    ::VirtualFreeEx(m_app->Process(), remote, 0, MEM_RELEASE);
    EXPECT_TRUE(selected) << "the folder picker did not select " << U8(folder);
    Click(picker, IDOK);
    const bool closed = WaitUntil([&] { return !::IsWindow(picker) || !::IsWindowVisible(picker); });
    EXPECT_TRUE(closed) << "the folder picker stayed open";
    return closed && selected;
}

bool PlanDeskSession::PickFile(HWND dialog, int button, const std::wstring& file, std::wstring* filter) {
    Click(dialog, button);
    HWND chooser = WaitForDialogWith(Pid(), kFileTypeBox);
    if (!chooser) return false;
    if (filter) *filter = TextOf(chooser, kFileTypeBox);
    SetText(chooser, kFileNameBox, file);
    Click(chooser, IDOK);
    return WaitUntil([&] { return !::IsWindow(chooser) || !::IsWindowVisible(chooser); });
}

bool PlanDeskSession::AddRule(HWND main, int listId, const wchar_t* caption,
                              const std::function<bool(HWND)>& fill) {
    RemoteListView list = List(main, listId);
    const int before = list.Count();
    if (!OpenPopup(main, listId, {})) return false;
    Choose(kNew);
    HWND editor = WaitForDialog(Pid(), caption);
    if (!editor) {
        ADD_FAILURE() << "no editor " << U8(caption) << " after choosing the new item";
        return false;
    }
    if (!fill(editor)) return false;
    Click(editor, IDOK);
    if (!WaitForDialogGone(Pid(), caption)) {
        ADD_FAILURE() << "the editor " << U8(caption) << " stayed open after saving";
        return false;
    }
    const bool grew = WaitUntil([&] { return list.Count() == before + 1; }, 3000);
    EXPECT_TRUE(grew) << "the list did not show the new rule";
    return grew;
}

bool PlanDeskSession::AddCleanRule(HWND main, const std::wstring& description, const std::wstring& folder) {
    return AddRule(main, IDC_CLEAR_LIST, L"新增删除规则", [&](HWND editor) {
        SetText(editor, IDC_DESCRIPTION, description);
        return PickFolder(editor, IDC_PICK_PATH, folder);
    });
}

bool PlanDeskSession::AddBackupRule(HWND main, const std::wstring& description, const std::wstring& source,
                                    const std::wstring& target) {
    return AddRule(main, IDC_BACKUP_LIST, L"新增备份规则", [&](HWND editor) {
        SetText(editor, IDC_DESCRIPTION, description);
        return PickFolder(editor, IDC_PICK_PATH, source) && PickFolder(editor, IDC_PICK_BACKUP_TARGET, target);
    });
}

bool PlanDeskSession::ClickAndWait(HWND dialog, int id, const std::function<bool()>& cond) {
    Click(dialog, id);
    return WaitUntil(cond, 3000);
}

FolderState ReadFolderState(const std::wstring& folder) {
    FolderState state;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        const std::wstring name = fs::relative(it->path(), folder).wstring();
        WIN32_FILE_ATTRIBUTE_DATA data{};
        ::GetFileAttributesExW(it->path().c_str(), GetFileExInfoStandard, &data);
        state.times.emplace_back(name, (ULONGLONG(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                           data.ftLastWriteTime.dwLowDateTime);
        state.files.emplace_back(name, it->is_directory() ? std::string("<folder>") : ReadBytes(it->path()));
    }
    return state;
}

}  // namespace e2e
