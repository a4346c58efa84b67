#include "EditorControls.h"

#include "Services.h"
#include "resource.h"

editors::TextInput ReadInput(const fw::CWnd& dialog, int id) {
    editors::TextInput input;
    input.text = dialog.GetItemText(id, &input.exact);
    return input;
}

void ShowEditorMessage(HWND owner, const std::string& textGbk, const char* captionGbk) {
    fw::MessageBoxGbk(owner, textGbk, captionGbk, MB_OK | MB_ICONINFORMATION);
}

void ShowInputFault(const fw::CWnd& dialog, const editors::InputFault& fault) {
    ShowEditorMessage(::GetAncestor(dialog, GA_ROOT), fault.text, fault.caption.c_str());
    if (fault.focusId == editors::kFocusUnchanged) return;
    if (fault.select) {
        dialog.FocusAndSelect(fault.focusId);
    } else {
        dialog.FocusItem(fault.focusId);
    }
}

void SelectWholeText(HWND edit) {
    ::SendMessageW(edit, EM_SETSEL, 0, -1);
    ::SendMessageW(edit, EM_SCROLLCARET, 0, 0);
}

void SetDialogIcon(HWND dialog, HICON icon) {
    ::SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

HICON LoadAppIcon() {
    // A shared resource icon: nobody destroys it.
    return ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP));
}
