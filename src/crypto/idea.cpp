// idea.cpp -- IDEA: key schedule, its inversion, the block function and CBC mode.

#include "crypto/idea.h"

#include <cstring>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && !defined(HEDGEROW_COMPACT)
#include <immintrin.h>
#endif

#include "crypto/wipe.h"
#include "common/byte_order.h"

namespace hedgerow::crypto {
namespace {

// IdeaMul on words held in 32-bit registers (below 65536). With p = a * b = hi * 65536 + lo
// and 65536 = -1 modulo 65537, the product is lo - hi, lifted by 65537 when negative,
// which modulo 65536 means adding 1. p is 0 exactly when a or b is 0 (stands for 65536,
// that is -1): then the product is -b or -a, that is 1 - a - b for the other one. That
// case is rare and takes a branch, which the processor predicts; the common case is on
// the serial path of CBC enciphering and is kept short.
inline uint32_t Mul(uint32_t a, uint32_t b) {
    const uint32_t p = a * b;
#if defined(__GNUC__)
    if (__builtin_expect(p == 0, 0)) return (1 - a - b) & 0xFFFF;
    // Subtract and add the borrow back: compilers turn this into SUB and ADC.
    uint16_t difference;
    const bool borrow = __builtin_sub_overflow(static_cast<uint16_t>(p), static_cast<uint16_t>(p >> 16), &difference);
    return static_cast<uint16_t>(difference + borrow);
#else
    if (p == 0) return (1 - a - b) & 0xFFFF;
    const uint32_t lo = p & 0xFFFF, hi = p >> 16;
    return (lo - hi + (lo < hi)) & 0xFFFF;
#endif
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__)) && !defined(HEDGEROW_COMPACT)

// (Not in the compact build of the self-extractor program, which must stay small.)
// Sixteen blocks at once with AVX2: each 256-bit register holds one of the four words
// of all sixteen blocks, one block per 16-bit lane, so every operation of the round
// serves sixteen blocks. Used where blocks do not depend on each other (deciphering in
// CBC mode).

// A subkey broadcast to all lanes, with what multiplication needs about it precomputed.
struct VectorKey {
    __m256i k;           // the subkey
    __m256i k_is_zero;   // all ones when the subkey is 0 (stands for 65536)
    __m256i one_minus_k; // 1 - k, the product when the other factor is 0
};

__attribute__((target("avx2"))) inline VectorKey MakeVectorKey(uint16_t k) {
    const __m256i v = _mm256_set1_epi16(static_cast<short>(k));
    return {v, _mm256_cmpeq_epi16(v, _mm256_setzero_si256()),
            _mm256_sub_epi16(_mm256_set1_epi16(1), v)};
}

// Mul on sixteen lanes: lo - hi, plus 1 where hi > lo (the borrow), and 1 - a - k where
// a or k is 0 (there lo = hi = 0).
__attribute__((target("avx2"))) inline __m256i MulVector(__m256i a, const VectorKey& key) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i lo = _mm256_mullo_epi16(a, key.k), hi = _mm256_mulhi_epu16(a, key.k);
    const __m256i no_borrow = _mm256_cmpeq_epi16(_mm256_subs_epu16(hi, lo), zero);  // hi <= lo
    const __m256i borrow = _mm256_andnot_si256(no_borrow, _mm256_set1_epi16(1));         // 1 where hi > lo
    const __m256i product = _mm256_add_epi16(_mm256_sub_epi16(lo, hi), borrow);
    const __m256i either_zero = _mm256_or_si256(_mm256_cmpeq_epi16(a, zero), key.k_is_zero);
    return _mm256_add_epi16(product, _mm256_and_si256(either_zero, _mm256_sub_epi16(key.one_minus_k, a)));
}

// Within each 128-bit lane, two blocks (w0 w1 w2 w3 w0 w1 w2 w3) become pairs of equal
// words (w0 w0 w1 w1 w2 w2 w3 w3), and back.
__attribute__((target("avx2"))) inline __m256i PairWords(__m256i x) {
    const __m256i order = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15,
                                           0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
    return _mm256_shuffle_epi8(x, order);
}
__attribute__((target("avx2"))) inline __m256i UnpairWords(__m256i x) {
    const __m256i order = _mm256_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15,
                                           0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
    return _mm256_shuffle_epi8(x, order);
}

__attribute__((target("avx2"))) inline __m256i Load(const uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
__attribute__((target("avx2"))) inline void Store(uint8_t* p, __m256i v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// A 4x4 transpose of 32-bit cells within each 128-bit lane; it is its own inverse.
__attribute__((target("avx2"))) inline void Transpose(__m256i& a, __m256i& b, __m256i& c, __m256i& d) {
    const __m256i t0 = _mm256_unpacklo_epi32(a, b), t1 = _mm256_unpackhi_epi32(a, b);
    const __m256i t2 = _mm256_unpacklo_epi32(c, d), t3 = _mm256_unpackhi_epi32(c, d);
    a = _mm256_unpacklo_epi64(t0, t2);
    b = _mm256_unpackhi_epi64(t0, t2);
    c = _mm256_unpacklo_epi64(t1, t3);
    d = _mm256_unpackhi_epi64(t1, t3);
}

// Deciphers whole batches of sixteen blocks in CBC mode; returns the blocks done.
__attribute__((target("avx2"))) size_t DecipherCbcAvx2(uint8_t* data, size_t blocks, const uint16_t* schedule,
                                                         uint8_t chain[8]) {
    VectorKey keys[kIdeaScheduleWords];
    for (int i = 0; i < kIdeaScheduleWords; ++i) keys[i] = MakeVectorKey(schedule[i]);
    size_t done = 0;
    for (; blocks - done >= 16; done += 16, data += 128) {
        // The previous ciphertext block of each block: the chain, then the batch itself.
        alignas(32) uint8_t previous[136];
        std::memcpy(previous, chain, 8);
        std::memcpy(previous + 8, data, 128);
        __m256i x1 = PairWords(Load(data)), x2 = PairWords(Load(data + 32));
        __m256i x3 = PairWords(Load(data + 64)), x4 = PairWords(Load(data + 96));
        Transpose(x1, x2, x3, x4);
        const VectorKey* k = keys;
        for (int round = 0; round < 8; ++round, k += 6) {
            x1 = MulVector(x1, k[0]);
            x2 = _mm256_add_epi16(x2, k[1].k);
            x3 = _mm256_add_epi16(x3, k[2].k);
            x4 = MulVector(x4, k[3]);
            __m256i t2 = MulVector(_mm256_xor_si256(x1, x3), k[4]);
            const __m256i t1 = MulVector(_mm256_add_epi16(_mm256_xor_si256(x2, x4), t2), k[5]);
            t2 = _mm256_add_epi16(t1, t2);
            x1 = _mm256_xor_si256(x1, t1);
            x4 = _mm256_xor_si256(x4, t2);
            const __m256i new_x2 = _mm256_xor_si256(x3, t1);
            x3 = _mm256_xor_si256(x2, t2);
            x2 = new_x2;
        }
        __m256i y1 = MulVector(x1, k[0]), y2 = _mm256_add_epi16(x3, k[1].k);
        __m256i y3 = _mm256_add_epi16(x2, k[2].k), y4 = MulVector(x4, k[3]);
        Transpose(y1, y2, y3, y4);
        Store(data, _mm256_xor_si256(UnpairWords(y1), Load(previous)));
        Store(data + 32, _mm256_xor_si256(UnpairWords(y2), Load(previous + 32)));
        Store(data + 64, _mm256_xor_si256(UnpairWords(y3), Load(previous + 64)));
        Store(data + 96, _mm256_xor_si256(UnpairWords(y4), Load(previous + 96)));
        std::memcpy(chain, previous + 128, 8);
    }
    SecureWipe(keys, sizeof keys);  // copies of the subkeys
    return done;
}

bool HaveAvx2() { return __builtin_cpu_supports("avx2"); }

#else

size_t DecipherCbcAvx2(uint8_t*, size_t, const uint16_t*, uint8_t*) { return 0; }
bool HaveAvx2() { return false; }

#endif

// The block function on n blocks of four words (below 65536) held in 32-bit registers,
// interleaved: one block is a chain of dependent multiplications, and several side by
// side keep the multiplier busy.
template <int N>
inline void CipherWords(uint32_t (&x)[N][4], const uint16_t* k) {
    for (int round = 0; round < 8; ++round, k += 6) {
        for (int i = 0; i < N; ++i) {
            uint32_t x1 = x[i][0], x2 = x[i][1], x3 = x[i][2], x4 = x[i][3];
            x1 = Mul(x1, k[0]);
            x2 = (x2 + k[1]) & 0xFFFF;
            x3 = (x3 + k[2]) & 0xFFFF;
            x4 = Mul(x4, k[3]);
            uint32_t t2 = Mul(x1 ^ x3, k[4]);
            const uint32_t t1 = Mul(((x2 ^ x4) + t2) & 0xFFFF, k[5]);
            t2 = t1 + t2;  // only its low 16 bits matter; masked below
            x[i][0] = x1 ^ t1;
            x[i][1] = x3 ^ t1;  // the middle words change places
            x[i][2] = (x2 ^ t2) & 0xFFFF;
            x[i][3] = (x4 ^ t2) & 0xFFFF;
        }
    }
    for (int i = 0; i < N; ++i) {
        const uint32_t x2 = x[i][1];
        x[i][0] = Mul(x[i][0], k[0]);
        x[i][1] = (x[i][2] + k[1]) & 0xFFFF;
        x[i][2] = (x2 + k[2]) & 0xFFFF;
        x[i][3] = Mul(x[i][3], k[3]);
    }
}

// CBC deciphering of N blocks in place, block by block independent of each other.
template <int N>
inline void DecipherCbcWords(uint8_t* data, const uint16_t* schedule, uint32_t (&chain)[4]) {
    uint32_t x[N][4], previous[N][4];
    for (int i = 0; i < N; ++i) {
        for (int j = 0; j < 4; ++j) x[i][j] = previous[i][j] = Load16Le(data + 8 * i + 2 * j);
    }
    CipherWords<N>(x, schedule);
    for (int i = 0; i < N; ++i) {
        const uint32_t* before = i == 0 ? chain : previous[i - 1];
        for (int j = 0; j < 4; ++j) Store16Le(data + 8 * i + 2 * j, static_cast<uint16_t>(x[i][j] ^ before[j]));
    }
    for (int j = 0; j < 4; ++j) chain[j] = previous[N - 1][j];
}

}  // namespace

uint16_t IdeaMul(uint16_t a, uint16_t b) { return static_cast<uint16_t>(Mul(a, b)); }

uint16_t IdeaMulInverse(uint16_t a) {
    if (a <= 1) return a;
    // Extended Euclid on (65537, a), tracking only the coefficient of a.
    int32_t r0 = 65537, r1 = a;
    int32_t s0 = 0, s1 = 1;
    while (r1 != 0) {
        const int32_t q = r0 / r1;
        const int32_t r2 = r0 - q * r1;
        const int32_t s2 = s0 - q * s1;
        r0 = r1;
        r1 = r2;
        s0 = s1;
        s1 = s2;
    }
    if (s0 < 0) s0 += 65537;
    return static_cast<uint16_t>(s0);
}

void IdeaKeyWords(const uint8_t key[16], uint16_t words[8]) {
    for (int i = 0; i < 8; ++i) words[i] = Load16Le(key + 2 * i);
}

void IdeaExpandKey(const uint16_t key[8], uint16_t schedule[kIdeaScheduleWords]) {
    for (int i = 0; i < 8; ++i) schedule[i] = key[i];
    for (int i = 8; i < kIdeaScheduleWords; ++i) {
        const int a = (i + 1) % 8 == 0 ? i - 15 : i - 7;
        const int b = (i + 2) % 8 <= 1 ? i - 14 : i - 6;
        schedule[i] = static_cast<uint16_t>((schedule[a] << 9) | (schedule[b] >> 7));
    }
}

void IdeaInvertKey(const uint16_t encipher[kIdeaScheduleWords], uint16_t decipher[kIdeaScheduleWords]) {
    // E(g, j) is encipher[6 (g - 1) + j - 1]; group 9 holds the output transformation.
    auto e = [encipher](int g, int j) { return encipher[6 * (g - 1) + j - 1]; };
    auto neg = [](uint16_t x) { return static_cast<uint16_t>(-x); };
    uint16_t work[kIdeaScheduleWords];
    for (int g = 1; g <= 9; ++g) {
        uint16_t* d = work + 6 * (g - 1);
        const int from = 10 - g;
        d[0] = IdeaMulInverse(e(from, 1));
        // The middle rounds exchange the two added subkeys, because the rounds swap X2, X3.
        d[1] = neg(e(from, g == 1 || g == 9 ? 2 : 3));
        d[2] = neg(e(from, g == 1 || g == 9 ? 3 : 2));
        d[3] = IdeaMulInverse(e(from, 4));
        if (g < 9) {
            d[4] = e(9 - g, 5);
            d[5] = e(9 - g, 6);
        }
    }
    for (int i = 0; i < kIdeaScheduleWords; ++i) decipher[i] = work[i];
    SecureWipe(work, sizeof work);
}

void IdeaCipherBlock(const uint16_t in[4], uint16_t out[4], const uint16_t schedule[kIdeaScheduleWords]) {
    uint32_t x[1][4] = {{in[0], in[1], in[2], in[3]}};
    CipherWords<1>(x, schedule);
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint16_t>(x[0][i]);
}

void IdeaBlock(uint8_t block[8], const uint16_t schedule[kIdeaScheduleWords]) {
    uint16_t words[4];
    for (int i = 0; i < 4; ++i) words[i] = Load16Le(block + 2 * i);
    IdeaCipherBlock(words, words, schedule);
    for (int i = 0; i < 4; ++i) Store16Le(block + 2 * i, words[i]);
}

void IdeaEncipherCbc(uint8_t* data, size_t blocks, const uint16_t schedule[kIdeaScheduleWords], uint8_t chain[8]) {
    // The chain stays in registers: XORing bytes into memory and reloading them as words
    // would stall every block on store forwarding.
    uint32_t c[1][4];
    for (int j = 0; j < 4; ++j) c[0][j] = Load16Le(chain + 2 * j);
    for (size_t i = 0; i < blocks; ++i, data += 8) {
        for (int j = 0; j < 4; ++j) c[0][j] ^= Load16Le(data + 2 * j);
        CipherWords<1>(c, schedule);
        for (int j = 0; j < 4; ++j) Store16Le(data + 2 * j, static_cast<uint16_t>(c[0][j]));
    }
    for (int j = 0; j < 4; ++j) Store16Le(chain + 2 * j, static_cast<uint16_t>(c[0][j]));
}

void IdeaDecipherCbc(uint8_t* data, size_t blocks, const uint16_t schedule[kIdeaScheduleWords], uint8_t chain[8]) {
    if (HaveAvx2()) {
        const size_t done = DecipherCbcAvx2(data, blocks, schedule, chain);
        data += 8 * done;
        blocks -= done;
    }
    uint32_t c[4];
    for (int j = 0; j < 4; ++j) c[j] = Load16Le(chain + 2 * j);
    for (; blocks >= 4; blocks -= 4, data += 32) DecipherCbcWords<4>(data, schedule, c);
    for (; blocks > 0; --blocks, data += 8) DecipherCbcWords<1>(data, schedule, c);
    for (int j = 0; j < 4; ++j) Store16Le(chain + 2 * j, static_cast<uint16_t>(c[j]));
}

}  // namespace hedgerow::crypto
