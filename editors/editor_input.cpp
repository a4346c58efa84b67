#include "editor_input.h"

#include <cstdio>
#include <limits>

namespace editors {

int32_t ReadDecimal(std::string_view text) {
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10 + (c - '0');
        if (value > kMax) return int32_t(kMax);
    }
    return int32_t(value);
}

bool GuardAccepts(GuardedField field, std::string_view text) {
    const int32_t value = ReadDecimal(text);
    switch (field) {
        case GuardedField::Hour:
            return value <= 23;
        case GuardedField::Minute:
            return value <= 59;
        case GuardedField::Day:
            return value >= 1 && value <= 31;
    }
    return false;
}

std::string DecimalText(int value) {
    return std::to_string(value);
}

std::string GroupedDecimal(uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

std::string TwoDigitText(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

}  // namespace editors
