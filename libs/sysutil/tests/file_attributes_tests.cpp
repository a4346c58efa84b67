#include "file_attributes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "shared_files.h"

namespace {

namespace fs = std::filesystem;

class FileAttributes : public ::testing::Test {
  protected:
    void SetUp() override {
        m_root =
            fs::temp_directory_path() /
            ("sysutil_attr_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_root);
        fs::create_directories(m_root);
        m_gbkRoot = *shared::GbkFromPath(m_root);
    }
    void TearDown() override { fs::remove_all(m_root); }

    fs::path m_root;
    std::string m_gbkRoot;
};

TEST_F(FileAttributes, TellsFoldersFromFilesAndMissingPaths) {
    std::ofstream(m_root / "plain.txt") << "x";
    // "备份目录" is GBK in the code; the folder is created under its native name.
    const std::string chineseGbk = "备份目录";
    fs::create_directories(*shared::PathFromGbk(m_gbkRoot + "/" + chineseGbk));

    enum Kind { Folder, File, Nothing };
    struct Case {
        std::string path;
        Kind kind;
    } cases[] = {
        {m_gbkRoot, Folder},
        {m_gbkRoot + "/" + chineseGbk, Folder},
        {m_gbkRoot + "/plain.txt", File},
        {m_gbkRoot + "/missing", Nothing},
        {m_gbkRoot + "/" + chineseGbk + "/missing", Nothing},
        {"", Nothing},
        {m_gbkRoot + "/\x81", Nothing},  // a lone lead byte is not GBK
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const int attributes = sysutil::FileAttributesOfGbkPath(c.path.c_str());
        switch (c.kind) {
            case Folder:
                EXPECT_EQ(attributes & sysutil::kDirectoryBit, sysutil::kDirectoryBit);
                break;
            // Windows adds its own bits (a new file is marked for archiving); never 0, never 0x10.
            case File:
                EXPECT_NE(attributes, sysutil::kNoAttributes);
                EXPECT_EQ(attributes & sysutil::kDirectoryBit, 0);
                break;
            case Nothing:
                EXPECT_EQ(attributes, sysutil::kNoAttributes);
                break;
        }
    }
    EXPECT_EQ(sysutil::FileAttributesOfGbkPath(nullptr), sysutil::kNoAttributes);
}

}  // namespace
