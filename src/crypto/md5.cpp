// md5.cpp -- MD5 (RFC 1321). Only public data flows through it (password bytes are
// secret, but the digest is not compared anywhere), so timing is not a concern here.

#include "crypto/md5.h"

#include <cstring>

#include "crypto/grouping.h"
#include "crypto/wipe.h"
#include "common/byte_order.h"

namespace hedgerow::crypto {
namespace {

inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

// One step each of the four rounds: a = b + ((a + F(b, c, d) + m + T) <<< s), where
// mt = m + T (RFC 1321 section 3.4). The terms are grouped so that everything not
// depending on b, the value the previous step has just produced, is summed first:
// that shortens the chain of dependent instructions, which bounds MD5's speed.
// The sum of the terms known early, held as written (compilers like to move the
// constant to the end of the sum, onto the critical path).
inline uint32_t Early(uint32_t x) {
    KeepGrouping(x);
    return x;
}

template <int S>
inline void StepF(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t mt) {
    a = Rotl(Early(a + mt) + (d ^ (b & (c ^ d))), S) + b;
}
template <int S>
inline void StepG(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t mt) {
    // (b & d) | (c & ~d): the two parts never share a bit, so OR is addition.
    a = Rotl(Early(a + mt + (c & ~d)) + (b & d), S) + b;
}
template <int S>
inline void StepH(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t mt) {
    a = Rotl(Early(a + mt) + (b ^ (c ^ d)), S) + b;
}
template <int S>
inline void StepI(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t mt) {
    a = Rotl(Early(a + mt) + (c ^ (b | ~d)), S) + b;
}

// T[i] = floor(2^32 * |sin(i + 1)|) (RFC 1321 section 3.4), in step order.
constexpr uint32_t kT[64] = {
    0xd76aa478u, 0xe8c7b756u, 0x242070dbu, 0xc1bdceeeu, 0xf57c0fafu, 0x4787c62au, 0xa8304613u, 0xfd469501u,
    0x698098d8u, 0x8b44f7afu, 0xffff5bb1u, 0x895cd7beu, 0x6b901122u, 0xfd987193u, 0xa679438eu, 0x49b40821u,
    0xf61e2562u, 0xc040b340u, 0x265e5a51u, 0xe9b6c7aau, 0xd62f105du, 0x02441453u, 0xd8a1e681u, 0xe7d3fbc8u,
    0x21e1cde6u, 0xc33707d6u, 0xf4d50d87u, 0x455a14edu, 0xa9e3e905u, 0xfcefa3f8u, 0x676f02d9u, 0x8d2a4c8au,
    0xfffa3942u, 0x8771f681u, 0x6d9d6122u, 0xfde5380cu, 0xa4beea44u, 0x4bdecfa9u, 0xf6bb4b60u, 0xbebfbc70u,
    0x289b7ec6u, 0xeaa127fau, 0xd4ef3085u, 0x04881d05u, 0xd9d4d039u, 0xe6db99e5u, 0x1fa27cf8u, 0xc4ac5665u,
    0xf4292244u, 0x432aff97u, 0xab9423a7u, 0xfc93a039u, 0x655b59c3u, 0x8f0ccc92u, 0xffeff47du, 0x85845dd1u,
    0x6fa87e4fu, 0xfe2ce6e0u, 0xa3014314u, 0x4e0811a1u, 0xf7537e82u, 0xbd3af235u, 0x2ad7d2bbu, 0xeb86d391u,
};

#ifdef HEDGEROW_COMPACT
// The compact build (the self-extractor program) takes the 64 steps in a loop: a quarter
// of the code, for the few password digests that program takes.
constexpr int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

void Compress(uint32_t state[4], const uint8_t* block, size_t blocks) {
    uint32_t m[16];
    for (; blocks > 0; --blocks, block += kMd5BlockSize) {
        for (int i = 0; i < 16; ++i) m[i] = Load32Le(block + 4 * i);
        uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        for (int i = 0; i < 64; ++i) {
            const int round = i / 16;
            uint32_t f = 0;
            int k = 0;
            switch (round) {
                case 0: f = d ^ (b & (c ^ d)), k = i; break;
                case 1: f = c ^ (d & (b ^ c)), k = (5 * i + 1) % 16; break;
                case 2: f = b ^ c ^ d, k = (3 * i + 5) % 16; break;
                default: f = c ^ (b | ~d), k = (7 * i) % 16; break;
            }
            const uint32_t next = b + Rotl(a + f + m[k] + kT[i], kShift[round][i % 4]);
            a = d;
            d = c;
            c = b;
            b = next;
        }
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
    }
    SecureWipe(m, sizeof m);
}
#else
// Whole 64-byte blocks. The 64 steps are written out, with T[i] = floor(2^32 *
// |sin(i + 1)|), the message word order and the rotation counts of RFC 1321 section 3.4.
// The state stays in registers from block to block: storing and reloading it would put
// a store-to-load forwarding delay on the serial path once per block.
void Compress(uint32_t state[4], const uint8_t* block, size_t blocks) {
    uint32_t m[16];
    uint32_t a0 = state[0], b0 = state[1], c0 = state[2], d0 = state[3];
    for (; blocks > 0; --blocks, block += kMd5BlockSize) {
        for (int i = 0; i < 16; ++i) m[i] = Load32Le(block + 4 * i);
        uint32_t a = a0, b = b0, c = c0, d = d0;
        StepF< 7>(a, b, c, d, m[ 0] + kT[ 0]);
        StepF<12>(d, a, b, c, m[ 1] + kT[ 1]);
        StepF<17>(c, d, a, b, m[ 2] + kT[ 2]);
        StepF<22>(b, c, d, a, m[ 3] + kT[ 3]);
        StepF< 7>(a, b, c, d, m[ 4] + kT[ 4]);
        StepF<12>(d, a, b, c, m[ 5] + kT[ 5]);
        StepF<17>(c, d, a, b, m[ 6] + kT[ 6]);
        StepF<22>(b, c, d, a, m[ 7] + kT[ 7]);
        StepF< 7>(a, b, c, d, m[ 8] + kT[ 8]);
        StepF<12>(d, a, b, c, m[ 9] + kT[ 9]);
        StepF<17>(c, d, a, b, m[10] + kT[10]);
        StepF<22>(b, c, d, a, m[11] + kT[11]);
        StepF< 7>(a, b, c, d, m[12] + kT[12]);
        StepF<12>(d, a, b, c, m[13] + kT[13]);
        StepF<17>(c, d, a, b, m[14] + kT[14]);
        StepF<22>(b, c, d, a, m[15] + kT[15]);
        StepG< 5>(a, b, c, d, m[ 1] + kT[16]);
        StepG< 9>(d, a, b, c, m[ 6] + kT[17]);
        StepG<14>(c, d, a, b, m[11] + kT[18]);
        StepG<20>(b, c, d, a, m[ 0] + kT[19]);
        StepG< 5>(a, b, c, d, m[ 5] + kT[20]);
        StepG< 9>(d, a, b, c, m[10] + kT[21]);
        StepG<14>(c, d, a, b, m[15] + kT[22]);
        StepG<20>(b, c, d, a, m[ 4] + kT[23]);
        StepG< 5>(a, b, c, d, m[ 9] + kT[24]);
        StepG< 9>(d, a, b, c, m[14] + kT[25]);
        StepG<14>(c, d, a, b, m[ 3] + kT[26]);
        StepG<20>(b, c, d, a, m[ 8] + kT[27]);
        StepG< 5>(a, b, c, d, m[13] + kT[28]);
        StepG< 9>(d, a, b, c, m[ 2] + kT[29]);
        StepG<14>(c, d, a, b, m[ 7] + kT[30]);
        StepG<20>(b, c, d, a, m[12] + kT[31]);
        StepH< 4>(a, b, c, d, m[ 5] + kT[32]);
        StepH<11>(d, a, b, c, m[ 8] + kT[33]);
        StepH<16>(c, d, a, b, m[11] + kT[34]);
        StepH<23>(b, c, d, a, m[14] + kT[35]);
        StepH< 4>(a, b, c, d, m[ 1] + kT[36]);
        StepH<11>(d, a, b, c, m[ 4] + kT[37]);
        StepH<16>(c, d, a, b, m[ 7] + kT[38]);
        StepH<23>(b, c, d, a, m[10] + kT[39]);
        StepH< 4>(a, b, c, d, m[13] + kT[40]);
        StepH<11>(d, a, b, c, m[ 0] + kT[41]);
        StepH<16>(c, d, a, b, m[ 3] + kT[42]);
        StepH<23>(b, c, d, a, m[ 6] + kT[43]);
        StepH< 4>(a, b, c, d, m[ 9] + kT[44]);
        StepH<11>(d, a, b, c, m[12] + kT[45]);
        StepH<16>(c, d, a, b, m[15] + kT[46]);
        StepH<23>(b, c, d, a, m[ 2] + kT[47]);
        StepI< 6>(a, b, c, d, m[ 0] + kT[48]);
        StepI<10>(d, a, b, c, m[ 7] + kT[49]);
        StepI<15>(c, d, a, b, m[14] + kT[50]);
        StepI<21>(b, c, d, a, m[ 5] + kT[51]);
        StepI< 6>(a, b, c, d, m[12] + kT[52]);
        StepI<10>(d, a, b, c, m[ 3] + kT[53]);
        StepI<15>(c, d, a, b, m[10] + kT[54]);
        StepI<21>(b, c, d, a, m[ 1] + kT[55]);
        StepI< 6>(a, b, c, d, m[ 8] + kT[56]);
        StepI<10>(d, a, b, c, m[15] + kT[57]);
        StepI<15>(c, d, a, b, m[ 6] + kT[58]);
        StepI<21>(b, c, d, a, m[13] + kT[59]);
        StepI< 6>(a, b, c, d, m[ 4] + kT[60]);
        StepI<10>(d, a, b, c, m[11] + kT[61]);
        StepI<15>(c, d, a, b, m[ 2] + kT[62]);
        StepI<21>(b, c, d, a, m[ 9] + kT[63]);
        a0 += a;
        b0 += b;
        c0 += c;
        d0 += d;
    }
    state[0] = a0;
    state[1] = b0;
    state[2] = c0;
    state[3] = d0;
    // The words may be password bytes; leave no copy in the dead stack frame.
    SecureWipe(m, sizeof m);
}
#endif

}  // namespace

void Md5Init(Md5Context& context) {
    context.state[0] = 0x67452301;
    context.state[1] = 0xefcdab89;
    context.state[2] = 0x98badcfe;
    context.state[3] = 0x10325476;
    context.length = 0;
}

void Md5Update(Md5Context& context, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    size_t used = static_cast<size_t>(context.length % kMd5BlockSize);
    context.length += n;
    if (used != 0) {
        const size_t take = n < kMd5BlockSize - used ? n : kMd5BlockSize - used;
        std::memcpy(context.pending + used, p, take);
        p += take;
        n -= take;
        used += take;
        if (used < kMd5BlockSize) return;
        Compress(context.state, context.pending, 1);
    }
    const size_t whole = n / kMd5BlockSize;
    Compress(context.state, p, whole);
    p += whole * kMd5BlockSize;
    n -= whole * kMd5BlockSize;
    if (n != 0) std::memcpy(context.pending, p, n);
}

void Md5Final(Md5Context& context, uint8_t digest[kMd5DigestSize]) {
    const uint64_t bits = context.length * 8;
    uint8_t tail[2 * kMd5BlockSize] = {0x80};
    const size_t used = static_cast<size_t>(context.length % kMd5BlockSize);
    // Pad with 0x80 and zeros up to 56 mod 64, then the bit length little-endian.
    const size_t pad = (used < 56 ? 56 : 120) - used;
    Store32Le(tail + pad, static_cast<uint32_t>(bits));
    Store32Le(tail + pad + 4, static_cast<uint32_t>(bits >> 32));
    Md5Update(context, tail, pad + 8);
    for (int i = 0; i < 4; ++i) Store32Le(digest + 4 * i, context.state[i]);
    SecureWipe(&context, sizeof context);
}

void Md5(const void* data, size_t n, uint8_t digest[kMd5DigestSize]) {
    Md5Context context;
    Md5Init(context);
    Md5Update(context, data, n);
    Md5Final(context, digest);
}

}  // namespace hedgerow::crypto
