#include "account_service.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "account_api.h"
#include "account_file.h"
#include "account_store_codec.h"
#include "account_test_fakes.h"
#include "shared_files.h"
#include "write_fault_seam.h"

namespace {

namespace fs = std::filesystem;
using account::AccountRecord;
using account::testing::FakeClock;
using account::testing::FakeKdf;
using account::testing::KdfCall;

class AccountServiceTest : public ::testing::Test {
  protected:
    static fs::path TestFolder() {
        return fs::temp_directory_path() /
               ("account_service_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    }
    void SetUp() override {
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    void TearDown() override {
        shared::SetWriteFaultHook(nullptr);
        fs::remove_all(m_folder);
    }

    std::string StoreBytes() {
        std::string text;
        return shared::ReadWholeFile(m_path, text) ? text : "<missing>";
    }
    AccountRecord Stored(const std::string& name) {
        std::vector<AccountRecord> records;
        EXPECT_EQ(m_file.Load(records), account::LoadResult::Ok);
        for (const auto& r : records) {
            if (r.name == name) return r;
        }
        ADD_FAILURE() << "no record " << name;
        return {};
    }
    int FailTimes(int n, const std::string& name = "op") {
        for (int i = 0; i < n; ++i) {
            if (int r = m_service.Login(name, "wrong"); r != ACCOUNT_E_WRONG_PASSWORD) return r;
        }
        return ACCOUNT_E_WRONG_PASSWORD;
    }

    fs::path m_folder = TestFolder();
    fs::path m_path = m_folder / "accounts.dat";
    account::AccountFile m_file{m_path};
    FakeKdf m_kdf;
    FakeClock m_clock;
    account::AccountService m_service{m_file, m_kdf, m_clock};
};

TEST_F(AccountServiceTest, AcceptsTheRightPasswordAndTellsTheTwoRefusalsApart) {
    ASSERT_EQ(m_service.Add("op", "s3cret"), ACCOUNT_OK);
    m_kdf.calls.clear();

    EXPECT_EQ(m_service.Login("op", "s3cret"), ACCOUNT_OK);
    EXPECT_EQ(m_service.Login("op", "s3cret "), ACCOUNT_E_WRONG_PASSWORD);
    EXPECT_EQ(m_service.Login("Op", "s3cret"), ACCOUNT_E_UNKNOWN_USER);   // names are case-sensitive
    EXPECT_EQ(m_service.Login("op ", "s3cret"), ACCOUNT_E_UNKNOWN_USER);  // and never trimmed
    EXPECT_EQ(m_service.Login("", "s3cret"), ACCOUNT_E_UNKNOWN_USER);
    EXPECT_EQ(m_service.Login(std::string(40, 'x'), "s3cret"), ACCOUNT_E_UNKNOWN_USER);

    // One derivation per attempt, known name or not; an unknown name pays with the parameters
    // new accounts get.
    const AccountRecord op = Stored("op");
    const std::string zeros(account::kSaltBytes, '\0');
    const std::vector<KdfCall> expected = {
        {600000, "s3cret", op.salt}, {600000, "s3cret ", op.salt}, {600000, "s3cret", zeros},
        {600000, "s3cret", zeros},   {600000, "s3cret", zeros},    {600000, "s3cret", zeros},
    };
    EXPECT_EQ(m_kdf.calls, expected);
}

TEST_F(AccountServiceTest, StoresASaltedKeyWithItsParametersAndNoPassword) {
    ASSERT_EQ(m_service.Add("操作员", "s3cret-口令"), ACCOUNT_OK);
    const AccountRecord op = Stored("操作员");
    EXPECT_EQ(op.params.iterations, 600000u);
    EXPECT_EQ(op.salt.size(), account::kSaltBytes);
    std::string key;
    m_kdf.Derive(op.params, "s3cret-口令", op.salt, key);
    EXPECT_EQ(op.hash, key);
    const std::string bytes = StoreBytes();
    EXPECT_EQ(bytes.find("s3cret"), std::string::npos);
    EXPECT_EQ(bytes.find("7333637265742d"), std::string::npos);  // nor in hex

    // Two accounts with the same password get different salts and keys.
    ASSERT_EQ(m_service.Add("other", "s3cret-口令"), ACCOUNT_OK);
    EXPECT_NE(Stored("other").salt, op.salt);
    EXPECT_NE(Stored("other").hash, op.hash);
}

TEST_F(AccountServiceTest, CountsFailuresButNeverSlowsOrLocksOut) {
    ASSERT_EQ(m_service.Add("op", "right"), ACCOUNT_OK);
    m_kdf.calls.clear();
    for (uint32_t n = 1; n <= 12; ++n) {
        m_clock.now += 1000;
        EXPECT_EQ(m_service.Login("op", "wrong"), ACCOUNT_E_WRONG_PASSWORD);
        EXPECT_EQ(Stored("op").failures, n);
        EXPECT_EQ(Stored("op").lastFailureMs, m_clock.now);
    }
    // The count outlives a restart, and the right password still gets in, with one derivation
    // like every attempt before it: nothing is waited for and nothing refused.
    account::AccountFile file(m_path);
    account::AccountService restarted(file, m_kdf, m_clock);
    EXPECT_EQ(restarted.Login("op", "right"), ACCOUNT_OK);
    EXPECT_EQ(m_kdf.calls.size(), 13u);
    EXPECT_EQ(Stored("op").failures, 0u);
    EXPECT_EQ(Stored("op").lastFailureMs, 0);
}

TEST_F(AccountServiceTest, AFailureWhileTheClockStandsBefore1970KeepsTheStoreUsable) {
    ASSERT_EQ(m_service.Add("op", "right"), ACCOUNT_OK);
    m_clock.now = -1'500;  // 1969-12-31 23:59:58.500 UTC
    EXPECT_EQ(m_service.Login("op", "wrong"), ACCOUNT_E_WRONG_PASSWORD);
    EXPECT_EQ(Stored("op").failures, 1u);
    EXPECT_EQ(Stored("op").lastFailureMs, -1'500);
    account::AccountFile file(m_path);
    account::AccountService restarted(file, m_kdf, m_clock);
    EXPECT_EQ(restarted.Login("op", "right"), ACCOUNT_OK);
}

TEST_F(AccountServiceTest, ASuccessResetsOnlyItsOwnAccountsCount) {
    ASSERT_EQ(m_service.Add("op", "right"), ACCOUNT_OK);
    ASSERT_EQ(m_service.Add("other", "pw"), ACCOUNT_OK);
    EXPECT_EQ(FailTimes(5), ACCOUNT_E_WRONG_PASSWORD);
    EXPECT_EQ(FailTimes(2, "other"), ACCOUNT_E_WRONG_PASSWORD);
    EXPECT_EQ(m_service.Login("other", "pw"), ACCOUNT_OK);
    EXPECT_EQ(m_service.Login("nobody", "x"), ACCOUNT_E_UNKNOWN_USER);
    EXPECT_EQ(Stored("other").failures, 0u);
    EXPECT_EQ(Stored("op").failures, 5u);
    EXPECT_EQ(m_service.Login("op", "right"), ACCOUNT_OK);
    EXPECT_EQ(Stored("op").failures, 0u);
    const std::string before = StoreBytes();
    EXPECT_EQ(m_service.Login("op", "right"), ACCOUNT_OK);
    EXPECT_EQ(m_service.ResetFailures("op"), ACCOUNT_OK);
    EXPECT_EQ(StoreBytes(), before);  // nothing to reset, nothing written
}

TEST_F(AccountServiceTest, AStoreLockedByAnEarlierReleaseLetsTheRightPasswordIn) {
    // accounts.dat as the release with lock-outs wrote it: "op" with 10 failures, the latest a
    // minute ago, which that release refused for 15 minutes even with the right password.
    std::string key;
    ASSERT_TRUE(m_kdf.Derive({1000}, "right", "0123456789abcdef", key));
    std::string keyHex;
    for (unsigned char c : key) {
        char two[3];
        std::snprintf(two, sizeof two, "%02x", c);
        keyHex += two;
    }
    const int64_t lastFailure = m_clock.now - 60000;
    const std::string body =
        "plan_desk accounts 1\n6f70 pbkdf2-sha256 1000 30313233343536373839616263646566 " + keyHex + " 10 " +
        std::to_string(lastFailure) + "\n";
    char crc[32];
    std::snprintf(crc, sizeof crc, "crc32 %08x\n", unsigned(shared::Crc32(body)));
    ASSERT_TRUE(shared::AtomicWriteFile(m_path, body + crc));

    std::vector<account::AccountSummary> accounts;
    ASSERT_EQ(m_service.List(accounts), ACCOUNT_OK);
    ASSERT_EQ(accounts.size(), 1u);
    EXPECT_EQ(accounts[0].failures, 10u);
    EXPECT_EQ(accounts[0].lastFailureMs, lastFailure);

    EXPECT_EQ(m_service.Login("op", "wrong"), ACCOUNT_E_WRONG_PASSWORD);
    EXPECT_EQ(Stored("op").failures, 11u);
    EXPECT_EQ(m_service.Login("op", "right"), ACCOUNT_OK);
    EXPECT_EQ(Stored("op").failures, 0u);
}

TEST_F(AccountServiceTest, KeepsTheStoreWhenAWriteStopsAtAnyStep) {
    for (auto step :
         {shared::WriteStep::CreateTemp, shared::WriteStep::WriteFirstHalf,
          shared::WriteStep::WriteSecondHalf, shared::WriteStep::Flush, shared::WriteStep::Replace}) {
        SCOPED_TRACE(int(step));
        fs::remove(m_path);
        ASSERT_EQ(m_service.Add("op", "right"), ACCOUNT_OK);
        ASSERT_EQ(m_service.Login("op", "wrong"), ACCOUNT_E_WRONG_PASSWORD);  // a count to clear
        const std::string before = StoreBytes();

        shared::SetWriteFaultHook([step](shared::WriteStep at) { return at == step; });
        EXPECT_EQ(m_service.Add("new", "pw"), ACCOUNT_E_STORE);
        EXPECT_EQ(m_service.SetPassword("op", "changed"), ACCOUNT_E_STORE);
        EXPECT_EQ(m_service.Remove("op"), ACCOUNT_E_STORE);
        // The count cannot be written either way, and the verdict on the password stands.
        EXPECT_EQ(m_service.Login("op", "wrong"), ACCOUNT_E_WRONG_PASSWORD);
        EXPECT_EQ(m_service.Login("op", "right"), ACCOUNT_OK);
        shared::SetWriteFaultHook(nullptr);

        EXPECT_EQ(StoreBytes(), before);
        EXPECT_EQ(m_service.Login("op", "right"), ACCOUNT_OK);
        EXPECT_EQ(m_service.Login("new", "pw"), ACCOUNT_E_UNKNOWN_USER);
        EXPECT_EQ(m_service.Add("new", "pw"), ACCOUNT_OK);  // the leftover temporary file is no obstacle
    }
}

TEST_F(AccountServiceTest, RefusesToUseOrOverwriteADamagedStore) {
    ASSERT_EQ(m_service.Add("op", "right"), ACCOUNT_OK);
    std::string text = StoreBytes();
    text[30] ^= 0x20;
    ASSERT_TRUE(shared::AtomicWriteFile(m_path, text));
    EXPECT_EQ(m_service.Login("op", "right"), ACCOUNT_E_STORE);
    EXPECT_EQ(m_service.Login("nobody", "x"), ACCOUNT_E_STORE);
    EXPECT_EQ(m_service.Add("new", "pw"), ACCOUNT_E_STORE);
    EXPECT_EQ(m_service.Remove("op"), ACCOUNT_E_STORE);
    std::vector<account::AccountSummary> accounts;
    EXPECT_EQ(m_service.List(accounts), ACCOUNT_E_STORE);
    EXPECT_EQ(StoreBytes(), text);
    EXPECT_TRUE(m_service.StoreExists());
}

TEST_F(AccountServiceTest, ManagesAccounts) {
    EXPECT_FALSE(m_service.StoreExists());
    EXPECT_EQ(m_service.Login("op", "x"), ACCOUNT_E_UNKNOWN_USER);
    EXPECT_FALSE(m_service.StoreExists());  // a login never creates the store

    ASSERT_EQ(m_service.Add("op", "one"), ACCOUNT_OK);
    EXPECT_TRUE(m_service.StoreExists());
    EXPECT_EQ(m_service.Add("op", "two"), ACCOUNT_E_EXISTS);
    EXPECT_EQ(m_service.Login("op", "one"), ACCOUNT_OK);

    EXPECT_EQ(FailTimes(10), ACCOUNT_E_WRONG_PASSWORD);
    EXPECT_EQ(m_service.SetPassword("op", "two"), ACCOUNT_OK);  // also clears the count
    EXPECT_EQ(Stored("op").failures, 0u);
    EXPECT_EQ(m_service.Login("op", "one"), ACCOUNT_E_WRONG_PASSWORD);
    EXPECT_EQ(m_service.Login("op", "two"), ACCOUNT_OK);

    EXPECT_EQ(FailTimes(10), ACCOUNT_E_WRONG_PASSWORD);
    EXPECT_EQ(m_service.ResetFailures("op"), ACCOUNT_OK);
    EXPECT_EQ(Stored("op").failures, 0u);
    EXPECT_EQ(Stored("op").lastFailureMs, 0);

    ASSERT_EQ(m_service.Add("second", "x"), ACCOUNT_OK);
    EXPECT_EQ(FailTimes(10, "second"), ACCOUNT_E_WRONG_PASSWORD);
    const int64_t lastFailure = m_clock.now;
    m_clock.now += 60000;
    std::vector<account::AccountSummary> accounts;
    ASSERT_EQ(m_service.List(accounts), ACCOUNT_OK);
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0].name, "op");
    EXPECT_EQ(accounts[0].failures, 0u);
    EXPECT_EQ(accounts[0].lastFailureMs, 0);
    EXPECT_EQ(accounts[1].name, "second");
    EXPECT_EQ(accounts[1].failures, 10u);
    EXPECT_EQ(accounts[1].lastFailureMs, lastFailure);

    EXPECT_EQ(m_service.Remove("op"), ACCOUNT_OK);
    EXPECT_EQ(m_service.Remove("op"), ACCOUNT_E_UNKNOWN_USER);
    EXPECT_EQ(m_service.SetPassword("op", "x"), ACCOUNT_E_UNKNOWN_USER);
    EXPECT_EQ(m_service.ResetFailures("op"), ACCOUNT_E_UNKNOWN_USER);
    EXPECT_EQ(m_service.Login("op", "two"), ACCOUNT_E_UNKNOWN_USER);
}

TEST_F(AccountServiceTest, RefusesUnusableNamesAndPasswords) {
    const std::vector<std::pair<std::string, int>> names = {
        {"", ACCOUNT_E_BAD_NAME},
        {std::string(32, 'a'), ACCOUNT_E_BAD_NAME},
        {std::string(31, 'a'), ACCOUNT_OK},
        {"tab\there", ACCOUNT_E_BAD_NAME},
        {"del\x7F", ACCOUNT_E_BAD_NAME},
        {"   ", ACCOUNT_OK},  // blanks only: the login dialog passes such a name on unchanged
        {"张三丰", ACCOUNT_OK},
    };
    for (const auto& [name, expected] : names) EXPECT_EQ(m_service.Add(name, "pw"), expected) << name;
    EXPECT_EQ(m_service.Add("nopw", ""), ACCOUNT_E_BAD_PASSWORD);
    EXPECT_EQ(m_service.SetPassword("张三丰", ""), ACCOUNT_E_BAD_PASSWORD);
    EXPECT_EQ(m_service.Login("   ", "pw"), ACCOUNT_OK);
}

TEST_F(AccountServiceTest, ReportsAFailedDerivationNeverAsSuccess) {
    ASSERT_EQ(m_service.Add("op", "right"), ACCOUNT_OK);
    m_kdf.failDerive = true;
    EXPECT_EQ(m_service.Login("op", "right"), ACCOUNT_E_CRYPTO);
    EXPECT_EQ(m_service.Login("nobody", "right"), ACCOUNT_E_CRYPTO);
    EXPECT_EQ(m_service.Add("new", "pw"), ACCOUNT_E_CRYPTO);
    m_kdf.failDerive = false;
    m_kdf.failRandom = true;
    EXPECT_EQ(m_service.Add("new", "pw"), ACCOUNT_E_CRYPTO);
    EXPECT_EQ(Stored("op").failures, 0u);  // a derivation fault is not the user's failure
}

}  // namespace
