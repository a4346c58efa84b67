// The clean preview dialog's texts and decisions: captions, the summary above the list, readable
// sizes, the order of the rows and the exported CSV. Pure logic: no window code, tested natively.
// Texts are GBK; file names are UTF-16 throughout, so that no name is ever shown or exported as "?".
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine_api.h"

namespace editors {

inline constexpr const char* kPreviewFailedCaption = "警告";
// The confirmation before "立即清理" asks the same as the delete command's.
inline constexpr const char* kCleanNowCaption = "删除警告";
inline constexpr const char* kManualRunFailed = "手动执行失败.";

// "清理预览 - <description>"; while searching, "清理预览 - 正在查找… 1,234 个文件".
std::string PreviewCaption(std::string_view descriptionGbk);
std::string SearchingCaption(uint64_t files);

// "0 字节" .. "1023 字节", then three significant figures, rounded down so that a size never reads
// larger than it is: "1.50 KB", "15.2 MB", "153 GB", "1023 KB".
std::string ReadableSize(uint64_t bytes);

// What the dialog shows once the engine has answered.
struct PreviewSummary {
    std::string text;         // the lines above the list, "\r\n" between them
    bool showList = true;     // false: the folder cannot be searched, the reason stands instead
    uint64_t cleanFiles = 0;  // what "立即清理" would delete now; 0 disables it
};
PreviewSummary SummarizePreview(int result, const KivoCleanVerdict& verdict);

// "确定按此规则立即删除这 N 个文件吗？"
std::string CleanNowQuestion(uint64_t files);

// One listed file.
struct PreviewRow {
    std::u16string path;  // below the rule's folder
    uint64_t size = 0;
    int64_t mtime = 0;  // seconds since 1970-01-01 UTC
};

enum class PreviewColumn { Path = 0, Size = 1, Time = 2 };

// The order of the rows sorted by a column, ties by path; paths compare by UTF-16 unit with ASCII
// letters folded, so that "A.txt" and "a.txt" sit together. It only reads the rows, so that a worker
// thread can sort while the window still shows them.
std::vector<uint32_t> SortedOrder(const std::vector<PreviewRow>& rows, PreviewColumn column, bool ascending);
// Puts the rows into that order.
void ApplyOrder(std::vector<PreviewRow>& rows, const std::vector<uint32_t>& order);

struct LocalTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};
// "2023-11-14 22:13:20".
std::string LocalTimeText(const LocalTime& time);

// The rows as CSV: UTF-8 with a BOM (so that a spreadsheet reads the names right), CRLF line ends,
// a header of the three column names, the size in bytes and the local time. A field holding a comma,
// a quote or a line end is quoted, its quotes doubled. A path that starts with = + - @ or a tab or
// carriage return gets a leading ' so that a spreadsheet shows it rather than evaluating it.
std::string PreviewCsv(const std::vector<PreviewRow>& rows, const std::function<LocalTime(int64_t)>& local);

// UTF-8 of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string Utf8FromUtf16(std::u16string_view text);

}  // namespace editors
