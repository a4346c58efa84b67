// The texts the rule lists build, fed arbitrary schedules, range texts and records (the lists show
// whatever the engine returns). Properties:
// - the schedule text names the mode the engine runs by (the precedence of rule_records.h) and, for
//   the timed modes, the time of day;
// - the range column is built of digits and separators only, and for every range the engine
//   accepts it reads "YYYY/MM/DD HH:MM,YYYY/MM/DD HH:MM" (either half of each side when only one
//   of the two ranges is set);
// - LeadingNumber reads what strtoll reads, saturated to 32 bits;
// - a row's id column is the id, its text columns the fields up to their terminator.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine_api.h"
#include "fuzz_support.h"
#include "rule_records.h"
#include "rule_text.h"
#include "rule_validation.h"
#include "split_first.h"
#include "sysutil_api.h"

// The lists call the utility library's sys_strtok; its portable core stands in for the DLL.
extern "C" char* sys_strtok(char* text, const char* delimiters, char** rest) {
    return sysutil::SplitFirst(text, delimiters, rest);
}

namespace {

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}
bool EndsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

void CheckSchedule(const RunSchedule& s) {
    const std::string text = ScheduleText(s);
    FUZZ_CHECK(!text.empty() && text.find('\0') == std::string::npos);
    if (kivo::ValidateSchedule(s) != KIVO_OK) return;
    char hhmm[8];
    std::snprintf(hhmm, sizeof hhmm, "%02d:%02d", s.time_hhmm / 100, s.time_hhmm % 100);
    switch (ModeOf(s)) {
        case ScheduleMode::Interval:
            FUZZ_CHECK(text == "间隔:" + std::to_string(s.interval_minutes) + "分钟");
            return;
        case ScheduleMode::Monthly:
            FUZZ_CHECK(StartsWith(text, "每月:" + std::to_string(s.month_day) + "日 "));
            break;
        case ScheduleMode::Weekly:
            FUZZ_CHECK(StartsWith(text, s.week_mask == 127 ? "每天 " : "周"));
            break;
        case ScheduleMode::Daily:
            FUZZ_CHECK(StartsWith(text, "每天 "));
            break;
    }
    FUZZ_CHECK(EndsWith(text, hhmm));
}

std::string Date(int64_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d/%02d/%02d", int(v / 10000), int(v / 100 % 100), int(v % 100));
    return text;
}
std::string Time(int64_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%02d:%02d", int(v / 100), int(v % 100));
    return text;
}

void CheckRange(const std::string& date, const std::string& time) {
    const std::string text = RangeText(date, time);
    FUZZ_CHECK(text.find_first_not_of("0123456789/:, -") == std::string::npos);
    const kivo::RangeText dates = kivo::ParseDateRange(date), times = kivo::ParseTimeRange(time);
    if (!dates.ok || !times.ok) return;
    std::string low, high;
    if (dates.range) low = Date(dates.range->low), high = Date(dates.range->high);
    if (times.range) {
        low += (low.empty() ? "" : " ") + Time(times.range->low);
        high += (high.empty() ? "" : " ") + Time(times.range->high);
    }
    FUZZ_CHECK(text == (low.empty() ? "" : low + "," + high));
}

void CheckLeadingNumber(const std::string& text) {
    const std::string terminated(text.c_str());  // strtoll stops at the first NUL too
    errno = 0;
    const long long wide = std::strtoll(terminated.c_str(), nullptr, 10);
    const int32_t expected = int32_t(std::clamp<long long>(wide, INT32_MIN, INT32_MAX));
    FUZZ_CHECK(LeadingNumber(text) == expected);
}

template <class Record>
Record RawRecord(FuzzedDataProvider& in) {
    Record r{};
    const std::string raw = in.ConsumeBytesAsString(sizeof r);
    std::memcpy(&r, raw.data(), raw.size());
    return r;
}

void CheckRows(FuzzedDataProvider& in) {
    const ClearRule c = RawRecord<ClearRule>(in);
    const auto clear = ClearRowTexts(c);
    FUZZ_CHECK(clear[0] == std::to_string(c.rule_id));
    FUZZ_CHECK(clear[1] == FieldText(c.description) && clear[3] == FieldText(c.path));
    FUZZ_CHECK(clear[7] == FieldText(c.name_filter) && clear[8] == FieldText(c.size_range));
    FUZZ_CHECK(clear[5] == ScheduleText(c.schedule));
    const BackupRule b = RawRecord<BackupRule>(in);
    const auto backup = BackupRowTexts(b);
    FUZZ_CHECK(backup[0] == std::to_string(b.rule_id));
    FUZZ_CHECK(backup[3] == FieldText(b.source_path) && backup[4] == FieldText(b.backup_path));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange(0, 3)) {
        case 0: {
            RunSchedule s{};
            s.interval_minutes = in.ConsumeIntegral<uint16_t>();
            s.month_day = in.ConsumeIntegral<uint16_t>();
            s.week_mask = in.ConsumeIntegral<uint16_t>();
            s.time_hhmm = in.ConsumeIntegral<uint16_t>();
            CheckSchedule(s);
            break;
        }
        case 1: {
            const std::string date = in.ConsumeRandomLengthString(80);
            CheckRange(date, in.ConsumeRandomLengthString(80));
            break;
        }
        case 2:
            CheckLeadingNumber(in.ConsumeRemainingBytesAsString());
            break;
        default:
            CheckRows(in);
    }
    return 0;
}
