// Decisions of the main window that need no window: column-width keys, the popup menus'
// availability and the enable/disable target. Pure: no windows.h.
#pragma once

#include <cstddef>
#include <string>

// The settings key of a column: "%slst_%d" of the list's prefix and the column counted from 1.
std::string ColumnKey(const char* prefix, int columnFromOne);
// A stored width when there is one (> 0), else an equal share of the list's outer width.
int ColumnWidth(int stored, int outerWidth, int columnCount);

struct PopupPlan {
    bool grayNew = false;
    bool grayEdit = false;
    bool grayToggle = false;
    bool grayDelete = false;
    bool grayRun = false;
    // The clean list's "预览清理" and the backup list's "校验备份": one rule at a time, whatever its
    // state or the engine's.
    bool grayPreview = false;
    bool grayVerify = false;
    bool toggleEnables = false;  // the toggle item reads "启用(&U)" and enables
};

// Which items of a rule popup are available, from the captured rows, the engine's running
// state and whether any captured row is disabled.
PopupPlan PlanPopup(size_t selectedRows, int runState, bool anyDisabled);
// The caption of the toggle item for a plan.
const char* ToggleItemText(const PopupPlan& plan);
