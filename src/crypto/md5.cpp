// md5.cpp -- MD5 (RFC 1321). Only public data flows through it (password bytes are
// secret, but the digest is not compared anywhere), so timing is not a concern here.

#include "crypto/md5.h"

#include <array>
#include <cstring>

#include "frame/byte_order.h"
#include "crypto/wipe.h"

namespace hedgerow::crypto {
namespace {

// T[i] = floor(2^32 * |sin(i + 1)|), RFC 1321 section 3.4.
constexpr std::array<uint32_t, 64> kSine = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

// Rotation counts per round (four per round, repeating), RFC 1321 section 3.4.
constexpr std::array<int, 16> kShift = {7, 12, 17, 22, 5, 9, 14, 20, 4, 11, 16, 23, 6, 10, 15, 21};

inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void Compress(uint32_t state[4], const uint8_t* block) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i) m[i] = Load32Le(block + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        switch (i / 16) {
            case 0: f = (b & c) | (~b & d); g = i; break;
            case 1: f = (b & d) | (c & ~d); g = (5 * i + 1) % 16; break;
            case 2: f = b ^ c ^ d; g = (3 * i + 5) % 16; break;
            default: f = c ^ (b | ~d); g = (7 * i) % 16; break;
        }
        const uint32_t next = b + Rotl(a + f + kSine[i] + m[g], kShift[(i / 16) * 4 + i % 4]);
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
        Compress(context.state, context.pending);
    }
    for (; n >= kMd5BlockSize; n -= kMd5BlockSize, p += kMd5BlockSize) Compress(context.state, p);
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
