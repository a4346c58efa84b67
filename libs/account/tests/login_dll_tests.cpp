// plan_login.dll through its import library, with accounts made by the core in a fresh folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>

#include "account_api.h"
#include "account_clock.h"
#include "account_file.h"
#include "account_service.h"
#include "cng_password_kdf.h"
#include "login_dll_test_support.h"

namespace {

using account::testing::FreshDataFolder;
using account::testing::StoredRecords;
using Clock = std::chrono::steady_clock;

// Accounts made here use few iterations where the cost is not the point.
int AddAccount(const std::wstring& folder, const char* name, const char* password, uint32_t iterations) {
    account::AccountFile file(std::filesystem::path(folder) / L"accounts.dat");
    account::CngPasswordKdf kdf;
    account::SystemClock clock;
    account::AccountOptions options;
    options.newAccountParams.iterations = iterations;
    account::AccountService service(file, kdf, clock, options);
    return service.Add(name, password);
}

// Rewrites one account's failure record, as an earlier run of the app would have left it.
void SetFailures(const std::wstring& folder, const char* name, uint32_t failures, int64_t agoMs) {
    auto records = StoredRecords(folder);
    for (auto& r : records) {
        if (r.name == name) {
            r.failures = failures;
            r.lastFailureMs = account::SystemClock().NowMs() - agoMs;
        }
    }
    ASSERT_TRUE(account::AccountFile(std::filesystem::path(folder) / L"accounts.dat").Save(records));
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

class LoginDll : public ::testing::Test {
  protected:
    void TearDown() override { account_stop(); }
};

TEST_F(LoginDll, AcceptsTheAccountAndRefusesWrongPasswordsAndUnknownNames) {
    const std::wstring folder = FreshDataFolder(L"login_dll_basic");
    ASSERT_EQ(AddAccount(folder, "operator", "pw-1", 1000), ACCOUNT_OK);
    ASSERT_EQ(AddAccount(folder, "操作员", "口令", 1000), ACCOUNT_OK);

    EXPECT_EQ(login("operator", "pw-1"), ACCOUNT_E_NOT_STARTED);
    ASSERT_EQ(account_start(), ACCOUNT_OK);
    EXPECT_EQ(login("operator", "pw-1"), ACCOUNT_OK);
    EXPECT_EQ(login("操作员", "口令"), ACCOUNT_OK);
    EXPECT_EQ(login("operator", "pw-2"), ACCOUNT_E_WRONG_PASSWORD);
    EXPECT_EQ(login("Operator", "pw-1"), ACCOUNT_E_UNKNOWN_USER);
    EXPECT_EQ(login(" operator", "pw-1"), ACCOUNT_E_UNKNOWN_USER);
    EXPECT_EQ(login(nullptr, "pw-1"), ACCOUNT_E_NULL_ARGUMENT);
    EXPECT_EQ(login("operator", nullptr), ACCOUNT_E_NULL_ARGUMENT);

    // The refusal was counted, and is still counted after a restart; a success clears it.
    EXPECT_EQ(StoredRecords(folder)[0].failures, 1u);
    EXPECT_EQ(account_stop(), ACCOUNT_OK);
    EXPECT_EQ(login("operator", "pw-1"), ACCOUNT_E_NOT_STARTED);
    ASSERT_EQ(account_start(), ACCOUNT_OK);
    EXPECT_EQ(StoredRecords(folder)[0].failures, 1u);
    EXPECT_EQ(login("operator", "pw-1"), ACCOUNT_OK);
    EXPECT_EQ(StoredRecords(folder)[0].failures, 0u);
}

TEST_F(LoginDll, RefusesUnknownNamesAndWrongPasswordsInTheSameTime) {
    const std::wstring folder = FreshDataFolder(L"login_dll_parity");
    // Made with the defaults, as plan_account makes them.
    account::AccountFile file(std::filesystem::path(folder) / L"accounts.dat");
    account::CngPasswordKdf kdf;
    account::SystemClock clock;
    ASSERT_EQ(account::AccountService(file, kdf, clock).Add("operator", "right"), ACCOUNT_OK);
    ASSERT_EQ(StoredRecords(folder).size(), 1u);
    EXPECT_GE(StoredRecords(folder)[0].params.iterations, 600000u);

    ASSERT_EQ(account_start(), ACCOUNT_OK);
    Clock::duration wrong{}, unknown{};
    for (int round = 0; round < 2; ++round) {
        auto start = Clock::now();
        EXPECT_EQ(login("operator", "wrong"), ACCOUNT_E_WRONG_PASSWORD);
        wrong += Clock::now() - start;
        start = Clock::now();
        EXPECT_EQ(login("nobody", "wrong"), ACCOUNT_E_UNKNOWN_USER);
        unknown += Clock::now() - start;
    }
    const double ratio = Seconds(unknown) / Seconds(wrong);
    RecordProperty("unknown_to_wrong_ratio", std::to_string(ratio));
    std::printf("refusal times: wrong password %.3f s, unknown name %.3f s (2 each), ratio %.2f\n",
                Seconds(wrong), Seconds(unknown), ratio);
    EXPECT_GT(ratio, 0.5);
    EXPECT_LT(ratio, 2.0);
}

TEST_F(LoginDll, TenWrongPasswordsThenTheRightOneGetsIn) {
    const std::wstring folder = FreshDataFolder(L"login_dll_no_lockout");
    ASSERT_EQ(AddAccount(folder, "operator", "right", 1000), ACCOUNT_OK);
    ASSERT_EQ(account_start(), ACCOUNT_OK);

    for (int i = 0; i < 10; ++i) EXPECT_EQ(login("operator", "wrong"), ACCOUNT_E_WRONG_PASSWORD);
    EXPECT_EQ(StoredRecords(folder)[0].failures, 10u);
    EXPECT_EQ(login("operator", "right"), ACCOUNT_OK);
    EXPECT_EQ(StoredRecords(folder)[0].failures, 0u);

    // Ten failures a second ago, left by the release that locked accounts, found after a restart.
    SetFailures(folder, "operator", 10, 1000);
    ASSERT_EQ(account_stop(), ACCOUNT_OK);
    ASSERT_EQ(account_start(), ACCOUNT_OK);
    EXPECT_EQ(login("operator", "right"), ACCOUNT_OK);
    EXPECT_EQ(StoredRecords(folder)[0].failures, 0u);
}

TEST_F(LoginDll, ExportsStartAndStopByOrdinalOnly) {
    HMODULE dll = GetModuleHandleW(L"plan_login.dll");
    ASSERT_NE(dll, nullptr);
    EXPECT_EQ(GetProcAddress(dll, "account_start"), nullptr);
    EXPECT_EQ(GetProcAddress(dll, "account_stop"), nullptr);
    EXPECT_NE(GetProcAddress(dll, MAKEINTRESOURCEA(1)), nullptr);
    EXPECT_NE(GetProcAddress(dll, MAKEINTRESOURCEA(2)), nullptr);
    EXPECT_EQ(GetProcAddress(dll, "login"), GetProcAddress(dll, MAKEINTRESOURCEA(3)));
}

}  // namespace
