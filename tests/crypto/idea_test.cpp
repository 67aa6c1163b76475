// idea_test.cpp -- IDEA: the published example in this library's byte order, the
// arithmetic modulo 65537 with 0 standing for 65536, inversion of the schedule for keys
// with zero words, and the CBC buffer routines against the single-block function.

#include "crypto/idea.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "support/hex.h"

namespace hedgerow::crypto {
namespace {

using testing::FromHex;
using testing::ToHex;

// The definition: 0 stands for 65536, product modulo 65537, 65536 written as 0.
uint16_t ReferenceMul(uint16_t a, uint16_t b) {
    const uint64_t x = a == 0 ? 65536 : a, y = b == 0 ? 65536 : b;
    return static_cast<uint16_t>((x * y) % 65537);
}

TEST(IdeaTest, PublishedExampleInLittleEndianWords) {
    // Key words 1 ... 8, plaintext words 0 1 2 3, ciphertext 11FB ED2B 0198 6DE5, with
    // the bytes of every word swapped.
    const auto key = FromHex("0100 0200 0300 0400 0500 0600 0700 0800");
    uint16_t words[8], encipher[kIdeaScheduleWords], decipher[kIdeaScheduleWords];
    IdeaKeyWords(key.data(), words);
    IdeaExpandKey(words, encipher);
    IdeaInvertKey(encipher, decipher);
    auto block = FromHex("0000 0100 0200 0300");
    IdeaBlock(block.data(), encipher);
    EXPECT_EQ(ToHex(block), "fb112bed9801e56d");
    IdeaBlock(block.data(), decipher);
    EXPECT_EQ(ToHex(block), "0000010002000300");
}

TEST(IdeaTest, MulTreatsZeroAs65536) {
    struct Case {
        uint16_t a, b, product;
    };
    constexpr Case kCases[] = {
        {0, 0, 1},              // 65536 * 65536 = (-1)(-1)
        {0, 1, 0},              // 65536
        {1, 0, 0},
        {0, 2, 65535},          // -2
        {0, 65535, 2},          // (-1)(-2)
        {65535, 65535, 4},      // (-2)(-2)
        {2, 32769, 1},          // 65538 = 65537 + 1
        {256, 256, 0},          // 65536
        {3, 5, 15},
    };
    for (const Case& c : kCases) {
        EXPECT_EQ(IdeaMul(c.a, c.b), c.product) << c.a << " * " << c.b;
        EXPECT_EQ(IdeaMul(c.b, c.a), c.product) << c.b << " * " << c.a;
    }
    std::mt19937 rng(7);
    for (int i = 0; i < 100000; ++i) {
        const auto a = static_cast<uint16_t>(rng()), b = static_cast<uint16_t>(rng());
        ASSERT_EQ(IdeaMul(a, b), ReferenceMul(a, b)) << a << " * " << b;
    }
}

TEST(IdeaTest, MulInverseOfEveryWord) {
    EXPECT_EQ(IdeaMulInverse(0), 0);
    EXPECT_EQ(IdeaMulInverse(1), 1);
    for (uint32_t a = 0; a < 65536; ++a) {
        ASSERT_EQ(IdeaMul(static_cast<uint16_t>(a), IdeaMulInverse(static_cast<uint16_t>(a))), 1) << a;
    }
}

TEST(IdeaTest, DecipherInvertsEncipherForKeysWithZeroWords) {
    std::mt19937 rng(2);
    for (int trial = 0; trial < 200; ++trial) {
        uint16_t words[8];
        for (auto& w : words) {
            const uint32_t r = rng();
            w = (r & 3) == 0 ? 0 : (r & 3) == 1 ? 1 : static_cast<uint16_t>(r >> 16);
        }
        if (trial == 0) std::memset(words, 0, sizeof words);
        uint16_t encipher[kIdeaScheduleWords], decipher[kIdeaScheduleWords];
        IdeaExpandKey(words, encipher);
        IdeaInvertKey(encipher, decipher);
        uint16_t plain[4], block[4];
        for (auto& w : plain) w = (rng() & 1) ? 0 : static_cast<uint16_t>(rng());
        IdeaCipherBlock(plain, block, encipher);
        IdeaCipherBlock(block, block, decipher);
        ASSERT_EQ(std::memcmp(block, plain, sizeof plain), 0) << trial;
    }
}

TEST(IdeaTest, CbcBufferRoutinesEqualBlockByBlock) {
    std::mt19937 rng(52);
    uint16_t words[8], encipher[kIdeaScheduleWords], decipher[kIdeaScheduleWords];
    for (auto& w : words) w = static_cast<uint16_t>(rng());
    words[3] = 0;
    IdeaExpandKey(words, encipher);
    IdeaInvertKey(encipher, decipher);
    for (size_t blocks : {1u, 2u, 3u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 32u, 33u, 1024u}) {
        SCOPED_TRACE(blocks);
        std::vector<uint8_t> plain(blocks * 8);
        for (auto& v : plain) v = static_cast<uint8_t>(rng());
        // Equal plaintext blocks must still give different ciphertext blocks.
        if (blocks >= 2) std::memcpy(&plain[8], &plain[0], 8);

        uint8_t chain_want[8] = {9, 8, 7, 6, 5, 4, 3, 2};
        std::vector<uint8_t> want = plain;
        for (size_t i = 0; i < blocks; ++i) {
            for (int j = 0; j < 8; ++j) want[8 * i + j] ^= chain_want[j];
            IdeaBlock(&want[8 * i], encipher);
            std::memcpy(chain_want, &want[8 * i], 8);
        }
        uint8_t chain[8] = {9, 8, 7, 6, 5, 4, 3, 2};
        std::vector<uint8_t> got = plain;
        IdeaEncipherCbc(got.data(), blocks, encipher, chain);
        ASSERT_EQ(got, want);
        ASSERT_EQ(std::memcmp(chain, chain_want, 8), 0);
        if (blocks >= 2) {
            EXPECT_NE(std::memcmp(&got[0], &got[8], 8), 0);
        }

        const uint8_t start[8] = {9, 8, 7, 6, 5, 4, 3, 2};
        std::memcpy(chain, start, 8);
        IdeaDecipherCbc(got.data(), blocks, decipher, chain);
        ASSERT_EQ(got, plain);
        ASSERT_EQ(std::memcmp(chain, &want[8 * (blocks - 1)], 8), 0);
    }
}

// Deciphering arbitrary data, full of zero words, under keys with zero subkeys: the batched
// path (sixteen blocks at once where the processor allows) must give what deciphering
// block by block gives, zero standing for 65536 in every multiplication.
TEST(IdeaTest, DecipheringZeroWordsAgreesWithBlockByBlock) {
    std::mt19937 rng(65537);
    for (int trial = 0; trial < 3; ++trial) {
        uint16_t words[8] = {};
        if (trial > 0) {
            for (auto& w : words) w = (rng() % 3 == 0) ? 0 : static_cast<uint16_t>(rng());
        }
        uint16_t encipher[kIdeaScheduleWords], decipher[kIdeaScheduleWords];
        IdeaExpandKey(words, encipher);
        IdeaInvertKey(encipher, decipher);
        std::vector<uint8_t> data(8 * 67);
        for (size_t i = 0; i < data.size(); i += 2) {
            const uint16_t w = (rng() % 3 == 0) ? 0 : static_cast<uint16_t>(rng());
            data[i] = static_cast<uint8_t>(w);
            data[i + 1] = static_cast<uint8_t>(w >> 8);
        }
        std::vector<uint8_t> want = data;
        uint8_t chain_want[8] = {};
        for (size_t i = 0; i < want.size(); i += 8) {
            uint8_t copy[8];
            std::memcpy(copy, &want[i], 8);
            IdeaBlock(&want[i], decipher);
            for (int j = 0; j < 8; ++j) want[i + j] ^= chain_want[j];
            std::memcpy(chain_want, copy, 8);
        }
        uint8_t chain[8] = {};
        IdeaDecipherCbc(data.data(), data.size() / 8, decipher, chain);
        EXPECT_EQ(ToHex(data), ToHex(want)) << trial;
        EXPECT_EQ(std::memcmp(chain, chain_want, 8), 0);
    }
}

}  // namespace
}  // namespace hedgerow::crypto
