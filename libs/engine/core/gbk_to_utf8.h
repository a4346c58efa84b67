// GBK to UTF-8 at memory speed, for the run history's many lines: ASCII is copied, and each other
// character is converted once by the platform (shared::Utf8FromGbk) and remembered, so the result is
// exactly the platform's. A character the platform does not convert becomes '?', and so does a
// control character (a file name may hold a line break), so that one text is always one line. A name
// that a line carries exactly (HistoryText::kExactName) is UTF-8 already and is copied, with the same
// '?' for a control character or a byte that begins no well-formed sequence.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kivo {

class GbkToUtf8 {
  public:
    GbkToUtf8();
    void Append(std::string& out, std::string_view gbk);

  private:
    // The UTF-8 bytes of a character, the count in the top byte; 0 while not yet looked up.
    using Packed = uint32_t;
    Packed Convert(std::string_view character);
    static void Put(std::string& out, Packed packed);
    static void AppendExact(std::string& out, std::string_view utf8);

    std::vector<Packed> m_double;        // by (lead - 0x81) * 191 + (trail - 0x40)
    std::array<Packed, 128> m_single{};  // bytes 0x80..0xFF that stand alone
};

}  // namespace kivo
