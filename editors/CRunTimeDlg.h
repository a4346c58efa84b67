// The schedule panel: a captionless child dialog (template 2012) that both rule editors host
// over their placeholder 3005. It edits one RunSchedule in four modes and never ends itself on
// Enter or Escape; its editor owns it and releases it.
#pragma once

#include <memory>
#include <string>

#include "CDialog.h"
#include "EditorControls.h"
#include "rule_records.h"
#include "schedule_form.h"

class CRunTimeDlg : public fw::CDialog {
  public:
    CRunTimeDlg();
    ~CRunTimeDlg() override;

    // Shows a stored schedule; nothing is validated.
    void LoadSchedule(const RunSchedule& schedule);
    // Writes the panel's schedule into out; false after the panel has shown its message.
    bool GatherSchedule(RunSchedule& out);

    // Gives the keyboard focus to the panel's first tab stop (the checked mode button, which the
    // radio buttons make a tab stop), as Tab into a nested dialog does.
    void FocusFirstField();

    // Enter and Escape, and Tab on the last field (minute or interval edit), belong to the editor.
    BOOL PreTranslateMessage(MSG* msg) override;

    void ShowIntervalMode();
    void ShowDailyMode();
    void ShowWeeklyMode();
    void ShowMonthlyMode();

    std::string m_strHour;    // last accepted text of the hour edit 3036
    std::string m_strMinute;  // ... of the minute edit 3037
    std::string m_strDay;     // ... of the day edit 3039
    int m_nTimeRowTop = 0;    // template top of the time label 3031, in client pixels
    int m_nMode = editors::kIntervalMode;

  protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(fw::CDataExchange& dx) override;
    void OnOK() override {}
    void OnCancel() override {}
    void OnClose() override;
    bool OnCommand(WORD code, WORD id, HWND control) override;

  private:
    void OnHourChange();
    void OnMinuteChange();
    void OnDayChange();
    void ShowMode(int mode, int radioId);
    void ShowTimeRowAt(int top);
    void PlaceAtTop(int id, int top);
    int TopOf(int id) const;

    EditGuard m_guard;
};

// Creates a schedule panel as a child of editor, with its top-left corner on the editor's
// placeholder 3005, at its own template size and z-order, and shows it. Null if it could not be
// created.
std::unique_ptr<CRunTimeDlg> HostSchedulePanel(HWND editor);
