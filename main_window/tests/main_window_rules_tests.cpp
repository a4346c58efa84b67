#include <gtest/gtest.h>

#include "main_window_rules.h"

namespace {

TEST(ColumnWidths, KeysAndFallbackToEqualShares) {
    EXPECT_EQ(ColumnKey("clear", 3), "clearlst_3");
    EXPECT_EQ(ColumnKey("log", 1), "loglst_1");
    EXPECT_EQ(ColumnKey("backup", 7), "backuplst_7");
    EXPECT_EQ(ColumnWidth(120, 900, 10), 120);
    EXPECT_EQ(ColumnWidth(0, 905, 10), 90);  // truncates toward zero
    EXPECT_EQ(ColumnWidth(-5, 700, 7), 100);
    EXPECT_EQ(ColumnWidth(0, 700, 0), 0);
}

TEST(PopupPlan, AvailabilityTable) {
    struct Case {
        size_t rows;
        int running;
        bool grayNew, grayEdit, grayToggle, grayDelete, grayRun, grayVerify;
    } cases[] = {
        {0, 0, false, true, true, true, true, true},
        {1, 0, false, false, false, false, false, false},
        // No run-now while the engine runs by itself; a check of the sets is no run of the rule.
        {1, 1, false, false, false, false, true, false},
        {1, -7, false, false, false, false, true, false},
        {2, 0, true, true, false, false, true, true},
        {5, 1, true, true, false, false, true, true},
    };
    for (const Case& c : cases) {
        PopupPlan plan = PlanPopup(c.rows, c.running, false);
        EXPECT_EQ(plan.grayNew, c.grayNew) << c.rows << "/" << c.running;
        EXPECT_EQ(plan.grayEdit, c.grayEdit) << c.rows << "/" << c.running;
        EXPECT_EQ(plan.grayToggle, c.grayToggle) << c.rows << "/" << c.running;
        EXPECT_EQ(plan.grayDelete, c.grayDelete) << c.rows << "/" << c.running;
        EXPECT_EQ(plan.grayRun, c.grayRun) << c.rows << "/" << c.running;
        EXPECT_EQ(plan.grayVerify, c.grayVerify) << c.rows << "/" << c.running;
    }
}

TEST(PopupPlan, ToggleEnablesWhenAnyRowIsDisabled) {
    EXPECT_STREQ(ToggleItemText(PlanPopup(2, 0, true)), "启用(&U)");
    EXPECT_STREQ(ToggleItemText(PlanPopup(2, 0, false)), "禁用(&U)");
}

}  // namespace
