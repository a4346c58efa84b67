// One run of the real plan_desk.exe (beside this driver in the build's bin folder), started with
// a data folder of the test's own. Ends the process if the test leaves it running.
#pragma once

#include <windows.h>

#include <string>

namespace e2e {

// The folder holding this driver and the programs it drives.
std::wstring BinFolder();

// Runs a program of the bin folder with PLAN_DESK_HOME = dataFolder, writing input to its standard
// input; returns its exit code, or -1 when it could not be started or took longer than 60 s.
int RunTool(const std::wstring& exe, const std::wstring& arguments, const std::wstring& dataFolder,
            const std::string& input, std::string* output = nullptr);

class AppSession {
  public:
    // Starts plan_desk.exe (or another program of the bin folder) with the arguments; with suspended,
    // its first thread waits for Resume.
    explicit AppSession(const std::wstring& dataFolder, bool suspended = false,
                        const std::wstring& arguments = L"", const std::wstring& program = L"plan_desk.exe");
    ~AppSession();
    AppSession(const AppSession&) = delete;
    AppSession& operator=(const AppSession&) = delete;

    bool Started() const { return m_info.hProcess != nullptr; }
    DWORD Pid() const { return m_info.dwProcessId; }
    HANDLE Process() const { return m_info.hProcess; }
    void Resume();

    // Waits for the process to end; false on time-out. exitCode receives its code.
    bool WaitForExit(DWORD timeoutMs, DWORD* exitCode = nullptr);
    bool Running() const;
    void Kill();

  private:
    PROCESS_INFORMATION m_info{};
};

}  // namespace e2e
