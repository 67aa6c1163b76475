// shared_archives_posix_test.cpp -- several hedgerow commands on one archive at once:
// writers take turns, a new archive made by two of them at once ends up with both
// additions, and a command that has to wait says so.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/platform.h"
#include "support/cli_fixture.h"

namespace hedgerow::testing {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

using SharedArchivesTest = CliTest;

// Runs `hedgerow a ARCHIVE FILE` for each file at the same time.
std::vector<CommandResult> AddAtOnce(const std::string& cwd, const std::string& archive,
                                     const std::vector<std::string>& files, const Environment& env) {
    std::vector<CommandResult> results(files.size());
    std::vector<std::thread> runs;
    for (size_t i = 0; i < files.size(); ++i) {
        runs.emplace_back([&, i] { results[i] = RunCommand({"a", archive, files[i]}, cwd, env); });
    }
    for (std::thread& run : runs) run.join();
    return results;
}

TEST_F(SharedArchivesTest, WritersStartedTogetherLoseNothing) {
    // Big enough that packing takes a while, so the runs overlap.
    const std::vector<std::string> files = {"big1.bin", "big2.bin", "big3.bin"};
    for (size_t i = 0; i < files.size(); ++i) WriteFile(At(files[i]), NoiseBytes(6'000'000, static_cast<uint32_t>(i + 1)));
    WriteFile(At("first.txt"), "first\n");
    for (const bool exists : {true, false}) {
        SCOPED_TRACE(exists ? "existing archive" : "new archive");
        const std::string archive = exists ? "old.hdg" : "new.hdg";
        if (exists) {
            ASSERT_EQ(Run({"a", archive, "first.txt"}).exit_code, 0);
        }
        for (const CommandResult& r : AddAtOnce(dir.path(), archive, files, password)) EXPECT_EQ(r.exit_code, 0) << r.err;
        std::vector<std::string> names = Names(archive);
        std::sort(names.begin(), names.end());
        std::vector<std::string> expected = files;
        if (exists) expected.push_back("first.txt");
        EXPECT_EQ(names, expected);
        ASSERT_EQ(Run({"x", archive, "-o", "out-" + archive}).exit_code, 0);
        for (const std::string& f : files) EXPECT_EQ(ReadFile(At("out-" + archive + "/" + f)), ReadFile(At(f))) << f;
    }
}

TEST_F(SharedArchivesTest, ACommandThatMustWaitSaysSo) {
    WriteFile(At("a.txt"), "a\n");
    WriteFile(At("b.txt"), "b\n");
    ASSERT_EQ(Run({"a", "t.hdg", "a.txt", "b.txt"}).exit_code, 0);
    struct Case {
        std::vector<std::string> args;
        bool exclusive;  // how the other program holds the archive
    };
    const Case cases[] = {
        {{"d", "t.hdg", "a.txt"}, false},            // a writer waits for a reader
        {{"l", "t.hdg"}, true},                      // a reader for a writer
        {{"x", "t.hdg", "-o", "out"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        platform::FileLock other;
        ASSERT_EQ(platform::TryLockFile(At("t.hdg").c_str(), c.exclusive, &other), platform::Locked::kLocked);
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(700));
            other = platform::FileLock();
        });
        const auto start = std::chrono::steady_clock::now();
        const CommandResult r = Run(c.args);
        release.join();
        EXPECT_EQ(r.exit_code, 0) << r.err;
        EXPECT_TRUE(Contains(r.err, "t.hdg: another program is using the archive; waiting")) << r.err;
        EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(600));
    }
    EXPECT_EQ(Names("t.hdg"), std::vector<std::string> {"b.txt"});
}

}  // namespace
}  // namespace hedgerow::testing
