// sfx_test.cpp -- self-extracting archives, library side: the checksum and obscuring of
// the configuration blocks, the build behind a module's program, the module's failures,
// and the hand-over to the module for splitting. Stand-in modules (tests/sfx/) write a
// fixed text as their "program" and log every call.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/byte_order.h"
#include "ops/sfx.h"
#include "platform/platform.h"
#include "sfxblocks/sfx_blocks.h"
#include "support/ops_host.h"

namespace hedgerow::ops {
namespace {

using namespace hedgerow::testing;
using namespace hedgerow::sfxblocks;
namespace fs = std::filesystem;

constexpr size_t kStandInProgramSize = 17 * 100;  // "STAND-IN PROGRAM\n" 100 times

void SetEnv(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void ClearEnv(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

TEST(SfxBlocksTest, FoldChecksumSignExtendsEachByteAndDropsTheTail) {
    struct Case {
        std::vector<uint8_t> bytes;
        uint32_t start;
        uint32_t expected;
    };
    for (const Case& c : {Case{{0x80, 0, 0, 0}, 0, 0xFFFFFF80u}, Case{{0x01, 0x80, 0, 0}, 0, 0xFFFF8001u},
                          Case{{0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF, 0xFF}, 0, 0x04030201u},
                          Case{{0x11, 0x22, 0x33, 0x44}, 0x0072006E, 0x4441227Fu}, Case{{}, 5, 5}}) {
        EXPECT_EQ(FoldChecksum(c.bytes.data(), c.bytes.size(), c.start), c.expected);
    }
}

TEST(SfxBlocksTest, ObscuringReadsBackwardsUnderMixedTablesAndRevealsAgain) {
    SfxKeyTables plain;
    FillKeyTables(plain);
    SfxKeyTables mixed = plain;
    MixKeyTables(mixed);
    for (size_t i = 0; i < 32; ++i) {
        const auto t = static_cast<uint8_t>(plain.a[31 - i] ^ plain.b[i]);
        EXPECT_EQ(mixed.a[31 - i], t);
        EXPECT_EQ(mixed.b[i], static_cast<uint8_t>(t + plain.b[i]));
    }
    const std::vector<uint8_t> source = RandomBytes(kBlock2Size, 3);
    std::vector<uint8_t> obscured(source.size()), back(source.size());
    ObscureBlock(obscured.data(), source.data(), source.size(), mixed);
    for (size_t k : {size_t{0}, size_t{1}, size_t{700}, source.size() - 1}) {
        const size_t j = source.size() - 1 - k;
        const auto expected = static_cast<uint8_t>((source[j] ^ (j & 0xFF) ^ mixed.a[k % 32]) - mixed.b[k % 32]);
        EXPECT_EQ(obscured[k], expected) << k;
    }
    RevealBlock(back.data(), obscured.data(), obscured.size(), mixed);
    EXPECT_EQ(back, source);
}

// A host with a module directory of its own, holding one stand-in as HEDGE32.ZZL (or none).
struct SfxHost : Host {
    TempDir modules;
    std::string log = modules / "calls.log";
    uint8_t parameters[2076] = {};

    explicit SfxHost(const char* variant, uint32_t selector = 0) {
        if (variant) {
            fs::copy_file(std::string(HEDGEROW_SFX_STANDIN_DIR) + variant + ".zzl", modules / "HEDGE32.ZZL");
        }
        Store32Le(parameters + 8, selector);
        SetEnv("HEDGEROW_STANDIN_LOG", log);
        AddFile("a.txt", TextBytes(5000));
        AddFile("sub/b.bin", RandomBytes(3000));
    }
    ~SfxHost() {
        ClearEnv("HEDGEROW_STANDIN_LOG");
        ClearEnv("HEDGEROW_STANDIN_ANSWER");
    }

    uint16_t Build(const std::vector<std::string>& masks, const std::string& name, int32_t cipher = 2) {
        HidFileSettings s = MakeSettings(cipher, "pw");
        s.make_self_extractor = 1;
        std::memcpy(s.sfx_parameters, parameters, sizeof parameters);
        archive::CreateHidFile(st.session, st.archive, name.c_str(), &s);
        if (st.session.status != 0) return st.session.status;
        SetInputPath(st.session, (dir / "in").c_str());
        list = std::make_unique<MaskListOwner>(st.session, masks);
        BuildSelfExtractor(*OpCall(st), (modules.path() + "/").c_str(), name.c_str(), list->list, parameters);
        return st.session.status;
    }

    std::vector<std::string> Calls() const {
        std::ifstream in(log);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    std::unique_ptr<MaskListOwner> list;
};

TEST(SfxTest, TheArchiveFollowsTheProgramAndTheBlocksAreSealed) {
    SfxHost h("full");
    // Files the host lets be skipped count among the files handled.
    h.st.session.callbacks.skip_file = {0, [](uint32_t, const char*) HEDGEROW_CALL -> int32_t { return 1; }};
    ASSERT_EQ(h.Build({"a.txt", "sub/b.bin", "missing.txt"}, h.archive), arOk);
    EXPECT_EQ(h.list->list.first, nullptr) << "the host's list is freed";
    EXPECT_TRUE(h.Strays().empty()) << h.Strays()[0];

    const std::vector<uint8_t> bytes = h.ArchiveBytes();
    ASSERT_GT(bytes.size(), kStandInProgramSize + kBlocksSize);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 17), "STAND-IN PROGRAM\n");
    SfxKeyTables tables;
    FillKeyTables(tables);
    MixKeyTables(tables);
    std::vector<uint8_t> plain(kBlocksSize);
    const uint8_t* stored = bytes.data() + kStandInProgramSize;
    RevealBlock(plain.data(), stored, kBlock1Size, tables);
    RevealBlock(plain.data() + kBlock1Size, stored + kBlock1Size, kBlock2Size, tables);
    RevealBlock(plain.data() + kBlock1Size + kBlock2Size, stored + kBlock1Size + kBlock2Size, kBlock3Size, tables);
    uint8_t* block2 = plain.data() + kBlock1Size;
    EXPECT_EQ(std::memcmp(plain.data(), kSfxBlockMagic, sizeof kSfxBlockMagic), 0);
    EXPECT_EQ(GetField(block2, kCountField), 3u);
    EXPECT_EQ(GetField(block2, kLengthField), bytes.size());
    // The checksum, folded as described: blocks with the placeholder, then the file around them.
    const uint32_t sealed = GetField(block2, kChecksumField);
    block2[767] = '2';
    block2[1215] = '1';
    block2[319] = '.';
    block2[991] = '4';
    uint32_t c = FoldChecksum(plain.data(), kBlock1Size, 0x0072006E);
    c = FoldChecksum(block2, kBlock2Size, c);
    c = FoldChecksum(block2 + kBlock2Size, kBlock3Size, c);
    c = FoldChecksum(bytes.data(), kStandInProgramSize, c);
    for (size_t at = kStandInProgramSize + kBlocksSize; at < bytes.size(); at += 16384) {
        c = FoldChecksum(bytes.data() + at, std::min<size_t>(16384, bytes.size() - at), c);
    }
    EXPECT_EQ(c, sealed);

    // The library reads it like any archive, and an update keeps the program in front.
    ASSERT_EQ(h.Open(MakeSettings(2, "pw")), arOk);
    EXPECT_EQ(h.st.archive.marker_offset, kStandInProgramSize + kBlocksSize);
    EXPECT_EQ(h.Names(), (std::vector<std::string>{"a.txt", "sub\\b.bin"}));
    ASSERT_EQ(h.Extract(), arOk);
    EXPECT_EQ(ReadFile(h.Out("b.bin")), RandomBytes(3000));
    h.AddFile("c.txt", TextBytes(100, 9));
    ASSERT_EQ(h.Compress({"c.txt"}), arOk);
    const std::vector<uint8_t> updated = h.ArchiveBytes();
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + kStandInProgramSize, updated.begin()));
    RevealBlock(plain.data() + kBlock1Size, updated.data() + kStandInProgramSize + kBlock1Size, kBlock2Size, tables);
    EXPECT_EQ(GetField(block2, kCountField), 4u) << "resealed with the added file";
    EXPECT_EQ(GetField(block2, kLengthField), updated.size());
}

TEST(SfxTest, ModuleFailuresEndWithTheirStatusAndLeaveNothingBehind) {
    struct Case {
        const char* variant;  // null: no module at all
        const char* answer;   // what the stand-in's GetSfxHead2 answers
        uint16_t status;
    };
    for (const Case& c : {Case{nullptr, "1", arNotFound}, Case{"no_head", "1", arSfxEntryMissing},
                          Case{"full", "0", arIoError}, Case{"full", "7", arSfxFailed}}) {
        SCOPED_TRACE(c.variant ? c.variant : "no module");
        SCOPED_TRACE(c.answer);
        SfxHost h(c.variant);
        SetEnv("HEDGEROW_STANDIN_ANSWER", c.answer);
        EXPECT_EQ(h.Build({"a.txt"}, h.archive), c.status);
        EXPECT_FALSE(fs::exists(h.archive));
        EXPECT_TRUE(h.Strays().empty());
    }
    // A module that cannot split: the finished file stays, unsplit.
    SfxHost h("no_split", 1);
    EXPECT_EQ(h.Build({"a.txt"}, h.archive), arSfxEntryMissing);
    EXPECT_TRUE(fs::exists(h.archive));
    EXPECT_TRUE(h.Strays().empty());
    for (const std::string& call : h.Calls()) EXPECT_EQ(call.rfind("set|", 0), std::string::npos) << call;
    // A disk-spanning selector without a disk size is refused before anything is written.
    SfxHost odd("full", 5);
    EXPECT_EQ(odd.Build({"a.txt"}, odd.archive), arUnsupported);
    EXPECT_TRUE(odd.Calls().empty());
}

TEST(SfxTest, SplittingHandsTheWholeFileToResizeFile) {
    SfxHost h("full", 2);
    ASSERT_EQ(h.Build({"a.txt"}, h.archive), arOk);
    const std::vector<std::string> calls = h.Calls();
    ASSERT_EQ(calls.size(), 7u);
    EXPECT_EQ(calls[0], "head|" + h.archive + "|1|2");
    EXPECT_EQ(calls[1], "set|next-disk");
    EXPECT_EQ(calls[5], "set|file-name");
    // From a temporary name beside the archive to the archive's name, 730,112 bytes a disk.
    std::istringstream resize(calls[6]);
    std::string kind, source, destination, disk, size;
    std::getline(resize, kind, '|');
    std::getline(resize, source, '|');
    std::getline(resize, destination, '|');
    std::getline(resize, disk, '|');
    std::getline(resize, size, '|');
    EXPECT_EQ(kind, "resize");
    EXPECT_EQ(fs::path(source).parent_path(), fs::path(h.archive).parent_path());
    EXPECT_EQ(destination, h.archive);
    EXPECT_EQ(disk, "730112");
    EXPECT_GT(std::stol(size), static_cast<long>(kStandInProgramSize + kBlocksSize + kSpanTailSize));
    EXPECT_FALSE(fs::exists(source)) << "the whole file is removed after splitting";
}

TEST(SfxTest, ANameOnDriveAOrBIsBuiltInTheTemporaryDirectory) {
    SfxHost h("full", 1);
    const std::string name = "B-sfx-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".run";
    ASSERT_EQ(h.Build({"a.txt"}, name), arOk);
    const std::vector<std::string> calls = h.Calls();
    ASSERT_FALSE(calls.empty());
    const std::string& resize = calls.back();
    EXPECT_NE(resize.find("|" + name + "|362496|"), std::string::npos) << resize;
    const std::string work = resize.substr(7, resize.find('|', 7) - 7);
    std::string temp = fs::temp_directory_path().string();
    while (!temp.empty() && (temp.back() == '/' || temp.back() == '\\')) temp.pop_back();
    EXPECT_EQ(fs::path(work).parent_path().string(), temp);
    EXPECT_FALSE(fs::exists(work));
    EXPECT_FALSE(fs::exists(name)) << "the stand-in writes no pieces";
}

TEST(SfxTest, AFailureAtAnyStepLeavesNoFileBehind) {
    using platform::FaultKind;
    int walked = 0;
    for (FaultKind kind :
         {FaultKind::kRead, FaultKind::kWrite, FaultKind::kCreate, FaultKind::kRename, FaultKind::kRemove}) {
        for (int n = 0;; ++n) {
            SCOPED_TRACE("kind " + std::to_string(static_cast<int>(kind)) + " n " + std::to_string(n));
            SfxHost h("full");
            platform::FaultPlan plan;
            plan.fail_at[static_cast<int>(kind)] = n;
            platform::SetFaultPlan(plan);
            const uint16_t status = h.Build({"a.txt", "sub/b.bin"}, h.archive);
            const bool fired = platform::SetFaultPlan(platform::FaultPlan {}).seen[static_cast<int>(kind)] > n;
            if (!fired) {
                EXPECT_EQ(status, arOk);
                break;
            }
            ++walked;
            EXPECT_TRUE(h.Strays().empty()) << h.Strays()[0];
            if (status != arOk) {
                EXPECT_FALSE(fs::exists(h.archive));
                continue;
            }
            // A failure that did not matter (a temporary file that could not be removed
            // is gone all the same): the file must be whole.
            ASSERT_EQ(h.Open(MakeSettings(2, "pw")), arOk);
            ASSERT_EQ(h.Extract(), arOk);
            EXPECT_EQ(ReadFile(h.Out("b.bin")), RandomBytes(3000));
        }
    }
    RecordProperty("sfx_build_points", walked);
}

}  // namespace
}  // namespace hedgerow::ops
