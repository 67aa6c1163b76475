// levels_test.cpp -- every compression level against the one decoder: each level's output
// of text, binary, incompressible data, runs, a file longer than the window, one byte and
// nothing decodes to its input; stronger levels do not come out larger on text; a level's
// output of a file does not depend on the files its tables saw before.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "codec/encoder_chains.h"
#include "support/codec_harness.h"

namespace hedgerow::codec {
namespace {

using testing::Compress;
using testing::Expand;
using testing::NewState;

std::vector<uint8_t> Text(size_t size, uint32_t seed) {
    static const char* const kWords[] = {"hedge", "row", "archive", "entry", "the", "of", "window", "copy",
                                         "length", "distance", "and", "block", "table", "symbol", "code"};
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    while (out.size() < size) {
        std::string word = kWords[rng() % 15];
        if (rng() % 7 == 0) word = std::to_string(rng() % 100000);
        word += (rng() % 11 == 0) ? "\n" : " ";
        for (char c : word)
            if (out.size() < size) out.push_back(static_cast<uint8_t>(c));
    }
    return out;
}

std::vector<uint8_t> Random(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out(size);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

// Little-endian records with small fields and repeated structure, as in program files.
std::vector<uint8_t> Binary(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    while (out.size() < size) {
        const auto r = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
        const uint32_t words[4] = {0x400000u + r(4096) * 16, r(64), 0, 0xE8u | r(3) << 8};
        for (uint32_t w : words)
            for (int k = 0; k < 4 && out.size() < size; ++k) out.push_back(static_cast<uint8_t>(w >> (8 * k)));
    }
    return out;
}

// Runs of one byte with short gaps of others between them.
std::vector<uint8_t> Runs(size_t size) {
    std::vector<uint8_t> out;
    for (uint32_t i = 0; out.size() < size; ++i) out.insert(out.end(), std::min<size_t>(1 + i % 700, size - out.size()), static_cast<uint8_t>(i % 5));
    return out;
}

// Longer than the decoder's window, with a block of random bytes repeated 300 KiB and then
// 1100 KiB later: a copy from a far distance, and one beyond the window that must not be used.
std::vector<uint8_t> LongerThanTheWindow() {
    std::vector<uint8_t> out = Text(300 * 1024, 7);
    const auto block = Random(60000, 8);
    for (size_t gap : {300u * 1024, 1100u * 1024}) {
        out.insert(out.end(), block.begin(), block.end());
        const auto filler = Text(gap - block.size(), static_cast<uint32_t>(gap));
        out.insert(out.end(), filler.begin(), filler.end());
    }
    return out;
}

// Around the optimal parse's piece size: a piece of random bytes whose start comes back as a
// copy across the piece's end, and text one byte short of a piece, a piece, one byte over.
std::vector<uint8_t> CopyAcrossAPiece() {
    std::vector<uint8_t> out = Random(kParsePiece - 100, 12);
    out.insert(out.end(), out.begin(), out.begin() + 400);
    const auto tail = Text(5000, 13);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

struct Input {
    const char* name;
    std::vector<uint8_t> bytes;
};

const std::vector<Input>& Inputs() {
    static const std::vector<Input> inputs = {
        {"text", Text(200000, 1)},
        {"binary", Binary(150000, 2)},
        {"incompressible", Random(70000, 3)},
        {"runs", Runs(400000)},
        {"longer than the window", LongerThanTheWindow()},
        {"a copy across a piece", CopyAcrossAPiece()},
        {"a piece less one byte", Text(kParsePiece - 1, 14)},
        {"a piece", Text(kParsePiece, 14)},
        {"a piece and one byte", Text(kParsePiece + 1, 14)},
        {"empty", {}},
        {"one byte", {0x41}},
        {"two bytes", {0x41, 0x41}},
    };
    return inputs;
}

testing::PackedEntry CompressAt(testing::TestCall& st, int level, const std::vector<uint8_t>& input) {
    if (st.encoder.level != level) {
        FreeEncoderTables(st.encoder);
        st.encoder.level = level;
    }
    return Compress(st, input);
}

TEST(LevelsTest, EveryLevelRoundTripsEveryInput) {
    for (int level = kStoreLevel; level <= kBestLevel; ++level) {
        // Every third level also through a cipher with chain blocks and padding.
        {
            const int32_t cipher = level % 3 == 0 ? crypto::kCipherIdea : crypto::kCipherNone;
            auto st = NewState(cipher);
            for (const Input& input : Inputs()) {
                SCOPED_TRACE(std::string(input.name) + " at level " + std::to_string(level) + ", cipher " +
                             std::to_string(cipher));
                const auto packed = CompressAt(*st, level, input.bytes);
                ASSERT_TRUE(packed.ok) << "status " << st->session.status;
                const auto size = static_cast<int32_t>(input.bytes.size());
                if (level == kStoreLevel) {
                    EXPECT_GE(packed.packed_size, size);  // stored, by the size rule
                }
                const auto expanded = Expand(*st, packed.payload, size);
                ASSERT_TRUE(expanded.ok) << "status " << st->session.status;
                EXPECT_EQ(expanded.crc, packed.crc);
                EXPECT_TRUE(expanded.bytes == input.bytes);
            }
        }
    }
}

TEST(LevelsTest, StrongerLevelsPackTighter) {
    const auto text = Text(600000, 11);
    std::vector<int32_t> sizes;
    for (int level = kFastestLevel; level <= kBestLevel; ++level) {
        auto st = NewState(crypto::kCipherNone);
        sizes.push_back(CompressAt(*st, level, text).packed_size);
    }
    SCOPED_TRACE(::testing::PrintToString(sizes));
    EXPECT_LT(sizes[0], static_cast<int32_t>(text.size() / 2));
    EXPECT_LE(sizes[2], sizes[0]);  // 3 against 1
    EXPECT_LE(sizes[8], sizes[4]);  // 9 against 5
}

// A worker's tables go from file to file: what one file leaves in them must not change the
// next file's output, or the archive would depend on how files fall to workers.
TEST(LevelsTest, OutputDoesNotDependOnEarlierFiles) {
    const auto first = LongerThanTheWindow();
    const auto second = Text(300000, 5);
    for (int level = kFastestLevel; level <= kBestLevel; ++level) {
        SCOPED_TRACE(level);
        auto used = NewState(crypto::kCipherNone);
        (void)CompressAt(*used, level, first);
        (void)CompressAt(*used, level, Random(5000, 6));
        auto fresh = NewState(crypto::kCipherNone);
        EXPECT_EQ(CompressAt(*used, level, second).payload, CompressAt(*fresh, level, second).payload);
    }
}

}  // namespace
}  // namespace hedgerow::codec
