// extract_race_posix_test.cpp -- another local user who can write in the output tree
// swaps a directory and a symbolic link while an extraction runs: nothing may land
// outside the output directory.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/archive_builder.h"
#include "support/ops_host.h"

namespace hedgerow::ops {
namespace {

using namespace hedgerow::testing;

// A process that swaps out/sub (a directory) and out/lnk (a link to victim) as fast as it
// can, each swap one step (so that at every moment "sub" is one or the other), for at
// most limit, until it is killed.
pid_t StartSwapping(const std::string& out, std::chrono::seconds limit) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    const std::string sub = out + "/sub";
    const std::string lnk = out + "/lnk";
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        for (int i = 0; i < 100; ++i) {
            (void)::renameat2(AT_FDCWD, sub.c_str(), AT_FDCWD, lnk.c_str(), RENAME_EXCHANGE);
        }
    }
    ::_exit(0);
}

std::vector<std::string> Below(const std::string& root) {
    std::vector<std::string> found;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        found.push_back(it->path().string());
    }
    return found;
}

TEST(ExtractRaceTest, SwappingADirectoryForALinkLeadsNothingOutside) {
    Host h;
    std::vector<TestEntry> entries;
    for (int i = 0; i < 3000; ++i) {
        TestEntry e;
        char name[32];
        std::snprintf(name, sizeof name, "sub\\f%04d.txt", i);
        e.name = name;
        e.data = {'x', 'y', static_cast<uint8_t>(i)};
        e.data_crc = ReferenceCrc32(e.data.data(), e.data.size());
        entries.push_back(e);
    }
    WriteFile(h.archive, MakeArchive(entries));
    const std::string out = h.dir / "out";
    const std::string victim = h.dir / "victim";
    std::filesystem::create_directories(out + "/sub");
    std::filesystem::create_directories(victim);
    std::filesystem::create_directory_symlink(victim, out + "/lnk");

    // Rounds of extraction against the swapping, for a bounded time (the swapper stops by
    // itself then too): each one ends when every entry is out or when a step meets the
    // link and refuses the name.
    const auto limit = std::chrono::seconds(3);
    const auto end = std::chrono::steady_clock::now() + limit;
    const pid_t swapper = StartSwapping(out, limit);
    ASSERT_GT(swapper, 0);
    int rounds = 0;
    int refused = 0;
    while (std::chrono::steady_clock::now() < end) {
        ASSERT_EQ(h.Open(MakeSettings(-1, "pw")), arOk);
        OptionsOn(h.st.session, kOptRestorePaths);
        const uint16_t status = h.Extract();
        ASSERT_TRUE(status == arOk || status == arUnsafeName || status == arIoError) << status;
        refused += status == arUnsafeName ? 1 : 0;
        ++rounds;
    }
    ::kill(swapper, SIGKILL);
    int ignored = 0;
    ::waitpid(swapper, &ignored, 0);
    EXPECT_EQ(Below(victim), std::vector<std::string> {}) << rounds << " rounds, " << refused << " refused";
    for (const auto& e : std::filesystem::directory_iterator(h.dir.path())) {
        const std::string name = e.path().filename().string();
        EXPECT_TRUE(name == "test.arc" || name == "out" || name == "victim") << name;
    }
}

}  // namespace
}  // namespace hedgerow::ops
