#include "ResourceCounts.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <sstream>
#include <vector>

namespace e2e {
namespace {

// SystemHandleInformation (16): one entry per open handle of every process.
struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE flags;
    USHORT value;
    PVOID object;
    ULONG access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};
constexpr ULONG kSystemHandleInformation = 16;
constexpr NTSTATUS kInfoLengthMismatch = NTSTATUS(0xC0000004L);

long HandlesFromSystemTable(DWORD pid) {
    using Query = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    std::vector<char> buffer(1 << 20);
    NTSTATUS status;
    ULONG needed = 0;
    while ((status = query(kSystemHandleInformation, buffer.data(), ULONG(buffer.size()), &needed)) ==
           kInfoLengthMismatch)
        buffer.resize(buffer.size() * 2);
    if (status != 0) return -1;
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    long count = 0;
    for (ULONG i = 0; i < table->count; ++i) count += table->entries[i].ownerPid == pid;
    return count;
}

BOOL CALLBACK CountChild(HWND, LPARAM param) {
    ++*reinterpret_cast<long*>(param);
    return TRUE;
}

struct WindowCount {
    DWORD pid;
    long count;
};

BOOL CALLBACK CountTopLevel(HWND window, LPARAM param) {
    auto* counting = reinterpret_cast<WindowCount*>(param);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(window, &pid);
    if (pid != counting->pid) return TRUE;
    ++counting->count;
    ::EnumChildWindows(window, &CountChild, reinterpret_cast<LPARAM>(&counting->count));
    return TRUE;
}

long Threads(DWORD pid) {
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    long count = 0;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == pid;
    ::CloseHandle(snapshot);
    return count;
}

// Memory committed for the process alone, region by region: what "private bytes" counts, where the
// system does not report it (Wine answers 0 for another process).
long long CommittedPrivateBytes(HANDLE process) {
    long long total = 0;
    MEMORY_BASIC_INFORMATION region{};
    for (char* address = nullptr; ::VirtualQueryEx(process, address, &region, sizeof region) == sizeof region;
         address = static_cast<char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += static_cast<long long>(region.RegionSize);
        if (region.RegionSize == 0) break;
    }
    return total > 0 ? total : -1;
}

}  // namespace

ResourceCounts CountResources(HANDLE process, DWORD pid) {
    ResourceCounts counts;
    counts.gdiObjects = ::GetGuiResources(process, GR_GDIOBJECTS);
    counts.userObjects = ::GetGuiResources(process, GR_USEROBJECTS);
    DWORD handles = 0;
    if (::GetProcessHandleCount(process, &handles) && handles > 0) {
        counts.handles = long(handles);
    } else {
        counts.handles = HandlesFromSystemTable(pid);
    }
    WindowCount windows{pid, 0};
    ::EnumWindows(&CountTopLevel, reinterpret_cast<LPARAM>(&windows));
    counts.windows = windows.count;
    counts.threads = Threads(pid);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory) &&
        memory.PrivateUsage > 0) {
        counts.privateBytes = static_cast<long long>(memory.PrivateUsage);
    } else {
        counts.privateBytes = CommittedPrivateBytes(process);
    }
    return counts;
}

bool GuiResourcesCounted(HANDLE process) {
    // A process with a window holds USER objects; a count of 0 means nobody counts them.
    return ::GetGuiResources(process, GR_USEROBJECTS) > 0;
}

std::string Describe(const ResourceCounts& counts) {
    std::ostringstream out;
    out << "GDI " << counts.gdiObjects << ", USER " << counts.userObjects << ", handles " << counts.handles
        << ", windows " << counts.windows << ", threads " << counts.threads << ", private bytes "
        << counts.privateBytes;
    return out.str();
}

}  // namespace e2e
