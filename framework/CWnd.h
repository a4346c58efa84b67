// Non-owning window handle wrappers. Texts are GBK; the controls themselves are Unicode.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "Text.h"

namespace fw {

// Reads a window's text as GBK. exact (optional): false when some character has no GBK counterpart.
std::string GetWindowTextGbk(HWND hwnd, bool* exact = nullptr);
void SetWindowTextGbk(HWND hwnd, std::string_view gbk);
std::wstring GetWindowTextWide(HWND hwnd);

class CWnd {
  public:
    CWnd() = default;
    explicit CWnd(HWND hwnd) : m_hWnd(hwnd) {}

    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }
    void Attach(HWND hwnd) { m_hWnd = hwnd; }

    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
    std::string GetText() const { return GetWindowTextGbk(m_hWnd); }
    void SetText(std::string_view gbk) const { SetWindowTextGbk(m_hWnd, gbk); }
    std::string GetItemText(int id, bool* exact = nullptr) const {
        return GetWindowTextGbk(GetDlgItem(id), exact);
    }
    void SetItemText(int id, std::string_view gbk) const { SetWindowTextGbk(GetDlgItem(id), gbk); }
    bool IsChecked(int id) const { return ::IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED; }
    void SetChecked(int id, bool checked) const {
        ::CheckDlgButton(m_hWnd, id, checked ? BST_CHECKED : BST_UNCHECKED);
    }
    void ShowItem(int id, bool show) const { ::ShowWindow(GetDlgItem(id), show ? SW_SHOW : SW_HIDE); }
    void EnableItem(int id, bool enable) const { ::EnableWindow(GetDlgItem(id), enable); }
    void FocusItem(int id) const { ::SetFocus(GetDlgItem(id)); }
    // Focus an edit, select its whole text and scroll the caret into view.
    void FocusAndSelect(int id) const;
    void SetReadOnly(int id, bool readOnly = true) const {
        ::SendMessageW(GetDlgItem(id), EM_SETREADONLY, readOnly, 0);
    }
    bool IsVisible() const { return ::IsWindowVisible(m_hWnd) != FALSE; }

  protected:
    HWND m_hWnd = nullptr;
};

// The DPI the window is shown at: GetDpiForWindow where the system has it (Windows 10 1607 and
// later, Wine 8), else the screen's.
int WindowDpi(HWND hwnd);

// Selects an edit's whole text and scrolls the caret into view, leaving the focus where it is.
void SelectWholeText(HWND edit);

// Gives a window the icon as its big and small icon.
void SetWindowIcon(HWND hwnd, HICON icon);
// Answers the two messages through which a minimised dialog shows its icon: WM_PAINT (only while
// minimised; otherwise the window paints as usual) and WM_QUERYDRAGICON. True when answered.
bool AnswerIconMessage(HWND hwnd, HICON icon, UINT msg, LRESULT* result);

}  // namespace fw
