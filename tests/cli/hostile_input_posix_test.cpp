// hostile_input_posix_test.cpp -- the hedgerow command given what a stranger can craft:
// names that would steer the terminal, password files that never end, archives that name
// no real cipher, prefixes that only some names carry.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <thread>

#include "support/archive_builder.h"
#include "support/cli_fixture.h"

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

TEST_F(HostileInputTest, ACipherIdThatNamesNoCipherIsDamage) {
    WriteFile(At("in/a.txt"), "first\n");
    WriteFile(At("secret.txt"), "never in plain text\n");
    for (const int32_t id : {7, -5}) {
        SCOPED_TRACE(id);
        std::filesystem::remove(At("t.hdg"));
        ASSERT_EQ(Run({"a", "-c", "none", "t.hdg", "in"}).exit_code, 0);
        std::vector<uint8_t> bytes = ReadFile(At("t.hdg"));
        Put32(bytes, 34, static_cast<uint32_t>(id));  // the first record's cipher id, its CRC made to fit
        Put32(bytes, 34 + 4, ReferenceCrc32(bytes.data() + 34 + 8, 424));
        WriteFile(At("t.hdg"), bytes);

        const CommandResult add = Run({"a", "t.hdg", "secret.txt"});
        EXPECT_EQ(add.exit_code, 30) << add.err;
        EXPECT_TRUE(Contains(add.err, "in/a.txt names no known cipher (id " + std::to_string(id) + ")")) << add.err;
        EXPECT_EQ(ReadFile(At("t.hdg")), bytes);
        const CommandResult list = Run({"l", "t.hdg"});
        EXPECT_EQ(list.exit_code, 30);
        EXPECT_TRUE(Contains(list.out, "damaged  in/a.txt")) << list.out;
        EXPECT_EQ(Run({"x", "t.hdg", "-o", "out"}).exit_code, 30);
        EXPECT_EQ(Run({"d", "t.hdg", "in/a.txt"}).exit_code, 30);
        EXPECT_EQ(Run({"lock", "t.hdg"}, {{"HEDGEROW_HEADER_PASSWORD", "h"}}).exit_code, 30);
        EXPECT_EQ(ReadFile(At("t.hdg")), bytes);
        EXPECT_FALSE(std::filesystem::exists(At("out/in/a.txt")));
    }
}

TEST_F(HostileInputTest, APrefixIsTakenOnlyFromNamesThatBeginWithIt) {
    WriteFile(At("in/a.txt"), "prefixed a\n");
    WriteFile(At("other/dir/config.txt"), "config\n");
    WriteFile(At("zzzzzzzzzzzza.txt"), "thirteen\n");
    ASSERT_EQ(Run({"a", "-C", "in", "--prefix", "backup/2024", "t.hdg", "a.txt"}).exit_code, 0);
    ASSERT_EQ(Run({"a", "t.hdg", "other", "zzzzzzzzzzzza.txt"}).exit_code, 0);
    const CommandResult r = Run({"x", "-y", "--prefix", "backup/2024", "t.hdg", "-o", "out"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(FilesBelow(At("out")), (std::vector<std::string> {"a.txt", "other/dir/config.txt", "zzzzzzzzzzzza.txt"}));
    EXPECT_EQ(ReadFile(At("out/a.txt")), ReadFile(At("in/a.txt")));
    EXPECT_EQ(ReadFile(At("out/zzzzzzzzzzzza.txt")), ReadFile(At("zzzzzzzzzzzza.txt")));
    // The prefix compares as the archive compares names: without regard to case.
    ASSERT_EQ(Run({"x", "-y", "--prefix", "BACKUP/2024", "t.hdg", "-o", "upper"}).exit_code, 0);
    EXPECT_EQ(FilesBelow(At("upper")), FilesBelow(At("out")));
}

// Writes text into a named pipe once a reader opens it, then, when endless, keeps writing
// until the reader goes away. A writer still waiting for a reader at the end is let go.
struct PipeWriter {
    std::string fifo;
    std::thread thread;
    PipeWriter(const std::string& path, std::string text, bool endless) : fifo(path) {
        thread = std::thread([path, text, endless] {
            const int fd = ::open(path.c_str(), O_WRONLY);
            if (fd < 0) return;
            bool more = true;
            do {
                more = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
            } while (endless && more);
            ::close(fd);
        });
    }
    ~PipeWriter() {
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        if (reader >= 0) ::close(reader);
        thread.join();
    }
};

TEST_F(HostileInputTest, PasswordFilesAreReadOnlyAsFarAsTheirFirstLine) {
    ::signal(SIGPIPE, SIG_IGN);  // the endless writer learns of the reader's end by EPIPE
    WriteFile(At("in/a.txt"), "data\n");
    ASSERT_EQ(Run({"a", "t.hdg", "in"}).exit_code, 0);
    WriteFile(At("long"), std::string(5000, 'x') + "\n");
    WriteFile(At("nul"), std::string("hedge\0pass\n", 11));
    WriteFile(At("crlf"), "hedge pass\r\nsecond line\n");
    ASSERT_EQ(::mkfifo(At("fifo").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo(At("endless").c_str(), 0600), 0);
    struct Case {
        const char* file;
        const char* fifo_text;  // what a writer sends through the pipe, when it is one
        bool endless;
        int exit_code;
        const char* says;
    };
    const Case cases[] = {
        {"/dev/zero", nullptr, false, 1, "neither a regular file nor a pipe"},
        {"in", nullptr, false, 1, "neither a regular file nor a pipe"},
        {"long", nullptr, false, 1, "longer than 4096 bytes"},
        {"nul", nullptr, false, 1, "holds a NUL byte"},
        {"crlf", nullptr, false, 0, ""},
        {"fifo", "hedge pass\nrest", false, 0, ""},
        {"endless", "xxxxxxxx", true, 1, "longer than 4096 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        std::filesystem::remove_all(At("out"));
        std::optional<PipeWriter> writer;
        if (c.fifo_text) writer.emplace(At(c.file), c.fifo_text, c.endless);
        const CommandResult r =
            RunCommand({"x", "--password-file", c.file, "t.hdg", "-o", "out"}, dir.path(), {}, 20000);
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
        EXPECT_TRUE(Contains(r.err, c.says)) << r.err;
        EXPECT_EQ(FilesBelow(At("out")).size(), c.exit_code == 0 ? 1u : 0u);
    }
}

}  // namespace
}  // namespace hedgerow::testing
