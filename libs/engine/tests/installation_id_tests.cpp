// The installation identity of a data folder: made once, kept, restored from its mirror, and never
// silently changed when its file is damaged.
#include "installation_id.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine_test_support.h"
#include "shared_files.h"

using namespace kivo;
using namespace kivo::test;

namespace {

const std::string kKept(32, '1'), kMirrored(32, '2'), kNew = "000102030405060708090a0b0c0d0e0f";

std::string Text(const std::string& id) {
    return "kivo installation\nid=" + id + "\n";
}

bool Counting(void* out, size_t n) {
    for (size_t i = 0; i < n; ++i) static_cast<unsigned char*>(out)[i] = static_cast<unsigned char>(i);
    return true;
}

TEST(InstallationId, IsMadeOnceKeptMirroredAndRestored) {
    const std::string damaged = "kivo installation\nid=" + std::string(31, '1') + "\n";
    const char* kMissing = nullptr;
    struct Row {
        const char* what;
        const char* file;    // nullptr: missing
        const char* mirror;  // nullptr: missing
        std::string id, fileAfter, mirrorAfter;
        std::vector<std::string> lines;
    } rows[] = {
        {"a new folder", kMissing, kMissing, kNew, Text(kNew), Text(kNew), {}},
        {"kept", "K", "K", kKept, Text(kKept), Text(kKept), {}},
        {"the mirror lost", "K", kMissing, kKept, Text(kKept), Text(kKept), {}},
        {"the mirror stale", "K", "M", kKept, Text(kKept), Text(kKept), {}},
        {"the file lost", kMissing, "M", kMirrored, Text(kMirrored), Text(kMirrored), {}},
        {"the file damaged",
         "D",
         "M",
         kMirrored,
         Text(kMirrored),
         Text(kMirrored),
         {"本机安装标识文件 installation.id 已损坏，已从副本恢复"}},
        {"both damaged",
         "D",
         "D",
         kNew,
         Text(kNew),
         Text(kNew),
         {"错误：本机安装标识已损坏，已生成新的标识；带有旧标识的备份今后不会被本机自动删除，也不再用作链接的"
          "基础"}},
        {"upper-case digits are not ours",
         "U",
         kMissing,
         kNew,
         Text(kNew),
         Text(kNew),
         {"错误：本机安装标识已损坏，已生成新的标识；带有旧标识的备份今后不会被本机自动删除，也不再用作链接的"
          "基础"}},
    };
    auto contents = [&](const char* which) -> std::optional<std::string> {
        if (!which) return std::nullopt;
        switch (which[0]) {
            case 'K':
                return Text(kKept);
            case 'M':
                return Text(kMirrored);
            case 'U':
                return Text(std::string(32, 'A'));
            default:
                return damaged;
        }
    };
    for (const Row& row : rows) {
        TempFolder folder;
        if (auto text = contents(row.file)) {
            ASSERT_TRUE(shared::AtomicWriteFile(folder.Path() / "installation.id", *text));
        }
        if (auto text = contents(row.mirror)) {
            ASSERT_TRUE(shared::AtomicWriteFile(folder.Path() / "installation.bak", *text));
        }
        const InstallationIdentity identity = LoadInstallationId(folder.Path(), Counting);
        EXPECT_EQ(identity.id, row.id) << row.what;
        EXPECT_EQ(identity.logLines, row.lines) << row.what;
        EXPECT_EQ(FileOrMissing(folder.Path() / "installation.id"), row.fileAfter) << row.what;
        EXPECT_EQ(FileOrMissing(folder.Path() / "installation.bak"), row.mirrorAfter) << row.what;
        // What was damaged is kept for a look, never thrown away.
        if (row.file && row.file[0] != 'K' && row.file[0] != 'M') {
            EXPECT_EQ(FileOrMissing(folder.Path() / "installation.id.damaged"), *contents(row.file))
                << row.what;
        }
    }
}

TEST(InstallationId, WithoutRandomBitsOrAWritableFolderThereIsNone) {
    TempFolder folder;
    const InstallationIdentity none = LoadInstallationId(folder.Path(), [](void*, size_t) { return false; });
    EXPECT_EQ(none.id, "");
    EXPECT_EQ(none.logLines,
              std::vector<std::string>{"错误：无法保存本机安装标识文件 "
                                       "installation.id，本次备份不标注安装标识，也只清理未标注的旧备份"});
    EXPECT_EQ(FileOrMissing(folder.Path() / "installation.id"), "<missing>");

    // A folder named like the file cannot be read, and is left as it is.
    std::filesystem::create_directory(folder.Path() / "installation.id");
    const InstallationIdentity unreadable = LoadInstallationId(folder.Path(), Counting);
    EXPECT_EQ(unreadable.id, "");
    EXPECT_TRUE(std::filesystem::is_directory(folder.Path() / "installation.id"));
}

}  // namespace
