// encoder_test.cpp -- the encoder's symbol stream on inputs built so that each match is
// known in advance, code construction (padding of small codes, the length limit), and
// golden packed outputs that any later change of the encoder must reproduce bit for bit.
#include "codec/encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/codec_harness.h"

namespace hedgerow::codec {
namespace {

using testing::NewState;
using testing::TestCall;
using testing::TmpFile;
using Symbols = std::vector<std::pair<uint32_t, uint32_t>>;

// A slow reference reader of the packed stream (LZ blocks without kept lengths, as the
// encoder writes them): walks each code bit by bit and gives back the symbols in the form
// the encoder buffers them (long copies as 270 + adjusted length with the distance).
class SymbolReader {
public:
    explicit SymbolReader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}

    Symbols ReadAll(size_t unpacked_size) {
        Symbols out;
        size_t produced = 0;
        ReadHeader();
        while (produced < unpacked_size) {
            const int sym = ReadSymbol(main_);
            if (sym == 269) {
                ReadHeader();
                continue;
            }
            if (sym < 256) {
                out.emplace_back(sym, 0);
                ++produced;
            } else if (sym == 256) {
                out.emplace_back(256, 0);
                produced += last_length_;
            } else if (sym < 261) {
                const int r = ReadSymbol(repeat_);
                const uint32_t v = kLengthBase[r] + Bits(kLengthExtra[r]);
                const uint32_t d = ring_[(ring_pointer_ - (sym - 256)) & 3u];
                out.emplace_back(sym, v);
                Copied(v + 2 + (d >= 257) + (d >= 8192), d);
                produced += last_length_;
            } else {
                const int l = sym - 270;
                const uint32_t length = kLengthBase[l] + 3 + Bits(kLengthExtra[l]);
                const int ds = ReadSymbol(distance_);
                const uint32_t d = kDistanceBase[ds] + 1 + Bits(kDistanceExtra[ds]);
                out.emplace_back(270 + length, d);
                Copied(length + (d >= 8192), d);
                produced += last_length_;
            }
        }
        return out;
    }

private:
    using Code = std::vector<std::pair<int, int>>;  // per symbol: (length, code)

    uint32_t Bits(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++bit_) {
            const size_t byte = bit_ / 8;
            const uint32_t b = byte < bytes_.size() ? (bytes_[byte] >> (7 - bit_ % 8)) & 1u : 0u;
            v = (v << 1) | b;
        }
        return v;
    }
    static Code MakeCode(const std::vector<int>& lengths) {
        const auto codes = testing::CanonicalCodes(lengths);
        Code code;
        for (size_t s = 0; s < lengths.size(); ++s) code.emplace_back(lengths[s], static_cast<int>(codes[s]));
        return code;
    }
    int ReadSymbol(const Code& code) {
        uint32_t v = 0;
        for (int len = 1; len <= 15; ++len) {
            v = (v << 1) | Bits(1);
            for (size_t s = 0; s < code.size(); ++s)
                if (code[s].first == len && static_cast<uint32_t>(code[s].second) == v) return static_cast<int>(s);
        }
        ADD_FAILURE() << "no code matches";
        return 0;
    }
    void ReadHeader() {
        EXPECT_EQ(Bits(2), 0u);  // LZ block, lengths not kept
        std::vector<int> ll;
        for (int i = 0; i < 19; ++i) ll.push_back(static_cast<int>(Bits(4)));
        const Code length_code = MakeCode(ll);
        std::vector<int> lengths;
        while (lengths.size() < 374) {
            const int s = ReadSymbol(length_code);
            if (s < 16) {
                lengths.push_back(s);
            } else if (s == 16) {
                const int n = static_cast<int>(Bits(2)) + 3;
                const int prev = lengths.back();
                for (int i = 0; i < n; ++i) lengths.push_back(prev);
            } else {
                const int n = s == 17 ? static_cast<int>(Bits(3)) + 3 : static_cast<int>(Bits(7)) + 11;
                for (int i = 0; i < n; ++i) lengths.push_back(0);
            }
        }
        main_ = MakeCode({lengths.begin(), lengths.begin() + 298});
        distance_ = MakeCode({lengths.begin() + 298, lengths.begin() + 346});
        repeat_ = MakeCode({lengths.begin() + 346, lengths.begin() + 374});
    }
    void Copied(uint32_t length, uint32_t distance) {
        last_length_ = length;
        ring_[ring_pointer_++ & 3u] = distance;
    }

    const std::vector<uint8_t>& bytes_;
    size_t bit_ = 0;
    Code main_, distance_, repeat_;
    uint32_t ring_[4] = {};
    uint32_t ring_pointer_ = 0;
    uint32_t last_length_ = 0;
};

// Compresses input (no cipher) and reads the symbols back from the packed stream.
Symbols EncodeToSymbols(TestCall& st, const std::vector<uint8_t>& input) {
    const auto packed = testing::Compress(st, input);
    EXPECT_TRUE(packed.ok);
    EXPECT_LT(packed.packed_size, static_cast<int32_t>(input.size())) << "stored, not compressed";
    return SymbolReader(packed.payload).ReadAll(input.size());
}

// Filler without any repeated three-byte string: three-digit words in base 58, each
// digit in its own byte range (0x00-0x39, 0x3A-0x73, 0x74-0xAD). Bytes 0xAE and up are
// free for the strings a test wants to repeat.
std::vector<uint8_t> Filler(size_t size, uint32_t first_word) {
    std::vector<uint8_t> out;
    for (uint32_t w = first_word; out.size() < size; ++w) {
        const uint8_t digits[3] = {static_cast<uint8_t>(w / 3364 % 58), static_cast<uint8_t>(0x3A + w / 58 % 58),
                                   static_cast<uint8_t>(0x74 + w % 58)};
        for (uint8_t d : digits)
            if (out.size() < size) out.push_back(d);
    }
    return out;
}

// Places strings at given offsets into a filler of the given size.
std::vector<uint8_t> Layout(size_t size, const std::vector<std::pair<size_t, std::vector<uint8_t>>>& parts) {
    std::vector<uint8_t> out = Filler(size, 0);
    for (const auto& [at, bytes] : parts) std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<long>(at));
    return out;
}

std::vector<uint8_t> Ascending(uint8_t first, size_t n) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(first + i));
    return out;
}

// The copies of a symbol stream, literals left out.
Symbols CopiesOnly(const Symbols& symbols) {
    Symbols out;
    for (const auto& s : symbols)
        if (s.first >= 256) out.push_back(s);
    return out;
}

TEST(EncoderTest, EqualBytesUseRepeatsAndRecentDistance) {
    auto st = NewState(crypto::kCipherNone);
    const Symbols symbols = EncodeToSymbols(*st, std::vector<uint8_t>(1000, 'q'));
    // Position 0 is never a match source, so two literals come first.
    const Symbols expected = {{'q', 0}, {'q', 0}, {270 + 256, 1}, {256, 0}, {256, 0}, {257, 228}};
    EXPECT_EQ(symbols, expected);
}

TEST(EncoderTest, ThreeByteMatchesOnlyBelow8192) {
    // A three-byte string seen again at distance d, with distinct bytes around both.
    for (const auto& [distance, taken] : {std::pair<size_t, bool>{8191, true}, {8192, false}}) {
        SCOPED_TRACE(distance);
        const auto s = Ascending(0xF0, 3);
        const std::vector<std::pair<size_t, std::vector<uint8_t>>> parts = {
            {100, {0xC1}}, {101, s}, {104, {0xC3}}, {100 + distance, {0xC2}}, {101 + distance, s}, {104 + distance, {0xC4}}};
        auto input = Layout(20000, parts);
        auto st = NewState(crypto::kCipherNone);
        const Symbols copies = CopiesOnly(EncodeToSymbols(*st, input));
        if (taken) {
            EXPECT_EQ(copies, (Symbols{{270 + 3, static_cast<uint32_t>(distance)}}));
        } else {
            EXPECT_TRUE(copies.empty());
        }
    }
}

TEST(EncoderTest, CopyStateGivesRepeatAndRecentSymbols) {
    const auto x = Ascending(0xD0, 20);
    const auto y = Ascending(0xE8, 12);
    const std::vector<uint8_t> x15(x.begin(), x.begin() + 15);
    // X twice at distance 10000 (a long copy, length 20 less the far bonus), then X again
    // 10000 further: the same copy, coded as "copy again". Y twice at 9000 in between for
    // the second run, then a 15-byte prefix of X at 10000: the second most recent distance.
    const auto first = Layout(40000, {{100, {0xAE}}, {101, x}, {121, {0xAF}},
                                      {10100, {0xB0}}, {10101, x}, {10121, {0xB1}},
                                      {20100, {0xB2}}, {20101, x}, {20121, {0xB3}}});
    auto st = NewState(crypto::kCipherNone);
    EXPECT_EQ(CopiesOnly(EncodeToSymbols(*st, first)), (Symbols{{270 + 19, 10000}, {256, 0}}));

    const auto second = Layout(40000, {{100, {0xAE}}, {101, x}, {121, {0xAF}},
                                       {2000, {0xB4}}, {2001, y}, {2013, {0xB5}},
                                       {10100, {0xB0}}, {10101, x}, {10121, {0xB1}},
                                       {11000, {0xB6}}, {11001, y}, {11013, {0xB7}},
                                       {20100, {0xB2}}, {20101, x15}, {20116, {0xB3}}});
    // Recent-distance values leave out 2 and one more for distances of 257 and up.
    EXPECT_EQ(CopiesOnly(EncodeToSymbols(*st, second)),
              (Symbols{{270 + 19, 10000}, {270 + 11, 9000}, {258, 14 - 3}}));
}

TEST(EncoderTest, TwelveThousandTwoHundredEightyNinthSymbolStartsABlock) {
    // Filler has no matches, so every byte is a literal. Find where the first block ends by
    // its end symbol: the reader fails on a missing or misplaced table header.
    for (size_t size : {12288u, 12289u}) {
        auto st = NewState(crypto::kCipherNone);
        const auto input = Filler(size, 0);
        ASSERT_TRUE(AllocOutputBuffer(st->stream));
        ASSERT_TRUE(AllocEncoderTables(st->encoder, st->stream));
        // All literals do not pay and would be stored: run the steps by hand, with no
        // size to reach.
        TmpFile src;
        TmpFile dst;
        std::fwrite(input.data(), 1, input.size(), src.f);
        std::rewind(src.f);
        st->stream.source_file = src.f;
        st->stream.output = dst.f;
        ResetPackedOutput(st->stream);
        st->stream.unpacked_size = INT32_MAX;
        st->stream.cipher_id = crypto::kCipherNone;
        InitMatchState(*st->encoder.tables);
        StartEncoder(*st->encoder.tables, st->stream);
        ResetCopyState(st->encoder.tables->coder);
        InitBitWriter(st->stream);
        Encode(*st->encoder.tables, st->stream);
        EXPECT_EQ(st->encoder.tables->coder.pending, size == 12288 ? 12288u : 1u);
        ASSERT_TRUE(FinishEncoding(*st->encoder.tables, st->stream));
        const Symbols symbols = SymbolReader(testing::Contents(dst.f)).ReadAll(size);
        EXPECT_EQ(symbols.size(), size);
        st->stream.source_file = nullptr;
        st->stream.output = nullptr;
    }
}

std::vector<int> Lengths(const TreeNode* nodes, int n) {
    std::vector<int> out;
    for (int i = 0; i < n; ++i) out.push_back(nodes[i].length);
    return out;
}

// Both code builders: the heap of level 5 and the sorting one of the other levels.
using Builder = void (*)(BlockCoder&, CodeKind);
constexpr Builder kBuilders[] = {BuildTree, BuildQuickTree};

TEST(EncoderTest, SmallCodesArePaddedToTwoSymbols) {
    auto st = NewState(crypto::kCipherNone);
    ASSERT_TRUE(AllocEncoderTables(st->encoder, st->stream));
    BlockCoder& t = st->encoder.tables->coder;
    struct PadCase {
        std::vector<int> used;
        std::vector<int> coded;  // symbols that must get length 1
    };
    const PadCase cases[] = {{{}, {0, 1}}, {{0}, {0, 1}}, {{1}, {1, 2}}, {{5}, {0, 5}}, {{47}, {0, 47}}};
    for (const Builder build : kBuilders)
    for (const auto& c : cases) {
        for (auto& node : t.distance_nodes) node.freq = 0;
        for (int s : c.used) t.distance_nodes[s].freq = 9;
        build(t, CodeKind::kDistance);
        std::vector<int> expected(kDistanceSymbols, 0);
        for (int s : c.coded) expected[static_cast<size_t>(s)] = 1;
        EXPECT_EQ(Lengths(t.distance_nodes, kDistanceSymbols), expected);
    }
}

TEST(EncoderTest, LengthLimitKeepsTheCodeComplete) {
    auto st = NewState(crypto::kCipherNone);
    ASSERT_TRUE(AllocEncoderTables(st->encoder, st->stream));
    BlockCoder& t = st->encoder.tables->coder;
    // Fibonacci frequencies give a tree as deep as the alphabet; limits 7 and 15 must cut it.
    for (const Builder build : kBuilders)
    for (auto code : {CodeKind::kLength, CodeKind::kRepeat}) {
        TreeDescriptor& d = t.trees[static_cast<int>(code)];
        for (int i = 0; i < d.alphabet_size; ++i) d.nodes[i].freq = 0;
        uint32_t a = 1;
        uint32_t b = 1;
        for (int i = 0; i < d.alphabet_size && b < 60000; ++i) {
            d.nodes[i].freq = static_cast<uint16_t>(a);
            const uint32_t c = a + b;
            a = b;
            b = c;
        }
        build(t, code);
        double kraft = 0;
        int prev_len = 99;
        for (int i = 0; i < d.alphabet_size; ++i) {
            if (d.nodes[i].freq == 0) continue;
            const int len = d.nodes[i].length;
            EXPECT_GE(len, 1);
            EXPECT_LE(len, d.length_limit);
            EXPECT_LE(len, prev_len);  // more frequent symbols never get longer codes
            prev_len = len;
            kraft += std::ldexp(1.0, -len);
        }
        EXPECT_DOUBLE_EQ(kraft, 1.0);
    }
}

// Under the limit both builders give minimum-redundancy codes: the same total size, and
// codes that decode (canonical: the same lengths give consecutive codes in symbol order).
TEST(EncoderTest, QuickCodesCostWhatHeapCodesCost) {
    auto st = NewState(crypto::kCipherNone);
    ASSERT_TRUE(AllocEncoderTables(st->encoder, st->stream));
    BlockCoder& t = st->encoder.tables->coder;
    std::mt19937 rng(5);
    // Totals stay below 2^16, as a block's do (the heap adds counts in 16 bits).
    for (int round = 0; round < 50; ++round) {
        std::vector<uint16_t> freq(kMainSymbols);
        for (auto& f : freq) f = static_cast<uint16_t>(rng() % 3 == 0 ? 0 : 1 + rng() % (round % 2 ? 40 : 300));
        uint64_t bits[2] = {};
        std::vector<std::pair<int, int>> codes[2];
        for (int b = 0; b < 2; ++b) {
            for (int i = 0; i < kMainSymbols; ++i) t.main_nodes[i].freq = freq[static_cast<size_t>(i)];
            kBuilders[b](t, CodeKind::kMain);
            for (int i = 0; i < kMainSymbols; ++i) {
                bits[b] += uint64_t{freq[static_cast<size_t>(i)]} * t.main_nodes[i].length;
                if (b == 1 && t.main_nodes[i].length != 0) codes[b].emplace_back(t.main_nodes[i].length, t.main_nodes[i].code);
            }
        }
        EXPECT_EQ(bits[1], bits[0]) << "round " << round;
        // Prefix-free: sorted by code value left-aligned to 15 bits, no code is a prefix of the next.
        std::vector<std::pair<uint32_t, int>> aligned;
        for (auto [len, code] : codes[1]) aligned.emplace_back(static_cast<uint32_t>(code) << (15 - len), len);
        std::sort(aligned.begin(), aligned.end());
        for (size_t k = 1; k < aligned.size(); ++k)
            EXPECT_GE(aligned[k].first, aligned[k - 1].first + (1u << (15 - aligned[k - 1].second))) << "round " << round;
    }
}

int32_t HEDGEROW_CALL CancelAlways(uint32_t, int32_t, int32_t) { return 0; }

// Tables are allocated once per operation and cleared per file only as far as the earlier
// file reached: each file must come out as it would from fresh tables.
TEST(EncoderTest, OutputDoesNotDependOnEarlierFiles) {
    std::mt19937 rng(11);
    auto text = [&](size_t n) {
        std::vector<uint8_t> v;
        while (v.size() < n) {
            const std::string w = std::to_string(rng() % 500) + (rng() % 4 ? " " : "\n");
            v.insert(v.end(), w.begin(), w.end());
        }
        v.resize(n);
        return v;
    };
    // Large with a window shift, then smaller files, each twice: a stale hash entry of the
    // first copy would point at the same string in the second.
    const auto small = text(3000);
    const auto medium = text(100000);
    const std::vector<std::vector<uint8_t>> files = {text(700000), small, small, medium, medium, small};
    auto shared = NewState(crypto::kCipherNone);
    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(i);
        const auto reused = testing::Compress(*shared, files[i]);
        auto fresh = NewState(crypto::kCipherNone);
        EXPECT_EQ(reused.payload, testing::Compress(*fresh, files[i]).payload);
    }
    // A file cut short by a cancel leaves its entries too.
    shared->session.callbacks.progress.proc = CancelAlways;
    EXPECT_FALSE(testing::Compress(*shared, medium).ok);
    shared->session.callbacks.progress.proc = nullptr;
    shared->session.status = 0;
    auto fresh = NewState(crypto::kCipherNone);
    EXPECT_EQ(testing::Compress(*shared, medium).payload, testing::Compress(*fresh, medium).payload);
}

// Packed streams of the first straightforward encoder. Any speed-up must leave every
// bit of these unchanged; a change here is a change of the format's output.
TEST(EncoderTest, GoldenOutputs) {
    std::mt19937 rng(2024);
    std::vector<uint8_t> text;
    static const char* const kWords[] = {"alder ", "beech ", "hawthorn ", "hazel ", "holly ", "blackthorn ",
                                         "field maple ", "dog rose ", "bramble\n", "ivy, "};
    while (text.size() < 700000) {
        for (const char* c = kWords[rng() % 10]; *c; ++c) text.push_back(static_cast<uint8_t>(*c));
        if (rng() % 5 == 0) text.push_back(static_cast<uint8_t>('0' + rng() % 10));
    }
    std::vector<uint8_t> mixed;
    for (int i = 0; i < 300000; ++i) mixed.push_back(static_cast<uint8_t>(i % 3 == 0 ? rng() % 4 : (i / 7) & 0xFF));
    std::vector<uint8_t> small(text.begin(), text.begin() + 200);

    struct Golden {
        const std::vector<uint8_t>* input;
        size_t take;
        int32_t packed_size;
        uint32_t packed_crc;
    };
    const Golden cases[] = {
        {&small, 200, 108, 0x31D1E60A},
        {&text, 100000, 14117, 0x75FCF7E4},
        {&text, 700000, 97501, 0xE9C70F0F},
        {&mixed, 300000, 87121, 0x8A9C43F0},
    };
    for (const auto& c : cases) {
        const std::vector<uint8_t> input(c.input->begin(), c.input->begin() + static_cast<long>(c.take));
        auto st = NewState(crypto::kCipherNone);
        const auto packed = testing::Compress(*st, input);
        ASSERT_TRUE(packed.ok);
        const uint32_t crc = crypto::Crc32(packed.payload.data(), packed.payload.size());
        SCOPED_TRACE(c.take);
        EXPECT_EQ(packed.packed_size, c.packed_size);
        EXPECT_EQ(crc, c.packed_crc);
    }
}

}  // namespace
}  // namespace hedgerow::codec
