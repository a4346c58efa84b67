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

TEST(EditGuards, AcceptOnlyTheirRange) {
    const struct {
        GuardedField field;
        const char* text;
        bool accepted;
    } cases[] = {
        {GuardedField::Hour, "", true},
        {GuardedField::Hour, "0", true},
        {GuardedField::Hour, "2", true},
        {GuardedField::Hour, "23", true},
        {GuardedField::Hour, "24", false},
        {GuardedField::Hour, "27", false},
        {GuardedField::Hour, "99", false},
        {GuardedField::Minute, "", true},
        {GuardedField::Minute, "59", true},
        {GuardedField::Minute, "60", false},
        {GuardedField::Minute, "99999999999", false},
        {GuardedField::Day, "", false},
        {GuardedField::Day, "0", false},
        {GuardedField::Day, "1", true},
        {GuardedField::Day, "31", true},
        {GuardedField::Day, "32", false},
        {GuardedField::Day, "99999999999", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GuardAccepts(c.field, c.text), c.accepted) << int(c.field) << " \"" << c.text << '"';
    }
}

}  // namespace
}  // namespace editors
