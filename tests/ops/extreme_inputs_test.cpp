// extreme_inputs_test.cpp -- inputs at and past every limit: names of 255 and 256 bytes,
// passwords and paths longer than their buffers, sizes of zero and of 4 GiB claimed by a
// record, and an archive of 100,000 entries.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/records.h"
#include "support/archive_builder.h"
#include "support/ops_host.h"

namespace hedgerow::ops {
namespace {

using namespace hedgerow::testing;

TEST(ExtremeInputsTest, StoredNamesUpTo255BytesAndNoMore) {
#ifdef _WIN32
    // The source files' paths here run past the 260 characters of Windows' ANSI calls.
    GTEST_SKIP() << "source paths longer than MAX_PATH";
#endif
    struct Case {
        size_t length;  // of the stored name: "r\" and a mask of length - 2
        uint16_t status;
    };
    for (const Case c : {Case{255, arOk}, Case{256, arNameTooLong}}) {
        SCOPED_TRACE(c.length);
        Host h;
        // A folder of 200 bytes and a file name that makes up the rest.
        const std::string mask = std::string(200, 'd') + "/" + std::string(c.length - 2 - 201, 'f');
        h.AddFile(mask, TextBytes(10));
        const HidFileSettings s = MakeSettings(2, "pw");
        archive::CreateHidFile(h.st.session, h.st.archive, h.archive.c_str(), &s);
        SetInputPath(h.st.session, (h.dir / "in").c_str());
        SetRelativePath(h.st.session, "r");
        EXPECT_EQ(h.Compress({mask}), c.status);
        EXPECT_EQ(std::filesystem::exists(h.archive), c.status == arOk);
        if (c.status == arOk) {
            ASSERT_EQ(h.Open(s), arOk);
            ASSERT_EQ(h.Names().size(), 1u);
            EXPECT_EQ(h.Names()[0].size(), 255u);
        }
    }
    // A mask of 255 bytes without an extension is taken whole.
    Host h;
    const std::string mask(255, 'm');
    h.AddFile(mask, TextBytes(10));
    EXPECT_EQ(h.Create({mask}, MakeSettings(2, "pw")), arOk);
}

TEST(ExtremeInputsTest, PasswordsPastTheirBuffersAreCutNotOverrun) {
    Host h;
    h.AddFile("a.txt", TextBytes(1000));
    // Settings whose password fields hold no terminator at all.
    HidFileSettings s {};
    s.cipher_id = 2;
    s.lock_headers = 1;
    std::memset(s.data_password, 'p', sizeof s.data_password);
    std::memset(s.header_password, 'h', sizeof s.header_password);
    ASSERT_EQ(h.Create({"a.txt"}, s), arOk);
    EXPECT_EQ(std::strlen(h.st.archive.data_password), 255u);
    // The same 255 bytes open it again, however long the password given.
    HidFileSettings again {};
    again.cipher_id = 2;
    std::memset(again.data_password, 'p', 255);
    std::memset(again.header_password, 'h', 255);
    ASSERT_EQ(h.Open(again), arOk);
    OptionsOn(h.st.session, kOptRestorePaths);
    ASSERT_EQ(h.Extract(), arOk);
    EXPECT_EQ(ReadFile(h.Out("a.txt")), TextBytes(1000));
}

TEST(ExtremeInputsTest, ClaimedSizesDoNotDriveWhatIsDone) {
    struct Case {
        const char* what;
        uint32_t unpacked;
        std::vector<uint8_t> data;  // packed data that follows the record
        uint16_t status;
    };
    const std::vector<uint8_t> three = {'a', 'b', 'c'};
    const Case cases[] = {
        // 2 GiB or more claimed, three bytes present: refused before anything is written.
        {"4 GiB claimed", 0xFFFFFFFFu, three, arTooLarge},
        {"2 GiB claimed", 0x80000000u, three, arTooLarge},
        {"just under 2 GiB", 0x7FFFFFFFu, three, arDamagedEntries},
        // Compressed by the size rule, with garbage for a stream: the output never grows
        // past what the packed data can give, and the CRC refuses it.
        {"compressed garbage", 1u << 30, RandomBytes(300), arDamagedEntries},
        {"zero", 0, {}, arOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Host h;
        TestEntry e;
        e.name = "x.bin";
        e.data = c.data;
        e.unpacked_size = c.unpacked;
        WriteFile(h.archive, MakeArchive({e}));
        ASSERT_EQ(h.Open(MakeSettings(-1, "pw")), arOk);
        EXPECT_EQ(h.Extract(), c.status);
        if (c.status != arOk) {
            EXPECT_FALSE(std::filesystem::exists(h.Out("x.bin")));
        } else {
            EXPECT_EQ(std::filesystem::file_size(h.Out("x.bin")), 0u);
        }
    }
    // A file of no bytes at all is no archive.
    Host h;
    WriteFile(h.archive, std::vector<uint8_t> {});
    EXPECT_EQ(h.Open(MakeSettings(-1, "pw")), arNotAnArchive);
}

TEST(ExtremeInputsTest, AHundredThousandEntriesAreListedAndDeletedFrom) {
    Host h;
    h.st.archive.cipher_id = -1;
    {
        platform::File out = platform::OpenFile(h.archive.c_str(), "wb");
        uint8_t marker[archive::kMarkerSize];
        archive::MakeMarkerRecord(false, marker);
        ASSERT_EQ(platform::WriteBytes(out.get(), marker, sizeof marker), sizeof marker);
        for (int i = 0; i < 100000; ++i) {
            uint8_t record[archive::kRecordSize] = {};
            const std::string name = "d" + std::to_string(i % 100) + "\\e" + std::to_string(i);
            ASSERT_TRUE(archive::WriteEntryRecord(h.st.session, h.st.archive, out.get(), record, name.c_str()));
        }
    }
    ASSERT_EQ(h.Open(MakeSettings(-1, "pw")), arOk);
    EXPECT_EQ(h.Names().size(), 100000u);
    ASSERT_EQ(h.Delete({"D7\\*.*"}), arOk);
    EXPECT_EQ(h.Names().size(), 99000u);
}

}  // namespace
}  // namespace hedgerow::ops
