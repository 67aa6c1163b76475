// hostile_input_posix_test.cpp -- the hedgerow command given what a stranger can craft:
// names that would steer the terminal, password files that never end, archives that name
// no real cipher, prefixes that only some names carry.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "support/cli_fixture_posix.h"

namespace hedgerow::testing {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using HostileInputTest = CliTest;

// What a terminal would act upon: any escape or bell other than the progress line's own
// "clear the line" (\r ESC [K).
bool SteersTheTerminal(std::string text) {
    for (size_t at; (at = text.find("\r\x1b[K")) != std::string::npos;) text.erase(at, 4);
    return text.find_first_of("\x1b\x07") != std::string::npos;
}

TEST_F(HostileInputTest, StoredNamesReachTheTerminalEscaped) {
    const std::string steering = "\x1b]0;PWNED\x07\x1b[31m red.txt";
    const std::string two_lines = "two\nlines.txt";
    WriteFile(At("in/" + steering), "title\n");
    WriteFile(At("in/" + two_lines), "row\n");
    const CommandResult added = Run({"a", "-v", "t.hdg", "in"});
    ASSERT_EQ(added.exit_code, 0) << added.err;
    EXPECT_FALSE(SteersTheTerminal(added.out)) << added.out;

    const CommandResult table = Run({"l", "t.hdg"});
    ASSERT_EQ(table.exit_code, 0) << table.err;
    EXPECT_FALSE(SteersTheTerminal(table.out));
    EXPECT_TRUE(Contains(table.out, "in/\\x1b]0;PWNED\\x07\\x1b[31m red.txt\n")) << table.out;
    EXPECT_TRUE(Contains(table.out, "in/two\\nlines.txt\n")) << table.out;
    // the kind of archive, heading, rows and totals: no row made up
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), 1 + 2 + 2 + 1 + 1);

    // JSON keeps the names exact (escaped the JSON way).
    EXPECT_EQ(Names("t.hdg"), (std::vector<std::string> {"in/" + steering, "in/" + two_lines}));

    const CommandResult extracted = Run({"x", "-v", "t.hdg", "-o", "out"});
    ASSERT_EQ(extracted.exit_code, 0) << extracted.err;
    EXPECT_FALSE(SteersTheTerminal(extracted.out)) << extracted.out;
    EXPECT_EQ(ReadFile(At("out/in/" + steering)), ReadFile(At("in/" + steering)));
    const CommandResult kept = Run({"x", "t.hdg", "-o", "out"});  // the files exist: both are named
    EXPECT_EQ(kept.exit_code, 3);
    EXPECT_FALSE(SteersTheTerminal(kept.err)) << kept.err;
    EXPECT_TRUE(Contains(kept.err, "in/two\\nlines.txt: exists; kept")) << kept.err;

    // The progress line and the replace question on a terminal.
    TerminalSession s({"x", "t.hdg", "-o", "out"}, dir.path(), password);
    ASSERT_TRUE(s.Expect("[q]uit: "));
    s.Send("A\n");
    EXPECT_EQ(s.Wait(), 0) << s.transcript();
    EXPECT_FALSE(SteersTheTerminal(s.transcript())) << s.transcript();
    EXPECT_TRUE(Contains(s.transcript(), "\\x1b]0;PWNED")) << s.transcript();
}

}  // namespace
}  // namespace hedgerow::testing
