// bmp_carrier_test.cpp -- BMP header checks, the palette layout and the palette step:
// an 8-bit picture of few colours looks the same after hiding, and a short palette never
// spills into the pixels.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "hide/bmp_carrier.h"
#include "hide/carrier.h"
#include "support/carrier_builder.h"
#include "support/temp_dir.h"

namespace hedgerow::hide {
namespace {

using testing::BmpShape;
using testing::Carrier;
using testing::MakeBmp;
using testing::MakePrepared;
using testing::ReadFile;
using testing::RenderBmp8;
using testing::TempDir;
using testing::TestRandom;
using testing::WriteFile;

TEST(BmpCarrierTest, HeaderChecks) {
    struct Case {
        const char* name;
        std::function<void(BmpShape&)> change;
        Status status;
    };
    const Case cases[] = {
        {"BA accepted like BM", [](BmpShape& b) { b.second = 'A'; }, Status::kOk},
        {"12-byte header", [](BmpShape& b) { b.header_size = 12; }, Status::kOk},
        {"64-byte header", [](BmpShape& b) { b.header_size = 64; }, Status::kOk},
        {"8 bits", [](BmpShape& b) { b.bits = 8; }, Status::kOk},
        {"second byte", [](BmpShape& b) { b.second = 'Z'; }, Status::kBadFormat},
        {"108-byte header (version 4)", [](BmpShape& b) { b.header_size = 108; }, Status::kOk},
        {"124-byte header (version 5), 8 bits", [](BmpShape& b) { b.header_size = 124, b.bits = 8; }, Status::kOk},
        {"56-byte header", [](BmpShape& b) { b.header_size = 56; }, Status::kBadFormat},
        {"width 0", [](BmpShape& b) { b.width = 0; }, Status::kBadFormat},
        {"height 0 before planes", [](BmpShape& b) { b.height = 0, b.planes = 2; }, Status::kBadFormat},
        {"two planes", [](BmpShape& b) { b.planes = 2; }, Status::kBadFormat},
        {"1 bit", [](BmpShape& b) { b.bits = 1, b.palette_entries = 2, b.colours = 2; }, Status::kUnsupportedCarrier},
        {"4 bits", [](BmpShape& b) { b.bits = 4, b.palette_entries = 16; }, Status::kUnsupportedCarrier},
        {"16 bits", [](BmpShape& b) { b.bits = 16; }, Status::kUnsupportedCarrier},
        {"32 bits", [](BmpShape& b) { b.bits = 32; }, Status::kUnsupportedCarrier},
        {"run-length coded 8-bit", [](BmpShape& b) { b.bits = 8, b.compression = 1; }, Status::kCompressedCarrier},
        {"bit fields", [](BmpShape& b) { b.compression = 3; }, Status::kCompressedCarrier},
    };
    TempDir dir;
    const std::string path = dir / "c.bmp";
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        BmpShape shape;
        test.change(shape);
        const Carrier bmp = MakeBmp(shape);
        WriteFile(path, bmp.bytes);
        Session s;
        CarrierState c;
        uint32_t unit = 0;
        EXPECT_EQ(ProbeCarrier(s, c, path.c_str(), &unit), test.status == Status::kOk);
        EXPECT_EQ(s.status, static_cast<uint16_t>(test.status));
        EXPECT_EQ(ReadFile(path), bmp.bytes);
    }
    // A header cut short anywhere is malformed, and so are pixels that begin inside it
    // (hiding would change the fields that lead to them).
    const Carrier whole = MakeBmp(BmpShape {});
    for (uint32_t offset : {0u, 20u, 53u}) {
        SCOPED_TRACE(offset);
        std::vector<uint8_t> bytes = whole.bytes;
        testing::PutLe(bytes, 10, offset, 4);
        WriteFile(path, bytes);
        Session s;
        CarrierState c;
        uint32_t unit = 0;
        EXPECT_FALSE(ProbeCarrier(s, c, path.c_str(), &unit));
        EXPECT_EQ(s.status, static_cast<uint16_t>(Status::kBadFormat));
    }
    for (size_t length : {1u, 2u, 17u, 20u, 53u}) {
        SCOPED_TRACE(length);
        WriteFile(path, std::vector<uint8_t>(whole.bytes.begin(), whole.bytes.begin() + static_cast<long>(length)));
        Session s;
        CarrierState c;
        uint32_t unit = 0;
        EXPECT_FALSE(ProbeCarrier(s, c, path.c_str(), &unit));
        EXPECT_EQ(s.status, static_cast<uint16_t>(Status::kBadFormat));
    }
}

std::array<uint32_t, 256> CountsOf(const std::vector<uint32_t>& counts_of_used) {
    std::array<uint32_t, 256> counts {};
    for (size_t i = 0; i < counts_of_used.size(); ++i) counts[i] = counts_of_used[i];
    return counts;
}

TEST(BmpCarrierTest, PaletteLayoutPairsTheMostFrequentIndices) {
    {
        SCOPED_TRACE("200 indices: the 56 most frequent get two slots");
        std::vector<uint32_t> used(200);
        for (uint32_t i = 0; i < 200; ++i) used[i] = 1 + (i * 37) % 200;  // all counts differ
        const PaletteLayout layout = LayOutPalette(CountsOf(used), 256);
        std::vector<uint32_t> by_count(200);
        for (uint32_t i = 0; i < 200; ++i) by_count[used[i] - 1] = i;  // ascending count
        for (uint32_t rank = 0; rank < 200; ++rank) {
            const uint32_t index = by_count[199 - rank];  // most frequent first
            const uint32_t slot = layout.moves_to[index];
            if (rank < 56) {
                EXPECT_EQ(slot, 2 * rank) << rank;
                EXPECT_EQ(layout.shown_in[slot + 1], index);
            } else {
                EXPECT_EQ(slot, 112 + (rank - 56)) << rank;
            }
            EXPECT_EQ(layout.shown_in[slot], index);
        }
    }
    {
        SCOPED_TRACE("equal counts keep ascending order; 3 indices share 256 slots as 128, 64, 64");
        const PaletteLayout layout = LayOutPalette(CountsOf({5, 5, 5}), 256);
        EXPECT_EQ(layout.moves_to[0], 0);
        EXPECT_EQ(layout.moves_to[1], 128);
        EXPECT_EQ(layout.moves_to[2], 192);
        EXPECT_EQ(layout.shown_in[127], 0);
        EXPECT_EQ(layout.shown_in[191], 1);
    }
    {
        SCOPED_TRACE("a single index fills every slot");
        std::array<uint32_t, 256> counts {};
        counts[77] = 9;
        const PaletteLayout layout = LayOutPalette(counts, 256);
        EXPECT_EQ(layout.moves_to[77], 0);
        for (uint32_t s = 0; s < 256; ++s) EXPECT_EQ(layout.shown_in[s], 77);
    }
    {
        SCOPED_TRACE("every slot block of 2^m starts at a multiple of 2^m");
        for (uint32_t n : {2u, 3u, 5u, 17u, 100u, 129u, 255u}) {
            std::vector<uint32_t> used(n);
            for (uint32_t i = 0; i < n; ++i) used[i] = 1 + (i * 7919) % 1000;
            const PaletteLayout layout = LayOutPalette(CountsOf(used), 256);
            for (uint32_t i = 0; i < n; ++i) {
                uint32_t size = 0;
                while (layout.moves_to[i] + size < 256 && layout.shown_in[layout.moves_to[i] + size] == i) ++size;
                EXPECT_EQ(size & (size - 1), 0u) << n << " " << i;
                EXPECT_EQ(layout.moves_to[i] % size, 0u) << n << " " << i;
            }
        }
    }
}

struct PaletteResult {
    std::vector<uint8_t> before;
    std::vector<uint8_t> after;
};

PaletteResult HideIn(const Carrier& bmp, size_t prepared_bytes) {
    TempDir dir;
    const std::string carrier = dir / "c.bmp";
    const std::string prepared = dir / "p";
    WriteFile(carrier, bmp.bytes);
    const std::vector<uint8_t> file = MakePrepared(TestRandom(9).Bytes(prepared_bytes));
    WriteFile(prepared, file);
    Session s;
    CarrierState c;
    EXPECT_TRUE(EmbedIntoCarrier(s, c, carrier.c_str(), prepared.c_str())) << s.status;
    PaletteResult result {bmp.bytes, ReadFile(carrier)};
    uint8_t header[kPreparedHeaderSize];
    EXPECT_TRUE(ExtractFromCarrier(s, c, carrier.c_str(), (dir / "out").c_str(), header)) << s.status;
    EXPECT_EQ(ReadFile(dir / "out"), file);
    return result;
}

TEST(BmpCarrierTest, FewColoursLookTheSameAfterHiding) {
    struct Case {
        const char* name;
        uint32_t header_size;
        uint32_t palette_entries;
        uint32_t colours_used;
        uint32_t colours;
        uint32_t first_index = 0;
    };
    const Case cases[] = {
        {"128 colours, 40-byte header", 40, 256, 0, 128},
        {"100 colours, 12-byte header", 12, 256, 0, 100},
        {"2 colours, 64-byte header", 64, 256, 256, 2},
        // A palette of fewer than 256 entries right before the pixels: the step works
        // within the entries there are and leaves the pixels where they are.
        {"5 colours in a 16-entry palette", 40, 16, 16, 5},
        {"2 colours in a 7-entry palette, 12-byte header", 12, 7, 0, 2},
        {"30 colours in a 256-entry palette, 120 counted", 40, 256, 120, 30},
        {"30 colours from index 60 on in a 100-entry palette", 40, 100, 0, 30, 60},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        BmpShape shape;
        shape.bits = 8;
        shape.header_size = test.header_size;
        shape.width = 37;
        shape.height = 30;
        shape.palette_entries = test.palette_entries;
        shape.colours_used = test.colours_used;
        shape.colours = test.colours;
        shape.first_index = test.first_index;
        const Carrier bmp = MakeBmp(shape);
        const PaletteResult r = HideIn(bmp, 30 * 36 / 8 - 100);
        ASSERT_EQ(r.after.size(), r.before.size());
        EXPECT_EQ(RenderBmp8(r.after), RenderBmp8(r.before));
        const uint32_t palette_end = 14 + test.header_size + test.palette_entries * (test.header_size == 12 ? 3 : 4);
        for (uint32_t i = palette_end; i < bmp.units.front(); ++i) EXPECT_EQ(r.after[i], r.before[i]);
    }
}

TEST(BmpCarrierTest, ManyColoursOrAShortPaletteKeepThePalette) {
    struct Case {
        const char* name;
        uint32_t palette_entries;
        uint32_t colours;
    };
    const Case cases[] = {
        {"all 256 indices used", 256, 256},
        {"16 colours fill a 16-entry palette", 16, 16},
        {"indices beyond a 16-entry palette", 16, 40},
        {"a single-entry palette", 1, 1},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        BmpShape shape;
        shape.bits = 8;
        shape.width = 64;
        shape.height = 40;
        shape.palette_entries = test.palette_entries;
        shape.colours = test.colours;
        const Carrier bmp = MakeBmp(shape);
        const PaletteResult r = HideIn(bmp, 40 * 64 / 8 - 100);
        // Palette untouched (header fields apart); pixels differ in their lowest bit only.
        for (size_t i = 54; i < bmp.units.front(); ++i) ASSERT_EQ(r.after[i], r.before[i]) << i;
        for (size_t u : bmp.units) ASSERT_EQ(r.after[u] | 1, r.before[u] | 1) << u;
    }
}

TEST(BmpCarrierTest, RowsRunningOutIsTooSmallNotAReadPastTheEnd) {
    // A top-down picture of 4 rows of 24 bytes, with bytes after its pixels: the rows end
    // after 96 units, whatever follows them in the file.
    BmpShape shape;
    shape.width = 8;
    shape.height = -4;
    Carrier bmp = MakeBmp(shape);
    bmp.bytes.resize(bmp.bytes.size() + 2000, 0x55);
    TempDir dir;
    WriteFile(dir / "c.bmp", bmp.bytes);
    WriteFile(dir / "p", MakePrepared({1, 2, 3, 4}));
    Session s;
    CarrierState c;
    EXPECT_FALSE(EmbedIntoCarrier(s, c, (dir / "c.bmp").c_str(), (dir / "p").c_str()));
    EXPECT_EQ(s.status, static_cast<uint16_t>(Status::kCarrierTooSmall));
    EXPECT_EQ(ReadFile(dir / "c.bmp"), bmp.bytes);
}

}  // namespace
}  // namespace hedgerow::hide
