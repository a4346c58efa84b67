// The schedule panel's logic: gathering a RunSchedule from the panel's texts and what loading a
// schedule shows.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "editor_input.h"
#include "rule_records.h"

namespace editors {

// The panel's modes, as its m_nMode holds them.
enum PanelMode : int { kIntervalMode = 0, kDailyMode = 1, kWeeklyMode = 2, kMonthlyMode = 3 };

struct ScheduleForm {
    int mode = kIntervalMode;
    std::string interval;            // text of the interval edit
    std::string hour, minute, day;   // last accepted texts of the guarded edits
    std::array<bool, 7> weekdays{};  // Monday first
};

// Zeroes the whole schedule and encodes exactly the chosen mode, or gives the first fault.
Checked<RunSchedule> GatherScheduleForm(const ScheduleForm& form);

// What the panel shows for a loaded schedule. In interval mode only the interval text changes.
struct ScheduleView {
    int mode = kIntervalMode;
    std::optional<std::string> interval;
    std::string hour, minute;
    // Empty when the schedule has no month day: the day edit keeps its valid text, so that
    // switching to monthly later cannot gather day 0 (which would silently encode a daily run).
    std::optional<std::string> day;
    std::array<bool, 7> weekdays{};
};

ScheduleView ViewOfSchedule(const RunSchedule& schedule);

}  // namespace editors
