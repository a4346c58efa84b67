// The application: platform set-up, the single-instance rule, the libraries' start and stop,
// and the main window's loop, which is the application's main loop.
#pragma once

class CPlanDeskApp {
  public:
    // Runs the whole application; returns false (there is no framework loop to continue in).
    // A second copy brings the first to the front and ends the process with exit code 0.
    bool InitInstance();

    // Starts the libraries, runs the main window until it closes and stops the libraries.
    // Separate from InitInstance so that tests can run it without the process-wide mutex.
    void RunMainWindow();
};

// Creates-or-opens the named mutex in one step. True when another copy already holds it.
bool AnotherCopyIsRunning();
// Finds the running copy's login dialog, else its main window, and brings it to the front.
void BringRunningCopyToFront();
