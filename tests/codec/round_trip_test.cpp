// round_trip_test.cpp -- whole entries through the stream layer, encoder and decoder, with
// every cipher: sizes around each buffer and window boundary, text, zeros, random bytes
// and files of this machine.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support/codec_harness.h"
#include "support/temp_dir.h"

namespace hedgerow::codec {
namespace {

using testing::Compress;
using testing::Expand;
using testing::NewState;

enum class Pattern { kText, kZeros, kRandom };

std::vector<uint8_t> Make(Pattern pattern, size_t size, uint32_t seed) {
    std::vector<uint8_t> out;
    out.reserve(size);
    std::mt19937 rng(seed);
    if (pattern == Pattern::kZeros) return std::vector<uint8_t>(size, 0);
    if (pattern == Pattern::kRandom) {
        for (size_t i = 0; i < size; ++i) out.push_back(static_cast<uint8_t>(rng()));
        return out;
    }
    // Text-like: words from a small vocabulary, numbers and line breaks.
    static const char* const kWords[] = {"hedge", "row", "archive", "entry", "the", "of", "window", "copy",
                                         "length", "distance", "and", "block", "table", "symbol", "code"};
    while (out.size() < size) {
        std::string word = kWords[rng() % 15];
        if (rng() % 7 == 0) word = std::to_string(rng() % 100000);
        word += (rng() % 11 == 0) ? "\n" : " ";
        for (char c : word) {
            if (out.size() < size) out.push_back(static_cast<uint8_t>(c));
        }
    }
    return out;
}

struct Case {
    size_t size;
    Pattern pattern;
    int32_t cipher;
};

void CheckRoundTrip(const std::vector<uint8_t>& input, int32_t cipher) {
    auto st = NewState(cipher);
    const auto packed = Compress(*st, input);
    ASSERT_TRUE(packed.ok) << "status " << st->session.status;
    EXPECT_EQ(packed.crc, crypto::Crc32(input.data(), input.size()));
    ASSERT_EQ(packed.payload.size(), static_cast<size_t>(packed.packed_size));
    const auto expanded = Expand(*st, packed.payload, static_cast<int32_t>(input.size()));
    ASSERT_TRUE(expanded.ok) << "status " << st->session.status;
    EXPECT_EQ(expanded.crc, packed.crc);
    ASSERT_EQ(expanded.bytes.size(), input.size());
    EXPECT_TRUE(expanded.bytes == input);
}

TEST(RoundTripTest, SizesPatternsAndCiphers) {
    const Case cases[] = {
        {0, Pattern::kText, -1},        {0, Pattern::kZeros, 2},        {1, Pattern::kText, -1},
        {1, Pattern::kText, 1},         {261, Pattern::kText, 0},       {262, Pattern::kText, 2},
        {8191, Pattern::kText, -1},     {8192, Pattern::kText, 1},      {8195, Pattern::kText, 0},
        {524030, Pattern::kText, 2},    {1200000, Pattern::kText, -1},  {1100000, Pattern::kText, 1},
        {2000000, Pattern::kZeros, 0},  {300000, Pattern::kRandom, 1},  {8195, Pattern::kRandom, -1},
        {100, Pattern::kRandom, 2},
    };
    uint32_t seed = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE("size " + std::to_string(c.size) + " cipher " + std::to_string(c.cipher));
        CheckRoundTrip(Make(c.pattern, c.size, seed++), c.cipher);
    }
}

// Which reader an entry gets follows from its sizes alone: random bytes are stored (and
// never shorter than the source), anything that shrinks is compressed.
TEST(RoundTripTest, IncompressibleInputIsStored) {
    for (int32_t cipher : {-1, 0, 1, 2}) {
        SCOPED_TRACE(cipher);
        auto st = NewState(cipher);
        const auto random = Make(Pattern::kRandom, 50000, 7);
        const auto packed = Compress(*st, random);
        ASSERT_TRUE(packed.ok);
        EXPECT_GE(packed.packed_size, 50000);
        const auto text = Make(Pattern::kText, 50000, 7);
        EXPECT_LT(Compress(*st, text).packed_size, 25000);
        const auto zeros = Make(Pattern::kZeros, 50000, 7);
        EXPECT_LT(Compress(*st, zeros).packed_size, 1000);
    }
}

TEST(RoundTripTest, FilesOfThisMachine) {
    const char* const paths[] = {"/usr/include/stdio.h", "/usr/bin/ls", "/usr/bin/cmake"};
    int tried = 0;
    for (const char* path : paths) {
        auto bytes = testing::ReadFile(path);
        if (bytes.empty()) continue;
        if (bytes.size() > 3000000) bytes.resize(3000000);
        SCOPED_TRACE(path);
        ++tried;
        CheckRoundTrip(bytes, tried % 2 == 0 ? 2 : -1);
    }
    if (tried == 0) GTEST_SKIP() << "none of the sample files is on this machine";
}

}  // namespace
}  // namespace hedgerow::codec
