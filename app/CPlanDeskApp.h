// The application: platform set-up, the command line, the single-instance rule, the libraries' start
// and stop, the notification icon, and the main window's loop, which is the application's main loop.
#pragma once

#include "start_options.h"

class CPlanDeskApp {
  public:
    // Runs the whole application; returns false (there is no framework loop to continue in).
    // A second copy brings the first to the front and ends the process with exit code 0, as does
    // /autostart with its own code.
    bool InitInstance();

    // Starts the libraries, runs the main window until it closes and stops the libraries.
    // Separate from InitInstance so that tests can run it without the process-wide mutex.
    // background: no login and no window until the notification icon opens one, and automatic
    // running from the start.
    void RunMainWindow(bool background = false);
};

// Creates-or-opens the named mutex in one step. True when another copy already holds it.
bool AnotherCopyIsRunning();
// Brings the running copy's visible login dialog, else its visible main window, to the front. A copy
// with neither shown (in the background, or hidden in the notification area) is asked to open its
// window through the login: a hidden main window is never shown directly, as it is locked.
void BringRunningCopyToFront();
// /autostart on|off [/quiet]: turns the logon start on or off. The exit code: 0 done, 1 failed (the
// reason shown in a message box unless quiet).
int RunAutoStartCommand(const StartOptions& options);
