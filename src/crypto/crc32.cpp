// crc32.cpp -- CRC-32 (IEEE 802.3, reflected, polynomial 0xEDB88320). Long runs are
// folded 64 bytes at a time with carry-less multiplication where the processor has it
// (x86 PCLMULQDQ, chosen at run time); everything else goes through slicing by eight
// tables. All tables and folding constants are computed at compile time. The compact
// build (HEDGEROW_COMPACT, for the self-extractor program) keeps only the byte table,
// made at its first use.

#include "crypto/crc32.h"

#include <array>

#include "common/rule_tables.h"

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && !defined(HEDGEROW_COMPACT)
#define HEDGEROW_CRC_CLMUL 1
#include <immintrin.h>
#endif

namespace hedgerow::crypto {
namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;  // reflected form of 0x04C11DB7

// kSlice[0] is the classic byte table; kSlice[k][b] is the register contribution of byte
// b followed by k zero bytes, so eight bytes are folded in with eight independent lookups.
#ifdef HEDGEROW_COMPACT
constexpr int kSliceCount = 1;
#else
constexpr int kSliceCount = 8;
#endif

constexpr std::array<std::array<uint32_t, 256>, kSliceCount> MakeSliceTables() {
    std::array<std::array<uint32_t, 256>, kSliceCount> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ kPolynomial : c >> 1;
        t[0][i] = c;
    }
    for (int k = 1; k < kSliceCount; ++k) {
        for (uint32_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    }
    return t;
}

using SliceTables = std::array<std::array<uint32_t, 256>, kSliceCount>;

}  // namespace

uint32_t Crc32UpdatePortable(uint32_t crc, const void* data, size_t n) {
    const SliceTables& kSlice = RuleTable<SliceTables, MakeSliceTables>();
    const auto* p = static_cast<const uint8_t*>(data);
#ifndef HEDGEROW_COMPACT
    for (; n >= 8; n -= 8, p += 8) {
        const uint32_t lo = crc ^ (static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                                   static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24);
        crc = kSlice[7][lo & 0xFF] ^ kSlice[6][(lo >> 8) & 0xFF] ^ kSlice[5][(lo >> 16) & 0xFF] ^
              kSlice[4][lo >> 24] ^ kSlice[3][p[4]] ^ kSlice[2][p[5]] ^ kSlice[1][p[6]] ^ kSlice[0][p[7]];
    }
#endif
    for (; n > 0; --n, ++p) crc = kSlice[0][(crc ^ *p) & 0xFF] ^ (crc >> 8);
    return crc;
}

namespace {

#ifdef HEDGEROW_CRC_CLMUL

// x^e mod P for the unreflected polynomial (x^32 implicit), then bit-reflected and
// shifted left by one. Carry-less products of reflected operands come out multiplied by
// x once more, and the 33-bit constant sits in the low bits, which together make
// "multiply by this" equal "multiply by x^(e + 32)".
constexpr uint64_t FoldConstant(int e) {
    uint32_t r = 1;  // x^0
    for (int i = 0; i < e; ++i) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
    uint32_t reflected = 0;
    for (int i = 0; i < 32; ++i) reflected |= ((r >> i) & 1u) << (31 - i);
    return static_cast<uint64_t>(reflected) << 1;
}

// Folding a 128-bit chunk forward by D bits multiplies its first 64 stream bits (the low
// quadword) by x^(D + 64) and the other half by x^D; see FoldConstant for the -32.
constexpr uint64_t kFold512Low = FoldConstant(512 + 32), kFold512High = FoldConstant(512 - 32);
constexpr uint64_t kFold128Low = FoldConstant(128 + 32), kFold128High = FoldConstant(128 - 32);

__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i x, __m128i k, __m128i next) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), next);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Needs n >= 64. Folds whole 16-byte chunks into one, which is congruent to the data read
// so far modulo P; running the bytes of that chunk through the table from a zero register
// gives the register the data itself would give.
__attribute__((target("pclmul,sse4.1"))) uint32_t ClmulUpdate(uint32_t crc, const uint8_t* p, size_t n) {
    const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512High), static_cast<long long>(kFold512Low));
    const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128High), static_cast<long long>(kFold128Low));
    __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x1 = Load(p + 16), x2 = Load(p + 32), x3 = Load(p + 48);
    p += 64;
    n -= 64;
    for (; n >= 64; n -= 64, p += 64) {
        x0 = Fold(x0, k512, Load(p));
        x1 = Fold(x1, k512, Load(p + 16));
        x2 = Fold(x2, k512, Load(p + 32));
        x3 = Fold(x3, k512, Load(p + 48));
    }
    __m128i x = Fold(x0, k128, x1);
    x = Fold(x, k128, x2);
    x = Fold(x, k128, x3);
    for (; n >= 16; n -= 16, p += 16) x = Fold(x, k128, Load(p));
    alignas(16) uint8_t folded[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(folded), x);
    return Crc32UpdatePortable(Crc32UpdatePortable(0, folded, 16), p, n);
}

#endif

}  // namespace

uint32_t Crc32Update(uint32_t crc, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
#ifdef HEDGEROW_CRC_CLMUL
    if (n >= 128 && __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1")) return ClmulUpdate(crc, p, n);
#endif
    return Crc32UpdatePortable(crc, p, n);
}

}  // namespace hedgerow::crypto
