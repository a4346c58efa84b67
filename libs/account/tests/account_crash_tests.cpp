// The account store survives the process being killed in the middle of a change: a restart finds
// the old store or the new one, never a damaged store (which would refuse every login) or a lost
// account, and the dead process's lock does not hold up the next change. The child process is
// killed for real (_exit at a write step, or SIGKILL from outside at a moment of chance).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "account_api.h"
#include "account_file.h"
#include "account_service.h"
#include "account_test_fakes.h"
#include "crash_test_support.h"
#include "shared_files.h"

namespace {

namespace fs = std::filesystem;
using account::AccountRecord;
using account::AccountService;
using shared::testing::DieBefore;
using shared::testing::InChild;
using shared::testing::kWriteSteps;

constexpr int kKilled = 10, kDone = 11, kUnexpected = 12;

// Every change the service writes, with the result it gives when the write goes through.
struct Change {
    const char* what;
    std::function<int(AccountService&)> apply;
    int result;
};
const Change kChanges[] = {
    {"adding an account", [](AccountService& s) { return s.Add("new", "pw"); }, ACCOUNT_OK},
    {"changing a password", [](AccountService& s) { return s.SetPassword("op", "changed"); }, ACCOUNT_OK},
    {"removing an account", [](AccountService& s) { return s.Remove("op"); }, ACCOUNT_OK},
    {"counting a failed login", [](AccountService& s) { return s.Login("op", "wrong"); },
     ACCOUNT_E_WRONG_PASSWORD},
    {"clearing the failures on a good login", [](AccountService& s) { return s.Login("op", "right"); },
     ACCOUNT_OK},
    {"clearing the failures by hand", [](AccountService& s) { return s.ResetFailures("op"); }, ACCOUNT_OK},
};

std::string Bytes(const fs::path& path) {
    std::string text;
    return shared::ReadWholeFile(path, text) ? text : "<missing>";
}

// A service with fresh stand-ins: the same calls give the same bytes in every process.
struct Service {
    explicit Service(const fs::path& path) : file(path) {}
    account::AccountFile file;
    account::testing::FakeKdf kdf;
    account::testing::FakeClock clock;
    AccountService service{file, kdf, clock};
};

class AccountCrash : public ::testing::Test {
  protected:
    void SetUp() override { Reset(); }
    void TearDown() override { fs::remove_all(m_folder); }
    void Reset() {
        fs::remove_all(m_folder);
        fs::create_directories(m_folder / "expected");
    }

    fs::path m_folder =
        fs::temp_directory_path() / ("account_crash_" + std::to_string(::getpid()) + "_" +
                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::path m_path = m_folder / "accounts.dat";
};

TEST_F(AccountCrash, KilledAtEveryWriteStepARestartFindsTheOldStoreOrTheNew) {
    for (const Change& change : kChanges) {
        for (size_t stop = 0; stop <= std::size(kWriteSteps); ++stop) {
            const bool killed = stop < std::size(kWriteSteps);
            SCOPED_TRACE(std::string(change.what) + ", " +
                         (killed ? std::string("killed before ") + kWriteSteps[stop].before : "not killed"));
            Reset();
            {
                // "op" with two failed logins behind it.
                Service seed(m_path);
                ASSERT_EQ(seed.service.Add("op", "right"), ACCOUNT_OK);
                ASSERT_EQ(seed.service.Login("op", "wrong"), ACCOUNT_E_WRONG_PASSWORD);
                ASSERT_EQ(seed.service.Login("op", "wrong"), ACCOUNT_E_WRONG_PASSWORD);
            }
            const std::string before = Bytes(m_path);
            // The store the change writes, made undisturbed on a copy.
            const fs::path copy = m_folder / "expected" / "accounts.dat";
            fs::copy_file(m_path, copy);
            {
                Service undisturbed(copy);
                ASSERT_EQ(change.apply(undisturbed.service), change.result);
            }
            const std::string after = Bytes(copy);
            ASSERT_NE(after, before);

            const int ended = InChild([&] {
                Service child(m_path);
                if (killed) DieBefore(kWriteSteps[stop].step, kKilled);
                _exit(change.apply(child.service) == change.result ? kDone : kUnexpected);
            });
            EXPECT_EQ(ended, killed ? kKilled : kDone);

            EXPECT_EQ(Bytes(m_path), killed ? before : after);
            Service restarted(m_path);
            std::vector<AccountRecord> records;
            EXPECT_EQ(restarted.file.Load(records), account::LoadResult::Ok);
            // Neither the dead process's lock nor its temporary file holds up the next change.
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(restarted.service.Add("later", "pw"), ACCOUNT_OK);
            EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
        }
    }
}

TEST_F(AccountCrash, KilledAtMomentsOfChanceNoAcknowledgedAccountIsLost) {
    std::mt19937 random(20240229);
    int diedMidWrite = 0;
    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Reset();
        const int wanted = int(random() % 12) + 1;
        const auto pause = useconds_t(random() % 3000);
        // Adds u1, u2, u3... and reports each once Add has said it is stored.
        const int acknowledged = shared::testing::KillAfterAcknowledged(
            [&](const shared::testing::Acknowledge& acknowledge) {
                Service adder(m_path);
                for (int n = 1;; ++n) {
                    if (adder.service.Add("u" + std::to_string(n), "pw") != ACCOUNT_OK) _exit(kUnexpected);
                    acknowledge(n);
                }
            },
            wanted, pause);

        fs::path temp = m_path;
        temp += ".tmp";
        diedMidWrite += fs::exists(temp);
        std::vector<AccountRecord> records;
        ASSERT_EQ(account::AccountFile(m_path).Load(records), account::LoadResult::Ok);
        // u1 up to the last one reported stored, and perhaps the one being written at the kill.
        ASSERT_TRUE(records.size() == size_t(acknowledged) || records.size() == size_t(acknowledged) + 1)
            << records.size() << " accounts, " << acknowledged << " acknowledged";
        for (size_t i = 0; i < records.size(); ++i) EXPECT_EQ(records[i].name, "u" + std::to_string(i + 1));
    }
    std::printf("[ crash ] %d of 25 kills came while a write was under way\n", diedMidWrite);
}

}  // namespace
