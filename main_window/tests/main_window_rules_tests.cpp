#include <gtest/gtest.h>

#include "DpiScale.h"
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
        bool grayNew, grayEdit, grayToggle, grayDelete, grayRun, grayPreview, grayVerify;
    } cases[] = {
        {0, 0, false, true, true, true, true, true, true},
        {1, 0, false, false, false, false, false, false, false},
        // No run-now while the engine runs by itself; a preview or a check of the sets is no run.
        {1, 1, false, false, false, false, true, false, false},
        {1, -7, false, false, false, false, true, false, false},
        {2, 0, true, true, false, false, true, true, true},
        {5, 1, true, true, false, false, true, true, true},
    };
    for (const Case& c : cases) {
        PopupPlan plan = PlanPopup(c.rows, c.running, false);
        EXPECT_EQ(plan.grayPreview, c.grayPreview) << c.rows << "/" << c.running;
        EXPECT_EQ(PlanPopup(c.rows, c.running, true).grayPreview, c.grayPreview);  // a disabled rule too
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

namespace {

TEST(DpiScale, SizesAt96DpiScaleToTheNearestPixelAndBack) {
    const struct {
        int size96, dpi, scaled;
    } cases[] = {
        {13, 96, 13},  {13, 144, 20},   {17, 144, 26}, {17, 120, 21},
        {13, 192, 26}, {100, 144, 150}, {0, 144, 0},   {13, 0, 13},  // no DPI known: 96
    };
    for (const auto& c : cases)
        EXPECT_EQ(fw::ScaleToDpi(c.size96, c.dpi), c.scaled) << c.size96 << "@" << c.dpi;
    EXPECT_EQ(fw::ScaleTo96(20, 144), 13);
    EXPECT_EQ(fw::ScaleTo96(150, 144), 100);
    EXPECT_EQ(fw::ScaleTo96(41, 0), 41);
    // A width stored at 96 DPI, shown at any larger DPI and stored again, comes back unchanged.
    for (int dpi : {96, 120, 144, 168, 192, 288}) {
        for (int width = 1; width <= 2000; ++width)
            ASSERT_EQ(fw::ScaleTo96(fw::ScaleToDpi(width, dpi), dpi), width) << dpi;
    }
}

}  // namespace
