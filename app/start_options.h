// What a start's command line asks for, and the logon start's Run value. Pure: no windows.h.
#pragma once

#include <string>
#include <string_view>
#include <vector>

enum class StartMode {
    Normal,      // the login over the main window
    Background,  // no window: automatic running and the notification icon only
    AutoStart,   // turn the logon start on or off, then end
};

struct StartOptions {
    StartMode mode = StartMode::Normal;
    bool autoStartOn = false;  // AutoStart: on (true) or off
    bool quiet = false;        // AutoStart: report a failure by exit code alone
    bool usageFault = false;   // AutoStart: the value after /autostart is missing or neither on nor off
};

// Switches start with '/' or '-' and are read in any letter case: /background, /autostart on|off,
// /quiet. /autostart wins over /background. Anything else is ignored, so a stray argument never
// keeps the application from starting. arguments: without the program's own name.
StartOptions ParseStartOptions(const std::vector<std::wstring>& arguments);

// The usage text shown when /autostart has no valid value (GBK).
extern const char* const kAutoStartUsage;

// The Run value that starts the program at exePath in the background: "\"<exePath>\" /background".
std::wstring AutoStartCommand(std::wstring_view exePath);
// Whether a Run value starts the program at exePath in the background: its path quoted or not, in
// any letter case, followed by a background switch among its arguments.
bool StartsInBackground(std::wstring_view value, std::wstring_view exePath);
