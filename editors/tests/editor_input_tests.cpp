#include <gtest/gtest.h>

#include <climits>

#include "form_test_support.h"

namespace editors {
namespace {

TEST(NumberReading, TakesLeadingDigitsAndSaturatesInsteadOfOverflowing) {
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {
        {"", 0},
        {"0", 0},
        {"15", 15},
        {"007", 7},
        {"12ab3", 12},
        {"ab", 0},
        {"-5", 0},  // no digits first: a pasted sign never yields a negative number
        {" 5", 0},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"4294967297", INT32_MAX},  // would wrap to 1 in 32 bits
        {"99999999999", INT32_MAX},
        {"0000000000000000000042", 42},  // leading zeros alone never saturate
    };
    for (const auto& c : cases) EXPECT_EQ(ReadDecimal(c.text), c.value) << '"' << c.text << '"';
    EXPECT_EQ(ReadDecimal(std::string(400, '9')), INT32_MAX);
}

}  // namespace
}  // namespace editors
