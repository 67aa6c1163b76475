// hostile_names_test.cpp -- stored names from strangers: nothing is ever written outside
// the output directory, whatever the name holds or the output tree already contains.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/archive_builder.h"
#include "support/ops_host.h"

namespace hedgerow::ops {
namespace {

using namespace hedgerow::testing;

// An archive of one stored, plain entry with the given name.
void WriteArchiveWithName(Host& h, const std::string& name, const std::string& content = "payload") {
    TestEntry e;
    e.name = name;
    e.data.assign(content.begin(), content.end());
    e.data_crc = ReferenceCrc32(e.data.data(), e.data.size());
    WriteFile(h.archive, MakeArchive({e}));
}

// Every regular file below root, relative to it.
std::vector<std::string> FilesBelow(const std::string& root) {
    std::vector<std::string> files;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (e.is_regular_file() || e.is_symlink()) {
            files.push_back(std::filesystem::relative(e.path(), root).generic_string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(HostileNamesTest, NamesNeverLeadOutOfTheOutputDirectory) {
    struct Case {
        std::string stored;
        uint16_t status;
        std::string lands;  // below out/, when extracted
    };
    const Case cases[] = {
        {"..\\..\\evil.txt", arUnsafeName, ""},
        {"../evil.txt", arUnsafeName, ""},
        {"a\\..\\..\\evil.txt", arUnsafeName, ""},
        {"..", arUnsafeName, ""},
        {"", arUnsafeName, ""},
        {"\\abs.txt", arOk, "abs.txt"},
        {"/etc/passwd", arOk, "etc/passwd"},
        {"C:\\win\\x.txt", arOk, "win/x.txt"},
        {"C:x.txt", arOk, "x.txt"},
        {"\\\\srv\\share\\x.txt", arOk, "srv/share/x.txt"},
        {".\\dot\\.\\x.txt", arOk, "dot/x.txt"},
        {"..hidden\\x..txt", arOk, "..hidden/x..txt"},
    };
    for (bool restore : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.stored + (restore ? " with paths" : " without paths"));
            Host h;
            WriteArchiveWithName(h, c.stored);
            ASSERT_EQ(h.Open(MakeSettings(-1, "pw")), arOk);
            std::filesystem::create_directories(h.dir / "out");
            if (restore) {
                OptionsOn(h.st.session, kOptRestorePaths);
            }
            const uint16_t status = h.Extract();
            // Without paths only the last part counts: it is refused only when it is "..".
            const std::string last = c.stored.substr(c.stored.find_last_of("\\/:") == std::string::npos
                                                         ? 0
                                                         : c.stored.find_last_of("\\/:") + 1);
            const bool refused = restore ? c.status != arOk : (last == ".." || last.empty() || last == ".");
            EXPECT_EQ(status, refused ? arUnsafeName : arOk);
            const std::vector<std::string> everything = FilesBelow(h.dir.path());
            for (const std::string& f : everything) {
                EXPECT_TRUE(f == "test.arc" || f.rfind("out/", 0) == 0) << f;
            }
            if (!refused && restore) {
                EXPECT_EQ(FilesBelow(h.dir / "out"), std::vector<std::string>{c.lands});
            }
        }
    }
}

TEST(HostileNamesTest, SymbolicLinksInTheOutputTreeAreNotFollowed) {
    Host h;
    std::filesystem::create_directories(h.dir / "elsewhere");
    std::filesystem::create_directories(h.dir / "out");
    WriteFile(h.dir / "elsewhere/target.txt", "keep me");
    std::error_code error;
    std::filesystem::create_directory_symlink(h.dir / "elsewhere", h.dir / "out/linkdir", error);
    if (!error) std::filesystem::create_symlink(h.dir / "elsewhere/target.txt", h.dir / "out/linkfile", error);
    // Windows lets only some accounts make links, and Wine makes none.
    if (error || !std::filesystem::is_symlink(h.dir / "out/linkdir")) GTEST_SKIP() << "no symbolic links here";
    for (const std::string name : {"linkdir\\x.txt", "linkfile", "linkdir\\target.txt"}) {
        SCOPED_TRACE(name);
        WriteArchiveWithName(h, name, "overwritten!");
        ASSERT_EQ(h.Open(MakeSettings(-1, "pw")), arOk);
        OptionsOn(h.st.session, kOptRestorePaths);
        EXPECT_EQ(h.Extract(), arUnsafeName);
        EXPECT_EQ(FilesBelow(h.dir / "elsewhere"), std::vector<std::string>{"target.txt"});
        EXPECT_EQ(ReadFile(h.dir / "elsewhere/target.txt"), std::vector<uint8_t>({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
    }
}

TEST(HostileNamesTest, EveryStoredNameExtractsAndRefusedOutputPathsStayRefused) {
    // Stored names hold up to 255 bytes; with the output path in front they are longer,
    // and the temporary file beside the target has a short name of its own.
    for (const std::string& name : {std::string(200, 'n') + "\\" + std::string(54, 'm'), std::string(254, 'x'),
                                     std::string(255, 'y')}) {
        SCOPED_TRACE(name.size());
        Host h;
        WriteArchiveWithName(h, name);
        ASSERT_EQ(h.Open(MakeSettings(-1, "pw")), arOk);
        OptionsOn(h.st.session, kOptRestorePaths);
        EXPECT_EQ(h.Extract(), arOk);
        std::string path = name;
        std::replace(path.begin(), path.end(), '\\', '/');
        EXPECT_EQ(ReadFile(h.Out(path)), std::vector<uint8_t>({'p', 'a', 'y', 'l', 'o', 'a', 'd'}));
    }
    Host h;
    WriteArchiveWithName(h, "x.txt");
    ASSERT_EQ(h.Open(MakeSettings(-1, "pw")), arOk);
    SetOutputPath(h.st.session, std::string(300, 'o').c_str());
    MaskListOwner none(h.st.session, {});
    ExtractFileMaskListHid(*OpCall(h.st), none.list);
    EXPECT_EQ(h.st.session.status, arNameTooLong);  // a refused output path is never replaced by another
}

}  // namespace
}  // namespace hedgerow::ops
