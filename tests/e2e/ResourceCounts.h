// What a process holds, counted from outside: GDI and USER objects as the system reports them,
// kernel handles, windows, threads and private bytes. Under Wine GetGuiResources is a stub that
// answers 0 and GetProcessHandleCount answers no count, so the handles come from the system's handle
// table.
#pragma once

#include <windows.h>

#include <string>

namespace e2e {

struct ResourceCounts {
    DWORD gdiObjects = 0;   // GetGuiResources; 0 where the system does not count them
    DWORD userObjects = 0;  // likewise
    long handles = -1;      // kernel handles; -1 when neither way of counting works
    long windows = 0;       // every window of the process, children included
    long threads = 0;
    long long privateBytes = -1;  // memory committed for the process alone; -1 when not known
};

ResourceCounts CountResources(HANDLE process, DWORD pid);
// Whether this system counts GDI and USER objects at all (false under Wine).
bool GuiResourcesCounted(HANDLE process);
std::string Describe(const ResourceCounts& counts);

}  // namespace e2e
