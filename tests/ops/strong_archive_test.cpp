// strong_archive_test.cpp -- strong archives through the operations: what goes in comes
// out (bytes, names, times, modes), a wrong password is known, and every kind of damage or
// tampering is found and told apart from a wrong password.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/records.h"
#include "common/byte_order.h"
#include "platform/platform.h"
#include "strong/format.h"
#include "support/ops_host.h"

namespace hedgerow::ops {
namespace {

using namespace hedgerow::testing;
namespace fs = std::filesystem;

constexpr int32_t kStrong = 3;

// Small Argon2 parameters: the tests derive many keys.
void FastKeys(Host& h) {
    h.st.archive.strong_argon2_memory_kib = 64;
    h.st.archive.strong_argon2_passes = 1;
    h.st.archive.strong_argon2_lanes = 1;
}

struct Sample {
    std::string name;
    std::vector<uint8_t> bytes;
};

std::vector<Sample> Samples() {
    return {{"text.txt", TextBytes(300000, 3)},
            {"noise.bin", RandomBytes(70000, 4)},  // stored: it does not compress
            {"empty", {}},
            {"dir/inner.txt", TextBytes(1000, 5)},
            {"\xce\xa9\xce\xbc.txt", TextBytes(10, 6)}};  // a name no OEM code page holds
}

// A strong archive of the samples, with a time and a mode of their own on one of them.
void MakeStrong(Host& h, const std::string& password = "correct horse") {
    for (const Sample& s : Samples()) h.AddFile(s.name, s.bytes);
    ASSERT_TRUE(platform::SetModificationTime(h.In("text.txt").c_str(), 1234567890, 123456700));
    ASSERT_TRUE(platform::SetPermissions(h.In("dir/inner.txt").c_str(), 0640));
    const HidFileSettings s = MakeSettings(kStrong, password);
    archive::CreateHidFile(h.st.session, h.st.archive, h.archive.c_str(), &s);
    ASSERT_EQ(h.st.session.status, arOk);
    FastKeys(h);
    SetInputPath(h.st.session, (h.dir / "in").c_str());
    std::vector<std::string> masks;
    for (const Sample& sample : Samples()) masks.push_back(sample.name);
    ASSERT_EQ(h.Compress(masks), arOk);
}

TEST(StrongArchiveTest, WhatGoesInComesOut) {
    Host h;
    MakeStrong(h);
    // Nothing of the names is there to read without the password.
    const std::vector<uint8_t> bytes = h.ArchiveBytes();
    const std::string raw(bytes.begin(), bytes.end());
    EXPECT_EQ(raw.find("text.txt"), std::string::npos);
    EXPECT_EQ(raw.find("hedge"), std::string::npos);

    ASSERT_EQ(h.Open(MakeSettings(kStrong, "correct horse")), arOk);
    EXPECT_TRUE(h.st.archive.strong);
    HidFileList list {};
    h.List(list);

    ASSERT_EQ(h.st.session.status, arOk);
    ASSERT_EQ(list.count, Samples().size());
    const HidFileEntry* e = list.first;
    EXPECT_STREQ(e->name, "text.txt");
    EXPECT_EQ(e->cipher_id, kStrong);
    EXPECT_EQ(e->unpacked_size, 300000u);
    EXPECT_LT(e->packed_size, 300000u);  // compressed
    EXPECT_EQ(e->mtime_low, 1234567890u);
    EXPECT_EQ(e->mtime_nanoseconds, 123456700u);  // (in the 100 ns that every file system keeps)
    EXPECT_EQ(e->record_copy, nullptr);
    uint32_t kept_mode = 0;
    const bool has_modes = platform::GetPermissions(h.In("dir/inner.txt").c_str(), &kept_mode);
    EXPECT_EQ(e->next->next->next->unix_mode, has_modes ? 0640u : 0u);
    EXPECT_STREQ(e->next->next->next->name, "dir\\inner.txt");
    archive::DoneHidFileList(list);

    OptionsOn(h.st.session, kOptRestorePaths);
    ASSERT_EQ(h.Extract(), arOk);
    for (const Sample& s : Samples()) EXPECT_EQ(ReadFile(h.Out(s.name)), s.bytes) << s.name;
    int64_t seconds = 0;
    uint32_t nanoseconds = 0;
    ASSERT_TRUE(platform::GetModificationTime(h.Out("text.txt").c_str(), &seconds, &nanoseconds));
    EXPECT_EQ(seconds, 1234567890);
    EXPECT_EQ(nanoseconds, 123456700u);
    uint32_t mode = 0;
    if (has_modes) {
        ASSERT_TRUE(platform::GetPermissions(h.Out("dir/inner.txt").c_str(), &mode));
        EXPECT_EQ(mode, 0640u);
    }
}

// A reader of the legacy format finds no archive; ours finds the strong one.
TEST(StrongArchiveTest, LegacyReadersFindNoArchive) {
    Host h;
    MakeStrong(h);
    platform::File f = platform::OpenFile(h.archive.c_str(), "rb");
    uint32_t offset = 0;
    bool locked = false;
    EXPECT_EQ(archive::FindMarker(f.get(), &offset, &locked), archive::MarkerSearch::kStrong);
    const std::vector<uint8_t> bytes = h.ArchiveBytes();
    EXPECT_NE(bytes[14], 77);  // the format tag a legacy reader looks for
    ASSERT_EQ(h.Open(MakeSettings(kStrong, "correct horse")), arOk);
    LockArchive(*OpCall(h.st), h.archive.c_str());
    EXPECT_EQ(h.st.session.status, arAlwaysLocked);
    EXPECT_EQ(h.ArchiveBytes(), bytes);
}

int g_asked = 0;
const char* g_answers[3] = {};
int32_t HEDGEROW_CALL Answer(uint32_t, char* password, const char*) {
    const char* a = g_answers[g_asked++ % 3];
    if (a == nullptr) return 0;
    std::strcpy(password, a);
    return 1;
}

TEST(StrongArchiveTest, WrongPasswordIsKnownAndTheHostIsAskedAgain) {
    Host h;
    MakeStrong(h);
    ASSERT_EQ(h.Open(MakeSettings(kStrong, "wrong")), arOk);  // opening reads no record
    EXPECT_EQ(h.Names(), std::vector<std::string>{});
    EXPECT_EQ(h.st.session.status, arBadPassword);
    EXPECT_EQ(h.Extract(), arBadPassword);
    EXPECT_FALSE(fs::exists(h.dir / "out") && !ListDir(h.dir / "out").empty());

    // Asked until the answer is right: wrong, then right.
    ASSERT_EQ(h.Open(MakeSettings(kStrong, "")), arOk);
    g_asked = 0;
    g_answers[0] = "still wrong";
    g_answers[1] = "correct horse";
    h.st.session.callbacks.crypt_key = {0, Answer};
    EXPECT_EQ(h.Names().size(), Samples().size());
    EXPECT_EQ(g_asked, 2);
    // The key is kept for the calls that follow: no more questions.
    EXPECT_EQ(h.Extract(), arOk);
    EXPECT_EQ(g_asked, 2);
}

// Opening the same archive again with the same password keeps the derived key (a host's
// list-then-extract derives it once); another password or another archive forgets it.
TEST(StrongArchiveTest, KeyIsKeptOnlyForTheSameArchiveAndPassword) {
    Host h;
    MakeStrong(h);
    ASSERT_EQ(h.Open(MakeSettings(kStrong, "correct horse")), arOk);
    ASSERT_EQ(h.Names().size(), Samples().size());
    EXPECT_TRUE(h.st.archive.strong_key_ready);
    ASSERT_EQ(h.Open(MakeSettings(kStrong, "correct horse")), arOk);
    EXPECT_TRUE(h.st.archive.strong_key_ready);
    ASSERT_EQ(h.Open(MakeSettings(kStrong, "wrong")), arOk);
    EXPECT_FALSE(h.st.archive.strong_key_ready);
    EXPECT_TRUE(h.Names().empty());
    EXPECT_EQ(h.st.session.status, arBadPassword);
}

TEST(StrongArchiveTest, InfoTellsTheKindAndTheKeyParametersWithoutAPassword) {
    Host h;
    MakeStrong(h);
    HidFileSettings settings = MakeSettings(kStrong, "");
    ::InitHidFile(h.archive.c_str(), &settings);
    HidFileInfo info {};
    info.size = sizeof info;
    ::GetHidFileInfo(&info);
    EXPECT_EQ(GetArchiveStatus(), arOk);
    EXPECT_EQ(info.kind, HEDGEROW_KIND_STRONG);
    EXPECT_EQ(info.kdf_memory_kib, 64u);
    EXPECT_EQ(info.kdf_passes, 1u);
    EXPECT_EQ(info.kdf_lanes, 1u);
    // A new strong archive: the parameters it will be made with; a legacy one: none.
    settings = MakeSettings(kStrong, "pw");
    ::CreateHidFile((h.dir / "new.arc").c_str(), &settings);
    info = HidFileInfo {};
    info.size = sizeof info;
    ::GetHidFileInfo(&info);
    EXPECT_EQ(info.kind, HEDGEROW_KIND_STRONG);
    EXPECT_EQ(info.kdf_memory_kib, 65536u);
    EXPECT_EQ(info.kdf_passes, 3u);
    settings = MakeSettings(2, "pw");
    ::CreateHidFile((h.dir / "new.arc").c_str(), &settings);
    info = HidFileInfo {};
    info.size = 8;  // an older host's smaller block: nothing written behind it
    info.kdf_memory_kib = 77;
    ::GetHidFileInfo(&info);
    EXPECT_EQ(info.kind, HEDGEROW_KIND_LEGACY);
    EXPECT_EQ(info.kdf_memory_kib, 77u);
    ::DoneHidFile();
    ::GetHidFileInfo(&info);
    EXPECT_EQ(GetArchiveStatus(), arNotFound);
}

// Damage and tampering, each at its own place: what the reader says, and which entries
// still come out whole.
TEST(StrongArchiveTest, DamageAndTamperingAreFound) {
    Host made;
    MakeStrong(made);
    const std::vector<uint8_t> good = made.ArchiveBytes();
    // Where things are: header, then frames. Walk the frames by their plain lengths.
    struct Frame {
        size_t offset;
        size_t size;  // frame with its data
    };
    ASSERT_EQ(made.Open(MakeSettings(kStrong, "correct horse")), arOk);
    HidFileList list {};
    made.List(list);
    std::vector<Frame> frames;
    for (const HidFileEntry* e = list.first; e; e = e->next) {
        const size_t body = good[e->record_offset + 4] | good[e->record_offset + 5] << 8;
        frames.push_back({e->record_offset, strong::kFrameHeadSize + body + strong::kTagSize + e->packed_size});
    }
    archive::DoneHidFileList(list);
    ASSERT_EQ(frames.size(), 5u);
    const size_t end_record = frames.back().offset + frames.back().size;

    using Bytes = std::vector<uint8_t>;
    auto flip = [&](size_t at) {
        Bytes b = good;
        b[at] ^= 0x10;
        return b;
    };
    auto cut = [&](size_t length) { return Bytes(good.begin(), good.begin() + static_cast<long>(length)); };
    auto swap_first_two = [&] {
        Bytes b(good.begin(), good.begin() + static_cast<long>(frames[0].offset));
        const auto f = [&](int i) { return good.begin() + static_cast<long>(frames[i].offset); };
        b.insert(b.end(), f(1), f(1) + static_cast<long>(frames[1].size));
        b.insert(b.end(), f(0), f(0) + static_cast<long>(frames[0].size));
        b.insert(b.end(), f(2), good.end());
        return b;
    };
    auto without_second = [&] {
        Bytes b(good.begin(), good.begin() + static_cast<long>(frames[1].offset));
        b.insert(b.end(), good.begin() + static_cast<long>(frames[2].offset), good.end());
        return b;
    };
    struct Case {
        const char* what;
        Bytes bytes;
        uint16_t status;
        size_t whole;  // samples extracted whole, from the first
    };
    const Case cases[] = {
        {"untouched", good, arOk, 5},
        {"a bit of the header's salt", flip(50), arBadFormat, 0},                   // its CRC fails
        {"a bit of the first record", flip(frames[0].offset + 30), arBadFormat, 0},
        {"a bit of the second entry's data", flip(frames[1].offset + frames[1].size - 40), arDamagedEntries, 5 - 1},
        {"cut inside the third entry", cut(frames[2].offset + 30), arBadFormat, 2},
        {"cut behind the last entry", cut(end_record), arBadFormat, 5},
        {"junk behind the end", [&] { Bytes b = good; b.push_back(0); return b; }(), arBadFormat, 5},
        {"two entries swapped", swap_first_two(), arBadFormat, 0},
        {"an entry taken out", without_second(), arBadFormat, 1},
    };
    for (const int workers : {1, 3}) {  // the calling thread alone, and a pool
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + ", workers " + std::to_string(workers));
            Host h;
            WriteFile(h.archive, c.bytes);
            ASSERT_EQ(h.Open(MakeSettings(kStrong, "correct horse")), arOk);
            h.st.archive.workers = workers;
            OptionsOn(h.st.session, kOptRestorePaths);
            EXPECT_EQ(h.Extract(), c.status);
            size_t whole = 0;
            for (const Sample& s : Samples()) {
                if (fs::exists(h.Out(s.name)) && ReadFile(h.Out(s.name)) == s.bytes) ++whole;
            }
            EXPECT_EQ(whole, c.whole);
            EXPECT_TRUE(h.Strays().empty());
        }
    }
}

// Workers seal and open whole files while the calling thread writes records and data in
// list order: the same entries for any number of them.
TEST(StrongArchiveTest, AnyNumberOfWorkersGivesTheSameEntries) {
    std::vector<std::vector<std::string>> listings;
    for (const int workers : {1, 4}) {
        SCOPED_TRACE(workers);
        Host h;
        for (const Sample& s : Samples()) h.AddFile(s.name, s.bytes);
        const HidFileSettings settings = MakeSettings(kStrong, "pw");
        archive::CreateHidFile(h.st.session, h.st.archive, h.archive.c_str(), &settings);
        FastKeys(h);
        h.st.archive.workers = workers;
        SetInputPath(h.st.session, (h.dir / "in").c_str());
        std::vector<std::string> masks;
        for (const Sample& sample : Samples()) masks.push_back(sample.name);
        ASSERT_EQ(h.Compress(masks), arOk);
        ASSERT_EQ(h.Open(MakeSettings(kStrong, "pw")), arOk);
        HidFileList list {};
        h.List(list);
        std::vector<std::string> listed;
        for (const HidFileEntry* e = list.first; e; e = e->next) {
            listed.push_back(std::string(e->name) + " " + std::to_string(e->unpacked_size) + " " +
                             std::to_string(e->packed_size));
        }
        archive::DoneHidFileList(list);
        listings.push_back(listed);
        h.st.archive.workers = workers;
        OptionsOn(h.st.session, kOptRestorePaths);
        ASSERT_EQ(h.Extract(), arOk);
        for (const Sample& s : Samples()) EXPECT_EQ(ReadFile(h.Out(s.name)), s.bytes) << s.name;
    }
    EXPECT_EQ(listings[0], listings[1]);
}

int g_replace_answer = 0;
int32_t HEDGEROW_CALL ReplaceAnswer(uint32_t, const HedgerowFindData*, const HedgerowFindData*) { return g_replace_answer; }

TEST(StrongArchiveTest, UpdateDeleteAndChangeOfPassword) {
    Host h;
    MakeStrong(h);
    ASSERT_EQ(h.Open(MakeSettings(kStrong, "correct horse")), arOk);
    FastKeys(h);
    SetInputPath(h.st.session, (h.dir / "in").c_str());
    h.AddFile("text.txt", TextBytes(500, 9));
    h.AddFile("new.txt", TextBytes(700, 10));
    h.st.session.callbacks.ok_to_replace = {0, ReplaceAnswer};
    g_replace_answer = 0;  // replace
    ASSERT_EQ(h.Compress({"text.txt", "new.txt"}), arOk);
    EXPECT_EQ(h.Names(), (std::vector<std::string>{"noise.bin", "empty", "dir\\inner.txt", "\xce\xa9\xce\xbc.txt",
                                                   "text.txt", "new.txt"}));
    ASSERT_EQ(h.Delete({"noise.bin", "new.txt"}), arOk);
    EXPECT_EQ(h.Names().size(), 4u);
    const std::vector<uint8_t> before = h.ArchiveBytes();
    EXPECT_EQ(h.Delete({"nothing.*"}), arNoEntries);
    EXPECT_EQ(h.ArchiveBytes(), before);

    ChangeStrongPassword(*OpCall(h.st), h.archive.c_str(), "battery staple");
    ASSERT_EQ(h.st.session.status, arOk);
    ASSERT_EQ(h.Open(MakeSettings(kStrong, "correct horse")), arOk);
    EXPECT_EQ(h.Extract(), arBadPassword);
    ASSERT_EQ(h.Open(MakeSettings(kStrong, "battery staple")), arOk);
    OptionsOn(h.st.session, kOptRestorePaths);
    ASSERT_EQ(h.Extract(), arOk);
    EXPECT_EQ(ReadFile(h.Out("text.txt")), TextBytes(500, 9));
    EXPECT_EQ(ReadFile(h.Out("dir/inner.txt")), TextBytes(1000, 5));
    // The entries' data went over unchanged: only header and records are new.
    const std::vector<uint8_t> after = h.ArchiveBytes();
    EXPECT_EQ(after.size(), before.size());
    EXPECT_TRUE(h.Strays().empty());
}

// The settings' extension block names Argon2id's parameters for a new archive and for a
// change of password; a change without them keeps the archive's own.
TEST(StrongArchiveTest, KeyParametersComeFromTheSettingsAndStayOnAChangeOfPassword) {
    const auto with_kdf = [](uint32_t memory, uint32_t passes, uint32_t lanes) {
        HidFileSettings s = MakeSettings(kStrong, "pw");
        HidFileExtension block {};
        block.tag = HEDGEROW_EXTENSION_TAG;
        block.tag_check = ~uint32_t {HEDGEROW_EXTENSION_TAG};
        block.kdf_memory_kib = memory;
        block.kdf_passes = passes;
        block.kdf_lanes = lanes;
        std::memcpy(s.reserved1, &block, sizeof block);
        return s;
    };
    const auto header_argon2 = [](Host& h) {
        const std::vector<uint8_t> b = h.ArchiveBytes();
        return std::vector<uint32_t> {Load32Le(b.data() + 58), Load32Le(b.data() + 62), Load32Le(b.data() + 66)};
    };
    Host h;
    h.AddFile("a.txt", TextBytes(100, 1));
    // Out of range: fewer than 8 KiB per lane, more than 4 GiB, too many passes or lanes.
    for (const HidFileSettings& bad : {with_kdf(7, 1, 0), with_kdf(100, 1, 16), with_kdf(HEDGEROW_MAX_KDF_MEMORY_KIB + 1, 1, 1),
                                       with_kdf(64, 65, 1), with_kdf(64, 1, 65)}) {
        archive::CreateHidFile(h.st.session, h.st.archive, h.archive.c_str(), &bad);
        EXPECT_EQ(h.st.session.status, arBadSettings);
    }
    ASSERT_EQ(h.Create({"a.txt"}, with_kdf(72, 2, 0)), arOk);
    EXPECT_EQ(header_argon2(h), (std::vector<uint32_t> {72, 2, 1}));

    ASSERT_EQ(h.Open(with_kdf(0, 0, 0)), arOk);
    ChangeStrongPassword(*OpCall(h.st), h.archive.c_str(), "pw2");
    ASSERT_EQ(h.st.session.status, arOk);
    EXPECT_EQ(header_argon2(h), (std::vector<uint32_t> {72, 2, 1}));

    HidFileSettings more = with_kdf(96, 0, 0);
    std::strcpy(more.data_password, "pw2");
    ASSERT_EQ(h.Open(more), arOk);
    ChangeStrongPassword(*OpCall(h.st), h.archive.c_str(), "pw3");
    ASSERT_EQ(h.st.session.status, arOk);
    EXPECT_EQ(header_argon2(h), (std::vector<uint32_t> {96, 2, 1}));
}

}  // namespace
}  // namespace hedgerow::ops

namespace hedgerow::ops {
namespace {

using namespace hedgerow::testing;

// Creation, update, deletion and change of password with each write, rename, create and
// read failing in turn: the operation fails, the archive stays byte for byte as it was (or,
// new, is not there), and no temporary file is left.
TEST(StrongArchiveTest, AFailureAtAnyStepLeavesTheArchiveAsItWas) {
    using platform::FaultKind;
    enum Op { kCreate, kUpdate, kDelete, kRekey };
    static const char* const op_names[] = {"create", "update", "delete", "rekey"};
    for (Op op : {kCreate, kUpdate, kDelete, kRekey}) {
        int walked = 0;
        for (FaultKind kind : {FaultKind::kWrite, FaultKind::kRename, FaultKind::kCreate, FaultKind::kRead}) {
            for (int n = 0;; ++n) {
                SCOPED_TRACE(std::string(op_names[op]) + " kind " + std::to_string(static_cast<int>(kind)) + " n " +
                             std::to_string(n));
                Host h;
                h.AddFile("a.txt", TextBytes(90000, 1));
                h.AddFile("b.bin", RandomBytes(20000, 2));
                const HidFileSettings s = MakeSettings(kStrong, "pw");
                if (op != kCreate) {
                    archive::CreateHidFile(h.st.session, h.st.archive, h.archive.c_str(), &s);
                    FastKeys(h);
                    SetInputPath(h.st.session, (h.dir / "in").c_str());
                    ASSERT_EQ(h.Compress({"a.txt", "b.bin"}), arOk);
                    ASSERT_EQ(h.Open(s), arOk);
                }
                h.AddFile("a.txt", TextBytes(5000, 3));
                const std::vector<uint8_t> before = op == kCreate ? std::vector<uint8_t>() : h.ArchiveBytes();
                platform::FaultPlan plan;
                plan.fail_at[static_cast<int>(kind)] = n;
                platform::SetFaultPlan(plan);
                switch (op) {
                    case kCreate:
                        archive::CreateHidFile(h.st.session, h.st.archive, h.archive.c_str(), &s);
                        FastKeys(h);
                        SetInputPath(h.st.session, (h.dir / "in").c_str());
                        h.Compress({"a.txt", "b.bin"});
                        break;
                    case kUpdate:
                        SetInputPath(h.st.session, (h.dir / "in").c_str());
                        h.Compress({"a.txt"});
                        break;
                    case kDelete: h.Delete({"b.bin"}); break;
                    case kRekey: ChangeStrongPassword(*OpCall(h.st), h.archive.c_str(), "new"); break;
                }
                const platform::FaultPlan seen = platform::SetFaultPlan(platform::FaultPlan {});
                const bool fired = seen.seen[static_cast<int>(kind)] > n;
                if (!fired) {
                    EXPECT_EQ(h.st.session.status, arOk);
                    break;
                }
                ++walked;
                EXPECT_NE(h.st.session.status, arOk);
                if (op == kCreate) {
                    EXPECT_FALSE(std::filesystem::exists(h.archive));
                } else {
                    EXPECT_EQ(h.ArchiveBytes(), before);
                }
                EXPECT_TRUE(h.Strays().empty());
            }
        }
        RecordProperty(std::string(op_names[op]) + "_points", walked);
    }
}

}  // namespace
}  // namespace hedgerow::ops
