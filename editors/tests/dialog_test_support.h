// Helpers shared by the editors' dialog tests under Wine.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CRunTimeDlg.h"
#include "FakeLibraries.h"
#include "FakeServices.h"
#include "ModalDriver.h"
#include "TestSeams.h"

namespace editors_testing {

using namespace testing_support;

// Fresh fakes for every test, and no panel may outlive its test.
class DialogTest : public ::testing::Test {
  protected:
    DialogTest() { ResetFakes(); }
    // Runs after the derived fixture's dialogs are gone.
    ~DialogTest() override { EXPECT_EQ(LivePanelCount(), m_livePanelsBefore) << "a panel was not released"; }

    FakeServices services;

  private:
    int m_livePanelsBefore = LivePanelCount();
};

// Creates a dialog without a modal loop and shows it, for tests that need no keyboard.
template <typename Dialog>
HWND ShowModeless(Dialog& dialog, int templateId) {
    EXPECT_TRUE(dialog.Create(templateId, nullptr));
    ::ShowWindow(dialog.GetSafeHwnd(), SW_SHOW);
    Pump();
    return dialog.GetSafeHwnd();
}

// One rule editor, set up the way the main window sets it up for a new rule or for a change.
template <typename Editor>
class RuleEditorTest : public DialogTest {
  protected:
    using Rule = decltype(Editor::m_rule);

    RuleEditorTest(int templateId, const char* newCaption, const char* changeCaption)
        : m_nTemplateId(templateId), m_strNewCaption(newCaption), m_strChangeCaption(changeCaption) {}

    void NewRule() {
        editor.m_bNewRule = true;
        editor.m_strCaption = m_strNewCaption;
        editor.m_rule = Rule{};
        editor.m_rule.enabled = 1;
    }
    void ExistingRule(const Rule& rule) {
        editor.m_bNewRule = false;
        editor.m_strCaption = m_strChangeCaption;
        editor.m_rule = rule;
    }
    HWND Open() { return dialog = ShowModeless(editor, m_nTemplateId); }
    HWND Item(int id) const { return ::GetDlgItem(dialog, id); }
    HWND PanelItem(int id) const { return ::GetDlgItem(editor.m_pSchedulePanel->GetSafeHwnd(), id); }

    Editor editor;
    HWND dialog = nullptr;

  private:
    int m_nTemplateId;
    std::string m_strNewCaption, m_strChangeCaption;
};

// The WS_VISIBLE bit of a control itself, whatever its parents show.
bool HasVisibleStyle(HWND dialog, int id);
bool HasStyle(HWND dialog, int id, DWORD style);
// True when the edit's whole text is selected (as EM_SETSEL(0,-1) would select it).
bool WholeTextSelected(HWND edit);
// The top of a control in its parent's client coordinates.
int TopOf(HWND control);
RECT ClientRectIn(HWND control, HWND parent);
std::vector<std::string> MessageTexts(const FakeServices& services);
std::string Bytes(const void* data, size_t size);
template <typename Record>
std::string Bytes(const Record& record) {
    return Bytes(&record, sizeof record);
}

constexpr UINT kInfoOk = MB_OK | MB_ICONINFORMATION;

}  // namespace editors_testing
