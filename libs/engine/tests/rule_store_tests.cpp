#include "rule_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>

#include "engine_api.h"
#include "engine_test_support.h"
#include "shared_files.h"
#include "write_fault_seam.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace kivo;
using kivo::test::TempFolder;

namespace {

RuleSet SampleSet() {
    RuleSet set;
    set.nextId = 9;
    ClearRule c = test::ValidClearRule("清理一");
    c.rule_id = 2;
    set.clear[2] = {c, RuleTimes{100, 200, 300}};
    BackupRule b = test::ValidBackupRule("备份一");
    b.rule_id = 5;
    set.backup[5] = {b, RuleTimes{-1, 0, 1700000000}};
    return set;
}

bool SameRules(const RuleSet& a, const RuleSet& b) {
    return EncodeRuleSet(a) == EncodeRuleSet(b);
}

void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

std::string ReadBytes(const std::filesystem::path& file) {
    std::string bytes;
    shared::ReadWholeFile(file, bytes);
    return bytes;
}

std::vector<std::string> DamagedCopies(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        std::string name = e.path().filename().string();
        if (name.find(".damaged-") != std::string::npos) names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

TEST(RuleFile, LayoutIsTheDocumentedOne) {
    const RuleSet set = SampleSet();
    const std::string bytes = EncodeRuleSet(set);
    ASSERT_EQ(bytes.size(), 40u + 464 + 588 + 4);
    const unsigned char header[40] = {'K',  'I', 'V', 'O', 'R',  'U', 'L', 'E', 1, 0, 0, 0, 40, 0,
                                      0,    0,   9,   0,   0,    0,   1,   0,   0, 0, 1, 0, 0,  0,
                                      0xD0, 1,   0,   0,   0x4C, 2,   0,   0,   0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(bytes.data(), header, 40), 0);
    EXPECT_EQ(std::memcmp(bytes.data() + 40, &set.clear.at(2).rule, 440), 0);
    int64_t times[3];
    std::memcpy(times, bytes.data() + 480, 24);
    EXPECT_EQ(times[0], 100);
    EXPECT_EQ(times[1], 200);
    EXPECT_EQ(times[2], 300);
    EXPECT_EQ(std::memcmp(bytes.data() + 504, &set.backup.at(5).rule, 564), 0);
    uint32_t crc;
    std::memcpy(&crc, bytes.data() + bytes.size() - 4, 4);
    EXPECT_EQ(crc, shared::Crc32(std::string_view(bytes).substr(0, bytes.size() - 4)));

    RuleSet back;
    ASSERT_EQ(DecodeRuleSet(bytes, back), DecodeStatus::Ok);
    EXPECT_TRUE(SameRules(back, set));
    EXPECT_EQ(back.clear.at(2).times, (RuleTimes{100, 200, 300}));
}

TEST(RuleFile, EveryDamageIsDetected) {
    const std::string good = EncodeRuleSet(SampleSet());
    // Every single flipped bit, and every truncation, is caught.
    for (size_t i = 0; i < good.size(); ++i) {
        for (int bit = 0; bit < 8; ++bit) {
            std::string bad = good;
            bad[i] = char(bad[i] ^ (1 << bit));
            RuleSet out;
            const DecodeStatus status = DecodeRuleSet(bad, out);
            // A flip that raises the version is "newer", never "ok".
            ASSERT_NE(status, DecodeStatus::Ok) << "byte " << i << " bit " << bit;
            if (status == DecodeStatus::Newer) {
                ASSERT_TRUE(i >= 8 && i < 12);
            }
        }
    }
    for (size_t n = 0; n < good.size(); ++n) {
        RuleSet out;
        ASSERT_EQ(DecodeRuleSet(good.substr(0, n), out), DecodeStatus::Damaged) << n;
    }
}

TEST(RuleFile, GoodChecksumOverBadContentIsDamage) {
    auto reseal = [](RuleSet set) { return EncodeRuleSet(set); };
    struct Case {
        const char* name;
        std::function<void(RuleSet&)> spoil;
    } cases[] = {
        {"id at or beyond the next id", [](RuleSet& s) { s.nextId = 5; }},
        {"id zero",
         [](RuleSet& s) {
             auto e = s.clear.at(2);
             e.rule.rule_id = 0;
             s.clear.erase(2);
             s.clear[0] = e;
         }},
        {"the same id in both kinds",
         [](RuleSet& s) {
             auto e = s.backup.at(5);
             e.rule.rule_id = 2;
             s.backup.erase(5);
             s.backup[2] = e;
         }},
        {"a record the API would refuse", [](RuleSet& s) { s.clear.at(2).rule.enabled = 3; }},
        {"an unterminated text", [](RuleSet& s) { std::memset(s.backup.at(5).rule.description, 'x', 32); }},
    };
    for (const Case& c : cases) {
        RuleSet set = SampleSet();
        c.spoil(set);
        RuleSet out;
        EXPECT_EQ(DecodeRuleSet(reseal(set), out), DecodeStatus::Damaged) << c.name;
    }
    std::string newer = EncodeRuleSet(SampleSet());
    newer[8] = 2;
    RuleSet out;
    EXPECT_EQ(DecodeRuleSet(newer, out), DecodeStatus::Newer);
}

TEST(RuleStore, DamagedFileIsKeptAsideAndRulesComeBackFromTheMirror) {
    TempFolder folder;
    RuleStore store(folder.Path());
    const RuleSet set = SampleSet();
    ASSERT_TRUE(store.Save(set));
    EXPECT_EQ(ReadBytes(store.MirrorFile()), ReadBytes(store.MainFile()));
    std::string damaged = ReadBytes(store.MainFile());
    damaged[100] ^= 0x20;
    WriteBytes(store.MainFile(), damaged);

    RuleStore::Loaded loaded = store.Load(test::Utc(2024, 5, 1, 2, 3, 4), true);
    EXPECT_TRUE(SameRules(loaded.rules, set));
    EXPECT_EQ(loaded.refuse, 0);
    const std::string aside = (folder.Path() / "rules.dat.damaged-20240501T020304Z").string();
    ASSERT_EQ(loaded.logLines.size(), 1u);
    EXPECT_EQ(loaded.logLines[0], "错误：规则文件 " + *shared::GbkFromPath(store.MainFile()) +
                                      " 已损坏，已另存为 " + *shared::GbkFromPath(aside) +
                                      "；已从上次的正确副本恢复 2 条规则");
    EXPECT_EQ(ReadBytes(aside), damaged);
    EXPECT_EQ(ReadBytes(store.MainFile()), EncodeRuleSet(set));  // rewritten from the good copy
}

TEST(RuleStore, BothCopiesDamagedStartsEmptyButKeepsThemAndTheirIds) {
    TempFolder folder;
    RuleStore store(folder.Path());
    ASSERT_TRUE(store.Save(SampleSet()));
    std::string bytes = ReadBytes(store.MainFile());
    bytes[bytes.size() - 1] ^= 1;  // checksum only: the header still names next id 9
    WriteBytes(store.MainFile(), bytes);
    WriteBytes(store.MirrorFile(), "garbage");

    RuleStore::Loaded loaded = store.Load(test::Utc(2024, 5, 1, 0, 0), true);
    EXPECT_TRUE(loaded.rules.clear.empty() && loaded.rules.backup.empty());
    EXPECT_EQ(loaded.rules.nextId, 9);
    EXPECT_EQ(DamagedCopies(folder.Path()), (std::vector<std::string>{"rules.bak.damaged-20240501T000000Z",
                                                                      "rules.dat.damaged-20240501T000000Z"}));
    ASSERT_EQ(loaded.logLines.size(), 1u);
    EXPECT_NE(loaded.logLines[0].find("，副本也已损坏并已另存为 "), std::string::npos);
    EXPECT_NE(loaded.logLines[0].find("；任务引擎从空规则集开始"), std::string::npos);
    EXPECT_EQ(loaded.logLines[0].rfind("错误：", 0), 0u);
}

TEST(RuleStore, MissingMainFileComesBackFromTheMirror) {
    TempFolder folder;
    RuleStore store(folder.Path());
    ASSERT_TRUE(store.Save(SampleSet()));
    std::filesystem::remove(store.MainFile());
    RuleStore::Loaded loaded = store.Load(0, true);
    EXPECT_TRUE(SameRules(loaded.rules, SampleSet()));
    ASSERT_EQ(loaded.logLines.size(), 1u);
    EXPECT_EQ(loaded.logLines[0], "错误：规则文件 " + *shared::GbkFromPath(store.MainFile()) +
                                      " 丢失；已从上次的正确副本恢复 2 条规则");
    EXPECT_TRUE(std::filesystem::exists(store.MainFile()));
}

TEST(RuleStore, WithoutTheLockNothingIsTouched) {
    TempFolder folder;
    RuleStore store(folder.Path());
    ASSERT_TRUE(store.Save(SampleSet()));
    WriteBytes(store.MainFile(), "garbage");
    RuleStore::Loaded loaded = store.Load(0, false);
    EXPECT_TRUE(SameRules(loaded.rules, SampleSet()));  // read from the mirror
    EXPECT_EQ(ReadBytes(store.MainFile()), "garbage");
    EXPECT_TRUE(DamagedCopies(folder.Path()).empty());
}

TEST(RuleStore, NewerFileIsLeftAloneAndChangesRefused) {
    TempFolder folder;
    RuleStore store(folder.Path());
    std::string newer = EncodeRuleSet(SampleSet());
    newer[8] = 7;
    WriteBytes(store.MainFile(), newer);
    RuleStore::Loaded loaded = store.Load(0, true);
    EXPECT_EQ(loaded.refuse, KIVO_E_STORE_NEWER);
    EXPECT_TRUE(loaded.rules.clear.empty());
    EXPECT_EQ(ReadBytes(store.MainFile()), newer);
    EXPECT_TRUE(DamagedCopies(folder.Path()).empty());
}

// A save interrupted before any of its steps leaves the old rule set or the new one, never less.
class StoreCrash : public ::testing::Test {
  protected:
    void TearDown() override { shared::SetWriteFaultHook(nullptr); }

    // The rule ids after a restart on the folder.
    static std::vector<int32_t> IdsAfterRestart(const std::filesystem::path& folder) {
        auto engine = test::StartEngine(folder, std::make_shared<test::FakeClock>(1000), nullptr);
        std::vector<int32_t> ids = test::ClearIds(*engine);
        for (int32_t id : test::BackupIds(*engine)) ids.push_back(-id);
        return ids;
    }
};

TEST_F(StoreCrash, FailingAtEveryWriteStepKeepsOldOrNewState) {
    const std::vector<int32_t> before{1, 2}, after{1, 2, -3};
    // A save writes the main file (5 steps), then the mirror (5 steps).
    for (int stopAt = 0; stopAt < 10; ++stopAt) {
        SCOPED_TRACE("stop before step call " + std::to_string(stopAt));
        TempFolder folder;
        {
            auto engine = test::StartEngine(folder.Path(), std::make_shared<test::FakeClock>(1000), nullptr);
            ClearRule c1 = test::ValidClearRule(), c2 = test::ValidClearRule();
            ASSERT_EQ(engine->AddClear(&c1), 0);
            ASSERT_EQ(engine->AddClear(&c2), 0);
            int calls = 0;
            shared::SetWriteFaultHook([&](shared::WriteStep) { return calls++ == stopAt; });
            BackupRule b = test::ValidBackupRule();
            const int rc = engine->AddBackup(&b);
            shared::SetWriteFaultHook(nullptr);
            EXPECT_EQ(rc, stopAt < 5 ? KIVO_E_STORE_WRITE : KIVO_OK);
            // The engine's own view matches what it reported.
            EXPECT_EQ(test::BackupIds(*engine).size(), stopAt < 5 ? 0u : 1u);
        }
        EXPECT_EQ(IdsAfterRestart(folder.Path()), stopAt < 5 ? before : after);
    }
}

#ifndef _WIN32
TEST_F(StoreCrash, KilledAtEveryWriteStepKeepsOldOrNewState) {
    const std::vector<int32_t> before{1}, after{1, 2};
    for (int stopAt = 0; stopAt < 10; ++stopAt) {
        SCOPED_TRACE("killed before step call " + std::to_string(stopAt));
        TempFolder folder;
        {
            auto engine = test::StartEngine(folder.Path(), std::make_shared<test::FakeClock>(1000), nullptr);
            ClearRule c = test::ValidClearRule();
            ASSERT_EQ(engine->AddClear(&c), 0);
        }
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // The process dies in the middle of the save, as a power cut or a kill would leave it.
            auto engine = test::StartEngine(folder.Path(), std::make_shared<test::FakeClock>(1000), nullptr);
            int calls = 0;
            shared::SetWriteFaultHook([&](shared::WriteStep) {
                if (calls++ == stopAt) _exit(0);
                return false;
            });
            ClearRule c = test::ValidClearRule();
            engine->AddClear(&c);
            _exit(1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        // Killed before the main file was replaced: the old set; after: the new one.
        EXPECT_EQ(IdsAfterRestart(folder.Path()), stopAt < 5 ? before : after);
    }
}
#endif
