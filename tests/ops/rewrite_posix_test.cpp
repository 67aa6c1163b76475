// rewrite_posix_test.cpp -- rewrites among other programs and users: an archive named
// through a symbolic link, a second writer, a directory whose temporary names another
// user has taken.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/ops_host.h"

namespace hedgerow::ops {
namespace {

using namespace hedgerow::testing;

const HidFileSettings kSettings = MakeSettings(2, "pw", "hp");

void MakeAbc(Host& h) {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) h.AddFile(name, TextBytes(2000, name[0]));
    ASSERT_EQ(h.Create({"a.txt", "b.txt", "c.txt"}, kSettings), arOk);
    ASSERT_EQ(h.Open(kSettings), arOk);
}

TEST(RewritePosixTest, AnArchiveNamedThroughALinkIsRewrittenWhereItLies) {
    Host h;
    MakeAbc(h);
    std::filesystem::create_directories(h.dir / "real");
    const std::string real = h.dir / "real/arc.hdg";
    std::filesystem::rename(h.archive, real);
    std::filesystem::create_symlink("real/arc.hdg", h.archive);  // test.arc -> real/arc.hdg

    ASSERT_EQ(h.Open(kSettings), arOk);
    EXPECT_EQ(h.Delete({"b.txt"}), arOk);
    ASSERT_EQ(h.Open(kSettings), arOk);
    h.AddFile("d.txt", TextBytes(100, 4));
    SetInputPath(h.st.session, (h.dir / "in").c_str());
    EXPECT_EQ(h.Compress({"d.txt"}), arOk);
    ASSERT_EQ(h.Open(kSettings), arOk);
    LockArchive(*OpCall(h.st), h.archive.c_str());
    EXPECT_EQ(h.st.session.status, arOk);
    ASSERT_EQ(h.Open(kSettings), arOk);
    UnlockArchive(*OpCall(h.st), h.archive.c_str());
    EXPECT_EQ(h.st.session.status, arOk);

    EXPECT_TRUE(std::filesystem::is_symlink(h.archive));
    ASSERT_EQ(h.Open(kSettings), arOk);
    EXPECT_EQ(h.Names(), (std::vector<std::string> {"a.txt", "c.txt", "d.txt"}));
    EXPECT_EQ(ListDir(h.dir / "real"), std::vector<std::string> {"arc.hdg"});  // no temporary file left
    EXPECT_EQ(h.Strays(), std::vector<std::string> {"real"});
}

// The progress procedure lets go of the lock another holder has on the archive after a
// few calls, or gives up.
platform::FileLock* g_other = nullptr;
int g_calls = 0;
int g_give_up_after = 0;
int32_t HEDGEROW_CALL WhileWaiting(uint32_t, int32_t percent, int32_t count) {
    if (percent != 0 || count != 0 || g_other == nullptr) return 1;  // real progress, after the wait
    if (++g_calls == g_give_up_after) return 0;
    if (g_calls == 3) *g_other = platform::FileLock();
    return 1;
}

TEST(RewritePosixTest, OneWriterAtATime) {
    Host h;
    MakeAbc(h);
    struct Case {
        bool exclusive_other;  // the other holder writes (else it reads)
        bool no_wait;
        int give_up_after;     // 0: never
        uint16_t status;
        int calls;             // of the progress procedure while waiting
    };
    const Case cases[] = {
        {true, true, 0, arArchiveBusy, 0},   // fails at once
        {false, true, 0, arArchiveBusy, 0},  // a reader keeps writers out too
        {true, false, 2, arCancelled, 2},    // waits until the host gives up
        {true, false, 0, arOk, 3},           // or until the other is done
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.exclusive_other) + std::to_string(c.no_wait) + std::to_string(c.give_up_after));
        const std::vector<uint8_t> before = h.ArchiveBytes();
        ASSERT_EQ(h.Open(kSettings), arOk);  // before the other takes its lock
        platform::FileLock other;
        ASSERT_EQ(platform::TryLockFile(h.archive.c_str(), c.exclusive_other, &other), platform::Locked::kLocked);
        g_other = &other;
        g_calls = 0;
        g_give_up_after = c.give_up_after;
        if (c.no_wait) OptionsOn(h.st.session, kOptNoWait);
        h.st.session.callbacks.progress = {0, WhileWaiting};
        const uint16_t status = h.Delete({"b.txt"});
        OptionsOff(h.st.session, kOptNoWait);
        g_other = nullptr;
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(g_calls, c.calls);
        if (status != arOk) {
            EXPECT_EQ(h.ArchiveBytes(), before);
        }
    }
    ASSERT_EQ(h.Open(kSettings), arOk);
    EXPECT_EQ(h.Names(), (std::vector<std::string> {"a.txt", "c.txt"}));
}

TEST(RewritePosixTest, TakenTemporaryNamesDoNotStopRewritesOrExtraction) {
    // Another user has made every name of the classic form in the shared directory.
    Host h;
    MakeAbc(h);
    for (int i = 0; i < 32768; ++i) {
        const std::string name = h.dir / (std::to_string(i) + ".$HW");
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    ASSERT_EQ(h.Open(kSettings), arOk);
    EXPECT_EQ(h.Delete({"b.txt"}), arOk);
    ASSERT_EQ(h.Open(kSettings), arOk);
    EXPECT_EQ(h.Extract({}, "."), arOk);  // into the same directory
    EXPECT_EQ(ReadFile(h.dir / "a.txt"), TextBytes(2000, 'a'));
    EXPECT_EQ(h.Strays().size(), 32768u + 2);  // the other user's names, a.txt and c.txt
}

}  // namespace
}  // namespace hedgerow::ops
