#include "zip_format.h"

#include <zlib.h>

#include <array>
#include <limits>

#include "crc32_fold.h"
#include "file_system.h"

namespace kivo::zip {
namespace {

constexpr uint32_t kPoly = 0xEDB88320u;  // reflected

// a(x) * b(x) modulo the CRC polynomial, in the reflected bit order.
uint32_t MultModP(uint32_t a, uint32_t b) {
    uint32_t m = 1u << 31;
    uint32_t p = 0;
    for (;;) {
        if (a & m) {
            p ^= b;
            if ((a & (m - 1)) == 0) break;
        }
        m >>= 1;
        b = (b & 1) ? (b >> 1) ^ kPoly : b >> 1;
    }
    return p;
}

// x^(2^k) modulo the polynomial, k = 0..63.
const std::array<uint32_t, 64>& PowerTable() {
    static const std::array<uint32_t, 64> table = [] {
        std::array<uint32_t, 64> t{};
        uint32_t p = 1u << 30;  // x^1
        t[0] = p;
        for (size_t n = 1; n < t.size(); ++n) t[n] = p = MultModP(p, p);
        return t;
    }();
    return table;
}

}  // namespace

uint32_t Crc32Combine(uint32_t crcA, uint32_t crcB, uint64_t lengthB) {
    // Appending lengthB bytes multiplies crcA by x^(8*lengthB).
    uint32_t p = 1u << 31;  // x^0
    unsigned k = 3;
    for (uint64_t n = lengthB; n != 0; n >>= 1, ++k) {
        if (n & 1) p = MultModP(PowerTable()[k & 63], p);
    }
    return MultModP(p, crcA) ^ crcB;
}

uint32_t Crc32(const void* data, size_t n, uint32_t crc) {
    if (n >= 256 && CpuFoldsCrc32()) return Crc32Folded(data, n, crc);
    const auto* bytes = static_cast<const Bytef*>(data);
    while (n > 0) {
        uInt chunk = uInt(std::min<size_t>(n, std::numeric_limits<uInt>::max()));
        crc = uint32_t(::crc32(crc, bytes, chunk));
        bytes += chunk;
        n -= chunk;
    }
    return crc;
}

DosTime DosTimeFromUtc(int64_t utc) {
    fs::CivilTime t = fs::LocalFromUtc(utc);
    if (t.year < 1980) return {0, 0x21};
    if (t.year > 2107) return {uint16_t((23 << 11) | (59 << 5) | 29), uint16_t((127 << 9) | (12 << 5) | 31)};
    DosTime d;
    d.time = uint16_t((t.hour << 11) | (t.minute << 5) | (t.second / 2));
    d.date = uint16_t(((t.year - 1980) << 9) | (t.month << 5) | t.day);
    return d;
}

bool UtcFromDosTime(DosTime dos, int64_t& utc) {
    fs::CivilTime t;
    t.year = 1980 + (dos.date >> 9);
    t.month = (dos.date >> 5) & 0x0F;
    t.day = dos.date & 0x1F;
    t.hour = dos.time >> 11;
    t.minute = (dos.time >> 5) & 0x3F;
    t.second = (dos.time & 0x1F) * 2;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.hour > 23 || t.minute > 59 || t.second > 59)
        return false;
    auto v = fs::UtcFromLocal(t);
    if (!v) return false;
    utc = *v;
    return true;
}

}  // namespace kivo::zip
