// idea.cpp -- IDEA: key schedule, its inversion, the block function and CBC mode.

#include "crypto/idea.h"

#include "crypto/wipe.h"
#include "frame/byte_order.h"

namespace hedgerow::crypto {

uint16_t IdeaMul(uint16_t a, uint16_t b) {
    if (a == 0) return static_cast<uint16_t>(1 - b);
    if (b == 0) return static_cast<uint16_t>(1 - a);
    const uint32_t p = static_cast<uint32_t>(a) * b;
    const int32_t t = static_cast<int32_t>(p & 0xFFFF) - static_cast<int32_t>(p >> 16);
    return static_cast<uint16_t>(t > 0 ? t : t + 65537);
}

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
    uint16_t x1 = in[0], x2 = in[1], x3 = in[2], x4 = in[3];
    const uint16_t* k = schedule;
    for (int round = 0; round < 8; ++round, k += 6) {
        x1 = IdeaMul(x1, k[0]);
        x2 = static_cast<uint16_t>(x2 + k[1]);
        x3 = static_cast<uint16_t>(x3 + k[2]);
        x4 = IdeaMul(x4, k[3]);
        uint16_t t2 = IdeaMul(static_cast<uint16_t>(x1 ^ x3), k[4]);
        const uint16_t t1 = IdeaMul(static_cast<uint16_t>((x2 ^ x4) + t2), k[5]);
        t2 = static_cast<uint16_t>(t1 + t2);
        x1 ^= t1;
        x4 ^= t2;
        const uint16_t new_x2 = x3 ^ t1;
        x3 = x2 ^ t2;
        x2 = new_x2;
    }
    out[0] = IdeaMul(x1, k[0]);
    out[1] = static_cast<uint16_t>(x3 + k[1]);
    out[2] = static_cast<uint16_t>(x2 + k[2]);
    out[3] = IdeaMul(x4, k[3]);
}

void IdeaBlock(uint8_t block[8], const uint16_t schedule[kIdeaScheduleWords]) {
    uint16_t words[4];
    for (int i = 0; i < 4; ++i) words[i] = Load16Le(block + 2 * i);
    IdeaCipherBlock(words, words, schedule);
    for (int i = 0; i < 4; ++i) Store16Le(block + 2 * i, words[i]);
}

void IdeaEncipherCbc(uint8_t* data, size_t blocks, const uint16_t schedule[kIdeaScheduleWords], uint8_t chain[8]) {
    for (size_t i = 0; i < blocks; ++i, data += 8) {
        for (int j = 0; j < 8; ++j) data[j] ^= chain[j];
        IdeaBlock(data, schedule);
        for (int j = 0; j < 8; ++j) chain[j] = data[j];
    }
}

void IdeaDecipherCbc(uint8_t* data, size_t blocks, const uint16_t schedule[kIdeaScheduleWords], uint8_t chain[8]) {
    for (size_t i = 0; i < blocks; ++i, data += 8) {
        uint8_t copy[8];
        for (int j = 0; j < 8; ++j) copy[j] = data[j];
        IdeaBlock(data, schedule);
        for (int j = 0; j < 8; ++j) {
            data[j] ^= chain[j];
            chain[j] = copy[j];
        }
    }
}

}  // namespace hedgerow::crypto
