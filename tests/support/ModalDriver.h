// Drives modal dialogs from inside a test: steps run one per tick of a thread timer, inside
// whichever modal loop is active (a dialog's, or a message box's opened by a step). A step
// returning false is tried again on the next tick. On time-out every dialog of the thread is
// ended, so a test never hangs.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <string>

namespace testing_support {

class ModalDriver {
  public:
    using Step = std::function<bool()>;

    explicit ModalDriver(unsigned timeoutMs = 10000) : m_timeoutMs(timeoutMs) {}

    // A step that is done once it ran.
    ModalDriver& Then(std::function<void()> step);
    // A step that waits until it returns true.
    ModalDriver& Until(Step step);

    // Runs body (which enters a modal loop) while the steps run; returns body's result.
    INT_PTR Run(const std::function<INT_PTR()>& body);
    // Runs the steps in a plain message loop until they are done.
    void RunSteps();

    bool TimedOut() const { return m_timedOut; }
    bool Done() const { return m_steps.empty(); }

  private:
    static void CALLBACK OnTick(HWND, UINT, UINT_PTR, DWORD);
    void Tick();
    void Start();
    void Stop();

    std::deque<Step> m_steps;
    unsigned m_timeoutMs;
    DWORD m_started = 0;
    UINT_PTR m_timer = 0;
    bool m_timedOut = false;
};

// Top-level dialog windows of this thread that are visible, newest first.
HWND FindDialog(const std::wstring& caption);
// Ends every dialog window of this thread (time-out and clean-up).
void EndAllDialogs();
// Sends a button click the way the dialog manager would (WM_COMMAND with BN_CLICKED).
void Click(HWND dialog, int id);
// Sets an edit's text (fires EN_CHANGE as typing would).
void Type(HWND dialog, int id, const std::wstring& text);
std::wstring TextOf(HWND dialog, int id);
// Sends a key press (WM_KEYDOWN through the active modal loop's translation) to a control.
void PressKey(HWND control, UINT vk);
// Processes pending messages of this thread.
void Pump();

}  // namespace testing_support
