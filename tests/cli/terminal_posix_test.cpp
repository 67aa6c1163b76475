// terminal_posix_test.cpp -- the hedgerow command at a terminal: password prompts without
// echo, asking again, the overwrite question, the progress line and Ctrl-C.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/cli_fixture.h"

namespace hedgerow::testing {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using TerminalTest = CliTest;
const Environment kNoPasswords;

TEST_F(TerminalTest, PasswordsArePromptedWithoutEchoAndConfirmed) {
    MakeTree();
    TerminalSession s({"a", "t.hdg", "in"}, dir.path(), kNoPasswords);
    ASSERT_TRUE(s.Expect("Password: "));
    s.Send("first try\n");
    ASSERT_TRUE(s.Expect("Repeat password: "));
    s.Send("other\n");
    ASSERT_TRUE(s.Expect("differ"));
    ASSERT_TRUE(s.Expect("Password: "));
    s.Send("hedge pass\n");
    ASSERT_TRUE(s.Expect("Repeat password: "));
    s.Send("hedge pass\n");
    EXPECT_EQ(s.Wait(), 0) << s.transcript();
    EXPECT_FALSE(Contains(s.transcript(), "first try")) << s.transcript();
    EXPECT_FALSE(Contains(s.transcript(), "hedge pass")) << s.transcript();
    EXPECT_EQ(Names("t.hdg"), TreeNames());
}

TEST_F(TerminalTest, WrongPasswordsAreAskedForAgainUpToALimit) {
    MakeTree();
    // A legacy archive finds a wrong password at an entry; a strong one at its header.
    for (const auto& [cipher, wrong_for] : {std::pair<std::string, std::string> {"idea", "in/a.txt"}, {"chacha", "t.hdg"}}) {
        SCOPED_TRACE(cipher);
        std::filesystem::remove(At("t.hdg"));
        std::filesystem::remove_all(At("out"));
        std::filesystem::remove_all(At("out2"));
        ASSERT_EQ(Run({"a", "-c", cipher, "t.hdg", "in/a.txt"}).exit_code, 0);
        {
            TerminalSession s({"x", "t.hdg", "-o", "out"}, dir.path(), kNoPasswords);
            ASSERT_TRUE(s.Expect("Password: "));
            s.Send("wrong\n");
            ASSERT_TRUE(s.Expect("Wrong password for " + wrong_for + "."));
            ASSERT_TRUE(s.Expect("Password: "));
            s.Send("hedge pass\n");
            EXPECT_EQ(s.Wait(), 0) << s.transcript();
            EXPECT_EQ(ReadFile(At("out/in/a.txt")), ReadFile(At("in/a.txt")));
        }
        TerminalSession s({"x", "t.hdg", "-o", "out2"}, dir.path(), kNoPasswords);
        for (int attempt = 0; attempt < 3; ++attempt) {
            ASSERT_TRUE(s.Expect("Password: ")) << s.transcript();
            s.Send("wrong\n");
        }
        EXPECT_EQ(s.Wait(), 27) << s.transcript();
        EXPECT_TRUE(Contains(s.transcript(), "The password is wrong."));
        EXPECT_FALSE(std::filesystem::exists(At("out2/in/a.txt")));
    }
}

TEST_F(TerminalTest, HeaderPasswordIsAskedForAgain) {
    MakeTree();
    const Environment header {{"HEDGEROW_PASSWORD", "hedge pass"}, {"HEDGEROW_HEADER_PASSWORD", "names"}};
    ASSERT_EQ(Run({"a", "-c", "idea", "--lock", "t.hdg", "in"}, header).exit_code, 0);
    TerminalSession s({"l", "t.hdg"}, dir.path(), kNoPasswords);
    ASSERT_TRUE(s.Expect("Header password: "));
    s.Send("nope\n");
    ASSERT_TRUE(s.Expect("Wrong header password."));
    ASSERT_TRUE(s.Expect("Header password: "));
    s.Send("names\n");
    EXPECT_EQ(s.Wait(), 0) << s.transcript();
    EXPECT_TRUE(Contains(s.transcript(), "in/sub/b.bin"));
}

TEST_F(TerminalTest, OverwriteQuestionTakesEveryAnswer) {
    MakeTree();
    ASSERT_EQ(Run({"a", "t.hdg", "in/a.txt", "in/c.txt", "in/sub/b.bin"}).exit_code, 0);
    struct Case {
        std::vector<std::string> answers;  // one per question asked
        std::vector<bool> replaced;        // a.txt, c.txt, b.bin
        int exit_code;
    };
    const std::vector<Case> cases = {
        {{"n", "y", "no"}, {false, true, false}, 0},
        {{"A"}, {true, true, true}, 0},
        {{"y", "N"}, {true, false, false}, 0},
        {{"maybe", "n", "q"}, {false, false, false}, 130},
    };
    const std::vector<std::string> names = {"in/a.txt", "in/c.txt", "in/sub/b.bin"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answers.front());
        for (const std::string& name : names) WriteFile(At("out/" + name), "on disk\n");
        TerminalSession s({"x", "t.hdg", "-o", "out"}, dir.path(), password);
        for (const std::string& answer : c.answers) {
            ASSERT_TRUE(s.Expect("[y]es, [n]o, [A]ll, [N]one, [q]uit: ")) << s.transcript();
            s.Send(answer + "\n");
        }
        EXPECT_EQ(s.Wait(), c.exit_code) << s.transcript();
        for (size_t i = 0; i < names.size(); ++i) {
            EXPECT_EQ(ReadFile(At("out/" + names[i])) == ReadFile(At(names[i])), c.replaced[i]) << names[i];
        }
    }
}

// A try with a wrong password is no work done: the entry starts again from nothing, and
// the line never shows more than there is.
TEST_F(TerminalTest, ProgressDoesNotCountFailedPasswordTries) {
    WriteFile(At("a.bin"), NoiseBytes(1 << 20, 12));
    ASSERT_EQ(Run({"a", "-c", "idea", "t.hdg", "a.bin"}).exit_code, 0);
    TerminalSession s({"x", "t.hdg", "-o", "out"}, dir.path(), kNoPasswords);
    ASSERT_TRUE(s.Expect("Password: "));
    s.Send("wrong\n");
    ASSERT_TRUE(s.Expect("Password: ")) << s.transcript();
    const size_t retry = s.transcript().size();
    s.Send("hedge pass\n");
    EXPECT_EQ(s.Wait(), 0) << s.transcript();
    const std::string after = s.transcript().substr(retry);
    const size_t first = after.find('%');
    ASSERT_NE(first, std::string::npos) << after;
    EXPECT_EQ(after.substr(first - 2, 3), " 0%") << after;
    EXPECT_FALSE(Contains(s.transcript(), "1.0 MiB / 1.0 MiB") && Contains(s.transcript(), "2.0 MiB")) << s.transcript();
}

// Ctrl-C while the progress line runs: the operation stops at its next safe point, a new
// archive is not left behind and an existing one is not touched.
TEST_F(TerminalTest, CtrlCCancelsCleanly) {
    WriteFile(At("small.txt"), "small\n");
    WriteFile(At("big.bin"), NoiseBytes(32u << 20, 9));
    {
        TerminalSession s({"a", "new.hdg", "big.bin"}, dir.path(), password);
        ASSERT_TRUE(s.Expect("big.bin")) << s.transcript();
        ASSERT_TRUE(s.Expect("%")) << s.transcript();
        s.Signal(SIGINT);
        EXPECT_EQ(s.Wait(), 130) << s.transcript();
        EXPECT_TRUE(Contains(s.transcript(), "cancelled")) << s.transcript();
        EXPECT_FALSE(std::filesystem::exists(At("new.hdg")));
    }
    ASSERT_EQ(Run({"a", "old.hdg", "small.txt"}).exit_code, 0);
    const std::vector<uint8_t> before = ReadFile(At("old.hdg"));
    TerminalSession s({"a", "old.hdg", "big.bin"}, dir.path(), password);
    ASSERT_TRUE(s.Expect("%")) << s.transcript();
    s.Signal(SIGINT);
    EXPECT_EQ(s.Wait(), 130) << s.transcript();
    EXPECT_EQ(ReadFile(At("old.hdg")), before);
    std::vector<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) left.push_back(e.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string> {"big.bin", "old.hdg", "small.txt"}));
}

}  // namespace
}  // namespace hedgerow::testing
