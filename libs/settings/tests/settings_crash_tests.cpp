// The settings file survives the process being killed in the middle of a change: a restart finds
// the old settings or the new ones, never a damaged file or a lost value. The child process is
// killed for real (_exit at a write step, or SIGKILL from outside at a moment of chance).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <random>
#include <string>

#include "crash_test_support.h"
#include "settings_api.h"
#include "settings_store.h"
#include "shared_files.h"

namespace {

namespace fs = std::filesystem;
using shared::testing::DieBefore;
using shared::testing::InChild;
using shared::testing::kWriteSteps;

// How the child process ended.
constexpr int kKilled = 10, kStored = 11, kRefused = 12;

class SettingsCrash : public ::testing::Test {
  protected:
    void SetUp() override { Reset(); }
    void TearDown() override { fs::remove_all(m_folder); }
    void Reset() {
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
    }
    settings::SettingsStore::Locator Locator() const {
        return [path = m_path] { return path; };
    }
    std::string FileOrMissing() const {
        std::string text;
        return shared::ReadWholeFile(m_path, text) ? text : "<missing>";
    }

    fs::path m_folder =
        fs::temp_directory_path() / ("settings_crash_" + std::to_string(::getpid()) + "_" +
                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::path m_path = m_folder / "settings.ini";
};

TEST_F(SettingsCrash, KilledAtEveryWriteStepARestartFindsTheOldSettingsOrTheNew) {
    const std::string before = "[task_list_cfg]\r\nloglst_1=100\r\nclearlst_2=7\r\n";
    for (bool firstWrite : {false, true}) {
        for (size_t stop = 0; stop <= std::size(kWriteSteps); ++stop) {
            const bool killed = stop < std::size(kWriteSteps);
            SCOPED_TRACE(std::string(firstWrite ? "first write, " : "") +
                         (killed ? std::string("killed before ") + kWriteSteps[stop].before : "not killed"));
            Reset();
            if (!firstWrite) {
                ASSERT_TRUE(shared::AtomicWriteFile(m_path, before));
            }

            const int ended = InChild([&] {
                settings::SettingsStore store(Locator());
                store.Start();
                if (killed) DieBefore(kWriteSteps[stop].step, kKilled);
                _exit(store.Set("task_list_cfg", "loglst_1", 250) == SETTINGS_OK ? kStored : kRefused);
            });
            EXPECT_EQ(ended, killed ? kKilled : kStored);

            // The file is exactly the old one (or still absent), or exactly the new one.
            const std::string after = firstWrite ? "[task_list_cfg]\r\nloglst_1=250\r\n"
                                                 : "[task_list_cfg]\r\nloglst_1=250\r\nclearlst_2=7\r\n";
            EXPECT_EQ(FileOrMissing(), killed ? (firstWrite ? "<missing>" : before) : after);
            settings::SettingsStore restarted(Locator());
            ASSERT_EQ(restarted.Start(), SETTINGS_OK);
            EXPECT_EQ(restarted.Get("task_list_cfg", "loglst_1"), killed ? (firstWrite ? 0 : 100) : 250);
            EXPECT_EQ(restarted.Get("task_list_cfg", "clearlst_2"), firstWrite ? 0 : 7);
            // What the dead process left behind does not stand in the way of the next change.
            EXPECT_EQ(restarted.Set("task_list_cfg", "loglst_3", 3), SETTINGS_OK);
            settings::SettingsStore again(Locator());
            EXPECT_EQ(again.Get("task_list_cfg", "loglst_3"), 3);
        }
    }
}

TEST_F(SettingsCrash, KilledAtMomentsOfChanceNoAcknowledgedValueIsLost) {
    std::mt19937 random(20240131);
    int diedMidWrite = 0;
    for (int round = 0; round < 25; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Reset();
        ASSERT_TRUE(shared::AtomicWriteFile(m_path, "[task_list_cfg]\r\nfixed=42\r\n"));
        const int wanted = int(random() % 12) + 1;
        const auto pause = useconds_t(random() % 3000);
        // Writes 1, 2, 3... and reports each value once Set has said it is stored.
        const int acknowledged = shared::testing::KillAfterAcknowledged(
            [&](const shared::testing::Acknowledge& acknowledge) {
                settings::SettingsStore store(Locator());
                for (int value = 1;; ++value) {
                    if (store.Set("task_list_cfg", "loglst_1", value) != SETTINGS_OK) _exit(kRefused);
                    acknowledge(value);
                }
            },
            wanted, pause);

        fs::path temp = m_path;
        temp += ".tmp";
        diedMidWrite += fs::exists(temp);
        settings::SettingsStore restarted(Locator());
        ASSERT_EQ(restarted.Start(), SETTINGS_OK);
        const int stored = restarted.Get("task_list_cfg", "loglst_1");
        // The last value reported stored, or the one being written when the kill came.
        EXPECT_TRUE(stored == acknowledged || stored == acknowledged + 1)
            << "stored " << stored << ", acknowledged " << acknowledged;
        EXPECT_EQ(restarted.Get("task_list_cfg", "fixed"), 42);
        EXPECT_EQ(restarted.Document().SkippedLineCount(), 0u);
    }
    std::printf("[ crash ] %d of 25 kills came while a write was under way\n", diedMidWrite);
}

}  // namespace
