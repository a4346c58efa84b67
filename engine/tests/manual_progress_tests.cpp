#include "manual_progress.h"

#include <gtest/gtest.h>

namespace {

TEST(ManualProgressLine, ReadsBackWhatItWritesAndNothingElse) {
    const ManualProgress written[] = {
        {ManualOperation::Backup, 0, 0},
        {ManualOperation::Backup, 1234, 56789},
        {ManualOperation::Restore, 7, 18446744073709551615u},
    };
    for (const ManualProgress& p : written) EXPECT_EQ(ParseManualProgressLine(ManualProgressLine(p)), p);
    EXPECT_EQ(ManualProgressLine({ManualOperation::Backup, 3, 10}), "已打包 3 个文件，共 10 字节");
    EXPECT_EQ(ManualProgressLine({ManualOperation::Restore, 3, 10}), "已解压并校验 3 个文件，共 10 字节");

    const char* const others[] = {
        "开始手动备份：C:\\a 到 D:\\a.bkp",
        "已打包 个文件，共 10 字节",
        "已打包 3 个文件，共 10 字节。",
        "已打包 3 个文件，共 18446744073709551616 字节",  // one past the largest count
        "规则 已打包 3 个文件，共 10 字节",
    };
    for (const char* line : others) EXPECT_EQ(ParseManualProgressLine(line), std::nullopt) << line;
}

}  // namespace
