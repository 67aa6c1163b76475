// des_test.cpp -- DES and two-key triple DES: published known answers, the key schedule's
// treatment of parity bits, the reduction of triple DES with equal keys to single DES,
// and the buffer routines against the single-block function.

#include "crypto/des.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "support/hex.h"

namespace hedgerow::crypto {
namespace {

using testing::FromHex;
using testing::ToHex;

struct DesCase {
    const char* source;
    const char* key;
    const char* plain;
    const char* cipher;
};

constexpr DesCase kDesCases[] = {
    {"FIPS 46 worked example", "133457799bbcdff1", "0123456789abcdef", "85e813540f0ab405"},
    {"'Now is t' example", "0123456789abcdef", "4e6f772069732074", "3fa40e8a984d4815"},
};

TEST(DesTest, KnownAnswers) {
    for (const DesCase& c : kDesCases) {
        SCOPED_TRACE(c.source);
        const auto key = FromHex(c.key);
        uint32_t encipher[kDesScheduleWords], decipher[kDesScheduleWords];
        DesKeySchedule(key.data(), encipher, false);
        DesKeySchedule(key.data(), decipher, true);
        auto block = FromHex(c.plain);
        DesCipherBlock(block.data(), block.data(), encipher);
        EXPECT_EQ(ToHex(block), c.cipher);
        DesCipherBlock(block.data(), block.data(), decipher);
        EXPECT_EQ(ToHex(block), c.plain);
    }
}

// Rivest's iterated test: x(i+1) = E(key = x(i), x(i)) for even i, D for odd i; after 16
// steps from 9474b8e8c73bca7d it reaches 1b1a2ddb4c642438. It runs many keys and
// blocks through both directions.
TEST(DesTest, RivestIteration) {
    auto x = FromHex("9474b8e8c73bca7d");
    for (int i = 0; i < 16; ++i) {
        uint32_t schedule[kDesScheduleWords];
        DesKeySchedule(x.data(), schedule, i % 2 == 1);
        DesCipherBlock(x.data(), x.data(), schedule);
    }
    EXPECT_EQ(ToHex(x), "1b1a2ddb4c642438");
}

TEST(DesTest, ParityBitsAreIgnored) {
    const auto key = FromHex("133457799bbcdff1");
    auto flipped = key;
    for (auto& b : flipped) b ^= 1;
    uint32_t a[kDesScheduleWords], b[kDesScheduleWords];
    DesKeySchedule(key.data(), a, false);
    DesKeySchedule(flipped.data(), b, false);
    EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
}

TEST(DesTest, TripleDesWithEqualKeysIsSingleDes) {
    const auto key = FromHex("0123456789abcdef");
    uint32_t e[kDesScheduleWords], d[kDesScheduleWords];
    DesKeySchedule(key.data(), e, false);
    DesKeySchedule(key.data(), d, true);
    auto triple = FromHex("4e6f772069732074");
    Des3Block(triple.data(), e, d);
    EXPECT_EQ(ToHex(triple), "3fa40e8a984d4815");
}

// Generated with an independent implementation: two-key EDE in CBC mode.
TEST(DesTest, TripleDesCbcKnownAnswer) {
    const auto k1 = FromHex("0123456789abcdef"), k2 = FromHex("fedcba9876543210");
    uint32_t a[kDesScheduleWords], b[kDesScheduleWords];
    DesKeySchedule(k1.data(), a, false);
    DesKeySchedule(k2.data(), b, true);
    const char* plain = "The quick brown fox jump";
    std::vector<uint8_t> data(plain, plain + 24);
    auto chain = FromHex("1234567890abcdef");
    Des3EncipherCbc(data.data(), 3, a, b, chain.data());
    EXPECT_EQ(ToHex(data), "c90ebacc272c238c7ae45e5e2e41d2607279f6da65693c7a");
    EXPECT_EQ(ToHex(chain), "7279f6da65693c7a");

    DesKeySchedule(k1.data(), a, true);
    DesKeySchedule(k2.data(), b, false);
    chain = FromHex("1234567890abcdef");
    Des3DecipherCbc(data.data(), 3, a, b, chain.data());
    EXPECT_EQ(std::string(data.begin(), data.end()), plain);
}

// The buffer routines may work on several blocks at once; every block count must give
// exactly what the single-block function gives.
TEST(DesTest, BufferRoutinesEqualBlockByBlock) {
    std::mt19937 rng(46);
    std::vector<uint8_t> key(16);
    for (auto& v : key) v = static_cast<uint8_t>(rng());
    uint32_t ea[kDesScheduleWords], db[kDesScheduleWords], da[kDesScheduleWords], eb[kDesScheduleWords];
    DesKeySchedule(key.data(), ea, false);
    DesKeySchedule(key.data() + 8, db, true);
    DesKeySchedule(key.data(), da, true);
    DesKeySchedule(key.data() + 8, eb, false);
    for (size_t blocks : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 9u, 17u, 64u, 1025u}) {
        SCOPED_TRACE(blocks);
        std::vector<uint8_t> plain(blocks * 8);
        for (auto& v : plain) v = static_cast<uint8_t>(rng());

        std::vector<uint8_t> want = plain, got = plain;
        for (size_t i = 0; i < blocks; ++i) DesCipherBlock(&want[8 * i], &want[8 * i], ea);
        DesEcbBuffer(got.data(), blocks, ea);
        ASSERT_EQ(got, want);

        uint8_t chain[8] = {1, 2, 3, 4, 5, 6, 7, 8}, chain_want[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        want = plain;
        for (size_t i = 0; i < blocks; ++i) {
            for (int j = 0; j < 8; ++j) want[8 * i + j] ^= chain_want[j];
            Des3Block(&want[8 * i], ea, db);
            std::memcpy(chain_want, &want[8 * i], 8);
        }
        got = plain;
        Des3EncipherCbc(got.data(), blocks, ea, db, chain);
        ASSERT_EQ(got, want);
        ASSERT_EQ(std::memcmp(chain, chain_want, 8), 0);

        uint8_t start[8] = {1, 2, 3, 4, 5, 6, 7, 8};
        std::memcpy(chain, start, 8);
        Des3DecipherCbc(got.data(), blocks, da, eb, chain);
        ASSERT_EQ(got, plain);
        ASSERT_EQ(std::memcmp(chain, &want[8 * (blocks - 1)], 8), 0);
    }
}

}  // namespace
}  // namespace hedgerow::crypto
