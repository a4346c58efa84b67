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

void EditGuard::OnChange(fw::CDialog& dialog, int id, editors::GuardedField field,
                         const std::string& lastAccepted) {
    if (m_bPuttingBack) return;
    if (editors::GuardAccepts(field, dialog.GetItemText(id))) {
        dialog.UpdateData(true);
        return;
    }
    m_bPuttingBack = true;
    dialog.SetItemText(id, lastAccepted);
    m_bPuttingBack = false;
    fw::SelectWholeText(dialog.GetDlgItem(id));
}

HICON LoadAppIcon() {
    return ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_APP));
}
