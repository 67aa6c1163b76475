// rewrite_posix_test.cpp -- rewrites among other users: an archive named through a
// symbolic link, a directory whose temporary names another user has taken.
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
