// plan_account.exe: manages the accounts of plan_login.dll from the command line or a script.
// Names come from the command line (converted to GBK), passwords only from standard input.
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "account_clock.h"
#include "account_file.h"
#include "account_service.h"
#include "account_tool.h"
#include "cng_password_kdf.h"
#include "shared_files.h"

namespace {

void WriteError(std::string_view text) {
    DWORD done = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), text.data(), DWORD(text.size()), &done, nullptr);
}

// Passwords from standard input: a console is read without echo (as UTF-16, then GBK, the bytes
// the login dialog would send); a pipe or file is read line by line as GBK bytes.
class StdinPasswords : public account::PasswordSource {
  public:
    StdinPasswords() : m_input(GetStdHandle(STD_INPUT_HANDLE)) {
        m_console = GetConsoleMode(m_input, &m_mode);
    }

    std::optional<std::string> Read(std::string_view prompt) override {
        return m_console ? ReadConsoleLine(prompt) : ReadPipeLine();
    }

  private:
    std::optional<std::string> ReadConsoleLine(std::string_view prompt) {
        WriteError(prompt);
        SetConsoleMode(m_input, (m_mode & ~ENABLE_ECHO_INPUT) | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT);
        std::wstring line;
        bool ended = false;
        while (!ended) {
            wchar_t buffer[256];
            DWORD got = 0;
            if (!ReadConsoleW(m_input, buffer, DWORD(std::size(buffer)), &got, nullptr) || got == 0) break;
            for (DWORD i = 0; i < got && !ended; ++i) {
                if (buffer[i] == L'\n')
                    ended = true;
                else if (buffer[i] != L'\r')
                    line += buffer[i];
            }
        }
        SetConsoleMode(m_input, m_mode);
        WriteError("\n");
        if (!ended && line.empty()) return std::nullopt;
        auto gbk = shared::GbkFromWide(line);
        SecureZeroMemory(line.data(), line.size() * sizeof(wchar_t));
        return gbk;
    }

    std::optional<std::string> ReadPipeLine() {
        while (m_pending.find('\n') == std::string::npos && !m_ended) {
            char buffer[512];
            DWORD got = 0;
            if (!ReadFile(m_input, buffer, sizeof buffer, &got, nullptr) || got == 0) m_ended = true;
            m_pending.append(buffer, got);
        }
        const size_t end = m_pending.find('\n');
        if (end == std::string::npos && m_pending.empty()) return std::nullopt;
        std::string line = m_pending.substr(0, end);
        m_pending.erase(0, end == std::string::npos ? m_pending.size() : end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return line;
    }

    HANDLE m_input;
    DWORD m_mode = 0;
    bool m_console = false;
    std::string m_pending;
    bool m_ended = false;
};

int Run() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv) return account::kExitInternal;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        auto arg = shared::GbkFromWide(argv[i]);
        if (!arg) {
            LocalFree(argv);
            WriteError("plan_account: an argument has characters that GBK cannot hold\n");
            return account::kExitBadName;
        }
        args.push_back(std::move(*arg));
    }
    LocalFree(argv);

    account::AccountFile file(account::AccountFile::DefaultPath());
    account::CngPasswordKdf kdf;
    account::SystemClock clock;
    account::AccountService service(file, kdf, clock);
    StdinPasswords passwords;
    // Exact bytes on the pipes: names are GBK and lines end in "\n".
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    account::AccountTool tool(service, passwords, std::cout, std::cerr);
    const int code = tool.Run(args);
    std::cout.flush();
    std::cerr.flush();
    return code;
}

}  // namespace

int main() {
    try {
        return Run();
    } catch (...) {
        WriteError("plan_account: unexpected failure\n");
        return account::kExitInternal;
    }
}
