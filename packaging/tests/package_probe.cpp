// package_probe.exe: reads what the installer left behind, and starts and ends the installed app,
// for packaging/tests/package_tests.sh. It prints what it finds as UTF-8 lines; the script
// compares them with the exact expected texts.
//
//   package_probe registry <key under HKLM>    the key's values, sorted: name=text or name=dword:N
//                                              (a key that starts with HKCU\ is the current user's)
//   package_probe shortcut <file.lnk>          target, arguments, working folder, icon, description
//   package_probe version <file.exe>           the version resource's first string block and its strings
//   package_probe start-login <file.exe> <ms>  starts the exe, waits for its login window, leaves it running
//   package_probe close-login <ms>             answers the login window with 退出, waits for the app to end
//   package_probe run-tree <ms> <command line>  runs it, waits for it and every process it starts
//
// Exit code 0 when the thing looked for was found, 1 when not, 2 on a usage error.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr wchar_t kLoginCaption[] = L"登录 - 任务计划管理";

void Print(const std::wstring& line) {
    const std::wstring text = line + L"\n";
    const int n =
        WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(size_t(std::max(n, 0)), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), utf8.data(), n, nullptr, nullptr);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), DWORD(utf8.size()), &written, nullptr);
}

int Registry(std::wstring subkey) {
    HKEY root = HKEY_LOCAL_MACHINE;
    if (subkey.rfind(L"HKCU\\", 0) == 0) {
        root = HKEY_CURRENT_USER;
        subkey.erase(0, 5);
    }
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, subkey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
        Print(L"missing");
        return 1;
    }
    std::map<std::wstring, std::wstring> values;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameLength = DWORD(std::size(name));
        DWORD type = 0;
        BYTE data[4096];
        DWORD dataLength = sizeof data;
        if (RegEnumValueW(key, index, name, &nameLength, nullptr, &type, data, &dataLength) != ERROR_SUCCESS)
            break;
        std::wstring shown;
        if (type == REG_SZ || type == REG_EXPAND_SZ) {
            shown.assign(reinterpret_cast<const wchar_t*>(data), dataLength / sizeof(wchar_t));
            while (!shown.empty() && shown.back() == L'\0') shown.pop_back();
            if (type == REG_EXPAND_SZ) shown = L"expand:" + shown;
        } else if (type == REG_DWORD && dataLength == 4) {
            DWORD value = 0;
            memcpy(&value, data, 4);
            shown = L"dword:" + std::to_wstring(value);
        } else {
            shown = L"type" + std::to_wstring(type);
        }
        values[name] = shown;
    }
    RegCloseKey(key);
    for (const auto& [name, value] : values) Print(name + L"=" + value);
    return 0;
}

int Shortcut(const std::wstring& file) {
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
    int code = 1;
    IShellLinkW* link = nullptr;
    IPersistFile* persist = nullptr;
    if (SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                   reinterpret_cast<void**>(&link))) &&
        SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
        SUCCEEDED(persist->Load(file.c_str(), STGM_READ))) {
        wchar_t text[MAX_PATH * 2] = {};
        int icon = 0;
        // SLGP_RAWPATH: the path as stored, without resolving it against this machine.
        link->GetPath(text, int(std::size(text)), nullptr, SLGP_RAWPATH);
        Print(std::wstring(L"target=") + text);
        text[0] = 0;
        link->GetArguments(text, int(std::size(text)));
        Print(std::wstring(L"arguments=") + text);
        text[0] = 0;
        link->GetWorkingDirectory(text, int(std::size(text)));
        Print(std::wstring(L"workdir=") + text);
        text[0] = 0;
        link->GetIconLocation(text, int(std::size(text)), &icon);
        Print(std::wstring(L"icon=") + text + L"," + std::to_wstring(icon));
        text[0] = 0;
        link->GetDescription(text, int(std::size(text)));
        Print(std::wstring(L"description=") + text);
        code = 0;
    } else {
        Print(L"unreadable shortcut");
    }
    if (persist) persist->Release();
    if (link) link->Release();
    CoUninitialize();
    return code;
}

int Version(const std::wstring& file) {
    DWORD ignored = 0;
    std::vector<BYTE> info(GetFileVersionInfoSizeW(file.c_str(), &ignored));
    WORD* translation = nullptr;
    UINT length = 0;
    if (info.empty() || !GetFileVersionInfoW(file.c_str(), 0, DWORD(info.size()), info.data()) ||
        !VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                        &length) ||
        length < 4) {
        Print(L"no version resource");
        return 1;
    }
    // The block the first language / code page pair names, as Explorer reads it.
    wchar_t block[9];
    swprintf(block, std::size(block), L"%04x%04x", translation[0], translation[1]);
    Print(std::wstring(L"block=") + block);
    for (const wchar_t* key :
         {L"FileDescription", L"FileVersion", L"ProductVersion", L"InternalName", L"OriginalFilename"}) {
        void* value = nullptr;
        const std::wstring path = std::wstring(L"\\StringFileInfo\\") + block + L"\\" + key;
        const bool found = VerQueryValueW(info.data(), path.c_str(), &value, &length) && value;
        Print(std::wstring(key) + L"=" + (found ? static_cast<const wchar_t*>(value) : L"<missing>"));
    }
    return 0;
}

// Runs a command line as given (the way Windows runs an UninstallString) and waits until the
// process and every process it started have ended: an uninstaller copies itself to the temporary
// folder, starts the copy and returns at once.
int RunTree(const std::wstring& commandLine, int timeoutMs) {
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    std::wstring line = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!job || !CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                nullptr, &startup, &process)) {
        Print(L"could not start: error " + std::to_wstring(GetLastError()));
        return 1;
    }
    AssignProcessToJobObject(job, process.hProcess);
    ResumeThread(process.hThread);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() < deadline) {
        ended = QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                          sizeof accounting, nullptr) &&
                accounting.ActiveProcesses == 0;
        if (!ended) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    if (ended) {
        Print(L"exit code " + std::to_wstring(exitCode));
    } else {
        Print(L"still running after " + std::to_wstring(timeoutMs) + L" ms");
        TerminateJobObject(job, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(job);
    return ended ? 0 : 1;
}

// The visible login window of process pid (any process when pid is 0).
HWND FindLoginWindow(DWORD pid) {
    for (HWND window = FindWindowExW(nullptr, nullptr, L"#32770", kLoginCaption); window;
         window = FindWindowExW(nullptr, window, L"#32770", kLoginCaption)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        if (IsWindowVisible(window) && (pid == 0 || owner == pid)) return window;
    }
    return nullptr;
}

HWND WaitForLoginWindow(DWORD pid, HANDLE process, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (HWND window = FindLoginWindow(pid)) return window;
        if (process && WaitForSingleObject(process, 0) == WAIT_OBJECT_0) return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return nullptr;
}

int StartLogin(const std::wstring& exe, int timeoutMs) {
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        Print(L"could not start " + exe + L": error " + std::to_wstring(GetLastError()));
        return 1;
    }
    const HWND window = WaitForLoginWindow(process.dwProcessId, process.hProcess, timeoutMs);
    int code = 0;
    if (window) {
        Print(L"login window shown");
    } else {
        DWORD exitCode = 0;
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0 &&
            GetExitCodeProcess(process.hProcess, &exitCode)) {
            Print(L"the app ended without a login window, exit code " + std::to_wstring(exitCode));
        } else {
            Print(L"no login window within " + std::to_wstring(timeoutMs) + L" ms");
            TerminateProcess(process.hProcess, 1);
        }
        code = 1;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

int CloseLogin(int timeoutMs) {
    const HWND window = FindLoginWindow(0);
    if (!window) {
        Print(L"no login window");
        return 1;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process) {
        Print(L"cannot open the app's process");
        return 1;
    }
    // The 退出 button: the login ends without success, and the app with it.
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    DWORD exitCode = 0;
    int code = 1;
    if (WaitForSingleObject(process, DWORD(timeoutMs)) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process, &exitCode)) {
        Print(L"the app ended, exit code " + std::to_wstring(exitCode));
        code = 0;
    } else {
        Print(L"the app did not end within " + std::to_wstring(timeoutMs) + L" ms");
    }
    CloseHandle(process);
    return code;
}

int Usage() {
    Print(
        L"usage: package_probe registry KEY | shortcut LNK | version EXE | start-login EXE MS | close-login "
        L"MS | "
        L"run-tree MS COMMANDLINE");
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    if (args.size() == 2 && args[0] == L"registry") return Registry(args[1]);
    if (args.size() == 2 && args[0] == L"shortcut") return Shortcut(args[1]);
    if (args.size() == 2 && args[0] == L"version") return Version(args[1]);
    if (args.size() == 3 && args[0] == L"start-login") return StartLogin(args[1], _wtoi(args[2].c_str()));
    if (args.size() == 2 && args[0] == L"close-login") return CloseLogin(_wtoi(args[1].c_str()));
    if (args.size() == 3 && args[0] == L"run-tree") return RunTree(args[2], _wtoi(args[1].c_str()));
    return Usage();
}
