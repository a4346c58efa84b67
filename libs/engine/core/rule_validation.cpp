#include "rule_validation.h"

#include <cstring>

#include "engine_api.h"
#include "gbk_bytes.h"
#include "platform.h"

namespace kivo {
namespace {

bool IsDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

// Splits "lo,hi" at the only ','; both halves must be decimal numbers of at most `maxDigits`.
std::optional<Range> SplitRange(std::string_view text, size_t maxDigits) {
    const size_t comma = text.find(',');
    if (comma == std::string_view::npos) return std::nullopt;
    std::string_view lo = text.substr(0, comma), hi = text.substr(comma + 1);
    if (!IsDigits(lo) || !IsDigits(hi) || lo.size() > maxDigits || hi.size() > maxDigits) return std::nullopt;
    auto value = [](std::string_view s) {
        int64_t v = 0;
        for (char c : s) v = v * 10 + (c - '0');
        return v;
    };
    Range r{value(lo), value(hi)};
    if (r.low > r.high) return std::nullopt;
    return r;
}

// Only the bounds: the clean editor stores any number between them (a 31 February among them), and
// a file's date is compared with the bounds as a number, so such a bound still means what it says.
bool IsValidDate(int64_t yyyymmdd) {
    return yyyymmdd >= 19700101 && yyyymmdd <= 20991230;
}

bool IsValidHhmm(int64_t hhmm) {
    return hhmm >= 0 && hhmm / 100 <= 23 && hhmm % 100 <= 59;
}

template <size_t N>
int CheckText(const char (&field)[N], bool required) {
    if (!FieldTerminated(field)) return KIVO_E_BAD_TEXT;
    std::string_view text = FieldText(field);
    if (required && text.empty()) return KIVO_E_BAD_TEXT;
    return IsPlainGbk(text) ? KIVO_OK : KIVO_E_BAD_TEXT;
}

template <size_t N>
int CheckPath(const char (&field)[N], PathCheck check) {
    if (int rc = CheckText(field, true)) return rc;
    if (check == PathCheck::Absolute && !platform::IsAbsolutePathText(FieldText(field)))
        return KIVO_E_BAD_TEXT;
    return KIVO_OK;
}

}  // namespace

bool IsPlainGbk(std::string_view text) {
    for (size_t pos = 0; pos < text.size();) {
        const size_t length = shared::GbkCharLength(text, pos);
        const auto b = static_cast<unsigned char>(text[pos]);
        if (length == 1 && (shared::IsGbkLeadByte(b) || b < 0x20 || b == 0x7F || b == 0xFF)) return false;
        pos += length;
    }
    return true;
}

int ValidateSchedule(const RunSchedule& s) {
    const bool ok =
        s.interval_minutes <= 1440 && s.month_day <= 31 && s.week_mask <= 0x7F && IsValidHhmm(s.time_hhmm);
    return ok ? KIVO_OK : KIVO_E_BAD_SCHEDULE;
}

int ValidateClearRule(const ClearRule& r, PathCheck pathCheck) {
    if (r.enabled != 0 && r.enabled != 1) return KIVO_E_BAD_FLAG;
    if (int rc = CheckText(r.description, true)) return rc;
    if (int rc = CheckPath(r.path, pathCheck)) return rc;
    for (const auto* field : {&r.name_filter, &r.size_range, &r.date_range, &r.time_range}) {
        if (int rc = CheckText(*field, false)) return rc;
    }
    if (int rc = ValidateSchedule(r.schedule)) return rc;
    if (r.keep_days < 0) return KIVO_E_BAD_RANGE;
    if (r.min_free_percent != 0 && (r.min_free_percent < 5 || r.min_free_percent > 95))
        return KIVO_E_BAD_RANGE;
    if (!ParseSizeRange(FieldText(r.size_range)).ok || !ParseDateRange(FieldText(r.date_range)).ok ||
        !ParseTimeRange(FieldText(r.time_range)).ok)
        return KIVO_E_BAD_RANGE;
    return KIVO_OK;
}

int ValidateBackupRule(const BackupRule& r, PathCheck pathCheck) {
    if (r.enabled != 0 && r.enabled != 1) return KIVO_E_BAD_FLAG;
    if (int rc = CheckText(r.description, true)) return rc;
    if (int rc = CheckPath(r.source_path, pathCheck)) return rc;
    if (int rc = CheckPath(r.backup_path, pathCheck)) return rc;
    if (int rc = ValidateSchedule(r.schedule)) return rc;
    if (r.keep_days < 0) return KIVO_E_BAD_RANGE;
    return KIVO_OK;
}

int ValidateArgumentText(const char* text) {
    if (!text) return KIVO_E_NULL_ARGUMENT;
    const size_t length = strnlen(text, 256);
    if (length == 0 || length == 256) return KIVO_E_BAD_TEXT;
    return IsPlainGbk(std::string_view(text, length)) ? KIVO_OK : KIVO_E_BAD_TEXT;
}

RangeText ParseSizeRange(std::string_view text) {
    if (text.empty()) return {true, std::nullopt};
    auto r = SplitRange(text, 10);
    if (!r || r->high > 2147483647) return {};
    return {true, r};
}

RangeText ParseDateRange(std::string_view text) {
    if (text.empty()) return {true, std::nullopt};
    auto r = SplitRange(text, 8);
    if (!r || !IsValidDate(r->low) || !IsValidDate(r->high)) return {};
    return {true, r};
}

RangeText ParseTimeRange(std::string_view text) {
    if (text.empty()) return {true, std::nullopt};
    const size_t comma = text.find(',');
    if (comma != 4 || text.size() != 9) return {};  // "%04d,%04d"
    auto r = SplitRange(text, 4);
    if (!r || !IsValidHhmm(r->low) || !IsValidHhmm(r->high)) return {};
    return {true, r};
}

}  // namespace kivo
