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

}  // namespace
}  // namespace hedgerow::testing
