// write_failures_posix_test.cpp -- the hedgerow command when the system refuses it: a disk
// that fills up or a file-size limit while an archive is written, and an input file it
// may not read. Each case runs the command under a shell that sets the limit up.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/cli_fixture.h"

namespace hedgerow::testing {
namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class WriteFailuresTest : public CliTest {
protected:
    // Runs a shell script in the scratch directory, with $H the command; its standard
    // error goes to `err`. Returns the script's exit status.
    int Shell(const std::string& script) const {
        const std::string line = "cd '" + dir.path() + "' && H='" + std::string(HEDGEROW_CLI_PATH) +
                                 "' TZ=UTC sh -c '" + script + "' 2>err >/dev/null </dev/null";
        const int status = std::system(line.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string Err() const {
        const std::vector<uint8_t> bytes = ReadFile(At("err"));
        return std::string(bytes.begin(), bytes.end());
    }
};

TEST_F(WriteFailuresTest, AFailedWriteNamesTheReasonAndLeavesTheArchiveAsItWas) {
    WriteFile(At("small.txt"), "small\n");
    WriteFile(At("big.bin"), NoiseBytes(600 * 1024, 21));
    ASSERT_EQ(Run({"a", "-c", "none", "t.hdg", "small.txt"}).exit_code, 0);
    const std::vector<uint8_t> before = ReadFile(At("t.hdg"));
    // A file-size limit (the signal it sends ignored, so that writes fail with EFBIG).
    const std::string limit = "trap \"\" XFSZ; ulimit -f 256; ";
    EXPECT_EQ(Shell(limit + "exec $H a -c none t.hdg big.bin"), 14);
    EXPECT_EQ(Err(), "hedgerow: File too large while writing t.hdg (the archive is unchanged)\n");
    EXPECT_EQ(ReadFile(At("t.hdg")), before);
    EXPECT_EQ(Shell(limit + "exec $H a -c none new.hdg big.bin"), 14);
    EXPECT_EQ(Err(), "hedgerow: File too large while writing new.hdg (no archive was made)\n");
    EXPECT_EQ(FilesBelow(dir.path()), (std::vector<std::string> {"big.bin", "err", "small.txt", "t.hdg"}));
}

TEST_F(WriteFailuresTest, AFullDiskIsNamedAndLosesNothing) {
    WriteFile(At("a.bin"), NoiseBytes(150 * 1024, 22));
    WriteFile(At("b.bin"), NoiseBytes(150 * 1024, 23));
    WriteFile(At("c.bin"), NoiseBytes(150 * 1024, 24));
    // A small file system of its own, in a mount namespace of its own (skipped where
    // neither is allowed). In it: an archive of two files fills most of it; adding a
    // third and deleting one (which writes the archive anew beside the old) both run out
    // of room.
    const int status = Shell(
        "mkdir -p m && unshare -rm sh -c \""
        "mount -t tmpfs -o size=400k none m || exit 77; "
        "$H a -c none m/t.hdg a.bin b.bin || exit 78; cp m/t.hdg before.hdg; "
        "$H a -c none m/t.hdg c.bin; echo \\$? > add-rc; "
        "$H d m/t.hdg a.bin; echo \\$? > delete-rc; "
        "cmp -s m/t.hdg before.hdg && echo same > same; ls -A m > left\"");
    if (status == 77 || status == 1) GTEST_SKIP() << "no tmpfs mount in a namespace of our own here";
    ASSERT_EQ(status, 0) << Err();
    const std::string err = Err();
    EXPECT_TRUE(Contains(err, "hedgerow: No space left on device while writing m/t.hdg (the archive is unchanged)\n"))
        << err;
    const auto text = [&](const char* name) {
        const std::vector<uint8_t> bytes = ReadFile(At(name));
        return std::string(bytes.begin(), bytes.end());
    };
    EXPECT_EQ(text("add-rc"), "14\n");
    EXPECT_EQ(text("delete-rc"), "14\n");
    EXPECT_EQ(text("same"), "same\n");
    EXPECT_EQ(text("left"), "t.hdg\n");  // no temporary file stays behind
}

TEST_F(WriteFailuresTest, AnUnreadableInputIsNamedOnceAsUnreadable) {
    WriteFile(At("in/a.txt"), "readable\n");
    WriteFile(At("in/b.txt"), "private\n");
    fs::permissions(At("in/b.txt"), fs::perms::none);
    fs::permissions(dir.path(), fs::perms::all);
    // Root reads every file: the command then runs as nobody.
    const std::string as = ::geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
    const int status = Shell(as + "$H a -c none t.hdg in; echo $? > rc");
    if (status != 0 || !fs::exists(At("t.hdg"))) GTEST_SKIP() << "cannot run the command as another user here";
    const std::vector<uint8_t> rc = ReadFile(At("rc"));
    EXPECT_EQ(std::string(rc.begin(), rc.end()), "3\n");
    EXPECT_EQ(Err(), "hedgerow: in/b.txt: cannot be read; left out\nhedgerow: t.hdg: 1 file was left out (see above)\n");
    EXPECT_EQ(Names("t.hdg"), std::vector<std::string> {"in/a.txt"});
}

}  // namespace
}  // namespace hedgerow::testing
