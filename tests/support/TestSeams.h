// Process-wide state of the product that tests set back or read between cases. The product's
// headers don't offer it; the variables are defined in its sources.
#pragma once

// main_window/CPlanDeskDlg.cpp: whether the first visible tick has started automatic running.
extern bool g_firstTickDone;
// editors/CRunTimeDlg.cpp: schedule panels alive now.
extern int g_livePanels;
// app/LogonStart.cpp: the key under HKEY_CURRENT_USER that holds the logon start's value.
extern const wchar_t* g_logonStartKey;

namespace testing_support {

// Each test's main window sees a first tick of its own.
inline void ResetFirstTick() {
    g_firstTickDone = false;
}

inline int LivePanelCount() {
    return g_livePanels;
}

}  // namespace testing_support
