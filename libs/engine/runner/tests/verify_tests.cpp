// The check of a rule's backup sets against their manifests (POSIX): what is found, where, and what
// a run reports.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "backup_set_name.h"
#include "runner_options.h"
#include "runner_test_support.h"

namespace kivo {
namespace {

using test::Gbk;
using test::RecordingContext;
using test::ScratchDir;
using test::UtcOptions;
namespace stdfs = std::filesystem;

constexpr int64_t kNow = 1700000000;
constexpr int64_t kDay = 86400;
const std::string kOurs(32, 'a');

struct Sets {
    explicit Sets(const ScratchDir& dir) : source(dir / "src"), backup(dir / "bk") {
        context.installation = kOurs;
    }
    stdfs::path Take(int64_t at) {
        context.now = at;
        EXPECT_EQ(MakeFileTaskRunner(UtcOptions())
                      ->RunBackup(test::MakeBackupRule(5, source, backup), context)
                      .outcome,
                  RunOutcome::Succeeded);
        return backup / SetBaseName(5, test::UtcCivil(at), 1);
    }
    RunReport Verify() {
        context.lines.clear();
        return MakeFileTaskRunner(UtcOptions())
            ->VerifyBackup(test::MakeBackupRule(5, source, backup), context);
    }
    stdfs::path source, backup;
    RecordingContext context;
};

TEST(VerifyBackup, EveryCompleteSetIsCheckedAndEveryBadFileIsNamed) {
    ScratchDir dir;
    Sets sets(dir);
    test::WriteFile(sets.source / "a.txt", "alpha");
    test::WriteFile(sets.source / "b.txt", "beta");
    test::WriteFile(sets.source / "sub/c.txt", "gamma");
    const stdfs::path first = sets.Take(kNow), second = sets.Take(kNow + kDay);
    test::WriteFile(sets.source / "d.txt", "delta");
    const stdfs::path third = sets.Take(kNow + 2 * kDay);
    // Neither an unfinished nor an incomplete set is checked, nor another installation's.
    test::WriteFile(sets.backup / "kivo-5-20231101-000000-incomplete/.kivo-set",
                    SetMarkText(5, kNow - 9 * kDay, kOurs));
    test::WriteFile(sets.backup / "kivo-5-20231102-000000.tmp/.kivo-set",
                    SetMarkText(5, kNow - 8 * kDay, kOurs));
    test::WriteFile(sets.backup / "kivo-5-20231103-000000/.kivo-set",
                    SetMarkText(5, kNow - 7 * kDay, std::string(32, 'b')));

    RunReport good = sets.Verify();
    EXPECT_EQ(good.outcome, RunOutcome::Succeeded);
    EXPECT_EQ(good.summary, "校验备份 3 个，全部正常");
    EXPECT_EQ(sets.context.lines, (std::vector<std::string>{"校验完成：" + Gbk(first) + "，3 个文件正常",
                                                            "校验完成：" + Gbk(second) + "，3 个文件正常",
                                                            "校验完成：" + Gbk(third) + "，4 个文件正常"}));

    stdfs::remove(first / "src/b.txt");      // gone from the first set only
    stdfs::remove(first / "src/sub/c.txt");  // replaced there by a file of another size
    test::WriteFile(first / "src/sub/c.txt", "gamma and more");
    stdfs::remove(second / std::string(kSetManifestName));
    test::WriteFile(third / "src/d.txt", "DELTA");  // the same size, other bytes
    stdfs::remove(third / "src/a.txt");             // replaced by a link
    stdfs::create_symlink(sets.source / "a.txt", third / "src/a.txt");

    RunReport bad = sets.Verify();
    EXPECT_EQ(bad.outcome, RunOutcome::PartiallyFailed);
    EXPECT_EQ(bad.summary, "校验备份 3 个，其中 3 个有问题");
    EXPECT_EQ(sets.context.lines,
              (std::vector<std::string>{
                  "校验失败：" + Gbk(first / "src/sub/c.txt") + "：大小不符：清单记录 5 字节，实际 14 字节",
                  "校验失败：" + Gbk(first / "src/b.txt") + "：文件缺失",
                  "校验发现问题：" + Gbk(first) + "，2 个文件缺失或损坏",
                  "无法校验：" + Gbk(second) + "：没有文件清单",
                  "校验失败：" + Gbk(third / "src/a.txt") + "：已被替换为链接",
                  "校验失败：" + Gbk(third / "src/d.txt") + "：内容已损坏（CRC-32 与清单不符）",
                  "校验发现问题：" + Gbk(third) + "，2 个文件缺失或损坏"}));
}

// A large file is copied by the kernel while its CRC is read back from the copy: the set holds it
// byte for byte, and its record checks.
TEST(VerifyBackup, ALargeFileCopiedByTheKernelChecksAgainstItsRecord) {
    ScratchDir dir;
    Sets sets(dir);
    // Just over the size from which the kernel copies; pieces of one random block, each numbered.
    std::string block(1 << 16, '\0');
    uint32_t x = 2463534242u;
    for (char& c : block) x ^= x << 13, x ^= x >> 17, x ^= x << 5, c = char(x);
    std::string big;
    for (uint32_t piece = 0; big.size() < (33u << 20); ++piece) {
        std::memcpy(block.data(), &piece, sizeof piece);
        big += block;
    }
    test::WriteFile(sets.source / "big.bin", big);
    const stdfs::path set = sets.Take(kNow);
    std::string copy(big.size() + 1, '\0');
    std::ifstream(set / "src/big.bin", std::ios::binary).read(copy.data(), std::streamsize(copy.size()));
    EXPECT_TRUE(copy.compare(0, big.size(), big) == 0 && copy.back() == '\0');
    EXPECT_EQ(sets.Verify().outcome, RunOutcome::Succeeded) << sets.context.lines.front();
    big[big.size() / 2] ^= 1;
    test::WriteFile(set / "src/big.bin", big);
    EXPECT_EQ(sets.Verify().outcome, RunOutcome::PartiallyFailed);
}

TEST(VerifyBackup, WithoutASetToCheckTheRunFails) {
    ScratchDir dir;
    Sets sets(dir);
    RunReport missing = sets.Verify();
    EXPECT_EQ(missing.outcome, RunOutcome::Failed);
    EXPECT_EQ(missing.summary, "无法打开备份目录 " + Gbk(sets.backup) + "：文件不存在");
    stdfs::create_directories(sets.backup);
    RunReport empty = sets.Verify();
    EXPECT_EQ(empty.outcome, RunOutcome::Failed);
    EXPECT_EQ(empty.summary, "备份目录 " + Gbk(sets.backup) + " 中没有本规则的完整备份");
    EXPECT_FALSE(stdfs::exists(sets.backup / "kivo-5-20231114-221320"));  // a check writes nothing
}

}  // namespace
}  // namespace kivo
