#include "manual_progress.h"

#include <gtest/gtest.h>

namespace {

// The engine's real lines are read back in the runner's archive tests; here, every other line
// the run log carries must not pass for one.
TEST(ManualProgressLine, OnlyItsOwnLinesReadAsProgress) {
    EXPECT_EQ(ManualProgressLine({ManualOperation::Restore, 3, 10}), "已解压并校验 3 个文件，共 10 字节");
    EXPECT_EQ(ParseManualProgressLine("已打包 1,234 个文件，共 10 字节"), std::nullopt);
    const char* const others[] = {
        "开始手动备份：C:\\a 到 D:\\a.bkp",
        "已打包 个文件，共 10 字节",
        "已打包 3 个文件，共 10 字节。",
        "已打包 3 个文件，共 18446744073709551616 字节",  // one past the largest count
        "规则 已打包 3 个文件，共 10 字节",
    };
    for (const char* line : others) EXPECT_EQ(ParseManualProgressLine(line), std::nullopt) << line;
    EXPECT_EQ(ParseManualProgressLine("已打包 3 个文件，共 18446744073709551615 字节"),
              (ManualProgress{ManualOperation::Backup, 3, 18446744073709551615u}));
}

}  // namespace
