// Starting in the background at logon: the value "plan_desk" under the user's
// HKCU\Software\Microsoft\Windows\CurrentVersion\Run, holding "\"<full path>\plan_desk.exe\" /background".
#pragma once

#include <optional>
#include <string>

// The full path of the running program, however long.
std::wstring ThisProgramPath();
// Whether logging on starts this program in the background: the value is there and names it.
bool LogonStartIsOn();
// Writes (on) or removes (off) the value. Removing a value that is not there succeeds. On failure,
// the reason for the operator (GBK).
std::optional<std::string> SetLogonStart(bool on);
