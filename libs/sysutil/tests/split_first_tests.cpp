#include "split_first.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

struct SplitCase {
    const char* name;
    std::optional<std::string> text;  // nullopt: a null text
    const char* delimiters;
    std::optional<std::string> first;  // nullopt: null returned
    std::optional<std::string> rest;   // nullopt: *rest set to null
};

std::optional<std::string> Text(const char* p) {
    return p ? std::optional<std::string>(p) : std::nullopt;
}

TEST(SplitFirst, SplitsAsTheRangeColumnNeeds) {
    const std::vector<SplitCase> cases = {
        {"both parts", "0800,1800", ",", "0800", "1800"},
        {"empty rest", "0800,", ",", "0800", ""},
        {"empty first part", ",1800", ",", "", "1800"},
        {"only a delimiter", ",", ",", "", ""},
        {"empty text", "", ",", std::nullopt, std::nullopt},
        {"null text", std::nullopt, ",", std::nullopt, std::nullopt},
        {"no delimiter", "19700101", ",", "19700101", std::nullopt},
        {"only the first delimiter splits", "1,2,3", ",", "1", "2,3"},
        {"two delimiters in a row", ",,", ",", "", ","},
        {"any of several delimiters", "a;b,c", ",;", "a", "b,c"},
        {"null delimiters split nothing", "a,b", nullptr, "a,b", std::nullopt},
        {"empty delimiters split nothing", "a,b", "", "a,b", std::nullopt},
        {"blanks are kept", " 1 , 2 ", ",", " 1 ", " 2 "},
        // GBK: 0x7C ('|') is a valid trail byte, so inside a character it is no delimiter.
        {"trail byte 0x7C is not a delimiter", "\x81\x7C|\x81\x7C", "|", "\x81\x7C", "\x81\x7C"},
        {"trail byte 0x7C with no real delimiter", "\xD6\x7C\xD6\x7C", "|", "\xD6\x7C\xD6\x7C", std::nullopt},
        {"Chinese text before a comma", "中文,测试", ",", "中文", "测试"},
        // 0x2C is below the trail range (0x40-0xFE): after a lead byte it ends a damaged
        // character and is a delimiter of its own.
        {"comma after a lone lead byte", "\xB0,x", ",", "\xB0", "x"},
        {"lead byte at the end", "ab\xB0", ",", "ab\xB0", std::nullopt},
        {"double-byte char then ASCII delimiter", "\xB0\xA1|z", "|", "\xB0\xA1", "z"},
        {"trail-range letter after a lead byte", "\x81\x41x", "A", "\x81\x41x", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> buffer;
        if (c.text) buffer.assign(c.text->begin(), c.text->end()), buffer.push_back('\0');
        char* text = c.text ? buffer.data() : nullptr;
        char sentinel = 'x';
        char* rest = &sentinel;  // must be overwritten in every case
        char* first = sysutil::SplitFirst(text, c.delimiters, &rest);
        EXPECT_EQ(Text(first), c.first);
        EXPECT_EQ(Text(rest), c.rest);
        if (first) {
            EXPECT_EQ(first, text);  // the first part is the text itself, split in place
        }
        if (rest) {
            EXPECT_TRUE(rest > text && rest <= text + buffer.size() - 1);
        }
    }
}

TEST(SplitFirst, AcceptsANullRestPointer) {
    char text[] = "0800,1800";
    EXPECT_STREQ(sysutil::SplitFirst(text, ",", nullptr), "0800");
    EXPECT_STREQ(text + 5, "1800");
}

TEST(SplitFirst, KeepsNoStateBetweenCalls) {
    char a[] = "1,2";
    char b[] = "x";
    char* rest = nullptr;
    sysutil::SplitFirst(a, ",", &rest);
    EXPECT_STREQ(sysutil::SplitFirst(b, ",", &rest), "x");
    EXPECT_EQ(rest, nullptr);
}

}  // namespace
