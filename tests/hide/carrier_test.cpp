// carrier_test.cpp -- the bit pump and collector, and whole BMP and WAV carriers: a
// prepared file goes in and comes out again, only the lowest bits of units change, and a
// carrier that is too small, of no known kind or holds nothing is left as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/session.h"
#include "hide/carrier.h"
#include "support/carrier_builder.h"
#include "support/temp_dir.h"

namespace hedgerow::hide {
namespace {

using testing::BmpShape;
using testing::Carrier;
using testing::MakeBmp;
using testing::MakePrepared;
using testing::MakeWav;
using testing::ReadFile;
using testing::RiffChunk;
using testing::TempDir;
using testing::TestRandom;
using testing::WriteFile;

TEST(CarrierTest, PumpSendsMostSignificantBitFirstAndCollectorReadsItBack) {
    CarrierState c;
    c.stream = {0xA5, 0x3C};
    c.prepared_size = 2;
    std::vector<uint32_t> units;
    for (int i = 0; i < 16; ++i) units.push_back(EmbedBit(c, i % 2 ? 0xFFFEu : 0x0001u));
    const int expected[8] = {1, 0, 1, 0, 0, 1, 0, 1};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(units[i] & 1u, static_cast<uint32_t>(expected[i])) << i;
        EXPECT_EQ(units[i] & ~1u, (i % 2 ? 0xFFFEu : 0u)) << "only the lowest bit may change";
    }
    EXPECT_TRUE(c.payload_mode);
    EXPECT_TRUE(PreparedFileEmbedded(c));
    (void)EmbedBit(c, 0);  // past the stream: generator bits
    EXPECT_FALSE(c.payload_mode);

    CarrierState r;
    r.extract_capacity = 2;
    for (uint32_t u : units) CollectBit(r, u);
    CollectBit(r, 1);  // more units than the buffer holds are dropped
    for (int i = 0; i < 8; ++i) CollectBit(r, 1);
    EXPECT_EQ(r.extracted, (std::vector<uint8_t> {0xA5, 0x3C}));
}

TEST(CarrierTest, PreparedHeaderIsRecognisedByTagAndMagicOnly) {
    std::vector<uint8_t> h = MakePrepared({1, 2, 3});
    EXPECT_TRUE(IsPreparedHeader(h.data()));
    h[0] = 0xFF;
    h[1] = 0xFF;  // CRC byte and the zero byte are not part of it
    EXPECT_TRUE(IsPreparedHeader(h.data()));
    for (size_t at : {2u, 3u, 12u, 16u}) {
        std::vector<uint8_t> bad = h;
        bad[at] ^= 1;
        EXPECT_FALSE(IsPreparedHeader(bad.data())) << at;
    }
}

// Everything outside the units stays; units change in their lowest bit only; the header
// fields listed in may_change are allowed to differ.
void ExpectOnlyLowBitsChanged(const Carrier& before, const std::vector<uint8_t>& after,
                              const std::vector<size_t>& may_change = {}) {
    ASSERT_EQ(before.bytes.size(), after.size());
    std::vector<bool> is_unit(after.size()), is_field(after.size());
    for (size_t u : before.units) is_unit[u] = true;
    for (size_t u : may_change) is_field[u] = true;
    for (size_t i = 0; i < after.size(); ++i) {
        if (is_field[i]) continue;
        if (is_unit[i]) {
            ASSERT_EQ(before.bytes[i] | 1, after[i] | 1) << "unit byte " << i;
        } else {
            ASSERT_EQ(before.bytes[i], after[i]) << "byte " << i;
        }
    }
}

struct RoundTripCase {
    const char* name;
    Carrier carrier;
    uint32_t unit_size;
    std::vector<size_t> fields;  // header bytes the embedding pass rewrites
};

std::vector<size_t> Range(size_t from, size_t count) {
    std::vector<size_t> r;
    for (size_t i = 0; i < count; ++i) r.push_back(from + i);
    return r;
}

std::vector<RoundTripCase> RoundTripCases() {
    TestRandom random(11);
    auto sixteen = [&](size_t n) { return random.Bytes(n); };
    BmpShape odd_width;
    odd_width.width = 5;  // row bytes 15, stride 16
    odd_width.height = 60;
    BmpShape os2;
    os2.header_size = 64;
    os2.second = 'A';
    os2.width = 30;
    os2.height = 9;
    BmpShape top_down;
    top_down.width = 17;
    top_down.height = -40;
    BmpShape core;
    core.header_size = 12;
    core.width = 32;
    core.height = 20;
    return {
        {"bmp24 width 5", MakeBmp(odd_width), 1, Range(34, 8)},
        {"bmp24 64-byte header, BA", MakeBmp(os2), 1, Range(34, 8)},
        {"bmp24 top-down", MakeBmp(top_down), 1, Range(34, 8)},
        {"bmp24 12-byte header", MakeBmp(core), 1, {}},
        {"wav8 mono", MakeWav({{testing::FormatChunk(8), false}, {RiffChunk("data", sixteen(900)), true}}), 1, {}},
        // Chunks before the format chunk and other chunk types carry nothing; every data
        // chunk after the format chunk is used in turn; an odd one's last byte is spare.
        {"wav16 stereo, several chunks",
         MakeWav({{RiffChunk("data", sixteen(40)), false},
                  {testing::FormatChunk(16, 2), false},
                  {RiffChunk("data", sixteen(301)), true},
                  {RiffChunk("LIST", sixteen(33)), false},
                  {RiffChunk("data", sixteen(1200)), true}},
                 2),
         2,
         {}},
    };
}

TEST(CarrierTest, RoundTripChangesOnlyTheLowestBitOfUnits) {
    for (const RoundTripCase& test : RoundTripCases()) {
        SCOPED_TRACE(test.name);
        TempDir dir;
        const std::string carrier = dir / "carrier";
        const std::string prepared = dir / "prepared";
        const std::string recovered = dir / "recovered";
        WriteFile(carrier, test.carrier.bytes);
        // As large as the units allow: the prepared file plus the filler must fit.
        const size_t fits = test.carrier.units.size() / 8 - kPreparedHeaderSize - kFillerSize;
        const std::vector<uint8_t> file = MakePrepared(TestRandom(5).Bytes(fits));
        WriteFile(prepared, file);

        Session s;
        CarrierState c;
        uint32_t unit_size = 0;
        ASSERT_TRUE(ProbeCarrier(s, c, carrier.c_str(), &unit_size));
        EXPECT_EQ(unit_size, test.unit_size);
        EXPECT_EQ(ReadFile(carrier), test.carrier.bytes) << "the probe writes nothing";
        ASSERT_TRUE(EmbedIntoCarrier(s, c, carrier.c_str(), prepared.c_str())) << s.status;
        const std::vector<uint8_t> after = ReadFile(carrier);
        ExpectOnlyLowBitsChanged(test.carrier, after, test.fields);
        for (size_t f : test.fields) EXPECT_EQ(after[f], 0) << "header field byte " << f;

        uint8_t header[kPreparedHeaderSize];
        ASSERT_TRUE(ExtractFromCarrier(s, c, carrier.c_str(), recovered.c_str(), header)) << s.status;
        EXPECT_EQ(ReadFile(recovered), file);
        EXPECT_EQ(ReadFile(carrier), after) << "recovering writes nothing";
        EXPECT_EQ(testing::ListDir(dir.path()), (std::vector<std::string> {"carrier", "prepared", "recovered"}));
    }
}

TEST(CarrierTest, CarrierWhoseUnitsRunOutIsRefusedAndLeftAsItWas) {
    // 8-bit sound with a large comment chunk: the file is long, the units are few.
    const Carrier wav = MakeWav({{testing::FormatChunk(8), false},
                                 {RiffChunk("data", TestRandom(2).Bytes(400)), true},
                                 {RiffChunk("LIST", std::vector<uint8_t>(4000, 7)), false}});
    TempDir dir;
    const std::string carrier = dir / "c.wav";
    const std::string prepared = dir / "p";
    WriteFile(carrier, wav.bytes);
    WriteFile(prepared, MakePrepared(std::vector<uint8_t>(40, 1)));  // 57 bytes: 456 units needed
    Session s;
    CarrierState c;
    EXPECT_FALSE(EmbedIntoCarrier(s, c, carrier.c_str(), prepared.c_str()));
    EXPECT_EQ(s.status, static_cast<uint16_t>(Status::kCarrierTooSmall));
    EXPECT_EQ(ReadFile(carrier), wav.bytes);
    EXPECT_EQ(testing::ListDir(dir.path()), (std::vector<std::string> {"c.wav", "p"})) << "no copy left behind";

    // Exactly enough units for the prepared file, none for the filler: that is enough.
    WriteFile(prepared, MakePrepared(std::vector<uint8_t>(33, 1)));  // 50 bytes: 400 units
    s = Session {};
    ASSERT_TRUE(EmbedIntoCarrier(s, c, carrier.c_str(), prepared.c_str())) << s.status;
    uint8_t header[kPreparedHeaderSize];
    ASSERT_TRUE(ExtractFromCarrier(s, c, carrier.c_str(), (dir / "out").c_str(), header)) << s.status;
    EXPECT_EQ(ReadFile(dir / "out"), MakePrepared(std::vector<uint8_t>(33, 1)));
}

// Writes bytes into the lowest bits of the carrier's units, as the pump would.
void PlantBits(Carrier& carrier, const std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i < carrier.units.size() && i / 8 < bytes.size(); ++i) {
        const uint8_t bit = (bytes[i / 8] >> (7 - i % 8)) & 1;
        uint8_t& unit = carrier.bytes[carrier.units[i]];
        unit = static_cast<uint8_t>((unit & ~1) | bit);
    }
}

TEST(CarrierTest, ExtractionFindsNothingInPlainOrShortCarriers) {
    TempDir dir;
    const std::string carrier = dir / "c";
    const std::string out = dir / "out";
    BmpShape shape;
    shape.width = 20;
    shape.height = 20;
    // A data chunk of 2000 units in a long file: the units, not the bytes, run out.
    const Carrier wav = MakeWav({{testing::FormatChunk(8), false},
                                 {RiffChunk("data", TestRandom(4).Bytes(2000)), true},
                                 {RiffChunk("LIST", std::vector<uint8_t>(6000, 7)), false}});
    std::vector<uint8_t> lying_header = MakePrepared(std::vector<uint8_t>(200, 9));
    testing::PutLe(lying_header, 8, 300, 4);  // announces 300 packed bytes, 2536 units
    Carrier lying = wav;
    PlantBits(lying, lying_header);
    Carrier cut = MakeBmp(shape);
    PlantBits(cut, MakePrepared(std::vector<uint8_t>(100, 9)));
    cut.bytes.erase(cut.bytes.end() - 12 * 60, cut.bytes.end());  // the last rows are missing
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        Status status;
    };
    const Case cases[] = {
        {"random bits", MakeBmp(shape).bytes, Status::kNothingHidden},
        {"too few units even for the header", MakeBmp(BmpShape {.width = 3, .height = 2}).bytes, Status::kNothingHidden},
        {"chunks end before the announced data", lying.bytes, Status::kNothingHidden},
        {"file ends before the announced data", cut.bytes, Status::kNothingHidden},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        WriteFile(carrier, test.bytes);
        Session s;
        CarrierState c;
        uint8_t header[kPreparedHeaderSize];
        EXPECT_FALSE(ExtractFromCarrier(s, c, carrier.c_str(), out.c_str(), header));
        EXPECT_EQ(s.status, static_cast<uint16_t>(test.status));
        EXPECT_EQ(testing::ListDir(dir.path()), (std::vector<std::string> {"c"})) << "no output file";
    }
}

TEST(CarrierTest, ReaderNeedsOnlyTheUnitsHidingWrote) {
    // A picture that declares more rows than its file holds: hiding stops fetching in row
    // 256 (97 bytes of stream, the last fetched at unit 768) and finishes that row, which
    // is the last one in the file. The filler is cut short, and reading must not need it.
    BmpShape shape;
    shape.width = 1;  // 3 units a row, stride 4
    shape.height = 257;
    Carrier bmp = MakeBmp(shape);
    testing::PutLe(bmp.bytes, 22, 1024, 4);
    TempDir dir;
    WriteFile(dir / "c.bmp", bmp.bytes);
    const std::vector<uint8_t> file = MakePrepared(std::vector<uint8_t>(16, 0x77));
    WriteFile(dir / "p", file);
    Session s;
    CarrierState c;
    ASSERT_TRUE(EmbedIntoCarrier(s, c, (dir / "c.bmp").c_str(), (dir / "p").c_str())) << s.status;
    uint8_t header[kPreparedHeaderSize];
    ASSERT_TRUE(ExtractFromCarrier(s, c, (dir / "c.bmp").c_str(), (dir / "out").c_str(), header)) << s.status;
    EXPECT_EQ(ReadFile(dir / "out"), file);
}

TEST(CarrierTest, ProbeRefusesUnknownKindsAndChangesNothing) {
    TempDir dir;
    const std::string carrier = dir / "c";
    struct Case {
        std::string bytes;
        Status status;
    };
    const Case cases[] = {
        {"X marks a text file, not a carrier", Status::kBadFormat},
        {"", Status::kBadFormat},
        {"BZ not a bitmap after all", Status::kBadFormat},   // "B" but not a BMP: not tried as WAV
        {"RIFX....WAVE", Status::kBadFormat},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.bytes);
        WriteFile(carrier, test.bytes);
        Session s;
        CarrierState c;
        uint32_t unit = 0;
        EXPECT_FALSE(ProbeCarrier(s, c, carrier.c_str(), &unit));
        EXPECT_EQ(s.status, static_cast<uint16_t>(test.status));
        EXPECT_EQ(ReadFile(carrier), std::vector<uint8_t>(test.bytes.begin(), test.bytes.end()));
    }
    Session s;
    CarrierState c;
    uint32_t unit = 0;
    EXPECT_FALSE(ProbeCarrier(s, c, (dir / "missing").c_str(), &unit));
    EXPECT_EQ(s.status, static_cast<uint16_t>(Status::kIoError));
}

}  // namespace
}  // namespace hedgerow::hide
