#include "AppSession.h"

#include <algorithm>
#include <vector>

namespace e2e {
namespace {

// This process's environment with PLAN_DESK_HOME replaced; a block for CreateProcessW.
std::vector<wchar_t> EnvironmentWith(const std::wstring& dataFolder) {
    std::vector<std::wstring> vars;
    if (wchar_t* block = ::GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
            std::wstring var = p;
            if (_wcsnicmp(var.c_str(), L"PLAN_DESK_HOME=", 15) != 0) vars.push_back(var);
        }
        ::FreeEnvironmentStringsW(block);
    }
    vars.push_back(L"PLAN_DESK_HOME=" + dataFolder);
    // CreateProcess wants the block sorted, case-insensitively.
    std::sort(vars.begin(), vars.end(), [](const std::wstring& a, const std::wstring& b) {
        return _wcsicmp(a.c_str(), b.c_str()) < 0;
    });
    std::vector<wchar_t> out;
    for (const auto& var : vars) out.insert(out.end(), var.c_str(), var.c_str() + var.size() + 1);
    out.push_back(L'\0');
    return out;
}

}  // namespace

std::wstring BinFolder() {
    wchar_t path[MAX_PATH * 2] = L"";
    ::GetModuleFileNameW(nullptr, path, DWORD(std::size(path)));
    std::wstring folder = path;
    return folder.substr(0, folder.find_last_of(L"\\/"));
}

int RunTool(const std::wstring& exe, const std::wstring& arguments, const std::wstring& dataFolder,
            const std::string& input, std::string* output) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE inRead, inWrite, outRead, outWrite;
    if (!::CreatePipe(&inRead, &inWrite, &inherit, 0)) return -1;
    if (!::CreatePipe(&outRead, &outWrite, &inherit, 0)) return -1;
    ::SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = outWrite;
    const std::wstring path = BinFolder() + L"\\" + exe;
    std::wstring command = L"\"" + path + L"\" " + arguments;
    std::vector<wchar_t> environment = EnvironmentWith(dataFolder);
    PROCESS_INFORMATION info{};
    const BOOL started = ::CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, TRUE,
                                          CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, environment.data(),
                                          nullptr, &startup, &info);
    ::CloseHandle(inRead);
    ::CloseHandle(outWrite);
    int code = -1;
    if (started) {
        DWORD written = 0;
        ::WriteFile(inWrite, input.data(), DWORD(input.size()), &written, nullptr);
        ::CloseHandle(inWrite);
        inWrite = nullptr;
        std::string collected;
        char buffer[4096];
        DWORD got = 0;
        while (::ReadFile(outRead, buffer, sizeof buffer, &got, nullptr) && got > 0)
            collected.append(buffer, got);
        if (::WaitForSingleObject(info.hProcess, 60000) == WAIT_OBJECT_0) {
            DWORD exitCode = 0;
            ::GetExitCodeProcess(info.hProcess, &exitCode);
            code = int(exitCode);
        } else {
            ::TerminateProcess(info.hProcess, 1);
        }
        if (output) *output = collected;
        ::CloseHandle(info.hThread);
        ::CloseHandle(info.hProcess);
    }
    if (inWrite) ::CloseHandle(inWrite);
    ::CloseHandle(outRead);
    return code;
}

AppSession::AppSession(const std::wstring& dataFolder, bool suspended, const std::wstring& arguments,
                       const std::wstring& program) {
    const std::wstring path = BinFolder() + L"\\" + program;
    std::wstring command = L"\"" + path + L"\"";
    if (!arguments.empty()) command += L" " + arguments;
    std::vector<wchar_t> environment = EnvironmentWith(dataFolder);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!::CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE,
                          CREATE_UNICODE_ENVIRONMENT | (suspended ? CREATE_SUSPENDED : 0), environment.data(),
                          nullptr, &startup, &m_info)) {
        m_info = {};
    }
}

AppSession::~AppSession() {
    Kill();
    if (m_info.hThread) ::CloseHandle(m_info.hThread);
    if (m_info.hProcess) ::CloseHandle(m_info.hProcess);
}

void AppSession::Resume() {
    if (m_info.hThread) ::ResumeThread(m_info.hThread);
}

bool AppSession::WaitForExit(DWORD timeoutMs, DWORD* exitCode) {
    if (!m_info.hProcess || ::WaitForSingleObject(m_info.hProcess, timeoutMs) != WAIT_OBJECT_0) return false;
    if (exitCode) ::GetExitCodeProcess(m_info.hProcess, exitCode);
    return true;
}

bool AppSession::Running() const {
    return m_info.hProcess && ::WaitForSingleObject(m_info.hProcess, 0) == WAIT_TIMEOUT;
}

void AppSession::Kill() {
    if (Running()) {
        ::TerminateProcess(m_info.hProcess, 99);
        ::WaitForSingleObject(m_info.hProcess, 5000);
    }
}

}  // namespace e2e
