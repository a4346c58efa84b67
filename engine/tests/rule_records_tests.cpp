#include "rule_records.h"

#include <gtest/gtest.h>

#include <vector>

TEST(RuleRecords, ArraysArePackedBackToBack) {
    std::vector<ClearRule> clear(3);
    std::vector<BackupRule> backup(3);
    auto offset = [](const void* base, const void* item) {
        return static_cast<const char*>(item) - static_cast<const char*>(base);
    };
    EXPECT_EQ(sizeof(ClearRule) * 3, 1320u);
    EXPECT_EQ(offset(clear.data(), &clear[2]), 880);
    EXPECT_EQ(sizeof(BackupRule) * 3, 1692u);
    EXPECT_EQ(offset(backup.data(), &backup[2]), 1128);
}

TEST(RuleRecords, ModeFollowsPrecedence) {
    EXPECT_EQ(ModeOf(RunSchedule{30, 15, 3, 800}), ScheduleMode::Interval);
    EXPECT_EQ(ModeOf(RunSchedule{0, 15, 3, 800}), ScheduleMode::Monthly);
    EXPECT_EQ(ModeOf(RunSchedule{0, 0, 127, 800}), ScheduleMode::Weekly);
    EXPECT_EQ(ModeOf(RunSchedule{0, 0, 0, 0}), ScheduleMode::Daily);
}

TEST(RuleRecords, WriteFieldNulFillsAndRefusesWhatDoesNotFit) {
    ClearRule rule;
    std::memset(&rule, 'x', sizeof rule);
    ASSERT_TRUE(WriteField(rule.description, "abc"));
    EXPECT_EQ(FieldText(rule.description), "abc");
    for (size_t i = 3; i < sizeof rule.description; ++i) EXPECT_EQ(rule.description[i], '\0') << i;
    EXPECT_EQ(rule.path[0], 'x');  // the neighbour is untouched

    EXPECT_TRUE(WriteField(rule.description, std::string(31, 'a')));
    EXPECT_FALSE(WriteField(rule.description, std::string(32, 'b')));
    EXPECT_EQ(FieldText(rule.description), std::string(31, 'a'));  // refused write leaves the field
    EXPECT_FALSE(WriteField(rule.description, std::string_view("a\0b", 3)));
}

TEST(RuleRecords, UnterminatedFieldIsDetected) {
    BackupRule rule{};
    EXPECT_TRUE(FieldTerminated(rule.source_path));
    std::memset(rule.source_path, 'a', sizeof rule.source_path);
    EXPECT_FALSE(FieldTerminated(rule.source_path));
    EXPECT_EQ(FieldText(rule.source_path).size(), 256u);
}
