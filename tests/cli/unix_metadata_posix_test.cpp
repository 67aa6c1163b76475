// unix_metadata_posix_test.cpp -- legacy archives keep what a Unix file is: its mode bits,
// its exact time (also outside the DOS years), names no DOS code page holds, empty
// directories and symbolic links; input paths and names that differ only in case.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>

#include "support/cli_fixture.h"

namespace hedgerow::testing {
namespace {

namespace fs = std::filesystem;

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using UnixMetadataTest = CliTest;

uint32_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<uint32_t>(st.st_mode & 07777) : 0xFFFFFFFFu;
}

struct timespec TimeOf(const std::string& path) {
    struct stat st {};
    (void)::lstat(path.c_str(), &st);
    return st.st_mtim;
}

void SetTime(const std::string& path, time_t seconds, long nanoseconds) {
    struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0) << path;
}

TEST_F(UnixMetadataTest, ModesComeBackAndSetIdBitsOnlyWhenAsked) {
    struct Case {
        const char* name;
        uint32_t mode;
        uint32_t plain;      // after x
        uint32_t with_setid; // after x --keep-setid
    };
    const Case cases[] = {
        {"private", 0600, 0600, 0600},
        {"script.sh", 0755, 0755, 0755},
        {"shared", 0664, 0664, 0664},
        {"setuid", 04755, 0755, 04755},
        {"setgid", 02750, 0750, 02750},
        {"sticky", 01644, 01644, 01644},
    };
    for (const Case& c : cases) {
        WriteFile(At(std::string("in/") + c.name), "body\n");
        ASSERT_EQ(::chmod(At(std::string("in/") + c.name).c_str(), c.mode), 0);
    }
    for (const char* cipher : {"none", "idea", "chacha"}) {  // chacha: a strong archive
        SCOPED_TRACE(cipher);
        const std::string archive = std::string("m-") + cipher + ".hdg";
        ASSERT_EQ(Run({"a", "-c", cipher, archive, "in"}).exit_code, 0);
        const nlohmann::json listing = List(archive);
        size_t moded = 0;
        for (const auto& entry : listing["entries"]) {
            if (entry["name"] == "in/script.sh") {
                EXPECT_EQ(entry["mode"], "0755");
                ++moded;
            }
        }
        EXPECT_EQ(moded, 1u);
        ASSERT_EQ(Run({"x", archive, "-o", std::string("plain-") + cipher}).exit_code, 0);
        ASSERT_EQ(Run({"x", "--keep-setid", archive, "-o", std::string("setid-") + cipher}).exit_code, 0);
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            EXPECT_EQ(ModeOf(At(std::string("plain-") + cipher + "/in/" + c.name)), c.plain);
            EXPECT_EQ(ModeOf(At(std::string("setid-") + cipher + "/in/" + c.name)), c.with_setid);
        }
    }
    // Locking and unlocking rewrite every record: the extension goes along.
    Environment both = password;
    both["HEDGEROW_HEADER_PASSWORD"] = "head pass";
    ASSERT_EQ(Run({"a", "-c", "idea", "--lock", "locked.hdg", "in/private"}, both).exit_code, 0);
    ASSERT_EQ(Run({"x", "locked.hdg", "-o", "from-locked"}, both).exit_code, 0);
    EXPECT_EQ(ModeOf(At("from-locked/in/private")), 0600u);
}

TEST_F(UnixMetadataTest, DatesOutsideTheDosYearsNeverStopAnArchiveAndComeBackExactly) {
    struct Case {
        const char* name;
        time_t seconds;
        long nanoseconds;
        const char* listed;  // the date the listing shows (the exact one, not the clamped DOS field)
    };
    const Case cases[] = {
        {"epoch", UtcTime(1970, 1, 1, 12, 0, 7), 0, "1970-01-01"},
        {"seventy-nine", UtcTime(1979, 6, 30), 250000000, "1979-06-30"},
        {"far", UtcTime(2108, 3, 1), 0, "2108-03-01"},
        {"fine", UtcTime(2021, 5, 4, 12, 0, 1), 123456789, "2021-05-04"},
    };
    for (const Case& c : cases) {
        WriteFile(At(std::string("in/") + c.name), c.name);
        SetTime(At(std::string("in/") + c.name), c.seconds, c.nanoseconds);
    }
    const CommandResult added = Run({"a", "-c", "none", "d.hdg", "in"});
    ASSERT_EQ(added.exit_code, 0) << added.err;
    const CommandResult table = Run({"l", "d.hdg"});
    ASSERT_EQ(Run({"x", "d.hdg", "-o", "out"}).exit_code, 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(Contains(table.out, c.listed)) << table.out;
        const struct timespec t = TimeOf(At(std::string("out/in/") + c.name));
        EXPECT_EQ(t.tv_sec, c.seconds);
        EXPECT_EQ(t.tv_nsec, c.nanoseconds);
    }
    // The DOS field, all that older readers see, holds the nearest time it can.
    const std::vector<uint8_t> bytes = ReadFile(At("d.hdg"));
    std::map<std::string, uint32_t> stamps;
    const auto word = [&](size_t at) {
        return static_cast<uint32_t>(bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 | bytes[at + 3] << 24);
    };
    for (size_t at = 34; at + 432 <= bytes.size(); at += 432 + word(at + 348)) {
        stamps[reinterpret_cast<const char*>(&bytes[at + 76])] = word(at + 356);
    }
    EXPECT_EQ(stamps["in\\epoch"], 0x00210000u);
    EXPECT_EQ(stamps["in\\seventy-nine"], 0x00210000u);
    EXPECT_EQ(stamps["in\\far"], 0xFF9FBF7Du);
    // An update keeps the other entries' extensions as they were.
    WriteFile(At("in/new"), "new\n");
    ASSERT_EQ(Run({"a", "d.hdg", "in/new"}).exit_code, 0);
    ASSERT_EQ(Run({"x", "-y", "d.hdg", "-o", "again"}).exit_code, 0);
    EXPECT_EQ(TimeOf(At("again/in/far")).tv_sec, UtcTime(2108, 3, 1));
}

TEST_F(UnixMetadataTest, NamesNoDosCodePageHoldsAreStoredAsThemselves) {
    const std::vector<std::string> names = {"日本.txt", "中国.txt", "Ωμ.txt", "Äpfel.txt"};
    for (const std::string& name : names) WriteFile(At("in/" + name), name);
    const CommandResult added = Run({"a", "-c", "idea", "n.hdg", "in"});
    ASSERT_EQ(added.exit_code, 0) << added.err;
    EXPECT_EQ(added.err, "");
    std::vector<std::string> expected;
    for (const std::string& name : names) expected.push_back("in/" + name);
    std::vector<std::string> listed = Names("n.hdg");
    std::sort(listed.begin(), listed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
    EXPECT_TRUE(Contains(Run({"l", "n.hdg"}).out, "in/日本.txt"));
    ASSERT_EQ(Run({"x", "n.hdg", "-o", "out"}).exit_code, 0);
    for (const std::string& name : names) EXPECT_EQ(ReadFile(At("out/in/" + name)), ReadFile(At("in/" + name))) << name;
    // A name in code page 850 stays in it: older readers see it as it is.
    const std::vector<uint8_t> bytes = ReadFile(At("n.hdg"));
    const std::string raw(bytes.begin(), bytes.end());
    EXPECT_TRUE(Contains(raw, "in\\\x8e" "pfel.txt"));
    EXPECT_TRUE(Contains(raw, "in\\日本.txt"));
    // Selection by the real name.
    ASSERT_EQ(Run({"d", "n.hdg", "in/中国.txt"}).exit_code, 0);
    EXPECT_EQ(Names("n.hdg").size(), names.size() - 1);
}

TEST_F(UnixMetadataTest, EmptyDirectoriesAndLinksAreKept) {
    WriteFile(At("in/file.txt"), "target\n");
    fs::create_directories(At("in/empty/deeper"));
    fs::create_directories(At("in/sub"));
    WriteFile(At("in/sub/x"), "x");
    fs::create_symlink("file.txt", At("in/inside"));
    fs::create_symlink("../in/sub", At("in/up-and-in"));
    fs::create_symlink("../../etc/passwd", At("in/outside"));
    fs::create_symlink("/etc/passwd", At("in/absolute"));
    fs::create_symlink("missing", At("in/dangling"));
    const CommandResult added = Run({"a", "-c", "none", "k.hdg", "in"});
    ASSERT_EQ(added.exit_code, 0) << added.err;
    std::map<std::string, std::string> kinds;
    const nlohmann::json listing = List("k.hdg");
    for (const auto& entry : listing["entries"]) kinds[entry["name"].get<std::string>()] = entry["kind"].get<std::string>();
    EXPECT_EQ(kinds["in/empty/deeper"], "directory");
    EXPECT_EQ(kinds["in/inside"], "symlink");
    EXPECT_EQ(kinds["in/file.txt"], "file");

    const CommandResult extracted = Run({"x", "k.hdg", "-o", "out"});
    EXPECT_EQ(extracted.exit_code, 3) << extracted.err;  // two links left out
    EXPECT_TRUE(Contains(extracted.err, "in/outside: a symbolic link whose target leads outside")) << extracted.err;
    EXPECT_TRUE(Contains(extracted.err, "in/absolute: a symbolic link")) << extracted.err;
    EXPECT_TRUE(fs::is_directory(At("out/in/empty/deeper")));
    EXPECT_EQ(fs::read_symlink(At("out/in/inside")), "file.txt");
    EXPECT_EQ(fs::read_symlink(At("out/in/up-and-in")), "../in/sub");
    EXPECT_EQ(fs::read_symlink(At("out/in/dangling")), "missing");
    EXPECT_FALSE(fs::exists(fs::symlink_status(At("out/in/outside"))));
    EXPECT_FALSE(fs::exists(fs::symlink_status(At("out/in/absolute"))));
    EXPECT_EQ(ReadFile(At("out/in/sub/x")), ReadFile(At("in/sub/x")));
    // Extracting again over the same tree replaces the links it made (never through them).
    const CommandResult again = Run({"x", "-y", "k.hdg", "-o", "out"});
    EXPECT_EQ(again.exit_code, 3) << again.err;
    EXPECT_EQ(fs::read_symlink(At("out/in/inside")), "file.txt");
    EXPECT_EQ(ReadFile(At("out/in/file.txt")), ReadFile(At("in/file.txt")));

    // --no-links stores nothing for links; the files and directories stay.
    ASSERT_EQ(Run({"a", "-c", "none", "--no-links", "n.hdg", "in"}).exit_code, 0);
    std::vector<std::string> names = Names("n.hdg");
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string> {"in/empty/deeper", "in/file.txt", "in/sub/x"}));
    // A link named on the command line is said to be left out.
    const CommandResult named = Run({"a", "-c", "none", "--no-links", "n.hdg", "in/inside"});
    EXPECT_EQ(named.exit_code, 31) << named.err;  // nothing else to add
    EXPECT_TRUE(Contains(named.err, "in/inside: a symbolic link, and --no-links leaves links out; left out"))
        << named.err;
}

TEST_F(UnixMetadataTest, InputPathsAreNormalisedAndCaseClashesNamed) {
    WriteFile(At("proj/README.md"), "read me\n");
    fs::create_directories(At("a/b"));
    ASSERT_EQ(RunCommand({"a", "-c", "none", "../../p.hdg", "../../proj/README.md"}, At("a/b"), password).exit_code, 0);
    ASSERT_EQ(Run({"a", "p.hdg", "proj/README.md"}).exit_code, 0);
    ASSERT_EQ(Run({"a", "p.hdg", "./proj//README.md"}).exit_code, 0);
    EXPECT_EQ(Names("p.hdg"), (std::vector<std::string> {"proj/README.md"}));

    WriteFile(At("c/Notes.txt"), "upper\n");
    WriteFile(At("c/notes.txt"), "lower\n");
    const CommandResult clash = Run({"a", "-c", "none", "c.hdg", "c"});
    EXPECT_EQ(clash.exit_code, 3) << clash.err;
    EXPECT_TRUE(Contains(clash.err, "c/notes.txt: its name differs only in case from c/Notes.txt")) << clash.err;
    EXPECT_EQ(Names("c.hdg"), (std::vector<std::string> {"c/Notes.txt"}));
}

}  // namespace
}  // namespace hedgerow::testing
