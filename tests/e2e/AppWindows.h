// Looking at another process's windows the way a user sees them: dialogs found by caption,
// controls by id, texts, states, message boxes with their icon, and the keyboard focus.
// Everything crosses the process boundary through window messages the system marshals itself.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace e2e {

// Sends a message to another process's window; gives up after 5 s (answering 0) instead of
// hanging the driver when the app is stuck.
LRESULT Send(HWND window, UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);

// Polls cond every few milliseconds until it holds or timeoutMs passed; returns its last answer.
bool WaitUntil(const std::function<bool()>& cond, DWORD timeoutMs = 10000);

// Visible top-level windows of the process with the class, in z-order (topmost first).
std::vector<HWND> TopLevelWindows(DWORD pid, const wchar_t* windowClass = L"#32770");
// The visible top-level dialog of the process with exactly this caption, or nullptr.
HWND FindDialog(DWORD pid, const std::wstring& caption);
HWND WaitForDialog(DWORD pid, const std::wstring& caption, DWORD timeoutMs = 10000);
bool WaitForDialogGone(DWORD pid, const std::wstring& caption, DWORD timeoutMs = 10000);

// A control by id anywhere below the dialog (the schedule panel is a child dialog).
HWND Control(HWND dialog, int id);
std::wstring TextOf(HWND window);
std::wstring TextOf(HWND dialog, int id);
std::wstring ClassOf(HWND window);
// Sets an edit's text as the system does for typed text (the edit raises EN_CHANGE).
void SetText(HWND dialog, int id, const std::wstring& text);
// Posts a click: a click that opens a modal box would block a sent one.
void Click(HWND dialog, int id);
bool IsEnabled(HWND dialog, int id);
bool IsVisible(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);
// Asks the window to close, as its close box does.
void PressCloseBox(HWND window);

// The window with the keyboard focus in the thread that owns window.
HWND FocusOf(HWND window);
// The selection of an edit in UTF-16 units, and whether that is the whole text.
std::pair<int, int> SelectionOf(HWND edit);
bool WholeTextSelected(HWND edit);

// The standard icons a message box shows.
enum class BoxIcon { None, Information, Warning, Error, Question, Unknown };
const char* IconName(BoxIcon icon);

struct MessageBoxView {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
    BoxIcon icon = BoxIcon::None;
    std::vector<int> buttons;  // ids of the visible buttons, left to right
};

// Reads a message box: its text is control 0xFFFF, its icon the SS_ICON static (compared by its
// pixels with the system's icons, since an icon handle means nothing in another process).
MessageBoxView ReadMessageBox(HWND box);
// Waits for a message box of the process with this caption and reads it.
MessageBoxView WaitForMessageBox(DWORD pid, const std::wstring& caption, DWORD timeoutMs = 10000);
// Presses a message box button and waits for the box to go.
bool AnswerMessageBox(const MessageBoxView& box, int buttonId);

}  // namespace e2e
