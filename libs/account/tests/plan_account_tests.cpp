// plan_account.exe as a script drives it: a separate process, the password on a pipe, and the
// result checked through plan_login.dll.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "account_api.h"
#include "login_dll_test_support.h"

namespace {

using account::testing::FreshDataFolder;
using account::testing::StoredRecords;

struct ToolRun {
    DWORD exit = 0xFFFFFFFF;
    std::string out, err;
};

std::wstring ToolPath() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"plan_account.exe";
}

std::string Drain(HANDLE pipe) {
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got > 0) text.append(buffer, got);
    return text;
}

// plan_account running with standard input fed from `input`; Finish collects its output.
class ToolProcess {
  public:
    ToolProcess(const std::wstring& arguments, const std::string& input) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE inRead, inWrite, outWrite, errWrite;
        CreatePipe(&inRead, &inWrite, &inherit, 0);
        CreatePipe(&m_outRead, &outWrite, &inherit, 0);
        CreatePipe(&m_errRead, &errWrite, &inherit, 0);
        for (HANDLE ours : {inWrite, m_outRead, m_errRead})
            SetHandleInformation(ours, HANDLE_FLAG_INHERIT, 0);

        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = inRead;
        startup.hStdOutput = outWrite;
        startup.hStdError = errWrite;
        std::wstring commandLine = L"\"" + ToolPath() + L"\" " + arguments;
        m_started = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                   &startup, &m_process);
        EXPECT_TRUE(m_started) << "cannot start plan_account.exe: " << GetLastError();
        for (HANDLE theirs : {inRead, outWrite, errWrite}) CloseHandle(theirs);
        DWORD written = 0;
        WriteFile(inWrite, input.data(), DWORD(input.size()), &written, nullptr);
        CloseHandle(inWrite);
        m_outReader = std::thread([this] { m_run.out = Drain(m_outRead); });
        m_errReader = std::thread([this] { m_run.err = Drain(m_errRead); });
    }
    ~ToolProcess() { Finish(); }

    bool Running() { return m_started && WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT; }

    ToolRun Finish() {
        if (m_outReader.joinable()) m_outReader.join();
        if (m_errReader.joinable()) m_errReader.join();
        if (m_started) {
            WaitForSingleObject(m_process.hProcess, 30000);
            GetExitCodeProcess(m_process.hProcess, &m_run.exit);
            CloseHandle(m_process.hProcess);
            CloseHandle(m_process.hThread);
            m_started = false;
        }
        if (m_outRead) CloseHandle(m_outRead), m_outRead = nullptr;
        if (m_errRead) CloseHandle(m_errRead), m_errRead = nullptr;
        return m_run;
    }

  private:
    HANDLE m_outRead = nullptr, m_errRead = nullptr;
    PROCESS_INFORMATION m_process{};
    bool m_started = false;
    std::thread m_outReader, m_errReader;
    ToolRun m_run;
};

ToolRun RunTool(const std::wstring& arguments, const std::string& input) {
    return ToolProcess(arguments, input).Finish();
}

TEST(PlanAccount, ManagesAnAccountThatTheLibraryThenAccepts) {
    const std::wstring folder = FreshDataFolder(L"plan_account_round_trip");
    // "操作员" in GBK, as the login dialog would pass it.
    const std::string name = "\xB2\xD9\xD7\xF7\xD4\xB1";

    ToolRun run = RunTool(L"has-store", "");
    EXPECT_EQ(run.exit, 1u);
    EXPECT_EQ(run.out + run.err, "");

    run = RunTool(L"add 操作员", "first pw\nfirst pw\n");
    EXPECT_EQ(run.exit, 0u) << run.err;
    EXPECT_EQ(run.out, "account '" + name + "' added\n");
    EXPECT_EQ(run.err, "");
    ASSERT_EQ(StoredRecords(folder).size(), 1u);
    EXPECT_EQ(StoredRecords(folder)[0].name, name);
    EXPECT_EQ(StoredRecords(folder)[0].params.iterations, 600000u);

    EXPECT_EQ(RunTool(L"has-store", "").exit, 0u);
    run = RunTool(L"list", "");
    EXPECT_EQ(run.exit, 0u);
    EXPECT_EQ(run.out, name + "\tpbkdf2-sha256 600000\tfailed logins 0\n");

    ASSERT_EQ(account_start(), ACCOUNT_OK);
    EXPECT_EQ(login(name.c_str(), "first pw"), ACCOUNT_OK);

    run = RunTool(L"passwd 操作员", "one\ntwo\n");
    EXPECT_EQ(run.exit, 6u);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "plan_account: the two passwords differ\n");
    run = RunTool(L"add 操作员", "x\nx\n");
    EXPECT_EQ(run.exit, 3u);
    EXPECT_EQ(run.err, "plan_account: account '" + name + "' already exists\n");

    // Lines from a Windows pipe end in CRLF; the CR is not part of the password.
    run = RunTool(L"passwd 操作员", "second pw\r\nsecond pw\r\n");
    EXPECT_EQ(run.exit, 0u) << run.err;
    EXPECT_EQ(run.out, "password of '" + name + "' changed\n");
    EXPECT_EQ(login(name.c_str(), "second pw"), ACCOUNT_OK);

    run = RunTool(L"remove 操作员", "");
    EXPECT_EQ(run.exit, 0u);
    EXPECT_EQ(run.out, "account '" + name + "' removed\n");
    EXPECT_EQ(RunTool(L"list", "").out, "");
    EXPECT_EQ(RunTool(L"remove 操作员", "").exit, 4u);
    EXPECT_EQ(RunTool(L"has-store", "").exit, 0u);  // an empty store is still a store
    account_stop();
}

TEST(PlanAccount, WaitsForTheStoreLockThatTheLibraryHolds) {
    const std::wstring folder = FreshDataFolder(L"plan_account_lock");
    account::AccountRecord record;
    record.name = "locked";
    record.salt = "salt";
    record.hash.assign(account::kHashBytes, 'h');
    ASSERT_TRUE(account::AccountFile(std::filesystem::path(folder) / L"accounts.dat").Save({record}));
    {
        // The same file under another spelling: the lock must still be the same one.
        std::wstring spelled = folder + L"/./ACCOUNTS.DAT";
        for (auto& c : spelled) c = c == L'\\' ? L'/' : c;
        account::AccountFile other{std::filesystem::path(spelled)};
        auto lock = other.Acquire();
        ASSERT_NE(lock, nullptr);
        ToolProcess remove(L"remove locked", "");
        Sleep(500);
        EXPECT_TRUE(remove.Running());  // held up, not writing past the holder
        lock.reset();
        const ToolRun run = remove.Finish();
        EXPECT_EQ(run.exit, 0u) << run.err;
    }
    EXPECT_EQ(StoredRecords(folder).size(), 0u);
}

TEST(PlanAccount, RefusesBadInvocationsWithoutTouchingTheStore) {
    const std::wstring folder = FreshDataFolder(L"plan_account_refusals");
    struct Case {
        const wchar_t* arguments;
        const char* input;
        DWORD exit;
    } cases[] = {
        {L"", "", 2},
        {L"add", "", 2},
        {L"frobnicate x", "", 2},
        {L"add nopw", "", 6},
        {L"add empty", "\n\n", 6},
        {L"add 012345678901234567890123456789ab", "pw\npw\n", 5},
        {L"add \xD55C\xAE00", "pw\npw\n", 5},  // Hangul: GBK has no such characters
    };
    for (const Case& c : cases) {
        const ToolRun run = RunTool(c.arguments, c.input);
        EXPECT_EQ(run.exit, c.exit) << std::string(c.arguments, c.arguments + wcslen(c.arguments));
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err, "");
    }
    EXPECT_EQ(GetFileAttributesW((folder + L"\\accounts.dat").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
