#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "backup_rule_form.h"
#include "form_test_support.h"
#include "resource.h"

namespace editors {
namespace {

const RunSchedule kDefaultSchedule{15, 0, 0, 0};

BackupForm ValidForm() {
    return {Exact("备份"), Exact("C:\\data"), Exact("D:\\backup"), "0"};
}

BackupRule NewRule() {
    BackupRule rule{};
    rule.enabled = 1;
    return rule;
}

TEST(BackupRuleComposition, NewRuleIsTheCallersRecordWithTheGatheredFields) {
    BackupForm form = ValidForm();
    form.keepDays = "30";
    const Checked<BackupRule> result = ComposeBackupRule(NewRule(), kDefaultSchedule, form);
    ASSERT_TRUE(result.ok());

    BackupRule expected{};
    expected.enabled = 1;
    expected.keep_days = 30;
    expected.schedule = kDefaultSchedule;
    std::memcpy(expected.description, "备份", 4);
    std::memcpy(expected.source_path, "C:\\data", 7);
    std::memcpy(expected.backup_path, "D:\\backup", 9);
    EXPECT_EQ(Bytes(result.value()), Bytes(expected));
}

TEST(BackupRuleComposition, ShorterTextsLeaveNoStaleBytesBehind) {
    BackupRule old{};
    old.rule_id = 7;
    old.enabled = 0;
    std::memset(old.description, 'x', sizeof old.description - 1);
    std::memset(old.source_path, 'y', sizeof old.source_path - 1);
    std::memset(old.backup_path, 'z', sizeof old.backup_path - 1);
    old.schedule = {0, 0, 127, 630};

    const Checked<BackupRule> result = ComposeBackupRule(old, {0, 3, 0, 100}, ValidForm());
    ASSERT_TRUE(result.ok());
    BackupRule expected{};
    expected.rule_id = 7;
    expected.schedule = {0, 3, 0, 100};
    std::memcpy(expected.description, "备份", 4);
    std::memcpy(expected.source_path, "C:\\data", 7);
    std::memcpy(expected.backup_path, "D:\\backup", 9);
    EXPECT_EQ(Bytes(result.value()), Bytes(expected));
}

TEST(BackupRuleComposition, ChecksInOrderAndReportsTheFirstFault) {
    const InputFault noDescription{"请输入规则描述.", "错误", IDC_DESCRIPTION, false};
    const InputFault longDescription{"规则描述长度超过限制范围，请重新输入.", "错误", IDC_DESCRIPTION, true};
    const InputFault noSource{"请选择监视路径.", "错误", IDC_PICK_PATH, false};
    const InputFault longSource{"路径长度超过限制范围，请重新选择路径.", "错误", IDC_PICK_PATH, false};
    const InputFault noTarget{"请选择备份路径.", "错误", IDC_PICK_BACKUP_TARGET, false};
    const InputFault longTarget{"备份路径长度超过限制范围，请重新选择路径.", "错误", IDC_PICK_BACKUP_TARGET,
                                false};
    const InputFault unsavableDescription{"规则描述含有无法保存的字符.", "错误", IDC_DESCRIPTION, true};
    const InputFault unsavableSource{"路径含有无法保存的字符.", "错误", IDC_PICK_PATH, false};
    const InputFault unsavableTarget{"路径含有无法保存的字符.", "错误", IDC_PICK_BACKUP_TARGET, false};

    const struct {
        const char* name;
        std::function<void(BackupForm&)> change;
        std::optional<InputFault> fault;
    } cases[] = {
        {"valid", [](BackupForm&) {}, {}},
        {"description empty", [](BackupForm& f) { f.description.text.clear(); }, noDescription},
        {"description 31 bytes", [](BackupForm& f) { f.description.text = std::string(31, 'a'); }, {}},
        {"description 32 bytes", [](BackupForm& f) { f.description.text = std::string(32, 'a'); },
         longDescription},
        {"description 15 Chinese", [](BackupForm& f) { f.description.text = Chinese(15); }, {}},
        {"description 16 Chinese", [](BackupForm& f) { f.description.text = Chinese(16); }, longDescription},
        {"description of blanks", [](BackupForm& f) { f.description.text = "   "; }, {}},
        {"description not GBK",
         [](BackupForm& f) {
             f.description = {"a?", false};
         },
         unsavableDescription},
        {"source empty", [](BackupForm& f) { f.sourcePath.text.clear(); }, noSource},
        {"source 255 bytes", [](BackupForm& f) { f.sourcePath.text = std::string(255, 's'); }, {}},
        {"source 256 bytes", [](BackupForm& f) { f.sourcePath.text = std::string(256, 's'); }, longSource},
        {"source not GBK",
         [](BackupForm& f) {
             f.sourcePath = {"C:\\?", false};
         },
         unsavableSource},
        {"target empty", [](BackupForm& f) { f.backupPath.text.clear(); }, noTarget},
        {"target 255 bytes", [](BackupForm& f) { f.backupPath.text = std::string(255, 't'); }, {}},
        {"target 256 bytes", [](BackupForm& f) { f.backupPath.text = std::string(256, 't'); }, longTarget},
        {"target not GBK",
         [](BackupForm& f) {
             f.backupPath = {"D:\\?", false};
         },
         unsavableTarget},
        {"everything empty: description first", [](BackupForm& f) { f = {}; }, noDescription},
        {"both paths empty: source first",
         [](BackupForm& f) { f.sourcePath.text.clear(), f.backupPath.text.clear(); }, noSource},
        {"long source and empty target: source first",
         [](BackupForm& f) { f.sourcePath.text = std::string(300, 's'), f.backupPath.text.clear(); },
         longSource},
    };
    for (const auto& c : cases) {
        BackupForm form = ValidForm();
        c.change(form);
        const Checked<BackupRule> result = ComposeBackupRule(NewRule(), kDefaultSchedule, form);
        if (c.fault) {
            ASSERT_FALSE(result.ok()) << c.name;
            EXPECT_EQ(result.fault(), *c.fault) << c.name;
        } else {
            ASSERT_TRUE(result.ok()) << c.name;
            EXPECT_EQ(FieldText(result.value().description), form.description.text) << c.name;
            EXPECT_EQ(FieldText(result.value().source_path), form.sourcePath.text) << c.name;
            EXPECT_EQ(FieldText(result.value().backup_path), form.backupPath.text) << c.name;
        }
    }
}

TEST(BackupRuleComposition, KeepDaysNeverOverflows) {
    const struct {
        const char* text;
        int32_t days;
    } cases[] = {{"", 0}, {"0", 0}, {"365", 365}, {"2147483647", INT32_MAX}, {"99999999999", INT32_MAX}};
    for (const auto& c : cases) {
        BackupForm form = ValidForm();
        form.keepDays = c.text;
        const Checked<BackupRule> result = ComposeBackupRule(NewRule(), kDefaultSchedule, form);
        ASSERT_TRUE(result.ok());
        EXPECT_EQ(result.value().keep_days, c.days) << c.text;
    }
}

TEST(BackupRuleLoading, ShowsEachFieldUpToItsTerminator) {
    BackupRule rule{};
    rule.keep_days = 0;
    std::memcpy(rule.description, "abc\0stale", 9);
    std::memset(rule.source_path, 's', sizeof rule.source_path);  // unterminated: the whole field
    std::memcpy(rule.backup_path, "D:\\b", 4);
    const BackupRuleView view = ViewOfBackupRule(rule);
    EXPECT_EQ(view.keepDays, "0");
    EXPECT_EQ(view.description, "abc");
    EXPECT_EQ(view.sourcePath, std::string(256, 's'));
    EXPECT_EQ(view.backupPath, "D:\\b");
}

TEST(BackupSourcePruning, KeepsOnlyWhatFitsTheMode) {
    const struct {
        SourceMode mode;
        int attributes;
        bool fits;
    } cases[] = {
        {SourceMode::Folder, 0x10, true}, {SourceMode::Folder, 0x30, true}, {SourceMode::Folder, 0x20, false},
        {SourceMode::Folder, 0, false},   {SourceMode::File, 0x20, true},   {SourceMode::File, 0, true},
        {SourceMode::File, 0x10, false},  {SourceMode::File, 0x11, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SourceFitsMode(c.mode, c.attributes), c.fits) << int(c.mode) << ' ' << c.attributes;
    }
}

TEST(BackupSaveFailure, NamesTheOperationAndTheCode) {
    EXPECT_EQ(BackupSaveFailureText(true, 5), "新增备份规则失败:5");
    EXPECT_EQ(BackupSaveFailureText(false, 13), "修改备份规则失败:13");
    EXPECT_EQ(BackupSaveFailureText(false, -1), "修改备份规则失败:-1");
}

}  // namespace
}  // namespace editors
