// sfx_commands_posix_test.cpp -- self-extracting archives end to end: `hedgerow a --sfx`
// with the real module beside the library, then the file itself run as a program.
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "archive/records.h"
#include "platform/platform.h"
#include "support/cli_fixture_posix.h"

namespace hedgerow::testing {
namespace {

namespace fs = std::filesystem;

class SfxCommandTest : public CliTest {
protected:
    // Runs a self-extracting file in the scratch directory, without a terminal and with
    // only the environment given; its exit code.
    int RunProgram(const std::string& program, const std::string& arguments, const std::string& env = "") const {
        const std::string command = "cd '" + dir.path() + "' && env -i PATH=/usr/bin:/bin " + env + " ./" + program +
                                    " " + arguments + " </dev/null >'" + At("run.log") + "' 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Where the archive begins: the marker, found as the library finds it.
    uint32_t MarkerOffset(const std::string& name) const {
        platform::File f = platform::OpenFile(At(name).c_str(), "rb");
        uint32_t offset = 0;
        bool locked = false;
        return f && archive::FindMarker(f.get(), &offset, &locked) == archive::MarkerSearch::kFound ? offset : 0;
    }

    void ExpectTreeIn(const std::string& out) const {
        for (const std::string& name : TreeNames()) {
            const std::string relative = name.substr(3);  // without "in/"
            EXPECT_EQ(ReadFile(At(out + "/" + relative)), ReadFile(At(name))) << relative;
        }
    }

    static constexpr const char* kPassword = "HEDGEROW_PASSWORD='hedge pass'";
};

TEST_F(SfxCommandTest, EveryCipherMakesAFileThatExtractsItselfWhenRun) {
    MakeTree();
    for (const char* cipher : {"none", "des", "3des", "idea"}) {
        SCOPED_TRACE(cipher);
        const std::string name = std::string("x-") + cipher + ".run";
        const CommandResult made = Run({"a", "--sfx", "-c", cipher, name, "-C", "in", "a.txt", "c.txt", "sub"});
        ASSERT_EQ(made.exit_code, 0) << made.err;
        struct stat info {};
        ASSERT_EQ(::stat(At(name).c_str(), &info), 0);
        EXPECT_NE(info.st_mode & S_IXUSR, 0u) << "runnable";
        // Small enough a program that the library still finds the archive behind it.
        const uint32_t marker = MarkerOffset(name);
        EXPECT_GT(marker, 0u);
        EXPECT_LT(marker, 61440u);
        EXPECT_EQ(List(name)["format"], "legacy");
        EXPECT_EQ(List(name)["totals"]["files"], 4);

        const std::string out = std::string("out-") + cipher;
        ASSERT_EQ(RunProgram(name, "-d " + out, kPassword), 0) << ReadFile(At("run.log")).size();
        ExpectTreeIn(out);
    }
    // Without a password and without a terminal, an enciphered file cannot be extracted.
    EXPECT_NE(RunProgram("x-idea.run", "-d quiet"), 0);
    EXPECT_FALSE(fs::exists(At("quiet/a.txt")));
}

TEST_F(SfxCommandTest, DamagedOrTruncatedFilesAreRefusedBeforeAnythingIsWritten) {
    MakeTree();
    ASSERT_EQ(Run({"a", "--sfx", "-c", "idea", "good.run", "-C", "in", "a.txt", "c.txt", "sub"}).exit_code, 0);
    const std::vector<uint8_t> good = ReadFile(At("good.run"));
    const uint32_t marker = MarkerOffset("good.run");
    ASSERT_GT(marker, 7000u);
    struct Case {
        const char* what;
        size_t flip;    // byte to change, or
        size_t keep;    // bytes to keep
    };
    for (const Case& c : {Case{"a byte of the blocks", marker - 3000, good.size()},
                          Case{"a byte of the program", 1000, good.size()},
                          Case{"a byte of the archive", good.size() - 10, good.size()},
                          Case{"the file cut short", good.size(), good.size() - 100}}) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> bad(good.begin(), good.begin() + static_cast<long>(c.keep));
        if (c.flip < bad.size()) bad[c.flip] ^= 0x20;
        WriteFile(At("bad.run"), bad);
        fs::permissions(At("bad.run"), fs::perms::owner_all);
        const int code = RunProgram("bad.run", "-d bad-out", kPassword);
        EXPECT_NE(code, 0);
        EXPECT_FALSE(fs::exists(At("bad-out")));
    }
}

TEST_F(SfxCommandTest, UpdatesAndDeletionsKeepTheFileRunnable) {
    MakeTree();
    ASSERT_EQ(Run({"a", "--sfx", "-c", "idea", "x.run", "-C", "in", "a.txt", "c.txt", "sub"}).exit_code, 0);
    const std::vector<uint8_t> before = ReadFile(At("x.run"));
    const uint32_t marker = MarkerOffset("x.run");
    WriteFile(At("in/new.txt"), "a later addition\n");
    const CommandResult added = Run({"a", "x.run", "-C", "in", "new.txt"});
    ASSERT_EQ(added.exit_code, 0) << added.err;
    const std::vector<uint8_t> after = ReadFile(At("x.run"));
    ASSERT_EQ(MarkerOffset("x.run"), marker);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + marker - 7000, after.begin())) << "same program";
    ASSERT_EQ(RunProgram("x.run", "-d out", kPassword), 0);
    ExpectTreeIn("out");
    EXPECT_EQ(ReadFile(At("out/new.txt")), ReadFile(At("in/new.txt")));

    ASSERT_EQ(Run({"d", "x.run", "a.txt"}).exit_code, 0);
    ASSERT_EQ(RunProgram("x.run", "-d out2", kPassword), 0);
    EXPECT_FALSE(fs::exists(At("out2/a.txt")));
    EXPECT_EQ(ReadFile(At("out2/c.txt")), ReadFile(At("in/c.txt")));
}

TEST_F(SfxCommandTest, PiecesOfASplitFileJoinIntoOneThatExtracts) {
    WriteFile(At("in/big.bin"), NoiseBytes(800000, 5));
    WriteFile(At("in/note.txt"), "split me\n");
    const CommandResult made = Run({"a", "--sfx", "-c", "idea", "--split", "360k", "x.run", "-C", "in", "big.bin", "note.txt"});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    EXPECT_NE(made.out.find("piece 3"), std::string::npos) << made.out;
    std::vector<uint8_t> joined;
    for (const char* piece : {"x.run", "x.run.002", "x.run.003"}) {
        const std::vector<uint8_t> bytes = ReadFile(At(piece));
        EXPECT_LE(bytes.size(), 362496u) << piece;
        joined.insert(joined.end(), bytes.begin(), bytes.end());
    }
    EXPECT_FALSE(fs::exists(At("x.run.004")));
    EXPECT_EQ(ReadFile(At("x.run")).size(), 362496u);
    WriteFile(At("joined.run"), joined);
    fs::permissions(At("joined.run"), fs::perms::owner_all);
    ASSERT_EQ(RunProgram("joined.run", "-d out", kPassword), 0);
    EXPECT_EQ(ReadFile(At("out/big.bin")), ReadFile(At("in/big.bin")));
    // One piece alone is refused.
    fs::permissions(At("x.run"), fs::perms::owner_all);
    EXPECT_EQ(RunProgram("x.run", "-d lone", kPassword), 2);
}

}  // namespace
}  // namespace hedgerow::testing
