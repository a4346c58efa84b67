// Helpers shared by the editors' logic tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "editor_input.h"

namespace editors {

inline void PrintTo(const InputFault& fault, std::ostream* out) {
    *out << "{\"" << fault.text << "\", \"" << fault.caption << "\", focus " << fault.focusId
         << (fault.select ? ", selected}" : "}");
}

// The record as its bytes, so that a comparison also covers what lies behind each terminator.
template <typename Record>
std::string Bytes(const Record& record) {
    return std::string(reinterpret_cast<const char*>(&record), sizeof record);
}

// n Chinese characters: 2n GBK bytes.
inline std::string Chinese(size_t n) {
    std::string text;
    for (size_t i = 0; i < n; ++i) text += "汉";
    return text;
}

inline TextInput Exact(std::string text) {
    return TextInput{std::move(text), true};
}

}  // namespace editors
