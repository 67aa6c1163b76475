// crc32_test.cpp -- CRC-32 check value, and both the dispatching and the portable code
// against a bit-by-bit reference on empty, unaligned, long and incrementally fed input.

#include "crypto/crc32.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace hedgerow::crypto {
namespace {

// The definition itself: one bit at a time, reflected polynomial 0xEDB88320.
uint32_t BitwiseCrc32Update(uint32_t crc, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

TEST(Crc32Test, CheckValue) {
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
    EXPECT_EQ(Crc32("", 0), 0u);
}

TEST(Crc32Test, EqualsBitwiseReferenceAtEveryOffsetAndLength) {
    std::mt19937 rng(1234);
    std::vector<uint8_t> data(4096 + 64);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    for (size_t offset = 0; offset < 16; ++offset) {
        for (size_t length : {0u, 1u, 3u, 7u, 8u, 9u, 15u, 16u, 17u, 31u, 32u, 33u, 63u, 64u, 65u, 127u, 128u, 129u,
                              255u, 1000u, 4096u}) {
            const uint32_t want = BitwiseCrc32Update(0xFFFFFFFFu, data.data() + offset, length);
            ASSERT_EQ(Crc32Update(0xFFFFFFFFu, data.data() + offset, length), want) << offset << "+" << length;
            ASSERT_EQ(Crc32UpdatePortable(0xFFFFFFFFu, data.data() + offset, length), want) << offset << "+" << length;
        }
    }
}

TEST(Crc32Test, IncrementalEqualsOneGo) {
    std::mt19937 rng(99);
    std::vector<uint8_t> data(3000);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    const uint32_t whole = Crc32(data.data(), data.size());
    for (size_t piece : {1u, 5u, 8u, 13u, 64u, 333u, 2999u}) {
        uint32_t crc = 0xFFFFFFFFu;
        for (size_t at = 0; at < data.size(); at += piece) {
            crc = Crc32Update(crc, data.data() + at, std::min(piece, data.size() - at));
        }
        EXPECT_EQ(~crc, whole) << piece;
    }
}

}  // namespace
}  // namespace hedgerow::crypto
