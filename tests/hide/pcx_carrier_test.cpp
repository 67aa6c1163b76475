// pcx_carrier_test.cpp -- the PCX run-length code, the header test, and hiding in PCX
// pictures: header and palette block stay, pixels differ in their lowest bit only, and a
// damaged picture is refused and left as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hide/carrier.h"
#include "hide/pcx_carrier.h"
#include "support/carrier_builder.h"
#include "support/temp_dir.h"

namespace hedgerow::hide {
namespace {

using testing::Carrier;
using testing::MakePcx;
using testing::MakePrepared;
using testing::PcxShape;
using testing::ReadFile;
using testing::TempDir;
using testing::TestRandom;
using testing::WriteFile;

using Bytes = std::vector<uint8_t>;

TEST(PcxCarrierTest, RunLengthCode) {
    struct Case {
        const char* name;
        Bytes line;
        Bytes code;
    };
    const Case cases[] = {
        {"single high byte", {0xC5}, {0xC1, 0xC5}},
        {"single low byte", {0x3F}, {0x3F}},
        {"run of 100", Bytes(100, 0x20), {0xFF, 0x20, 0xE5, 0x20}},
        {"mixed", {1, 1, 2, 0xC0, 0xC0, 0xC0, 3}, {0xC2, 1, 2, 0xC3, 0xC0, 3}},
        {"empty", {}, {}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Bytes code;
        EncodePcxLine(test.line, code);
        EXPECT_EQ(code, test.code);
        Bytes back(test.line.size());
        EXPECT_EQ(DecodePcxRle(code, back), test.line.size());
        EXPECT_EQ(back, test.line);
    }
    // Decoding stops when the buffer is full, even inside a run; a count at the very end
    // has no value and yields nothing.
    Bytes out(5);
    EXPECT_EQ(DecodePcxRle(Bytes {0xC3, 7, 0xC4, 8, 9}, out), 5u);
    EXPECT_EQ(out, (Bytes {7, 7, 7, 8, 8}));
    Bytes more(8, 0);
    EXPECT_EQ(DecodePcxRle(Bytes {4, 0xC2}, more), 1u);
    EXPECT_EQ(PcxDecodedLength(Bytes {0xC3, 7, 5, 0xC2}), 4u);
}

TEST(PcxCarrierTest, HeaderTest) {
    struct Case {
        const char* name;
        PcxShape shape;
        bool is_pcx;
        Status status;
    };
    const Case cases[] = {
        {"8 bits, 1 plane", {}, true, Status::kOk},
        {"8 bits, 3 planes", {.planes = 3}, true, Status::kOk},
        {"version 4", {.version = 4}, false, Status::kBadFormat},
        {"4 bits, 1 plane: 16 colours", {.bits = 4}, false, Status::kUnsupportedCarrier},
        {"1 bit, 4 planes: 16 colours", {.bits = 1, .planes = 4}, false, Status::kUnsupportedCarrier},
        {"8 bits, 4 planes: 2^32 counts as 1", {.bits = 8, .planes = 4}, false, Status::kUnsupportedCarrier},
    };
    TempDir dir;
    const std::string path = dir / "c.pcx";
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        WriteFile(path, MakePcx(test.shape).bytes);
        Session s;
        PcxState p;
        EXPECT_EQ(IsPcxCarrier(s, p, path.c_str()), test.is_pcx);
        EXPECT_EQ(s.status, static_cast<uint16_t>(test.status));
    }
    // Shorter than a header, or another first byte: not PCX, no status.
    for (const Bytes& bytes : {Bytes(127, 10), Bytes(200, 11)}) {
        WriteFile(path, bytes);
        Session s;
        PcxState p;
        EXPECT_FALSE(IsPcxCarrier(s, p, path.c_str()));
        EXPECT_EQ(s.status, 0);
    }
}

// Decodes a carrier written by the code under test with the builder's independent view:
// header, then pixels (coded or raw), then the palette block.
Bytes DecodedPixels(const Bytes& file, const PcxShape& shape, bool* lines_whole) {
    const size_t line = static_cast<size_t>(shape.planes) * shape.line_bytes;
    const size_t total = line * shape.height;
    Bytes out;
    size_t i = 128;
    *lines_whole = true;
    while (out.size() < total && i < file.size()) {
        size_t count = 1;
        uint8_t v = file[i++];
        if (shape.encoded && v >= 0xC0) {
            count = v & 0x3F;
            v = file[i++];
        }
        const size_t line_left = line - out.size() % line;
        if (count > line_left) *lines_whole = false;
        out.insert(out.end(), count, v);
    }
    return out;
}

TEST(PcxCarrierTest, HidingKeepsHeaderPaletteAndAllButTheLowestBits) {
    struct Case {
        const char* name;
        PcxShape shape;
    };
    const Case cases[] = {
        {"256 colours, coded", {.width = 40, .height = 30, .line_bytes = 40}},
        {"24 bits in three planes", {.planes = 3, .width = 21, .height = 17, .line_bytes = 22}},
        {"raw pixels stay raw", {.encoded = false, .width = 30, .height = 30, .line_bytes = 30}},
        {"runs across scan lines are cut at line ends",
         {.width = 13, .height = 70, .line_bytes = 14, .runs_cross_lines = true}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TempDir dir;
        const std::string carrier = dir / "c.pcx";
        Bytes decoded;
        const Carrier pcx = MakePcx(test.shape, &decoded);
        WriteFile(carrier, pcx.bytes);
        const Bytes file = MakePrepared(TestRandom(3).Bytes(decoded.size() / 8 - 90));
        WriteFile(dir / "p", file);
        Session s;
        CarrierState c;
        PcxState p;
        ASSERT_TRUE(IsPcxCarrier(s, p, carrier.c_str()));
        ASSERT_TRUE(HidePcx(s, c, p, carrier.c_str(), (dir / "p").c_str())) << s.status;
        const Bytes after = ReadFile(carrier);
        EXPECT_TRUE(std::equal(pcx.bytes.begin(), pcx.bytes.begin() + 128, after.begin())) << "header";
        if (test.shape.planes * test.shape.bits == 8) {
            EXPECT_TRUE(std::equal(pcx.bytes.end() - 769, pcx.bytes.end(), after.end() - 769)) << "palette";
        }
        if (!test.shape.encoded) {
            EXPECT_EQ(after.size(), pcx.bytes.size());
        }
        bool lines_whole = false;
        const Bytes now = DecodedPixels(after, test.shape, &lines_whole);
        EXPECT_TRUE(lines_whole);
        ASSERT_EQ(now.size(), decoded.size());
        size_t changed = 0;
        for (size_t i = 0; i < now.size(); ++i) {
            ASSERT_EQ(now[i] | 1, decoded[i] | 1) << i;
            changed += now[i] != decoded[i];
        }
        EXPECT_GT(changed, 0u);

        uint8_t header[kPreparedHeaderSize];
        ASSERT_TRUE(UnhidePcx(s, c, p, carrier.c_str(), (dir / "out").c_str(), header)) << s.status;
        EXPECT_EQ(ReadFile(dir / "out"), file);
        EXPECT_EQ(testing::ListDir(dir.path()), (std::vector<std::string> {"c.pcx", "out", "p"}));
    }
}

TEST(PcxCarrierTest, DamagedOrSmallPicturesAreRefusedAndLeftAsTheyWere) {
    const Carrier whole = MakePcx({.width = 40, .height = 30, .line_bytes = 40});
    Bytes cut_pixels = whole.bytes;
    cut_pixels.erase(cut_pixels.begin() + 300, cut_pixels.begin() + 600);  // pixels end early
    Bytes no_palette(whole.bytes.begin(), whole.bytes.begin() + 700);
    Bytes short_raw = MakePcx({.encoded = false, .width = 30, .height = 30, .line_bytes = 30}).bytes;
    short_raw.resize(128 + 500);
    Bytes zero_rows = whole.bytes;
    zero_rows[10] = 0xFF;  // y max -1: no rows
    zero_rows[11] = 0xFF;
    struct Case {
        const char* name;
        Bytes bytes;
        size_t packed;
        Status status;
    };
    const Case cases[] = {
        {"pixel data end early", cut_pixels, 10, Status::kBadFormat},
        {"file shorter than the palette block", no_palette, 10, Status::kBadFormat},
        {"raw pixels cut short", short_raw, 10, Status::kBadFormat},
        {"no rows", zero_rows, 10, Status::kBadFormat},
        {"decoded bytes run out", whole.bytes, 1200 / 8 - 17 + 1, Status::kCarrierTooSmall},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        TempDir dir;
        const std::string carrier = dir / "c.pcx";
        WriteFile(carrier, test.bytes);
        WriteFile(dir / "p", MakePrepared(Bytes(test.packed, 1)));
        Session s;
        CarrierState c;
        PcxState p;
        EXPECT_FALSE(HidePcx(s, c, p, carrier.c_str(), (dir / "p").c_str()));
        EXPECT_EQ(s.status, static_cast<uint16_t>(test.status));
        EXPECT_EQ(ReadFile(carrier), test.bytes);
        EXPECT_EQ(testing::ListDir(dir.path()), (std::vector<std::string> {"c.pcx", "p"}));
    }
}

}  // namespace
}  // namespace hedgerow::hide
