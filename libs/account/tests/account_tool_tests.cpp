#include "account_tool.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "account_file.h"
#include "account_test_fakes.h"
#include "shared_files.h"

namespace {

namespace fs = std::filesystem;
using account::testing::FakeClock;
using account::testing::FakeKdf;

class ScriptedPasswords : public account::PasswordSource {
  public:
    std::optional<std::string> Read(std::string_view prompt) override {
        prompts.emplace_back(prompt);
        if (lines.empty()) return std::nullopt;
        auto line = lines.front();
        lines.pop_front();
        return line;
    }
    std::deque<std::optional<std::string>> lines;
    std::vector<std::string> prompts;
};

class AccountToolTest : public ::testing::Test {
  protected:
    static fs::path TestFolder() {
        return fs::temp_directory_path() /
               ("account_tool_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    }
    void SetUp() override {
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    void TearDown() override { fs::remove_all(m_folder); }

    struct Outcome {
        int exit;
        std::string out, err;
        size_t passwordsRead;
    };
    Outcome Run(std::vector<std::string> args, std::vector<std::optional<std::string>> passwords = {}) {
        ScriptedPasswords source;
        source.lines.assign(passwords.begin(), passwords.end());
        std::ostringstream out, err;
        // Times as their milliseconds: what the tool shows, not how the zone turns it into text.
        account::AccountTool tool(m_service, source, out, err,
                                  [](int64_t ms) { return "@" + std::to_string(ms); });
        const int exit = tool.Run(args);
        return {exit, out.str(), err.str(), source.prompts.size()};
    }

    fs::path m_folder = TestFolder();
    account::AccountFile m_file{m_folder / "accounts.dat"};
    FakeKdf m_kdf;
    FakeClock m_clock;
    account::AccountService m_service{m_file, m_kdf, m_clock};
};

TEST_F(AccountToolTest, RunsEachCommandWithItsExitCodeAndMessage) {
    struct Step {
        const char* what;
        std::vector<std::string> args;
        std::vector<std::optional<std::string>> passwords;
        int exit;
        std::string out, err;
        size_t passwordsRead;
    };
    const std::vector<Step> steps = {
        {"no store yet", {"has-store"}, {}, 1, "", "", 0},
        {"empty list", {"list"}, {}, 0, "", "", 0},
        {"add", {"add", "op"}, {"pw", "pw"}, 0, "account 'op' added\n", "", 2},
        {"store now", {"has-store"}, {}, 0, "", "", 0},
        {"add again: no password asked",
         {"add", "op"},
         {"pw", "pw"},
         3,
         "",
         "plan_account: account 'op' already exists\n",
         0},
        {"passwords differ",
         {"add", "two"},
         {"pw", "pW"},
         6,
         "",
         "plan_account: the two passwords differ\n",
         2},
        {"empty password",
         {"add", "two"},
         {"", ""},
         6,
         "",
         "plan_account: the password must not be empty\n",
         1},
        {"no input", {"add", "two"}, {}, 6, "", "plan_account: no password was given on standard input\n", 1},
        {"not repeated",
         {"add", "two"},
         {"pw"},
         6,
         "",
         "plan_account: the password was not repeated on standard input\n",
         2},
        {"name too long",
         {"add", std::string(32, 'n')},
         {"pw", "pw"},
         5,
         "",
         "plan_account: an account name has 1 to 31 bytes and no control characters\n",
         0},
        {"Chinese name", {"add", "操作员"}, {"口令", "口令"}, 0, "account '操作员' added\n", "", 2},
        {"passwd of nobody",
         {"passwd", "nobody"},
         {"x", "x"},
         4,
         "",
         "plan_account: no account named 'nobody'\n",
         0},
        {"passwd", {"passwd", "op"}, {"new", "new"}, 0, "password of 'op' changed\n", "", 2},
        {"unlock", {"unlock", "op"}, {}, 0, "failed logins of 'op' cleared\n", "", 0},
        {"list",
         {"list"},
         {},
         0,
         "op\tpbkdf2-sha256 600000\tfailed logins 0\n操作员\tpbkdf2-sha256 600000\tfailed logins 0\n",
         "",
         0},
        {"remove", {"remove", "操作员"}, {}, 0, "account '操作员' removed\n", "", 0},
        {"remove again", {"remove", "操作员"}, {}, 4, "", "plan_account: no account named '操作员'\n", 0},
        {"unlock nobody", {"unlock", "nobody"}, {}, 4, "", "plan_account: no account named 'nobody'\n", 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        const Outcome o = Run(s.args, s.passwords);
        EXPECT_EQ(o.exit, s.exit);
        EXPECT_EQ(o.out, s.out);
        EXPECT_EQ(o.err, s.err);
        EXPECT_EQ(o.passwordsRead, s.passwordsRead);
    }
    // The changed password is the one that works.
    EXPECT_EQ(m_service.Login("op", "new"), 0);
    EXPECT_EQ(m_service.Login("op", "pw"), -1094);
}

TEST_F(AccountToolTest, ListsFailuresWithTheTimeOfTheLastAndUnlockClearsThem) {
    ASSERT_EQ(Run({"add", "op"}, {"pw", "pw"}).exit, 0);
    ASSERT_EQ(Run({"add", "ok"}, {"pw", "pw"}).exit, 0);
    for (int i = 0; i < 10; ++i) {
        m_clock.now += 1500;
        m_service.Login("op", "bad");
    }
    EXPECT_EQ(Run({"list"}).out,
              "op\tpbkdf2-sha256 600000\tfailed logins 10\tlast failure @1700000015000\n"
              "ok\tpbkdf2-sha256 600000\tfailed logins 0\n");
    EXPECT_EQ(Run({"unlock", "op"}).out, "failed logins of 'op' cleared\n");
    EXPECT_EQ(Run({"list"}).out,
              "op\tpbkdf2-sha256 600000\tfailed logins 0\nok\tpbkdf2-sha256 600000\tfailed logins 0\n");
}

TEST_F(AccountToolTest, ExplainsUsageAndRefusesADamagedStore) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"add"}, {"list", "x"}, {"frobnicate", "x"}, {"add", "a", "b"}, {"has-store", "x"}}) {
        const Outcome o = Run(args);
        EXPECT_EQ(o.exit, 2);
        EXPECT_EQ(o.out, "");
        EXPECT_EQ(o.err, account::AccountTool::Usage());
    }
    const Outcome help = Run({"--help"});
    EXPECT_EQ(help.exit, 0);
    EXPECT_EQ(help.out, account::AccountTool::Usage());

    ASSERT_TRUE(shared::AtomicWriteFile(m_file.Path(), "not a store\n"));
    const std::string damaged =
        "plan_account: the account store cannot be read, is damaged, or cannot be written; it was left as it "
        "was\n";
    EXPECT_EQ(Run({"list"}).exit, 7);
    EXPECT_EQ(Run({"list"}).err, damaged);
    const Outcome add = Run({"add", "op"}, {"pw", "pw"});
    EXPECT_EQ(add.exit, 7);
    EXPECT_EQ(add.err, damaged);
    EXPECT_EQ(add.passwordsRead, 0u);
    EXPECT_EQ(Run({"has-store"}).exit, 0);
    std::string text;
    ASSERT_TRUE(shared::ReadWholeFile(m_file.Path(), text));
    EXPECT_EQ(text, "not a store\n");
}

}  // namespace
