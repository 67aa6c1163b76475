// wav_carrier_test.cpp -- WAV header checks and the 12-bit rewrite.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hide/carrier.h"
#include "hide/wav_carrier.h"
#include "support/carrier_builder.h"
#include "support/temp_dir.h"

namespace hedgerow::hide {
namespace {

using testing::AppendText;
using testing::FormatChunk;
using testing::MakePrepared;
using testing::MakeWav;
using testing::ReadFile;
using testing::RiffChunk;
using testing::TempDir;
using testing::TestRandom;
using testing::WriteFile;

std::vector<uint8_t> Samples(size_t n) { return TestRandom(21).Bytes(n); }

TEST(WavCarrierTest, HeaderChecks) {
    const std::vector<uint8_t> data = RiffChunk("data", Samples(64));
    std::vector<uint8_t> rifx = MakeWav({{FormatChunk(16), false}, {data, true}}).bytes;
    rifx[3] = 'X';
    std::vector<uint8_t> avi = MakeWav({{FormatChunk(16), false}, {data, true}}).bytes;
    avi[8] = 'A';
    std::vector<uint8_t> cut_in_tag = MakeWav({{FormatChunk(16), false}}).bytes;
    cut_in_tag.resize(14);  // "RIFF", size, "WAVE", "fm"
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        Status status;
        uint32_t unit;
    };
    const Case cases[] = {
        {"8-bit", MakeWav({{FormatChunk(8), false}, {data, true}}).bytes, Status::kOk, 1},
        {"16-bit stereo", MakeWav({{FormatChunk(16, 2), false}, {data, true}}).bytes, Status::kOk, 2},
        {"12-bit counts as 16 when hiding", MakeWav({{FormatChunk(12), false}, {data, true}}).bytes, Status::kOk, 2},
        {"RIFX", rifx, Status::kBadFormat, 0},
        {"form type AVE", avi, Status::kBadFormat, 0},
        {"format tag 3 (floating point)", MakeWav({{FormatChunk(32, 1, 3), false}, {data, true}}).bytes,
         Status::kUnsupportedCarrier, 0},
        {"extensible format tag", MakeWav({{FormatChunk(16, 1, 0xFFFE), false}, {data, true}}).bytes,
         Status::kUnsupportedCarrier, 0},
        {"24-bit", MakeWav({{FormatChunk(24), false}, {data, true}}).bytes, Status::kUnsupportedCarrier, 0},
        {"no format chunk", MakeWav({{data, true}}).bytes, Status::kIoError, 0},
        // The RIFF size ends before the format chunk.
        {"format chunk beyond the RIFF size", MakeWav({{data, true}, {FormatChunk(8), false}}, 1, 4 + 72).bytes,
         Status::kIoError, 0},
        {"file ends inside a tag", cut_in_tag, Status::kIoError, 0},
    };
    TempDir dir;
    const std::string path = dir / "c.wav";
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        WriteFile(path, test.bytes);
        Session s;
        CarrierState c;
        uint32_t unit = 0;
        EXPECT_EQ(ProbeCarrier(s, c, path.c_str(), &unit), test.status == Status::kOk);
        EXPECT_EQ(s.status, static_cast<uint16_t>(test.status));
        EXPECT_EQ(unit, test.unit);
        EXPECT_EQ(ReadFile(path), test.bytes) << "the probe writes nothing";
    }
}

TEST(WavCarrierTest, TwelveBitSoundIsHiddenIn16BitUnitsAndMarkedSixteen) {
    TempDir dir;
    const testing::Carrier wav = MakeWav({{FormatChunk(12), false}, {RiffChunk("data", Samples(2000)), true}}, 2);
    WriteFile(dir / "c.wav", wav.bytes);
    const std::vector<uint8_t> file = MakePrepared(Samples(30));
    WriteFile(dir / "p", file);
    Session s;
    CarrierState c;
    uint8_t header[kPreparedHeaderSize];
    // Recovering does not take 12 bits for 16.
    EXPECT_FALSE(ExtractFromCarrier(s, c, (dir / "c.wav").c_str(), (dir / "out").c_str(), header));
    EXPECT_EQ(s.status, static_cast<uint16_t>(Status::kUnsupportedCarrier));
    s = Session {};
    ASSERT_TRUE(EmbedIntoCarrier(s, c, (dir / "c.wav").c_str(), (dir / "p").c_str())) << s.status;
    const std::vector<uint8_t> after = ReadFile(dir / "c.wav");
    EXPECT_EQ(after[12 + 8 + 14], 16);
    for (size_t i = 0; i < wav.units.size(); ++i) {
        EXPECT_EQ(after[wav.units[i] + 1], wav.bytes[wav.units[i] + 1]) << "upper byte of sample " << i;
    }
    ASSERT_TRUE(ExtractFromCarrier(s, c, (dir / "c.wav").c_str(), (dir / "out").c_str(), header)) << s.status;
    EXPECT_EQ(ReadFile(dir / "out"), file);
}

}  // namespace
}  // namespace hedgerow::hide
