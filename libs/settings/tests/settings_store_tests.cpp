#include "settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "settings_api.h"
#include "shared_files.h"
#include "write_fault_seam.h"

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::string text;
    EXPECT_TRUE(shared::ReadWholeFile(path, text)) << path;
    return text;
}

class SettingsStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_folder = fs::temp_directory_path() /
                   ("settings_store_" +
                    std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_folder);
        fs::create_directories(m_folder);
        m_path = m_folder / "settings.ini";
    }
    void TearDown() override {
        shared::SetWriteFaultHook(nullptr);
        fs::remove_all(m_folder);
    }
    settings::SettingsStore::Locator Locator() const {
        return [path = m_path] { return path; };
    }

    fs::path m_folder, m_path;
};

TEST_F(SettingsStoreTest, WritesEveryChangeThroughAndReadsItBackAfterARestart) {
    settings::SettingsStore store(Locator());
    ASSERT_EQ(store.Start(), SETTINGS_OK);
    EXPECT_EQ(store.Get("task_list_cfg", "loglst_1"), 0);
    EXPECT_FALSE(fs::exists(m_path));  // reading alone creates nothing

    EXPECT_EQ(store.Set("task_list_cfg", "loglst_1", 150), SETTINGS_OK);
    EXPECT_EQ(ReadFile(m_path), "[task_list_cfg]\r\nloglst_1=150\r\n");
    EXPECT_EQ(store.Set("task_list_cfg", "loglst_2", 0), SETTINGS_OK);
    EXPECT_EQ(store.Set("task_list_cfg", "LOGLST_1", 151), SETTINGS_OK);
    EXPECT_EQ(ReadFile(m_path), "[task_list_cfg]\r\nloglst_1=151\r\nloglst_2=0\r\n");
    EXPECT_EQ(store.Stop(), SETTINGS_OK);

    settings::SettingsStore again(Locator());
    ASSERT_EQ(again.Start(), SETTINGS_OK);
    EXPECT_EQ(again.Get("task_list_cfg", "loglst_1"), 151);
    EXPECT_EQ(again.Get("Task_List_Cfg", "LogLst_1"), 151);
    EXPECT_EQ(again.Get("task_list_cfg", "loglst_3"), 0);
    EXPECT_EQ(again.Get("other", "loglst_1"), 0);
}

TEST_F(SettingsStoreTest, ReadsTheFileOnFirstUseWithoutAStartAndAgainAfterAStop) {
    ASSERT_TRUE(shared::AtomicWriteFile(m_path, "[s]\nk=4\n"));
    settings::SettingsStore store(Locator());
    EXPECT_EQ(store.Get("s", "k"), 4);
    ASSERT_TRUE(shared::AtomicWriteFile(m_path, "[s]\nk=5\n"));
    EXPECT_EQ(store.Get("s", "k"), 4);  // loaded once, not on every call
    store.Stop();
    EXPECT_EQ(store.Get("s", "k"), 5);
}

TEST_F(SettingsStoreTest, KeepsTheOldSettingsWhenAWriteStopsAtAnyStep) {
    const std::string before = "[task_list_cfg]\r\nloglst_1=100\r\nloglst_2=200\r\n";
    for (auto step :
         {shared::WriteStep::CreateTemp, shared::WriteStep::WriteFirstHalf,
          shared::WriteStep::WriteSecondHalf, shared::WriteStep::Flush, shared::WriteStep::Replace}) {
        SCOPED_TRACE(int(step));
        ASSERT_TRUE(shared::AtomicWriteFile(m_path, before));
        settings::SettingsStore store(Locator());
        ASSERT_EQ(store.Start(), SETTINGS_OK);

        shared::SetWriteFaultHook([step](shared::WriteStep at) { return at == step; });
        EXPECT_EQ(store.Set("task_list_cfg", "loglst_1", 999), SETTINGS_E_WRITE);
        EXPECT_EQ(store.Set("task_list_cfg", "loglst_9", 9), SETTINGS_E_WRITE);
        shared::SetWriteFaultHook(nullptr);

        // What a restart after the crash would find, and what the running store still answers.
        EXPECT_EQ(ReadFile(m_path), before);
        EXPECT_EQ(store.Get("task_list_cfg", "loglst_1"), 100);
        EXPECT_EQ(store.Get("task_list_cfg", "loglst_9"), 0);
        settings::SettingsStore restarted(Locator());
        EXPECT_EQ(restarted.Get("task_list_cfg", "loglst_1"), 100);
        EXPECT_EQ(restarted.Get("task_list_cfg", "loglst_2"), 200);

        // The half-written temporary file left behind does not stand in the way of the next write.
        EXPECT_EQ(store.Set("task_list_cfg", "loglst_1", 101), SETTINGS_OK);
        EXPECT_EQ(ReadFile(m_path), "[task_list_cfg]\r\nloglst_1=101\r\nloglst_2=200\r\n");
    }
}

TEST_F(SettingsStoreTest, RewritesADamagedFileKeepingEveryReadableValue) {
    ASSERT_TRUE(
        shared::AtomicWriteFile(m_path, "[task_list_cfg]\nloglst_1=80\n@@@\nloglst_2=oops\n[broken\nx=1\n"));
    settings::SettingsStore store(Locator());
    ASSERT_EQ(store.Start(), SETTINGS_OK);
    EXPECT_EQ(store.Get("task_list_cfg", "loglst_1"), 80);
    EXPECT_EQ(store.Get("task_list_cfg", "loglst_2"), 0);
    EXPECT_EQ(store.Set("task_list_cfg", "clearlst_1", 60), SETTINGS_OK);
    EXPECT_EQ(ReadFile(m_path), "[task_list_cfg]\r\nloglst_1=80\r\nloglst_2=oops\r\nclearlst_1=60\r\n");
}

TEST_F(SettingsStoreTest, RefusesUnstorableNamesWithoutWriting) {
    settings::SettingsStore store(Locator());
    EXPECT_EQ(store.Set("", "k", 1), SETTINGS_E_BAD_NAME);
    EXPECT_EQ(store.Set("s", "a=b", 1), SETTINGS_E_BAD_NAME);
    EXPECT_EQ(store.Set("s]", "k", 1), SETTINGS_E_BAD_NAME);
    EXPECT_FALSE(fs::exists(m_path));
}

TEST_F(SettingsStoreTest, NeverWritesOverAFileItCouldNotRead) {
    fs::create_directories(m_path / "inside");  // "settings.ini" exists but is no readable file
    settings::SettingsStore store(Locator());
    EXPECT_EQ(store.Start(), SETTINGS_E_UNREADABLE);
    EXPECT_EQ(store.Get("s", "k"), 0);
    EXPECT_EQ(store.Set("s", "k", 1), SETTINGS_E_UNREADABLE);
    EXPECT_TRUE(fs::is_directory(m_path / "inside"));
}

}  // namespace
