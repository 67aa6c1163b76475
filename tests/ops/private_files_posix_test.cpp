// private_files_posix_test.cpp -- files that will replace others are private from their
// first byte (mode 0600), and take the mode (and, for root, the owner) of what they
// replace, or a new file's mode, only when they are complete.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "hide/hide_file.h"
#include "support/carrier_builder.h"
#include "support/hide_host.h"
#include "support/ops_host.h"

namespace hedgerow::ops {
namespace {

using namespace hedgerow::testing;

// The modes of the temporary files (".$HW") below a directory, collected from inside the
// operation by its progress procedure.
std::string g_watched;
std::vector<mode_t> g_modes;
int32_t HEDGEROW_CALL LookAtTemporaries(uint32_t, int32_t, int32_t) {
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(g_watched, error);
         it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        struct stat st {};
        if (it->path().extension() == ".$HW" && ::lstat(it->path().c_str(), &st) == 0) g_modes.push_back(st.st_mode & 07777);
    }
    return 1;
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// Sets the umask for one test.
struct Umask {
    mode_t saved;
    explicit Umask(mode_t mask) : saved(::umask(mask)) {}
    ~Umask() { ::umask(saved); }
};

void Watch(Host& h) {
    g_watched = h.dir.path();
    g_modes.clear();
    h.st.session.callbacks.progress = {0, LookAtTemporaries};
}

void ExpectOnlyPrivateTemporaries() {
    EXPECT_FALSE(g_modes.empty());  // the temporary file was seen while it was written
    for (const mode_t mode : g_modes) EXPECT_EQ(mode, 0600u);
}

TEST(PrivateFilesTest, ArchivesAreWrittenPrivatelyAndKeepTheirMode) {
    const Umask umask(022);
    Host h;
    h.AddFile("a.txt", TextBytes(70000, 1));
    h.AddFile("b.txt", TextBytes(70000, 2));
    Watch(h);
    ASSERT_EQ(h.Create({"a.txt"}, MakeSettings(-1, "pw")), arOk);
    ExpectOnlyPrivateTemporaries();
    EXPECT_EQ(ModeOf(h.archive), 0644u);  // a new file's mode, in the end

    for (const mode_t mode : {0600u, 0640u, 0604u}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(::chmod(h.archive.c_str(), mode), 0);
        ASSERT_EQ(h.Open(MakeSettings(-1, "pw")), arOk);
        Watch(h);
        ASSERT_EQ(h.Compress({"b.txt"}), arOk);  // an update: the new file is written while b.txt packs
        ExpectOnlyPrivateTemporaries();
        EXPECT_EQ(ModeOf(h.archive), mode);
        ASSERT_EQ(h.Open(MakeSettings(-1, "pw")), arOk);
        Watch(h);
        ASSERT_EQ(h.Delete({"b.txt"}), arOk);  // progress is reported once the new file is begun
        ExpectOnlyPrivateTemporaries();
        EXPECT_EQ(ModeOf(h.archive), mode);
    }
    if (::geteuid() == 0) {
        // Root rewriting another user's archive leaves it that user's.
        ASSERT_EQ(::chown(h.archive.c_str(), 4321, 4322), 0);
        ASSERT_EQ(h.Open(MakeSettings(-1, "pw")), arOk);
        ASSERT_EQ(h.Compress({"b.txt"}), arOk);
        struct stat st {};
        ASSERT_EQ(::stat(h.archive.c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 4322u);
        EXPECT_EQ(st.st_mode & 07777, 0604u);
    }
}

TEST(PrivateFilesTest, ExtractedFilesArePrivateUntilTheyAreWhole) {
    const Umask umask(027);
    Host h;
    h.AddFile("a.txt", TextBytes(70000, 1));
    h.AddFile("ro.txt", TextBytes(100, 2));
    ASSERT_EQ(::chmod(h.In("ro.txt").c_str(), 0444), 0);
    ASSERT_EQ(h.Create({"a.txt", "ro.txt"}, MakeSettings(2, "pw")), arOk);
    ASSERT_EQ(h.Open(MakeSettings(2, "pw")), arOk);
    Watch(h);
    ASSERT_EQ(h.Extract(), arOk);
    ExpectOnlyPrivateTemporaries();
    // Once whole, each file takes the mode it was stored with.
    EXPECT_EQ(ModeOf(h.Out("a.txt")), 0640u);
    EXPECT_EQ(ModeOf(h.Out("ro.txt")), 0444u);
}

TEST(PrivateFilesTest, CarriersKeepTheirModeAndOwner) {
    HideHost h;
    BmpShape shape;
    shape.width = 100;
    shape.height = 80;
    WriteFile(h / "carrier", MakeBmp(shape).bytes);
    WriteFile(h / "file", "a few bytes");
    ASSERT_EQ(::chmod((h / "carrier").c_str(), 0600), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown((h / "carrier").c_str(), 4321, 4322), 0);
    }
    ASSERT_EQ(h.Hide("carrier", "file"), 0);
    struct stat st {};
    ASSERT_EQ(::stat((h / "carrier").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    if (root) {
        EXPECT_EQ(st.st_uid, 4321u);
        EXPECT_EQ(st.st_gid, 4322u);
    }
}

}  // namespace
}  // namespace hedgerow::ops
