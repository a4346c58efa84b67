#include <gtest/gtest.h>

#include "Text.h"

namespace {

TEST(GbkText, RoundTripsChineseWhateverTheSystemCodePage) {
    const std::string gbk = "备份与清理计划 v1.0";  // compiled as GBK bytes
    ASSERT_EQ(gbk.substr(0, 2), "\xB1\xB8");
    const std::wstring wide = fw::WideFromGbk(gbk);
    EXPECT_EQ(wide, L"备份与清理计划 v1.0");
    bool exact = false;
    EXPECT_EQ(fw::GbkFromWide(wide, &exact), gbk);
    EXPECT_TRUE(exact);
}

TEST(GbkText, ReportsCharactersWithoutGbkCounterpart) {
    bool exact = true;
    std::string out = fw::GbkFromWide(L"a\u0E01b", &exact);  // a Thai letter: not in GBK
    EXPECT_FALSE(exact);
    EXPECT_EQ(out.front(), 'a');
    EXPECT_EQ(out.back(), 'b');
    EXPECT_EQ(fw::GbkFromWide(L"", &exact), "");
    EXPECT_TRUE(exact);
}

}  // namespace
