#include "main_window_rules.h"

#include <cstdio>

std::string ColumnKey(const char* prefix, int columnFromOne) {
    char key[32];
    int n = std::snprintf(key, sizeof key, "%slst_%d", prefix, columnFromOne);
    return std::string(key, n < 0 ? 0 : std::min<size_t>(size_t(n), sizeof key - 1));
}

int ColumnWidth(int stored, int outerWidth, int columnCount) {
    if (stored > 0) return stored;
    return columnCount > 0 ? outerWidth / columnCount : 0;
}

PopupPlan PlanPopup(size_t selectedRows, int runState, bool anyDisabled) {
    PopupPlan plan;
    plan.grayRun = runState != 0 || selectedRows != 1;
    plan.grayPreview = plan.grayVerify = selectedRows != 1;
    if (selectedRows > 1) plan.grayNew = plan.grayEdit = true;
    if (selectedRows == 0) plan.grayEdit = plan.grayToggle = plan.grayDelete = true;
    plan.toggleEnables = anyDisabled;
    return plan;
}

const char* ToggleItemText(const PopupPlan& plan) {
    return plan.toggleEnables ? "启用(&U)" : "禁用(&U)";
}
