// The window side of the editors' checks: reading a control into the checks' input, and showing
// a refused input the one way every editor dialog shows it.
#pragma once

#include "CDialog.h"
#include "editor_input.h"

// The text of a control as GBK, with whether every character had a GBK counterpart.
editors::TextInput ReadInput(const fw::CWnd& dialog, int id);

// The message box (owned by the dialog's top-level window, information icon, OK), then the
// focus on the named control, with its whole text selected when the fault says so.
void ShowInputFault(const fw::CWnd& dialog, const editors::InputFault& fault);

// A plain message box of an editor: information icon and OK.
void ShowEditorMessage(HWND owner, const std::string& textGbk, const char* captionGbk);

// The change guard of the guarded edits of one dialog. An accepted text is exchanged into the
// dialog's members; a refused one is replaced by the last accepted text, which is selected.
// Putting it back raises the change notification again, and that one passes unjudged: even a
// text loaded from a damaged record stands, and the edit never bounces.
class EditGuard {
  public:
    void OnChange(fw::CDialog& dialog, int id, editors::GuardedField field, const std::string& lastAccepted);

  private:
    bool m_bPuttingBack = false;
};

// The application icon, a shared resource icon that nobody destroys.
HICON LoadAppIcon();
