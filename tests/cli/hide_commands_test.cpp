// hide_commands_test.cpp -- `hedgerow hide` and `hedgerow unhide` end to end: the
// file comes back, a wrong password leaves no file, and an existing output file is
// replaced only when the options say so.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/carrier_builder.h"
#include "support/cli_fixture.h"

namespace hedgerow::testing {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using HideCommandsTest = CliTest;

TEST_F(HideCommandsTest, HideAndUnhideWithTheArchivePasswordHandling) {
    BmpShape shape;
    shape.width = 120;
    shape.height = 90;
    const std::vector<uint8_t> picture = MakeBmp(shape).bytes;
    WriteFile(At("pic.bmp"), picture);
    const std::vector<uint8_t> secret = NoiseBytes(700, 5);
    WriteFile(At("secret.bin"), secret);
    WriteFile(At("pw.txt"), "from a file\n");

    const CommandResult hidden = Run({"hide", "pic.bmp", "secret.bin", "--password-file", "pw.txt"});
    ASSERT_EQ(hidden.exit_code, 0) << hidden.err;
    EXPECT_NE(ReadFile(At("pic.bmp")), picture);

    const CommandResult wrong = Run({"unhide", "pic.bmp", "-o", "out/secret.bin"});  // the environment's password
    EXPECT_EQ(wrong.exit_code, 27) << wrong.err;
    EXPECT_TRUE(Contains(wrong.err, "password")) << wrong.err;
    EXPECT_FALSE(std::filesystem::exists(At("out/secret.bin")));

    const CommandResult right = Run({"unhide", "pic.bmp", "-o", "out/secret.bin", "--password-file", "pw.txt"});
    ASSERT_EQ(right.exit_code, 0) << right.err;
    EXPECT_EQ(ReadFile(At("out/secret.bin")), secret);

    // An existing file: kept without a terminal to ask, kept with -n, replaced with -y.
    WriteFile(At("out/secret.bin"), "older");
    for (const char* keep : {"", "-n"}) {
        std::vector<std::string> args = {"unhide", "pic.bmp", "-o", "out/secret.bin", "--password-file", "pw.txt"};
        if (*keep) args.push_back(keep);
        const CommandResult kept = Run(args);
        EXPECT_EQ(kept.exit_code, 3) << keep << kept.err;
        EXPECT_EQ(ReadFile(At("out/secret.bin")), std::vector<uint8_t>({'o', 'l', 'd', 'e', 'r'}));
    }
    const CommandResult replaced =
        Run({"unhide", "-y", "pic.bmp", "-o", "out/secret.bin", "--password-file", "pw.txt"});
    EXPECT_EQ(replaced.exit_code, 0) << replaced.err;
    EXPECT_EQ(ReadFile(At("out/secret.bin")), secret);

    // The legacy form, for readers that know no other, comes back the same way.
    WriteFile(At("old.bmp"), picture);
    ASSERT_EQ(Run({"hide", "--legacy", "old.bmp", "secret.bin"}).exit_code, 0);
    ASSERT_EQ(Run({"unhide", "old.bmp", "-o", "out/legacy.bin"}).exit_code, 0);
    EXPECT_EQ(ReadFile(At("out/legacy.bin")), secret);

    // A carrier of no known kind, and one that holds nothing.
    const CommandResult text = Run({"hide", "pw.txt", "secret.bin"});
    EXPECT_NE(text.exit_code, 0);
    WriteFile(At("plain.bmp"), picture);
    const CommandResult nothing = Run({"unhide", "plain.bmp", "-o", "x.bin"});
    EXPECT_NE(nothing.exit_code, 0);
    EXPECT_TRUE(Contains(nothing.err, "plain.bmp")) << nothing.err;
    EXPECT_FALSE(std::filesystem::exists(At("x.bin")));
}

TEST_F(HideCommandsTest, CarriersOfOtherKindsAreNamedAndVersion5PicturesCarry) {
    WriteFile(At("secret.txt"), "a secret\n");
    const auto bmp = [](uint16_t bits) {
        BmpShape shape;
        shape.bits = bits;
        shape.palette_entries = bits <= 8 ? (1u << bits) : 0;
        shape.colours = bits < 8 ? (1u << bits) : 256;
        return MakeBmp(shape).bytes;
    };
    const std::vector<uint8_t> samples(4000, 0x40);
    const auto magic = [](std::string text) {
        text.resize(64, '\0');
        return std::vector<uint8_t>(text.begin(), text.end());
    };
    struct Case {
        const char* file;
        std::vector<uint8_t> bytes;
        const char* kind;
    };
    const std::vector<Case> cases = {
        {"a.png", magic("\x89PNG\r\n\x1a\n"), "PNG picture"},
        {"a.jpg", magic("\xFF\xD8\xFF\xE0"), "JPEG picture"},
        {"a.gif", magic("GIF89a"), "GIF picture"},
        {"a.tif", magic(std::string("II*\0", 4)), "TIFF picture"},
        {"four.bmp", bmp(4), "BMP picture of 4 bits"},
        {"deep.bmp", bmp(32), "BMP picture of 32 bits"},
        {"a24.wav", MakeWav({{FormatChunk(24), false}, {RiffChunk("data", samples), true}}).bytes,
         "WAV sound of 24-bit samples"},
        {"float.wav", MakeWav({{FormatChunk(32, 1, 3), false}, {RiffChunk("data", samples), true}}).bytes,
         "WAV sound of 32-bit floating-point samples"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        WriteFile(At(c.file), c.bytes);
        for (const std::vector<std::string>& args : {std::vector<std::string> {"hide", "--legacy", c.file, "secret.txt"},
                                                     std::vector<std::string> {"unhide", c.file, "-o", "out.txt"}}) {
            const CommandResult r = Run(args);
            EXPECT_EQ(r.exit_code, 26);
            EXPECT_EQ(r.err, std::string("hedgerow: ") + c.file + ": not a supported carrier: " + c.kind +
                                 " (supported: BMP 8 and 24 bits, WAV 8 and 16 bits PCM, PCX)\n");
        }
        EXPECT_EQ(ReadFile(At(c.file)), c.bytes);
    }
    // A carrier that holds a file already keeps it unless -y says otherwise (without a
    // terminal there is no one to ask).
    for (const bool legacy : {false, true}) {
        SCOPED_TRACE(legacy);
        BmpShape shape;
        shape.width = 64;
        shape.height = 48;
        WriteFile(At("full.bmp"), MakeBmp(shape).bytes);
        std::vector<std::string> hide = {"hide", "full.bmp", "secret.txt"};
        if (legacy) hide.insert(hide.begin() + 1, "--legacy");
        ASSERT_EQ(Run(hide).exit_code, 0);
        const std::vector<uint8_t> holding = ReadFile(At("full.bmp"));
        const CommandResult again = Run(hide);
        EXPECT_EQ(again.exit_code, 3);
        EXPECT_EQ(again.err, "hedgerow: full.bmp: holds a hidden file already; left as it was (-y replaces it)\n");
        EXPECT_EQ(ReadFile(At("full.bmp")), holding);
        hide.push_back("-y");
        EXPECT_EQ(Run(hide).exit_code, 0);
    }
    // A carrier too small for the file says how much it holds and how much is needed
    // (40 x 40 pixels of 24 bits in a 4,854-byte file: (4854 - 1601) / 8 bytes by the
    // length rule).
    BmpShape small;
    small.width = 40;
    small.height = 40;
    WriteFile(At("small.bmp"), MakeBmp(small).bytes);
    std::vector<uint8_t> noise(3000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    WriteFile(At("noise.bin"), noise);
    const CommandResult too_small = Run({"hide", "small.bmp", "noise.bin"});
    EXPECT_NE(too_small.exit_code, 0);
    EXPECT_TRUE(Contains(too_small.err, "hedgerow: small.bmp: too small for noise.bin: it holds 406 bytes of hidden "
                                        "data, and the file needs "))
        << too_small.err;
    EXPECT_TRUE(Contains(too_small.err, " bytes once compressed and enciphered (choose a larger carrier)\n"))
        << too_small.err;
    // What a common image tool writes by default: the version 5 header.
    for (const uint16_t bits : {8, 24}) {
        SCOPED_TRACE(bits);
        BmpShape shape;
        shape.header_size = 124;
        shape.bits = bits;
        shape.width = 64;
        shape.height = 48;
        WriteFile(At("v5.bmp"), MakeBmp(shape).bytes);
        std::filesystem::remove(At("out.txt"));
        const CommandResult hidden = Run({"hide", "--legacy", "v5.bmp", "secret.txt"});
        ASSERT_EQ(hidden.exit_code, 0) << hidden.err;
        const CommandResult back = Run({"unhide", "v5.bmp", "-o", "out.txt"});
        ASSERT_EQ(back.exit_code, 0) << back.err;
        EXPECT_EQ(ReadFile(At("out.txt")), ReadFile(At("secret.txt")));
    }
}

}  // namespace
}  // namespace hedgerow::testing
