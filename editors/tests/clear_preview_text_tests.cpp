#include <gtest/gtest.h>

#include <cstring>
#include <limits>

#include "clear_preview_text.h"

namespace editors {
namespace {

TEST(ClearPreviewText, ReadableSizesRoundDownToThreeFigures) {
    const struct {
        uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0 字节"},
        {1023, "1023 字节"},
        {1024, "1.00 KB"},
        {1535, "1.49 KB"},  // 1.499: never rounded up
        {1536, "1.50 KB"},
        {10 * 1024 - 1, "9.99 KB"},
        {10 * 1024, "10.0 KB"},
        {1024 * 1024 - 1, "1023 KB"},
        {1024 * 1024, "1.00 MB"},
        {uint64_t(15.25 * 1024 * 1024), "15.2 MB"},
        {153ull << 30, "153 GB"},
        {5ull << 40, "5.00 TB"},
        {std::numeric_limits<uint64_t>::max(), "15.9 EB"},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadableSize(c.bytes), c.text) << c.bytes;
}

KivoCleanVerdict Verdict(int deletesNow, uint64_t files, uint64_t bytes, int freePercent = 0,
                         int minPercent = 0) {
    KivoCleanVerdict v{};
    v.deletes_now = deletesNow;
    v.files = files;
    v.bytes = bytes;
    v.free_percent = freePercent;
    v.min_free_percent = minPercent;
    return v;
}

TEST(ClearPreviewText, SummaryForEachAnswerOfTheEngine) {
    KivoCleanVerdict missing{};
    std::strcpy(missing.reason, "无法打开监视目录 D:\\日志：文件不存在");
    const struct {
        int result;
        KivoCleanVerdict verdict;
        const char* text;
        bool showList;
        uint64_t cleanFiles;
    } cases[] = {
        {KIVO_OK, Verdict(1, 1234, 1536), "按当前规则，现在会删除 1,234 个文件，共 1.50 KB。", true, 1234},
        {KIVO_OK, Verdict(1, 0, 0), "按当前规则，现在会删除 0 个文件，共 0 字节。", true, 0},
        // Free space already where the rule wants it: nothing now, and the list is what would go.
        {KIVO_OK, Verdict(0, 12, 4096, 72, 50),
         "按当前规则，现在会删除 0 个文件，共 0 字节。\r\n磁盘可用空间 72%，不低于 50%，现在不会执行清理；"
         "下表是条件满足时会删除的文件。",
         true, 0},
        {KIVO_E_FOLDER_MISSING, missing, "无法打开监视目录 D:\\日志：文件不存在", false, 0},
        {KIVO_E_FOLDER_UNREADABLE, missing, "无法打开监视目录 D:\\日志：文件不存在", false, 0},
        {KIVO_E_UNKNOWN_RULE, Verdict(1, 5, 5), "预览失败,错误代码:3", false, 0},
    };
    for (const auto& c : cases) {
        const PreviewSummary got = SummarizePreview(c.result, c.verdict);
        EXPECT_EQ(got.text, c.text);
        EXPECT_EQ(got.showList, c.showList) << c.text;
        EXPECT_EQ(got.cleanFiles, c.cleanFiles) << c.text;
    }
}

TEST(ClearPreviewText, CaptionsAndTheQuestion) {
    EXPECT_EQ(PreviewCaption("清理临时文件"), "清理预览 - 清理临时文件");
    EXPECT_EQ(SearchingCaption(1234567), "清理预览 - 正在查找… 1,234,567 个文件");
    EXPECT_EQ(CleanNowQuestion(12), "确定按此规则立即删除这 12 个文件吗？");
}

TEST(ClearPreviewText, SortsByEachColumnBothWaysWithThePathBreakingTies) {
    const std::vector<PreviewRow> rows = {{u"b.txt", 10, 300},
                                          {u"A.txt", 30, 100},
                                          {u"c.txt", 10, 100},
                                          {u"日志.log", 20, 200},
                                          {u"a.txt", 5, 400}};
    auto paths = [](const std::vector<PreviewRow>& sorted) {
        std::vector<std::u16string> out;
        for (const PreviewRow& r : sorted) out.push_back(r.path);
        return out;
    };
    const struct {
        PreviewColumn column;
        bool ascending;
        std::vector<std::u16string> order;
    } cases[] = {
        {PreviewColumn::Path, true, {u"A.txt", u"a.txt", u"b.txt", u"c.txt", u"日志.log"}},
        {PreviewColumn::Path, false, {u"日志.log", u"c.txt", u"b.txt", u"a.txt", u"A.txt"}},
        {PreviewColumn::Size, true, {u"a.txt", u"b.txt", u"c.txt", u"日志.log", u"A.txt"}},
        {PreviewColumn::Size, false, {u"A.txt", u"日志.log", u"c.txt", u"b.txt", u"a.txt"}},
        {PreviewColumn::Time, true, {u"A.txt", u"c.txt", u"日志.log", u"b.txt", u"a.txt"}},
        {PreviewColumn::Time, false, {u"a.txt", u"b.txt", u"日志.log", u"c.txt", u"A.txt"}},
    };
    for (const auto& c : cases) {
        std::vector<PreviewRow> sorted = rows;
        ApplyOrder(sorted, SortedOrder(rows, c.column, c.ascending));
        EXPECT_EQ(paths(sorted), c.order) << int(c.column) << c.ascending;
    }
}

TEST(ClearPreviewText, Utf8OfNamesGbkCannotHoldAndOfBrokenSurrogates) {
    EXPECT_EQ(Utf8FromUtf16(u"한\U0001F600"), "\xED\x95\x9C\xF0\x9F\x98\x80");
    EXPECT_EQ(Utf8FromUtf16(std::u16string{u'a', char16_t(0xD800), u'b', char16_t(0xDC00)}),
              "a\xEF\xBF\xBD"
              "b\xEF\xBF\xBD");
}

}  // namespace
}  // namespace editors
