// Names as log lines carry them: UTF-16 (Windows) and byte (POSIX) names to well-formed UTF-8.
#include "utf8_text.h"

#include <gtest/gtest.h>

#include "runner_test_support.h"

namespace kivo {
namespace {

using test::U8;

TEST(Utf8Text, Utf16NamesBecomeUtf8AndOnlyALoneSurrogateIsLost) {
    const struct {
        std::u16string utf16;
        std::u8string utf8;
    } cases[] = {
        {u"a.log", u8"a.log"},
        {u"表\u00E9.txt", u8"表é.txt"},
        {u"한글", u8"한글"},
        {u"\U0001F600x", u8"😀x"},  // a surrogate pair
        {u"a\xD83D"
         u"b",
         u8"a?b"},  // a high surrogate alone
        {u"a\xDE00"
         u"b",
         u8"a?b"},                  // a low one
        {u"\xDE00\xD83D", u8"??"},  // the wrong way round
        {u"z\xD83D", u8"z?"},       // a pair cut off at the end
        {u"\xFFFF\x0800\x07FF", u8"\uFFFF\u0800\u07FF"},
    };
    for (const auto& c : cases) {
        std::string out = "> ";
        AppendUtf8FromUtf16(out, std::u16string_view(c.utf16));
        EXPECT_EQ(out, "> " + U8(c.utf8));
    }
}

TEST(Utf8Text, BytesThatBeginNoSequenceBecomeQuestionMarks) {
    const struct {
        std::string bytes;
        std::u8string utf8;
    } cases[] = {
        {U8(u8"한글😀.log"), u8"한글😀.log"},
        {"a\xFF"
         "b",
         u8"a?b"},
        {"\xC0\xAF", u8"??"},       // overlong
        {"\xED\xA0\x80", u8"???"},  // a surrogate
        {"\xE4\xB8", u8"??"},       // cut off
        {"\xE4\xB8\xAD", u8"中"},
    };
    for (const auto& c : cases) {
        std::string out;
        AppendValidUtf8(out, c.bytes);
        EXPECT_EQ(out, U8(c.utf8));
    }
}

}  // namespace
}  // namespace kivo
