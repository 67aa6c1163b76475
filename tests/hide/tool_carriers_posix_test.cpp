// tool_carriers_posix_test.cpp -- hiding in carriers made by independent programs (ImageMagick
// for BMP and PCX pictures, sox for WAV sounds), which then read the carriers back: same
// dimensions, depth and sample format, only the lowest bits of pixel bytes or samples
// changed, an 8-bit picture of few colours rendered identically, the hidden file
// recovered byte for byte, and carriers of kinds that cannot carry left untouched.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/carrier_builder.h"
#include "support/external_tools.h"
#include "support/hide_host.h"

namespace hedgerow::hide {
namespace {

using namespace hedgerow::testing;
using Bytes = std::vector<uint8_t>;

class ToolCarrierTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string missing = MissingTools(
            {{"convert", "imagemagick"}, {"compare", "imagemagick"}, {"identify", "imagemagick"}, {"sox", "sox"}});
        ASSERT_TRUE(missing.empty()) << "programs missing from PATH:" << missing
                                     << "; tools/install-deps.sh installs them";
    }

    // Runs a command in the scratch directory; its output on success.
    std::string Run(const std::string& command) {
        const ToolRun run = RunTool("cd " + Quoted(h.dir.path()) + " && " + command);
        EXPECT_EQ(run.exit_code, 0) << command << "\n" << run.output;
        return run.output;
    }

    HideHost h;
};

const uint32_t kOldStamp = (static_cast<uint32_t>(((2011 - 1980) << 9) | (5 << 5) | 17) << 16) | (9 << 11) | (30 << 5);

// Checks that after differs from before in the lowest bit of each unit_size-th byte at
// most, and not at all elsewhere; returns how many bytes changed.
size_t LowBitChanges(const Bytes& before, const Bytes& after, size_t unit_size = 1) {
    EXPECT_EQ(before.size(), after.size());
    size_t changed = 0;
    for (size_t i = 0; i < std::min(before.size(), after.size()); ++i) {
        if (i % unit_size == 0) {
            if ((before[i] | 1) != (after[i] | 1)) {
                ADD_FAILURE() << "byte " << i << " changed beyond its lowest bit";
                return changed;
            }
        } else if (before[i] != after[i]) {
            ADD_FAILURE() << "byte " << i << " of a sample changed";
            return changed;
        }
        changed += before[i] != after[i];
    }
    return changed;
}

// The decoded pixel bytes (palette indices) of an 8-bit PCX picture.
Bytes PcxIndices(const Bytes& file) {
    const size_t line = static_cast<size_t>(file[65]) * (file[66] | (file[67] << 8));
    const size_t rows = static_cast<size_t>((file[10] | (file[11] << 8)) - (file[6] | (file[7] << 8)) + 1);
    Bytes out;
    for (size_t i = 128; out.size() < line * rows && i < file.size();) {
        uint8_t v = file[i++];
        size_t count = 1;
        if (v >= 0xC0 && i < file.size()) {
            count = v & 0x3F;
            v = file[i++];
        }
        out.insert(out.end(), count, v);
    }
    out.resize(line * rows);
    return out;
}

// A top-down copy of a bottom-up BMP: rows in reverse order, height negated.
Bytes TopDown(const Bytes& bmp) {
    Bytes out = bmp;
    auto get32 = [&](size_t at) { return static_cast<uint32_t>(bmp[at] | (bmp[at + 1] << 8) | (bmp[at + 2] << 16) | (bmp[at + 3] << 24)); };
    const uint32_t offset = get32(10);
    const auto width = static_cast<int32_t>(get32(18));
    const auto height = static_cast<int32_t>(get32(22));
    const uint32_t bits = bmp[28];
    const size_t stride = (static_cast<size_t>(width) * bits / 8 + 3) & ~size_t {3};
    for (int32_t r = 0; r < height; ++r) {
        std::copy_n(bmp.begin() + static_cast<long>(offset + r * stride), stride,
                    out.begin() + static_cast<long>(offset + (height - 1 - r) * stride));
    }
    PutLe(out, 22, static_cast<uint32_t>(-height), 4);
    return out;
}

TEST_F(ToolCarrierTest, PicturesStayPicturesAndGiveTheFileBack) {
    struct Case {
        const char* name;
        const char* convert;     // arguments that make the picture from the plasma
        const char* file;
        bool top_down;
        bool palette_bmp;        // rendered colours must not change at all
        bool pcx_indices;        // pixel bytes are palette indices
    };
    const Case cases[] = {
        {"BMP 24-bit bottom-up", "-type TrueColor -compress none BMP3:", "c.bmp", false, false, false},
        {"BMP 24-bit top-down", "-type TrueColor -compress none BMP3:", "c.bmp", true, false, false},
        // The tool's default form: a version 5 header.
        {"BMP 24-bit, version 5 header", "-type TrueColor -compress none BMP:", "c.bmp", false, false, false},
        {"BMP 8-bit, 100 colours, bottom-up", "-colors 100 -type Palette -compress none BMP3:", "c.bmp", false, true,
         false},
        {"BMP 8-bit, 128 colours, top-down", "-colors 128 -type Palette -compress none BMP3:", "c.bmp", true, true,
         false},
        {"PCX 8-bit palette", "-colors 200 -type Palette PCX:", "c.pcx", false, false, true},
        {"PCX 24-bit in three planes", "-type TrueColor PCX:", "c.pcx", false, false, false},
    };
    const Bytes file = TestRandom(99).Bytes(400);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        const std::string carrier = test.file;
        Run("convert -seed 7 -size 96x64 plasma: " + std::string(test.convert) + carrier);
        if (test.top_down) {
            // ImageMagick writes bottom-up rows only; the same picture turned top-down must
            // look the same to it.
            std::filesystem::rename(h / carrier, h / "bottom_up.bmp");
            WriteFile(h / carrier, TopDown(ReadFile(h / "bottom_up.bmp")));
            EXPECT_EQ(Run("compare -metric AE bottom_up.bmp " + carrier + " null:"), "0");
        }
        const Bytes before = ReadFile(h / carrier);
        std::filesystem::copy_file(h / carrier, h / ("before_" + carrier),
                                   std::filesystem::copy_options::overwrite_existing);
        const std::string identify = "identify -format '%w %h %z %r %m' ";
        const std::string info = Run(identify + carrier);
        Run("convert " + carrier + " -depth 8 rgb:before.rgb");
        WriteFile(h / "file", file);
        SetStamp(h / carrier, kOldStamp);

        ASSERT_EQ(h.Hide(carrier, "file"), 0);
        EXPECT_EQ(StampOf(h / carrier), kOldStamp);
        EXPECT_EQ(Run(identify + carrier), info);
        Run("convert " + carrier + " -depth 8 rgb:after.rgb");
        if (test.palette_bmp) {
            EXPECT_EQ(Run("compare -metric AE before_" + carrier + " " + carrier + " null:"), "0");
        } else if (test.pcx_indices) {
            EXPECT_GT(LowBitChanges(PcxIndices(before), PcxIndices(ReadFile(h / carrier))), 100u);
        } else {
            EXPECT_GT(LowBitChanges(ReadFile(h / "before.rgb"), ReadFile(h / "after.rgb")), 100u);
        }

        ASSERT_EQ(h.Unhide(carrier, "out.bin"), 0);
        EXPECT_EQ(ReadFile(h / "out.bin"), file);
        for (const auto& entry : std::filesystem::directory_iterator(h.dir.path())) {
            if (entry.is_regular_file()) std::filesystem::remove(entry.path());
        }
    }
}

// What sox says about a sound, less the lines that name the file or give its size.
std::string SoundInfo(const std::string& text) {
    std::string kept;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        if (line.rfind("Input File", 0) != 0 && line.rfind("File Size", 0) != 0) kept += line + "\n";
        start = end + 1;
    }
    return kept;
}

TEST_F(ToolCarrierTest, SoundsStaySoundsAndGiveTheFileBack) {
    struct Case {
        const char* name;
        const char* format;  // sox output options
        size_t unit_size;
    };
    const Case cases[] = {
        {"8-bit mono", "-b 8 -c 1", 1},
        {"8-bit stereo", "-b 8 -c 2", 1},
        {"16-bit mono", "-b 16 -c 1", 2},
        {"16-bit stereo", "-b 16 -c 2", 2},
    };
    const Bytes file = TestRandom(98).Bytes(400);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Run("sox -n -r 8000 " + std::string(test.format) + " c.wav synth 1 sine 440 sine 660");
        const std::string info = SoundInfo(Run("sox --i c.wav"));
        Run("sox c.wav -t raw before.raw");
        WriteFile(h / "file", file);
        SetStamp(h / "c.wav", kOldStamp);

        ASSERT_EQ(h.Hide("c.wav", "file"), 0);
        EXPECT_EQ(StampOf(h / "c.wav"), kOldStamp);
        EXPECT_EQ(SoundInfo(Run("sox --i c.wav")), info);
        Run("sox c.wav -t raw after.raw");
        EXPECT_GT(LowBitChanges(ReadFile(h / "before.raw"), ReadFile(h / "after.raw"), test.unit_size), 100u);

        ASSERT_EQ(h.Unhide("c.wav", "out.bin"), 0);
        EXPECT_EQ(ReadFile(h / "out.bin"), file);
        for (const char* name : {"c.wav", "before.raw", "after.raw", "out.bin"}) std::filesystem::remove(h / name);
    }
}

TEST_F(ToolCarrierTest, CarriersThatCannotCarryAreLeftAsTheyWere) {
    struct Case {
        const char* name;
        const char* command;
        const char* carrier;
        uint16_t status;
    };
    // Large enough for the capacity rule, except where it is the point.
    const Case cases[] = {
        {"BMP of 16 colours (4 bits)", "convert -seed 7 -size 200x100 plasma: -colors 16 -type Palette -compress none BMP3:c",
         "c", arUnsupportedCarrier},
        {"run-length coded 8-bit BMP", "convert -seed 7 -size 200x100 plasma: -colors 100 -type Palette -compress rle BMP3:c",
         "c", arCompressedCarrier},
        {"PNG picture", "convert -seed 7 -size 200x100 plasma: PNG:c", "c", arUnsupportedCarrier},
        {"JPEG picture", "convert -seed 7 -size 300x200 plasma: -quality 100 JPEG:c", "c", arUnsupportedCarrier},
        {"GIF picture", "convert -seed 7 -size 200x100 plasma: GIF:c", "c", arUnsupportedCarrier},
        {"TIFF picture", "convert -seed 7 -size 200x100 plasma: -compress none TIFF:c", "c", arUnsupportedCarrier},
        {"32-bit BMP", "convert -seed 7 -size 200x100 plasma: -alpha set -define bmp:format=bmp4 BMP:c", "c",
         arUnsupportedCarrier},
        {"24-bit sound", "sox -n -r 8000 -b 24 -c 1 c.wav synth 1 sine 440", "c.wav", arUnsupportedCarrier},
        {"floating-point sound", "sox -n -r 8000 -e floating-point -b 32 -c 1 c.wav synth 1 sine 440", "c.wav",
         arUnsupportedCarrier},
        {"too small a picture", "convert -seed 7 -size 24x24 plasma: -type TrueColor -compress none BMP3:c", "c",
         arCarrierTooSmall},
        {"16-bit sound too short", "sox -n -r 8000 -b 16 -c 1 c.wav synth 0.5 sine 440", "c.wav", arCarrierTooSmall},
    };
    WriteFile(h / "file", TestRandom(97).Bytes(400));
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Run(test.command);
        const Bytes before = ReadFile(h / test.carrier);
        ASSERT_FALSE(before.empty());
        EXPECT_EQ(h.Hide(test.carrier, "file"), test.status);
        EXPECT_EQ(ReadFile(h / test.carrier), before);
        std::filesystem::remove(h / test.carrier);
    }
}

}  // namespace
}  // namespace hedgerow::hide
