#include "clean_conditions.h"

#include <algorithm>
#include <optional>

#include "civil_date.h"
#include "gbk_bytes.h"
#include "shared_files.h"

namespace kivo {
namespace {

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
    const RangeText size = ParseSizeRange(FieldText(rule.size_range));
    if (!size.ok) return "文件大小范围无效";
    const RangeText date = ParseDateRange(FieldText(rule.date_range));
    if (!date.ok) return "日期范围无效";
    const RangeText time = ParseTimeRange(FieldText(rule.time_range));
    if (!time.ok) return "时间范围无效";
    m_size = size.range;
    m_date = date.range;
    m_time = time.range;
    return nullptr;
}

bool CleanConditions::Matches(const std::string& name, uint64_t size, int64_t mtime, int64_t now,
                              const LocalTime& local) const {
    if (m_keepDays > 0 && mtime > now - m_keepDays * kSecondsPerDay) return false;
    if (m_hasNameFilter && std::none_of(m_keywords.begin(), m_keywords.end(),
                                        [&](const std::string& k) { return ContainsKeyword(name, k); })) {
        return false;
    }
    if (m_size && (size < uint64_t(m_size->low) * 1024 || size > uint64_t(m_size->high) * 1024)) return false;
    if (m_date || m_time) {
        const fs::CivilTime t = local(mtime);
        const int64_t date = t.year * 10000 + t.month * 100 + t.day;
        const int64_t time = t.hour * 100 + t.minute;
        if (m_date && (date < m_date->low || date > m_date->high)) return false;
        if (m_time && (time < m_time->low || time > m_time->high)) return false;
    }
    return true;
}

}  // namespace kivo
