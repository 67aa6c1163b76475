// sfx_commands_posix_test.cpp -- self-extracting archives end to end: `hedgerow a --sfx`
// with the real module beside the library, then the file itself run as a program.
#include <sys/stat.h>
#include <sys/wait.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "archive/records.h"
#include "platform/platform.h"
#include "support/cli_fixture.h"

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

    // Runs a shell command line without a terminal; its exit code, with what it printed
    // in run.log (Log()).
    int Shell(const std::string& line) const {
        const int status = std::system((line + " </dev/null >'" + At("run.log") + "' 2>&1").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Log() const {
        const std::vector<uint8_t> log = ReadFile(At("run.log"));
        return std::string(log.begin(), log.end());
    }

    // Where the archive begins: the marker, found as the library finds it.
    uint32_t MarkerOffset(const std::string& name) const {
        platform::File f = platform::OpenFile(At(name).c_str(), "rb");
        uint32_t offset = 0;
        bool locked = false;
        return f && archive::FindMarker(f.get(), &offset, &locked) == archive::MarkerSearch::kFound ? offset : 0;
    }

    void ExpectTreeIn(const std::string& out, const std::vector<std::string>& names = TreeNames()) const {
        for (const std::string& name : names) {
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

// The program needs no library at all (no interpreter, nothing needed: `readelf` says
// so), runs with an empty environment and in a root that holds nothing but itself, and
// leaves the whole marker record within the bytes readers search, split or not.
TEST_F(SfxCommandTest, TheProgramRunsWithNoLibraryAndKeepsTheMarkerInTheWindow) {
    MakeTree();
    ASSERT_EQ(Run({"a", "--sfx", "-c", "none", "x.run", "-C", "in", "a.txt", "sub"}).exit_code, 0);
    ASSERT_EQ(Shell("readelf -l -d '" + At("x.run") + "'"), 0) << Log();
    const std::string elf = Log();
    EXPECT_EQ(elf.find("INTERP"), std::string::npos) << elf;
    EXPECT_EQ(elf.find("NEEDED"), std::string::npos) << elf;
    EXPECT_NE(elf.find("There is no dynamic section"), std::string::npos) << elf;

    ASSERT_EQ(Run({"a", "--sfx", "-c", "none", "--split", "1440k", "split.run", "-C", "in", "c.txt"}).exit_code, 0);
    for (const char* name : {"x.run", "split.run"}) {
        const uint32_t marker = MarkerOffset(name);
        ASSERT_GT(marker, 0u) << name;
        EXPECT_LE(marker + archive::kMarkerSize, archive::kMarkerSearchLimit) << name;
        RecordProperty(std::string("marker_offset_") + name, static_cast<int>(marker));
    }

    ASSERT_EQ(RunProgram("x.run", "-d out"), 0) << Log();
    ExpectTreeIn("out", {"in/a.txt", "in/sub/b.bin", "in/sub/deeper/empty.txt"});

    // A root with the program alone in it: no /proc, no /lib, no /etc. (chroot needs root;
    // elsewhere an unprivileged user namespace stands in, where the kernel allows one.)
    fs::create_directories(At("bare"));
    fs::copy_file(At("x.run"), At("bare/x.run"));
    fs::permissions(At("bare/x.run"), fs::perms::owner_all);
    const std::string find = "\"$(PATH=\"$PATH:/usr/sbin:/sbin\" command -v ";
    const std::string chroot = ::geteuid() == 0 ? find + "chroot)\"" : find + "unshare)\" -r " + find + "chroot)\"";
    const int bare = Shell("env -i " + chroot + " '" + At("bare") + "' /x.run -d /out");
    if (::geteuid() != 0 && bare != 0 && !fs::exists(At("bare/out"))) {
        GTEST_SKIP() << "no way to change the root here: " << Log();
    }
    ASSERT_EQ(bare, 0) << Log();
    EXPECT_EQ(ReadFile(At("bare/out/a.txt")), ReadFile(At("in/a.txt")));
    EXPECT_EQ(ReadFile(At("bare/out/sub/b.bin")), ReadFile(At("in/sub/b.bin")));
}

// What the program promises beyond the seal: a file damaged in a way the seal cannot see
// (two aligned words of the archive swapped; the seal is a fold of words, blind to their
// order) writes nothing at all; kept files give exit 3; a file made without a cipher
// needs no password; failures are told in words.
TEST_F(SfxCommandTest, DamageThatPassesTheSealWritesNothingAndOutcomesAreToldInWords) {
    WriteFile(At("in/first.txt"), "written first, if anything were\n");
    WriteFile(At("in/noise.bin"), NoiseBytes(4000, 9));
    ASSERT_EQ(Run({"a", "--sfx", "-c", "none", "plain.run", "-C", "in", "first.txt", "noise.bin"}).exit_code, 0);
    ASSERT_EQ(Run({"a", "--sfx", "-c", "idea", "locked.run", "-C", "in", "first.txt"}).exit_code, 0);
    std::vector<uint8_t> swapped = ReadFile(At("plain.run"));
    // Two words of the stored noise, aligned as the seal folds them (from the archive's
    // start, which is where the marker begins); the file keeps its length and checksum.
    const size_t archive_start = MarkerOffset("plain.run");
    const size_t a = archive_start + ((swapped.size() - archive_start - 400) & ~size_t{3});
    const size_t b = a + 200;
    ASSERT_NE(std::memcmp(&swapped[a], &swapped[b], 4), 0);
    for (int i = 0; i < 4; ++i) std::swap(swapped[a + i], swapped[b + i]);
    WriteFile(At("swapped.run"), swapped);
    fs::permissions(At("swapped.run"), fs::perms::owner_all);
    WriteFile(At("kept/first.txt"), "mine\n");

    struct Case {
        const char* what;
        const char* program;
        std::string arguments;
        std::string env;
        int exit_code;
        const char* said;          // in what the program printed
        const char* output_file;   // that must (or must not) be there
        bool written;
    };
    const Case cases[] = {
        {"damage the seal cannot see", "swapped.run", "-d damaged", kPassword, 2, "noise.bin does not pass its check",
         "damaged/first.txt", false},
        {"no cipher, no password", "plain.run", "-d open", "", 0, "Extracting 2 files", "open/noise.bin", true},
        {"existing file kept", "plain.run", "-d kept", "", 3, "kept 1 existing file", "kept/noise.bin", true},
        {"existing file replaced", "plain.run", "-d kept -o", "", 0, "Extracting", "kept/noise.bin", true},
        {"wrong password", "locked.run", "-d wrong", "HEDGEROW_PASSWORD=wrong", 1, "password is wrong", "wrong", false},
        {"no password", "locked.run", "-d none", "", 1, "password is wrong (or none was given)", "none", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RunProgram(c.program, c.arguments, c.env), c.exit_code);
        const std::string said = Log();
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_EQ(said.find("status"), std::string::npos) << said;
        EXPECT_EQ(fs::exists(At(c.output_file)), c.written) << said;
    }
    EXPECT_EQ(ReadFile(At("kept/first.txt")), ReadFile(At("in/first.txt"))) << "replaced by -o";
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
