#include <gtest/gtest.h>

#include "form_test_support.h"
#include "latest_progress.h"
#include "resource.h"
#include "restore_form.h"
#include "sysutil_api.h"

namespace editors {
namespace {

TEST(RestoreChecks, FileComesBeforeFolder) {
    const InputFault noFile{"请选择备份文件.", "错误", IDC_PICK_RESTORE_FILE, false};
    const InputFault longFile{"路径长度超过限制范围，请重新选择路径.", "错误", IDC_PICK_RESTORE_FILE, false};
    const InputFault noFolder{"请选择还原路径.", "错误", IDC_PICK_RESTORE_FOLDER, false};
    const InputFault longFolder{"还原路径长度超过限制范围，请重新选择路径.", "错误", IDC_PICK_RESTORE_FOLDER,
                                false};
    const InputFault unsavableFile{"路径含有无法保存的字符.", "错误", IDC_PICK_RESTORE_FILE, false};
    const InputFault unsavableFolder{"路径含有无法保存的字符.", "错误", IDC_PICK_RESTORE_FOLDER, false};
    const std::string p255(255, 'p'), p256(256, 'p');
    const struct {
        const char* name;
        RestoreForm form;
        std::optional<InputFault> fault;
    } cases[] = {
        {"both empty", {}, noFile},
        {"only the file", {Exact("a.bkp"), {}}, noFolder},
        {"only the folder", {{}, Exact("C:\\d")}, noFile},
        {"file 256, folder empty", {Exact(p256), {}}, longFile},
        {"file 255", {Exact(p255), Exact("C:\\d")}, {}},
        {"folder 255", {Exact("a.bkp"), Exact(p255)}, {}},
        {"folder 256", {Exact("a.bkp"), Exact(p256)}, longFolder},
        {"file not GBK", {{"?.bkp", false}, Exact("C:\\d")}, unsavableFile},
        {"folder not GBK", {Exact("a.bkp"), {"C:\\?", false}}, unsavableFolder},
        {"both given", {Exact("a.bkp"), Exact("C:\\d")}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(CheckRestoreForm(c.form), c.fault) << c.name;
}

TEST(RestoreChecks, FailureTextsCarryTheCode) {
    EXPECT_EQ(BackupFailureText(20), "执行备份失败,错误代码:20");
    EXPECT_EQ(RestoreFailureText(5), "执行还原失败,错误代码:5");
}

TEST(RestoreChecks, OnlyAnExistingFileAsksBeforeItIsReplaced) {
    EXPECT_TRUE(BackupWouldReplace(0x20));
    EXPECT_FALSE(BackupWouldReplace(SYS_NO_ATTRIBUTES));
    EXPECT_FALSE(BackupWouldReplace(0x10 | 0x20));  // a folder: the engine refuses it
}

TEST(RestoreProgress, CaptionShowsTheOperationAndTheGroupedFileCount) {
    const struct {
        ManualOperation operation;
        std::optional<uint64_t> files;
        const char* caption;
    } cases[] = {
        {ManualOperation::Backup, std::nullopt, "手动备份与还原 - 正在备份…"},
        {ManualOperation::Restore, 999, "手动备份与还原 - 正在还原… 999 个文件"},
        {ManualOperation::Backup, 1234, "手动备份与还原 - 正在备份… 1,234 个文件"},
        {ManualOperation::Backup, 1234567, "手动备份与还原 - 正在备份… 1,234,567 个文件"},
    };
    for (const auto& c : cases) EXPECT_EQ(RunningCaption(c.operation, c.files), c.caption) << c.caption;
}

TEST(RestoreProgress, KeepsOnlyTheFiguresOfTheCallInProgress) {
    LatestProgress latest;
    const std::string backup = ManualProgressLine({ManualOperation::Backup, 12, 100});
    const std::string restore = ManualProgressLine({ManualOperation::Restore, 34, 100});
    latest.Note(backup);  // no call yet
    latest.Begin(ManualOperation::Backup);
    latest.Note(restore);
    EXPECT_EQ(latest.Files(), std::nullopt);
    latest.Note(backup);
    EXPECT_EQ(latest.Files(), 12u);
    latest.Begin(ManualOperation::Restore);  // a new call starts without the old figures
    EXPECT_EQ(latest.Files(), std::nullopt);
    latest.End();
    latest.Note(restore);
    EXPECT_EQ(latest.Files(), std::nullopt);
}

}  // namespace
}  // namespace editors
