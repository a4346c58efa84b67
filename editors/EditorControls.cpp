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

HICON LoadAppIcon() {
    return ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP));
}
