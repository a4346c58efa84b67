#include "gbk_to_utf8.h"

#include <algorithm>

#include "gbk_bytes.h"
#include "history_text.h"
#include "shared_files.h"

namespace kivo {
namespace {

constexpr uint32_t kQuestionMark = (1u << 24) | '?';

}  // namespace

GbkToUtf8::GbkToUtf8() : m_double(size_t(0xFE - 0x81 + 1) * (0xFE - 0x40 + 1), 0) {}

void GbkToUtf8::Append(std::string& out, std::string_view gbk) {
    for (size_t pos = 0; pos < gbk.size();) {
        // A run of printable ASCII in one piece: most of a path is.
        size_t end = pos;
        while (end < gbk.size() && static_cast<unsigned char>(gbk[end]) - 0x20u < 0x5Fu) ++end;
        out.append(gbk.data() + pos, end - pos);
        if ((pos = end) == gbk.size()) break;
        const unsigned char c = static_cast<unsigned char>(gbk[pos]);
        if (c == static_cast<unsigned char>(HistoryText::kExactName)) {
            const size_t close = std::min(gbk.find(HistoryText::kExactName, pos + 1), gbk.size());
            AppendExact(out, gbk.substr(pos + 1, close - pos - 1));
            pos = close + 1;
            continue;
        }
        if (c < 0x80) {
            out += '?';  // a control character
            ++pos;
            continue;
        }
        const size_t n = shared::GbkCharLength(gbk, pos);
        Packed& known =
            n == 2
                ? m_double[size_t(c - 0x81) * 191 + size_t(static_cast<unsigned char>(gbk[pos + 1]) - 0x40)]
                : m_single[c - 0x80];
        if (!known) known = Convert(gbk.substr(pos, n));
        Put(out, known);
        pos += n;
    }
}

GbkToUtf8::Packed GbkToUtf8::Convert(std::string_view character) {
    const auto utf8 = shared::Utf8FromGbk(character);
    // Every GBK character lies in the Basic Multilingual Plane: at most three UTF-8 bytes.
    if (!utf8 || utf8->empty() || utf8->size() > 3) return kQuestionMark;
    Packed packed = Packed(utf8->size()) << 24;
    for (size_t i = 0; i < utf8->size(); ++i)
        packed |= Packed(static_cast<unsigned char>((*utf8)[i])) << (8 * i);
    return packed;
}

void GbkToUtf8::AppendExact(std::string& out, std::string_view utf8) {
    for (size_t pos = 0; pos < utf8.size();) {
        const size_t n = HistoryText::Utf8SequenceAt(utf8, pos);
        const unsigned char c = static_cast<unsigned char>(utf8[pos]);
        if (n == 0 || c < 0x20 || c == 0x7F) {
            out += '?';
            ++pos;
        } else {
            out.append(utf8.data() + pos, n);
            pos += n;
        }
    }
}

void GbkToUtf8::Put(std::string& out, Packed packed) {
    const char bytes[3] = {char(packed & 0xFF), char((packed >> 8) & 0xFF), char((packed >> 16) & 0xFF)};
    out.append(bytes, packed >> 24);
}

}  // namespace kivo
