#include "clean_conditions.h"

#include <algorithm>
#include <optional>

#include "gbk_bytes.h"
#include "shared_files.h"

namespace kivo {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr uint64_t kMaxKilobytes = uint64_t(1) << 40;

std::optional<uint64_t> Decimal(std::string_view text, size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + uint64_t(c - '0');
    }
    return v;
}

// "a,b" split at the first ','; both halves decimal.
bool SplitRange(std::string_view text, size_t maxDigits, uint64_t& a, uint64_t& b) {
    size_t comma = text.find(',');
    if (comma == std::string_view::npos) return false;
    auto first = Decimal(text.substr(0, comma), maxDigits);
    auto second = Decimal(text.substr(comma + 1), maxDigits);
    if (!first || !second) return false;
    a = *first;
    b = *second;
    return true;
}

bool ValidDate(uint64_t v) {
    uint64_t month = v / 100 % 100, day = v % 100;
    return v >= 19000101 && v <= 99991231 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

bool ValidTime(uint64_t v) {
    return v / 100 <= 23 && v % 100 <= 59;
}

char FoldAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

}  // namespace

std::vector<std::string> SplitGbkKeywords(std::string_view gbk) {
    std::vector<std::string> out;
    std::string current;
    for (size_t pos = 0; pos < gbk.size();) {
        const size_t length = shared::GbkCharLength(gbk, pos);
        if (length == 1 && gbk[pos] == ',') {
            if (!current.empty()) out.push_back(std::move(current));
            current.clear();
        } else {
            current.append(gbk.substr(pos, length));
        }
        pos += length;
    }
    if (!current.empty()) out.push_back(std::move(current));
    return out;
}

bool ContainsKeyword(std::string_view text, std::string_view keyword) {
    if (keyword.empty()) return true;
    auto it = std::search(text.begin(), text.end(), keyword.begin(), keyword.end(),
                          [](char a, char b) { return FoldAscii(a) == FoldAscii(b); });
    return it != text.end();
}

const char* CleanConditions::Parse(const ClearRule& rule) {
    *this = CleanConditions();
    if (rule.keep_days < 0) return "保存天数无效";
    if (rule.min_free_percent < 0 || rule.min_free_percent > 99) return "可用空间百分比无效";
    m_keepDays = rule.keep_days;
    m_minFreePercent = rule.min_free_percent;
    if (!FieldTerminated(rule.name_filter) || !FieldTerminated(rule.size_range) ||
        !FieldTerminated(rule.date_range) || !FieldTerminated(rule.time_range)) {
        return "规则的文本字段未结束";
    }

    std::string_view filter = FieldText(rule.name_filter);
    if (!filter.empty()) {
        m_hasNameFilter = true;
        for (const std::string& keyword : SplitGbkKeywords(filter)) {
            auto utf8 = shared::Utf8FromGbk(keyword);
            if (!utf8) return "文件名关键字无效";
            m_keywords.push_back(*utf8);
        }
    }
    uint64_t a = 0, b = 0;
    if (std::string_view size = FieldText(rule.size_range); !size.empty()) {
        if (!SplitRange(size, 12, a, b) || a > b || b > kMaxKilobytes) return "文件大小范围无效";
        m_hasSize = true;
        m_minSize = a * 1024;
        m_maxSize = b * 1024;
    }
    if (std::string_view date = FieldText(rule.date_range); !date.empty()) {
        if (!SplitRange(date, 8, a, b) || !ValidDate(a) || !ValidDate(b) || a > b) return "日期范围无效";
        m_hasDate = true;
        m_startDate = int(a);
        m_endDate = int(b);
    }
    if (std::string_view time = FieldText(rule.time_range); !time.empty()) {
        if (!SplitRange(time, 4, a, b) || !ValidTime(a) || !ValidTime(b) || a > b) return "时间范围无效";
        m_hasTime = true;
        m_startTime = int(a);
        m_endTime = int(b);
    }
    return nullptr;
}

bool CleanConditions::Matches(const std::string& name, uint64_t size, int64_t mtime, int64_t now,
                              const LocalTime& local) const {
    if (m_keepDays > 0 && mtime > now - m_keepDays * kSecondsPerDay) return false;
    if (m_hasNameFilter && std::none_of(m_keywords.begin(), m_keywords.end(),
                                        [&](const std::string& k) { return ContainsKeyword(name, k); })) {
        return false;
    }
    if (m_hasSize && (size < m_minSize || size > m_maxSize)) return false;
    if (m_hasDate || m_hasTime) {
        fs::CivilTime t = local(mtime);
        int date = t.year * 10000 + t.month * 100 + t.day;
        int time = t.hour * 100 + t.minute;
        if (m_hasDate && (date < m_startDate || date > m_endDate)) return false;
        if (m_hasTime && (time < m_startTime || time > m_endTime)) return false;
    }
    return true;
}

}  // namespace kivo
