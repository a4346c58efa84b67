#include "crc32_fold.h"

#include <zlib.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KIVO_CRC32_FOLD 1
#endif

namespace kivo::zip {

#ifdef KIVO_CRC32_FOLD
namespace {

// Powers of x modulo the polynomial, bit-reflected and shifted by one as the multiply needs them:
// a fold across 512 bits (x^(512+32), x^(512-32)), across 128 bits, the step from 64 bits to 32,
// and the Barrett constants (the polynomial and its inverse).
constexpr long long kFold512Low = 0x154442bd4, kFold512High = 0x1c6e41596;
constexpr long long kFold128Low = 0x1751997d0, kFold128High = 0x0ccaa009e;
constexpr long long kFold64 = 0x163cd6124;
constexpr long long kPolynomial = 0x1db710641, kInverse = 0x1f7011641;

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(x, k, 0x00);
    const __m128i high = _mm_clmulepi64_si128(x, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// The register of a CRC (not its final inversion) over n bytes, n a multiple of 16 and at least 64.
__attribute__((target("pclmul,sse4.1"))) uint32_t FoldBlocks(uint32_t state, const unsigned char* p,
                                                             size_t n) {
    const __m128i k512 = _mm_set_epi64x(kFold512High, kFold512Low);
    const __m128i k128 = _mm_set_epi64x(kFold128High, kFold128Low);
    __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(int(state)));
    __m128i x1 = Load(p + 16), x2 = Load(p + 32), x3 = Load(p + 48);
    p += 64;
    n -= 64;
    for (; n >= 64; p += 64, n -= 64) {
        x0 = Fold(x0, k512, Load(p));
        x1 = Fold(x1, k512, Load(p + 16));
        x2 = Fold(x2, k512, Load(p + 32));
        x3 = Fold(x3, k512, Load(p + 48));
    }
    x0 = Fold(x0, k128, x1);
    x0 = Fold(x0, k128, x2);
    x0 = Fold(x0, k128, x3);
    for (; n >= 16; p += 16, n -= 16) x0 = Fold(x0, k128, Load(p));

    // 128 bits to 64, to 32, then the Barrett reduction to the remainder.
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
    __m128i x = _mm_xor_si128(_mm_srli_si128(x0, 8), _mm_clmulepi64_si128(x0, k128, 0x10));
    const __m128i upper = _mm_srli_si128(x, 4);
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, mask32), _mm_set_epi64x(0, kFold64), 0x00),
                      upper);
    const __m128i barrett = _mm_set_epi64x(kInverse, kPolynomial);
    __m128i q = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), barrett, 0x10);
    q = _mm_clmulepi64_si128(_mm_and_si128(q, mask32), barrett, 0x00);
    return uint32_t(_mm_extract_epi32(_mm_xor_si128(q, x), 1));
}

}  // namespace

bool CpuFoldsCrc32() {
    static const bool folds = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    }();
    return folds;
}

uint32_t Crc32Folded(const void* data, size_t n, uint32_t crc) {
    const auto* p = static_cast<const unsigned char*>(data);
    const size_t blocks = n >= 64 ? n & ~size_t(15) : 0;
    if (blocks) {
        crc = ~FoldBlocks(~crc, p, blocks);
        p += blocks;
        n -= blocks;
    }
    return n ? uint32_t(::crc32(crc, p, uInt(n))) : crc;
}

#else

bool CpuFoldsCrc32() {
    return false;
}

uint32_t Crc32Folded(const void* data, size_t n, uint32_t crc) {
    return uint32_t(::crc32(crc, static_cast<const Bytef*>(data), uInt(n)));
}

#endif

}  // namespace kivo::zip
