#include "clear_preview_text.h"

#include <algorithm>
#include <cstdio>

#include "editor_input.h"
#include "utf8_append.h"

namespace editors {
namespace {

constexpr const char* kCaptionPrefix = "清理预览 - ";

// ASCII letters folded to lower case; every other unit as it is.
char16_t Folded(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c;
}

int ComparePaths(const std::u16string& a, const std::u16string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = Folded(a[i]), y = Folded(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    return a.compare(b);  // "A.txt" and "a.txt" differ in case only: a fixed order all the same
}

void AppendCsvField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out += field;
        return;
    }
    out += '"';
    for (char c : field) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
}

}  // namespace

std::string PreviewCaption(std::string_view descriptionGbk) {
    return kCaptionPrefix + std::string(descriptionGbk);
}

std::string SearchingCaption(uint64_t files) {
    return std::string(kCaptionPrefix) + "正在查找… " + GroupedDecimal(files) + " 个文件";
}

std::string ReadableSize(uint64_t bytes) {
    if (bytes < 1024) return std::to_string(bytes) + " 字节";
    static const char* const kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    int unit = 0;
    unsigned shift = 10;
    while (unit + 1 < int(std::size(kUnits)) && (bytes >> shift) >= 1024) ++unit, shift += 10;
    const uint64_t whole = bytes >> shift;
    // The fraction in hundredths, rounded down: the part below the unit is less than 2^60.
    const uint64_t hundredths = ((bytes & ((uint64_t(1) << shift) - 1)) >> (shift - 10)) * 100 / 1024;
    char text[48];
    if (whole < 10) {
        std::snprintf(text, sizeof text, "%llu.%02llu %s", static_cast<unsigned long long>(whole),
                      static_cast<unsigned long long>(hundredths), kUnits[unit]);
    } else if (whole < 100) {
        std::snprintf(text, sizeof text, "%llu.%llu %s", static_cast<unsigned long long>(whole),
                      static_cast<unsigned long long>(hundredths / 10), kUnits[unit]);
    } else {
        std::snprintf(text, sizeof text, "%llu %s", static_cast<unsigned long long>(whole), kUnits[unit]);
    }
    return text;
}

PreviewSummary SummarizePreview(int result, const KivoCleanVerdict& verdict) {
    PreviewSummary summary;
    if (result == KIVO_E_FOLDER_MISSING || result == KIVO_E_FOLDER_UNREADABLE) {
        summary.text = verdict.reason;
        summary.showList = false;
        return summary;
    }
    if (result != KIVO_OK) {
        summary.text = "预览失败,错误代码:" + DecimalText(result);
        summary.showList = false;
        return summary;
    }
    // When free space is already where the rule wants it, a run now deletes nothing: the first line
    // says so, and the second why the list below still holds files.
    const bool now = verdict.deletes_now != 0;
    summary.cleanFiles = now ? verdict.files : 0;
    summary.text = "按当前规则，现在会删除 " + GroupedDecimal(summary.cleanFiles) + " 个文件，共 " +
                   ReadableSize(now ? verdict.bytes : 0) + "。";
    if (!now) {
        summary.text += "\r\n磁盘可用空间 " + DecimalText(verdict.free_percent) + "%，不低于 " +
                        DecimalText(verdict.min_free_percent) +
                        "%，现在不会执行清理；下表是条件满足时会删除的文件。";
    }
    return summary;
}

std::string CleanNowQuestion(uint64_t files) {
    return "确定按此规则立即删除这 " + GroupedDecimal(files) + " 个文件吗？";
}

std::vector<uint32_t> SortedOrder(const std::vector<PreviewRow>& rows, PreviewColumn column, bool ascending) {
    std::vector<uint32_t> order(rows.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = uint32_t(i);
    auto less = [&rows, column](uint32_t x, uint32_t y) {
        const PreviewRow &a = rows[x], &b = rows[y];
        if (column == PreviewColumn::Size && a.size != b.size) return a.size < b.size;
        if (column == PreviewColumn::Time && a.mtime != b.mtime) return a.mtime < b.mtime;
        return ComparePaths(a.path, b.path) < 0;
    };
    if (ascending) {
        std::sort(order.begin(), order.end(), less);
    } else {
        std::sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) { return less(y, x); });
    }
    return order;
}

void ApplyOrder(std::vector<PreviewRow>& rows, const std::vector<uint32_t>& order) {
    std::vector<PreviewRow> sorted;
    sorted.reserve(rows.size());
    for (uint32_t i : order) sorted.push_back(std::move(rows[i]));
    rows = std::move(sorted);
}

std::string LocalTimeText(const LocalTime& t) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return text;
}

std::string Utf8FromUtf16(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 3);
    shared::AppendUtf8FromUtf16(out, text, U'\uFFFD');
    return out;
}

std::string PreviewCsv(const std::vector<PreviewRow>& rows, const std::function<LocalTime(int64_t)>& local) {
    std::string out = "\xEF\xBB\xBF";
    out += Utf8FromUtf16(u"路径,大小(字节),修改时间\r\n");
    for (const PreviewRow& row : rows) {
        std::string path = Utf8FromUtf16(row.path);
        if (!path.empty() && std::string_view("=+-@\t\r").find(path[0]) != std::string_view::npos)
            path.insert(0, 1, '\'');
        AppendCsvField(out, path);
        out += ',';
        out += std::to_string(row.size);
        out += ',';
        out += LocalTimeText(local(row.mtime));
        out += "\r\n";
    }
    return out;
}

}  // namespace editors
