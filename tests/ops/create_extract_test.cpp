// create_extract_test.cpp -- archives made and read back through every cipher, plain and
// locked, with compressed, stored and empty members; stored names; the callbacks of
// creation and extraction.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "names/replace_query.h"
#include "platform/platform.h"
#include "support/ops_host.h"

namespace hedgerow::ops {
namespace {

using namespace hedgerow::testing;

constexpr uint32_t kStamp = (static_cast<uint32_t>(((2003 - 1980) << 9) | (4 << 5) | 5) << 16) | ((6 << 11) | (7 << 5) | 4);

void SetStamp(const std::string& path, uint32_t stamp) {
    platform::NativeFile f = platform::OpenNativeForWriting(path.c_str());
    ASSERT_TRUE(names::SetFileStamp(f, stamp));
    platform::CloseNative(f);
}

uint32_t GetStamp(const std::string& path) {
    platform::NativeFile f = platform::OpenNativeForReading(path.c_str());
    uint32_t stamp = 0;
    EXPECT_TRUE(names::GetFileStamp(f, &stamp));
    platform::CloseNative(f);
    return stamp;
}

TEST(CreateExtractTest, RoundTripsEveryCipherPlainAndLocked) {
    const std::vector<uint8_t> text = TextBytes(70000);
    const std::vector<uint8_t> noise = RandomBytes(5000);
    const std::vector<uint8_t> one = {42};
    for (int32_t cipher : {-1, 0, 1, 2}) {
        for (bool lock : {false, true}) {
            SCOPED_TRACE("cipher " + std::to_string(cipher) + (lock ? " locked" : " plain"));
            Host h;
            h.AddFile("text.txt", text);
            h.AddFile("noise.bin", noise);
            h.AddFile("empty.dat", {});
            h.AddFile("one", one);
            h.AddFile("sub/dir/deep.txt", TextBytes(300, 3));
            SetStamp(h.In("text.txt"), kStamp);
            ASSERT_EQ(platform::SetAttributes(h.In("one").c_str(), 0x21), 0u);
            const HidFileSettings s = MakeSettings(cipher, "pass word", lock ? "head" : "", lock);
            ASSERT_EQ(h.Create({"text.txt", "noise.bin", "empty.dat", "one", "sub/dir/deep.txt"}, s), arOk);
            EXPECT_TRUE(h.Strays().empty());

            ASSERT_EQ(h.Open(s), arOk);
            EXPECT_EQ(h.st.archive.locked, lock);
            HidFileList list {};
            archive::BuildHidFileList(h.st.session, h.st.archive, list, FileMaskList {});
            ASSERT_EQ(list.count, 5u);
            for (const HidFileEntry* e = list.first; e; e = e->next) {
                EXPECT_EQ(e->cipher_id, cipher) << e->name;  // empty members too
                const std::string name = e->name;
                if (name == "text.txt") {
                    EXPECT_LT(e->packed_size, e->unpacked_size / 3);
                }
                if (name == "noise.bin") {
                    EXPECT_GE(e->packed_size, e->unpacked_size);  // stored
                }
                if (name == "empty.dat") {
                    EXPECT_EQ(e->packed_size, 0u);
                }
                if (name == "text.txt") {
                    EXPECT_EQ(e->date_time, kStamp);
                }
            }
            EXPECT_EQ(std::string(list.first->next->next->next->next->name), "sub\\dir\\deep.txt");
            archive::DoneHidFileList(list);

            OptionsOn(h.st.session, kOptRestorePaths);
            ASSERT_EQ(h.Extract(), arOk);
            EXPECT_EQ(ReadFile(h.Out("text.txt")), text);
            EXPECT_EQ(ReadFile(h.Out("noise.bin")), noise);
            EXPECT_TRUE(ReadFile(h.Out("empty.dat")).empty());
            EXPECT_TRUE(std::filesystem::exists(h.Out("empty.dat")));
            EXPECT_EQ(ReadFile(h.Out("one")), one);
            EXPECT_EQ(ReadFile(h.Out("sub/dir/deep.txt")), TextBytes(300, 3));
            EXPECT_EQ(GetStamp(h.Out("text.txt")), kStamp);
            uint32_t attributes = 0;
            ASSERT_EQ(platform::GetAttributes(h.Out("one").c_str(), &attributes), 0u);
            EXPECT_EQ(attributes & 0x01u, 0x01u);
            EXPECT_EQ(std::filesystem::directory_iterator(h.dir / "out")->path().filename().string().find(".$HW"),
                      std::string::npos);
        }
    }
}

TEST(CreateExtractTest, DotFilesAreStoredAndTheNewArchiveListsAtOnce) {
    Host h;
    h.AddFile(".profile", TextBytes(50));
    h.AddFile("conf/.hidden.txt", TextBytes(60, 2));
    ASSERT_EQ(h.Create({".profile", "conf/.hidden.txt"}, MakeSettings(2, "pw")), arOk);
    EXPECT_EQ(h.Names(), (std::vector<std::string>{".profile", "conf\\.hidden.txt"}));  // without reopening
    ASSERT_EQ(h.Open(MakeSettings(2, "pw")), arOk);
    OptionsOn(h.st.session, kOptRestorePaths);
    ASSERT_EQ(h.Extract(), arOk);
    EXPECT_EQ(ReadFile(h.Out(".profile")), TextBytes(50));
    EXPECT_EQ(ReadFile(h.Out("conf/.hidden.txt")), TextBytes(60, 2));
}

TEST(CreateExtractTest, StoredSizesFollowThePieceLayout) {
    struct Case {
        size_t size;
        int32_t cipher;
        uint32_t packed;
    };
    const Case cases[] = {{1000, 0, 1000}, {1000, 1, 1008}, {1000, 2, 1008}, {1001, 0, 1008},
                          {100, -1, 104},  {100, 2, 112},   {32512, -1, 32512}, {32513, 2, 8 + 32512 + 8}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + " bytes, cipher " + std::to_string(c.cipher));
        Host h;
        h.AddFile("r.bin", RandomBytes(c.size));
        const HidFileSettings s = MakeSettings(c.cipher, "pw");
        ASSERT_EQ(h.Create({"r.bin"}, s), arOk);
        ASSERT_EQ(h.Open(s), arOk);
        HidFileList list {};
        archive::BuildHidFileList(h.st.session, h.st.archive, list, FileMaskList {});
        ASSERT_EQ(list.count, 1u);
        EXPECT_EQ(list.first->packed_size, c.packed);
        archive::DoneHidFileList(list);
        ASSERT_EQ(h.Extract(), arOk);
        EXPECT_EQ(ReadFile(h.Out("r.bin")), RandomBytes(c.size));
    }
}

TEST(CreateExtractTest, StoredNamesFollowInputAndRelativePaths) {
    struct Case {
        std::string mask;  // relative to the input folder unless names-only
        std::string relative;
        bool names_only;
        std::string stored;
    };
    Host probe;
    const std::string in = probe.dir / "in";
    const Case cases[] = {
        {"sub/a.txt", "", false, "sub\\a.txt"},
        {"sub/a.txt", "docs", false, "docs\\sub\\a.txt"},
        {in + "/sub/a.txt", "", true, "a.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mask);
        Host h;
        h.AddFile("sub/a.txt", TextBytes(100));
        const HidFileSettings s = MakeSettings(2, "pw");
        archive::CreateHidFile(h.st.session, h.st.archive, h.archive.c_str(), &s);
        ASSERT_EQ(h.st.session.status, arOk);
        if (c.names_only) {
            OptionsOn(h.st.session, kOptNamesOnly);
            const std::string mask = h.dir / "in/sub/a.txt";
            ASSERT_EQ(h.Compress({mask}), arOk);
        } else {
            SetInputPath(h.st.session, (h.dir / "in").c_str());
            SetRelativePath(h.st.session, c.relative.c_str());
            ASSERT_EQ(h.Compress({c.mask}), arOk);
        }
        ASSERT_EQ(h.Open(s), arOk);
        EXPECT_EQ(h.Names(), std::vector<std::string>{c.stored});
    }
}

TEST(CreateExtractTest, CreationFailuresLeaveNoArchive) {
    struct Case {
        std::vector<std::string> masks;
        uint16_t status;
    };
    const Case cases[] = {{{"*.*"}, arNothingToDo}, {{"*.TXT", "DATA\\"}, arNothingToDo}, {{"a.txt", "missing.txt"}, arIoError}};
    for (const Case& c : cases) {
        Host h;
        h.AddFile("a.txt", TextBytes(10));
        EXPECT_EQ(h.Create(c.masks, MakeSettings(2, "pw")), c.status);
        EXPECT_FALSE(std::filesystem::exists(h.archive));
        EXPECT_TRUE(h.Strays().empty());
    }
    // A status left over from an earlier failure: nothing is done until it is cleared.
    Host h;
    h.AddFile("a.txt", TextBytes(10));
    const HidFileSettings s = MakeSettings(2, "pw");
    archive::CreateHidFile(h.st.session, h.st.archive, h.archive.c_str(), &s);
    h.st.session.status = arIoError;
    EXPECT_EQ(h.Compress({"a.txt"}), arIoError);
    EXPECT_FALSE(std::filesystem::exists(h.archive));
    // A self-extractor without its module beside the library (this test program links
    // the library statically; no module lies beside it): never silently a plain archive.
    HidFileSettings sfx = s;
    sfx.make_self_extractor = 1;
    archive::CreateHidFile(h.st.session, h.st.archive, h.archive.c_str(), &sfx);
    SetInputPath(h.st.session, (h.dir / "in").c_str());
    EXPECT_EQ(h.Compress({"a.txt"}), arNotFound);
    EXPECT_FALSE(std::filesystem::exists(h.archive));
}

struct SkipScript {
    int32_t answer = 1;
    std::vector<std::string> asked;
};
SkipScript* g_skip = nullptr;
int32_t HEDGEROW_CALL Skip(uint32_t, const char* name) {
    g_skip->asked.emplace_back(name);
    return g_skip->answer;
}

TEST(CreateExtractTest, SkipFileProcDecidesAboutUnreadableFiles) {
    struct Case {
        int32_t answer;
        uint16_t status;
        size_t entries;  // 0: no archive
    };
    for (const Case& c : {Case{1, arOk, 2}, Case{2, arCancelled, 0}, Case{7, arIoError, 0}}) {
        SCOPED_TRACE(c.answer);
        SkipScript script {c.answer, {}};
        g_skip = &script;
        Host h;
        h.AddFile("a.txt", TextBytes(10));
        h.AddFile("c.txt", TextBytes(20));
        const HidFileSettings s = MakeSettings(0, "pw");
        archive::CreateHidFile(h.st.session, h.st.archive, h.archive.c_str(), &s);
        h.st.session.callbacks.skip_file = {1, Skip};
        SetInputPath(h.st.session, (h.dir / "in").c_str());
        EXPECT_EQ(h.Compress({"a.txt", "b.txt", "c.txt"}), c.status);
        ASSERT_EQ(script.asked.size(), 1u);
        EXPECT_NE(script.asked[0].find("b.txt"), std::string::npos);
        EXPECT_EQ(std::filesystem::exists(h.archive), c.entries > 0);
        if (c.entries) {
            ASSERT_EQ(h.Open(s), arOk);
            EXPECT_EQ(h.Names(), (std::vector<std::string>{"a.txt", "c.txt"}));
        }
    }
    g_skip = nullptr;
}

struct ProgressScript {
    int calls = 0;
    int cancel_at = -1;  // answer 0 at this call
    std::vector<std::pair<int32_t, int32_t>> seen;
};
ProgressScript* g_progress = nullptr;
int32_t HEDGEROW_CALL Progress(uint32_t user, int32_t percent, int32_t count) {
    EXPECT_EQ(user, 7u);
    g_progress->seen.emplace_back(percent, count);
    return g_progress->calls++ == g_progress->cancel_at ? 0 : 1;
}

TEST(CreateExtractTest, CancelLeavesNothingHalfWritten) {
    // During creation: no archive at all.
    ProgressScript script;
    script.cancel_at = 3;
    g_progress = &script;
    Host h;
    h.AddFile("a.txt", TextBytes(40000, 1));
    h.AddFile("b.bin", RandomBytes(200000));
    const HidFileSettings s = MakeSettings(2, "pw");
    archive::CreateHidFile(h.st.session, h.st.archive, h.archive.c_str(), &s);
    h.st.session.callbacks.progress = {7, Progress};
    SetInputPath(h.st.session, (h.dir / "in").c_str());
    EXPECT_EQ(h.Compress({"a.txt", "b.bin"}), arCancelled);
    EXPECT_FALSE(std::filesystem::exists(h.archive));
    EXPECT_TRUE(h.Strays().empty());

    // During extraction: no partial file, and an existing file is not damaged.
    script = ProgressScript {};
    h.st.session.status = 0;
    h.st.session.callbacks.progress = {};
    ASSERT_EQ(h.Compress({"a.txt", "b.bin"}), arOk);
    ASSERT_EQ(h.Open(s), arOk);
    WriteFile(h.Out("b.bin"), "precious");
    script.cancel_at = 1;
    h.st.session.callbacks.progress = {7, Progress};
    EXPECT_EQ(h.Extract(), arCancelled);
    EXPECT_EQ(ListDir(h.dir / "out"), (std::vector<std::string>{"a.txt", "b.bin"}));
    EXPECT_EQ(ReadFile(h.Out("b.bin")), std::vector<uint8_t>({'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'}));
    g_progress = nullptr;
}

TEST(CreateExtractTest, ProgressCountsTheSourceAndTheOutput) {
    ProgressScript script;
    g_progress = &script;
    Host h;
    h.AddFile("a.txt", TextBytes(300000));
    const HidFileSettings s = MakeSettings(1, "pw");
    archive::CreateHidFile(h.st.session, h.st.archive, h.archive.c_str(), &s);
    h.st.session.callbacks.progress = {7, Progress};
    SetInputPath(h.st.session, (h.dir / "in").c_str());
    ASSERT_EQ(h.Compress({"a.txt"}), arOk);
    int64_t counted = 0;
    for (const auto& [percent, count] : script.seen) counted += count;
    // A copy counts the byte it starts with again, so the count may pass the size.
    EXPECT_GE(counted, 300000);
    EXPECT_LE(counted, 2 * 300000);
    EXPECT_GE(script.seen.back().first, 100);

    script.seen.clear();
    ASSERT_EQ(h.Open(s), arOk);
    h.st.session.callbacks.progress = {7, Progress};
    ASSERT_EQ(h.Extract(), arOk);
    counted = 0;
    for (const auto& [percent, count] : script.seen) counted += count;
    EXPECT_EQ(counted, 300000);
    EXPECT_EQ(script.seen.back().first, 100);
    g_progress = nullptr;
}

struct KeyScript {
    std::vector<std::string> answers;  // "" answers 0
    std::vector<std::string> asked_for;
};
KeyScript* g_key = nullptr;
int32_t HEDGEROW_CALL Key(uint32_t, char* password, const char* name) {
    for (int i = 0; i < 250; ++i) EXPECT_EQ(password[i], 0);
    const size_t n = g_key->asked_for.size();
    g_key->asked_for.emplace_back(name);
    if (n >= g_key->answers.size() || g_key->answers[n].empty()) return 0;
    std::strcpy(password, g_key->answers[n].c_str());
    return 1;
}

TEST(CreateExtractTest, CryptKeyProcIsAskedAgainAfterAWrongPassword) {
    for (bool stored : {false, true}) {
        SCOPED_TRACE(stored ? "stored" : "compressed");
        Host h;
        const std::vector<uint8_t> data = stored ? RandomBytes(3000) : TextBytes(3000);
        h.AddFile("a.txt", data);
        h.AddFile("b.txt", TextBytes(500, 9));
        ASSERT_EQ(h.Create({"a.txt", "b.txt"}, MakeSettings(2, "right")), arOk);
        struct Case {
            std::vector<std::string> answers;
            uint16_t status;
            size_t asked;
        };
        for (const Case& c : {Case{{"wrong", "right"}, arOk, 2}, Case{{"wrong", ""}, arBadPassword, 2}, Case{{""}, arBadPassword, 1}}) {
            KeyScript script {c.answers, {}};
            g_key = &script;
            std::filesystem::remove_all(h.dir / "out");
            ASSERT_EQ(h.Open(MakeSettings(2, "")), arOk);  // no data password
            h.st.session.callbacks.crypt_key = {3, Key};
            EXPECT_EQ(h.Extract(), c.status);
            EXPECT_EQ(script.asked_for.size(), c.asked);  // the password found serves b.txt too
            for (const auto& name : script.asked_for) EXPECT_EQ(name, "a.txt");
            if (c.status == arOk) {
                EXPECT_EQ(ReadFile(h.Out("a.txt")), data);
                EXPECT_EQ(ReadFile(h.Out("b.txt")), TextBytes(500, 9));
            } else {
                EXPECT_FALSE(std::filesystem::exists(h.Out("a.txt")));
            }
        }
        // No procedure and no password: refused at once.
        ASSERT_EQ(h.Open(MakeSettings(2, "")), arOk);
        EXPECT_EQ(h.Extract(), arBadPassword);
    }
    g_key = nullptr;
}

TEST(CreateExtractTest, DamagedDataIsReportedAndNotKept) {
    Host h;
    h.AddFile("a.txt", TextBytes(5000));
    ASSERT_EQ(h.Create({"a.txt"}, MakeSettings(-1, "pw")), arOk);
    std::vector<uint8_t> bytes = h.ArchiveBytes();
    bytes[34 + 432 + 100] ^= 0x10;
    WriteFile(h.archive, bytes);
    ASSERT_EQ(h.Open(MakeSettings(-1, "pw")), arOk);
    EXPECT_EQ(h.Extract(), arDamagedEntries);  // left out, and nothing of it kept
    EXPECT_TRUE(ListDir(h.dir / "out").empty());
}

struct ReplaceScript {
    int32_t answer = 0;
    std::vector<std::pair<HedgerowFindData, HedgerowFindData>> calls;
};
ReplaceScript* g_replace = nullptr;
int32_t HEDGEROW_CALL Replace(uint32_t, const HedgerowFindData* a, const HedgerowFindData* b) {
    g_replace->calls.emplace_back(*a, *b);
    return g_replace->answer;
}

TEST(CreateExtractTest, OkToReplaceProcDecidesAboutExistingFiles) {
    struct Case {
        int32_t answer;
        uint16_t status;
        bool replaced;
        bool next_extracted;
    };
    for (const Case& c : {Case{0, arOk, true, true}, Case{1, arOk, false, true}, Case{2, arCancelled, false, false},
                          Case{5, arOk, true, true}}) {
        SCOPED_TRACE(c.answer);
        Host h;
        h.AddFile("a.txt", TextBytes(1234));
        h.AddFile("b.txt", TextBytes(10, 2));
        ASSERT_EQ(h.Create({"a.txt", "b.txt"}, MakeSettings(0, "pw")), arOk);
        WriteFile(h.Out("a.txt"), "old");
        ASSERT_EQ(platform::SetAttributes(h.Out("a.txt").c_str(), 0x21), 0u);  // read-only
        ReplaceScript script {c.answer, {}};
        g_replace = &script;
        ASSERT_EQ(h.Open(MakeSettings(0, "pw")), arOk);
        h.st.session.callbacks.ok_to_replace = {1, Replace};
        EXPECT_EQ(h.Extract(), c.status);
        ASSERT_EQ(script.calls.size(), 1u);
        EXPECT_EQ(script.calls[0].first.nFileSizeLow, 3u);      // the disk file first
        EXPECT_EQ(script.calls[0].second.nFileSizeLow, 1234u);  // then the entry
        EXPECT_EQ(ReadFile(h.Out("a.txt")) == TextBytes(1234), c.replaced);
        EXPECT_EQ(std::filesystem::exists(h.Out("b.txt")), c.next_extracted);
    }
    g_replace = nullptr;
}

TEST(CreateExtractTest, WithoutRestorePathsEveryEntryLandsInTheOutputPath) {
    Host h;
    h.AddFile("DATA/SUB/A.TXT", TextBytes(10));
    ASSERT_EQ(h.Create({"DATA/SUB/A.TXT"}, MakeSettings(2, "pw")), arOk);
    ASSERT_EQ(h.Open(MakeSettings(2, "pw")), arOk);
    SetRelativePath(h.st.session, "DATA");
    OptionsOff(h.st.session, kOptRestorePaths);
    ASSERT_EQ(h.Extract({}, "out"), arOk);
    EXPECT_EQ(ReadFile(h.Out("A.TXT")), TextBytes(10));
    OptionsOn(h.st.session, kOptRestorePaths);
    ASSERT_EQ(h.Extract({}, "out2"), arOk);
    EXPECT_EQ(ReadFile(h.dir / "out2/SUB/A.TXT"), TextBytes(10));
}

}  // namespace
}  // namespace hedgerow::ops
