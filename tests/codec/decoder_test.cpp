// decoder_test.cpp -- hand-built streams for what our encoder never writes (audio blocks,
// short copies, kept code lengths) and for the copy-length rules, with the expected bytes
// worked out from the format; and damaged streams, which must stay inside the entry's size.
#include "codec/decoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "support/codec_harness.h"

namespace hedgerow::codec {
namespace {

using testing::BitWriter;
using testing::CanonicalCodes;
using testing::Concat;
using testing::DecodePlain;
using testing::FlatLengths;
using testing::LengthItem;
using testing::PlainItems;
using testing::PutHeader;
using testing::PutLengthItems;

using Bytes = std::vector<uint8_t>;

// A code and its canonical codes, for writing symbols.
struct Code {
    std::vector<int> lengths;
    std::vector<uint32_t> codes;
    explicit Code(std::vector<int> l) : lengths(std::move(l)), codes(CanonicalCodes(lengths)) {}
    void Put(BitWriter& w, int symbol) const {
        ASSERT_GT(lengths[static_cast<size_t>(symbol)], 0) << "symbol " << symbol << " has no code";
        w.Put(lengths[static_cast<size_t>(symbol)], codes[static_cast<size_t>(symbol)]);
    }
};

// LZ header with no kept lengths: main, distance and repeat codes.
void PutLzHeader(BitWriter& w, const Code& main, const Code& distance, const Code& repeat) {
    PutHeader(w, false, false, 1, PlainItems(Concat(Concat(main.lengths, distance.lengths), repeat.lengths)));
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

TEST(DecoderTest, AudioPredictorAdaptsItsWeights) {
    // One channel; delta 248 (-8 as a signed byte) has code 0, the end symbol code 1.
    BitWriter w;
    const Code channel(FlatLengths(257, {248, 256}));
    PutHeader(w, true, false, 1, PlainItems(channel.lengths));
    for (int i = 0; i < 34; ++i) channel.Put(w, 248);
    // With all weights 0 each byte is the last one minus the delta: 8, 16, ... After 32
    // bytes the sums of |8*delta - candidate| favour "K1 + 1" (1800 against 2048 for no
    // change), so byte 33 is ((8*0 + 1*8) >> 3) + 8 = 9 and byte 34 is ((8*9 + 9) >> 3) + 8.
    Bytes expected;
    for (int i = 1; i <= 32; ++i) expected.push_back(static_cast<uint8_t>(8 * i));
    expected.push_back(9);
    expected.push_back(18);
    const auto out = DecodePlain(w.Finish(), 34);
    EXPECT_TRUE(out.ok);
    EXPECT_EQ(out.bytes, expected);
}

TEST(DecoderTest, AudioChannelsTakeTurnsWithTheirOwnCodes) {
    BitWriter w;
    const Code c0(FlatLengths(257, {1, 256}));
    const Code c1(FlatLengths(257, {2, 256}));
    const Code c2(FlatLengths(257, {3, 256}));
    PutHeader(w, true, false, 3, PlainItems(Concat(Concat(c0.lengths, c1.lengths), c2.lengths)));
    for (int i = 0; i < 9; ++i) w.Put(1, 0);  // code 0 of whichever channel is current
    // Each channel subtracts its own delta from its own last byte.
    const Bytes expected = {255, 254, 253, 254, 252, 250, 253, 250, 247};
    EXPECT_EQ(DecodePlain(w.Finish(), 9).bytes, expected);
}

TEST(DecoderTest, AudioHeaderResetsTheChannelCounterOnlyWhenItIsOutOfRange) {
    struct Case {
        int channels;    // of the second block
        uint8_t byte;    // its first byte
    };
    // The first block leaves the counter at 3. Two channels reset it (channel 0, delta 5);
    // four keep it (channel 3, delta 7). Both channels' last bytes are 0.
    for (const Case c : {Case{2, 251}, Case{4, 249}}) {
        SCOPED_TRACE(c.channels);
        BitWriter w;
        const Code zero(FlatLengths(257, {0, 256}));
        PutHeader(w, true, false, 4, PlainItems(Concat(Concat(zero.lengths, zero.lengths), Concat(zero.lengths, zero.lengths))));
        for (int i = 0; i < 3; ++i) zero.Put(w, 0);
        zero.Put(w, 256);
        std::vector<int> lengths;
        for (int ch = 0; ch < c.channels; ++ch) lengths = Concat(lengths, FlatLengths(257, {ch == 3 ? 7 : 5 + ch, 256}));
        PutHeader(w, true, false, c.channels, PlainItems(lengths));
        w.Put(1, 0);
        EXPECT_EQ(DecodePlain(w.Finish(), 4).bytes, (Bytes{0, 0, 0, c.byte}));
    }
}

TEST(DecoderTest, ShortCopiesReachBackUpTo256AndBeforeTheStartGiveZeros) {
    BitWriter w;
    const Code main(FlatLengths(298, {'a', 'b', 'c', 261, 264, 268}));
    const Code none(std::vector<int>(48, 0));
    const Code none28(std::vector<int>(28, 0));
    PutLzHeader(w, main, none, none28);
    for (char ch : std::string("abc")) main.Put(w, ch);
    main.Put(w, 261);  // distance 0 + 1 + e, 2 extra bits
    w.Put(2, 2);       // distance 3: "ab"
    main.Put(w, 264);  // base 16, 4 extra bits
    w.Put(4, 0);       // distance 17, before the first byte: two zeros
    main.Put(w, 268);  // base 192, 6 extra bits
    w.Put(6, 63);      // distance 256, also before the start
    const Bytes expected = {'a', 'b', 'c', 'a', 'b', 0, 0, 0, 0};
    EXPECT_EQ(DecodePlain(w.Finish(), 9).bytes, expected);

    // The same with a decoder whose window still holds an earlier entry: 300 bytes 'z'
    // (a literal and a copy at distance 1).
    auto st = testing::NewState(crypto::kCipherNone);
    ASSERT_TRUE(AllocDecoder(st->decoder, st->stream));
    BitWriter earlier;
    const Code zmain(FlatLengths(298, {'z', 270 + 27}));
    const Code dist(FlatLengths(48, {0, 1}));
    PutLzHeader(earlier, zmain, dist, none28);
    zmain.Put(earlier, 'z');
    zmain.Put(earlier, 270 + 27);  // 224 + 3 + 5 extra bits
    earlier.Put(5, 31);
    dist.Put(earlier, 0);
    ASSERT_EQ(DecodePlain(earlier.Finish(), 259, st.get()).bytes, Bytes(259, 'z'));
    EXPECT_EQ(DecodePlain(w.Finish(), 9, st.get()).bytes, expected);
}

TEST(DecoderTest, CopyLengthsGrowWithDistance) {
    struct Case {
        const char* name;
        uint32_t distance;  // of a long copy of base length 3
        bool recent;        // then a recent-distance copy of base length 2 at the same distance
        size_t zeros;       // bytes copied (all zeros: the window starts empty)
    };
    const Case cases[] = {
        {"long 8191", 8191, false, 3}, {"long 8192", 8192, false, 4}, {"long 262144", 262144, false, 5},
        {"recent 256", 256, true, 3 + 2}, {"recent 300", 300, true, 3 + 3}, {"recent 8192", 8192, true, 4 + 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BitWriter w;
        const Code main(FlatLengths(298, {'x', 'y', 257, 270}));
        std::vector<int> dist_lengths(48, 0);
        uint32_t slot = 0;
        while (slot + 1 < 48 && kDistanceBase[slot + 1] <= c.distance - 1) ++slot;
        dist_lengths[slot] = 1;
        dist_lengths[slot == 0 ? 1 : 0] = 1;
        const Code dist(dist_lengths);
        const Code repeat(FlatLengths(28, {0, 1}));
        PutLzHeader(w, main, dist, repeat);
        main.Put(w, 'x');
        main.Put(w, 270);  // length slot 0: 3, no extra bits
        dist.Put(w, static_cast<int>(slot));
        w.Put(kDistanceExtra[slot], c.distance - 1 - kDistanceBase[slot]);
        if (c.recent) {
            main.Put(w, 257);  // the most recent distance
            repeat.Put(w, 0);  // length 0 + 2, plus the bonuses
        }
        main.Put(w, 'y');
        Bytes expected = {'x'};
        expected.insert(expected.end(), c.zeros, 0);
        expected.push_back('y');
        EXPECT_EQ(DecodePlain(w.Finish(), static_cast<int32_t>(expected.size())).bytes, expected);
    }
}

TEST(DecoderTest, KeptLengthsAddToThePreviousTable) {
    BitWriter w;
    const Code none(std::vector<int>(48, 0));
    const Code none28(std::vector<int>(28, 0));
    const Code first(FlatLengths(298, {'A', 269}));
    PutLzHeader(w, first, none, none28);
    first.Put(w, 'A');
    first.Put(w, 269);
    // Second header keeps the lengths: symbols 0-15 add to the old length modulo 16, 16
    // repeats the new length before it, 17 and 18 write zeros. Target: length 3 for
    // A..E and 269 (old lengths: 1 for 'A' and 269).
    w.Put(1, 0);  // LZ
    w.Put(1, 1);  // keep
    for (int len : testing::TestLengthCode()) w.Put(4, static_cast<uint32_t>(len));
    PutLengthItems(w, {
                          {18, 65 - 11},      // 0..64 zero
                          {2},                // 'A': 1 + 2
                          {3},                // 'B': 0 + 3
                          {16, 0},            // 'C', 'D', 'E': the 3 just sent
                          {18, 138 - 11},     // 70..207 zero
                          {18, 61 - 11},      // 208..268 zero
                          {2},                // 269: 1 + 2
                          {18, 104 - 11},     // 270..373 zero
                      });
    const Code second(FlatLengths(298, {'A', 'B', 'C', 'D', 'E', 269}));
    ASSERT_EQ(second.lengths['A'], 3);
    second.Put(w, 'C');
    second.Put(w, 'E');
    second.Put(w, 'A');
    EXPECT_EQ(DecodePlain(w.Finish(), 4).bytes, Text("ACEA"));
}

// The one-step look-up table must agree with the limit search for every look-ahead word,
// for complete, incomplete and over-full codes alike.
TEST(DecoderTest, LookUpTableAgreesWithTheLimitSearch) {
    std::mt19937 rng(7);
    auto table = std::make_unique<DecodeTable>();
    for (int round = 0; round < 300; ++round) {
        const uint32_t size = std::vector<uint32_t>{19, 28, 48, 257, 298}[round % 5];
        std::vector<uint8_t> lengths(size, 0);
        const int style = round % 3;
        for (auto& l : lengths) {
            if (style == 0) l = static_cast<uint8_t>(rng() % 16);                    // mostly over-full
            if (style == 1) l = static_cast<uint8_t>(rng() % 4 == 0 ? 8 + rng() % 8 : 0);  // sparse
            if (style == 2) l = static_cast<uint8_t>(rng() % 2 == 0 ? 0 : 1 + rng() % 15);
        }
        if (round % 7 == 0) {  // a complete code: canonical lengths of a balanced tree
            std::fill(lengths.begin(), lengths.end(), 0);
            for (uint32_t i = 0; i < 16 && i < size; ++i) lengths[i] = 4;
        }
        BuildDecodeTable(lengths.data(), *table, size);
        for (uint32_t look = 0; look < 0x10000; ++look) {
            const uint16_t entry = table->fast[look >> (16 - table->fast_bits)];
            if (entry == 0) continue;
            const DecodedSymbol d = DecodeSymbol(*table, look);
            ASSERT_EQ(entry & 511u, d.symbol) << "round " << round << " look " << look;
            ASSERT_EQ(entry >> 9, d.length) << "round " << round << " look " << look;
        }
    }
}

// ---- Damaged streams ---------------------------------------------------------------------

TEST(DecoderTest, RepeatAtTheStartOfATableRepeatsZero) {
    BitWriter w;
    const Code main(FlatLengths(298, {'a', 269}));
    auto items = PlainItems(Concat(Concat(main.lengths, std::vector<int>(48, 0)), std::vector<int>(28, 0)));
    // Replace the first item (a zero run) by "repeat the length before" three times.
    items.erase(items.begin());
    items.insert(items.begin(), {LengthItem{16, 0}, LengthItem{18, 97 - 3 - 11}});
    PutHeader(w, false, false, 1, items);
    main.Put(w, 'a');
    main.Put(w, 'a');
    EXPECT_EQ(DecodePlain(w.Finish(), 2).bytes, Text("aa"));
}

TEST(DecoderTest, LastCopyIsCutAtTheUnpackedSize) {
    BitWriter w;
    const Code main(FlatLengths(298, {'a', 270 + 7}));  // length slot 7: 10 bytes
    const Code dist(FlatLengths(48, {0, 1}));
    PutLzHeader(w, main, dist, Code(std::vector<int>(28, 0)));
    main.Put(w, 'a');
    main.Put(w, 270 + 7);
    dist.Put(w, 0);  // distance 1
    for (int32_t size : {5, 11}) {
        const auto out = DecodePlain(w.Finish(), size);
        EXPECT_EQ(out.bytes, Bytes(static_cast<size_t>(size), 'a'));
    }
}

TEST(DecoderTest, HostileStreamsStayInBoundsAndWithinTheSize) {
    std::mt19937 rng(99);
    for (int i = 0; i < 300; ++i) {
        Bytes stream(rng() % 600);
        for (auto& b : stream) b = static_cast<uint8_t>(rng());
        // Some streams start with a plausible header: LZ, no keep, a dense length code.
        if (i % 3 == 0 && stream.size() > 10) {
            stream[0] = 0x05;
            stream[1] = 0x55;
        }
        const int32_t size = static_cast<int32_t>(rng() % 200000);
        const auto out = DecodePlain(stream, size);
        ASSERT_LE(out.bytes.size(), static_cast<size_t>(size));
    }
    // Nothing at all, or zeros only: a header of empty codes decodes forever into entry 0;
    // the decoder stops where the packed data ends.
    EXPECT_LE(DecodePlain({}, 1 << 30).bytes.size(), 64u);
    EXPECT_LE(DecodePlain(Bytes(100, 0), 1 << 30).bytes.size(), 100u * 8 * 260);
}

}  // namespace
}  // namespace hedgerow::codec
