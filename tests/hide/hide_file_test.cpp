// hide_file_test.cpp -- HideFile and UnhideFile end to end on hand-made carriers: round
// trips of compressible and incompressible files, the prepared-file layout, the refusals
// and their statuses, the capacity rule at its edge, passwords, the host's replace
// answers, the carrier's stamp, and a failure injected at every file operation.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/byte_order.h"
#include "crypto/crc32.h"
#include "hide/carrier.h"
#include "hide/hide_file.h"
#include "hide/pcx_carrier.h"
#include "hide/strong_prepared.h"
#include "platform/platform.h"
#include "support/carrier_builder.h"
#include "support/hide_host.h"

namespace hedgerow::hide {
namespace {

using namespace hedgerow::testing;
using Bytes = std::vector<uint8_t>;

constexpr uint16_t kOk = 0;
uint16_t Code(Status s) { return static_cast<uint16_t>(s); }

Bytes TextLike(size_t n) {
    static const char kWords[] = "the hedge row keeps its secrets between hawthorn and hazel; ";
    Bytes out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(kWords[(i * 7 + i / 61) % (sizeof kWords - 1)]);
    return out;
}

Carrier Bmp24(int width, int height) {
    BmpShape shape;
    shape.width = width;
    shape.height = height;
    return MakeBmp(shape);
}

Carrier Wav16(size_t samples) {
    return MakeWav({{FormatChunk(16, 2), false}, {RiffChunk("data", TestRandom(8).Bytes(2 * samples)), true}}, 2);
}

// The prepared file as it sits in a carrier.
Bytes PreparedIn(const std::string& carrier) {
    Session s;
    CarrierState c;
    PcxState p;
    uint8_t header[kPreparedHeaderSize];
    const std::string out = carrier + ".prepared";
    const bool found = IsPcxCarrier(s, p, carrier.c_str()) ? UnhidePcx(s, c, p, carrier.c_str(), out.c_str(), header)
                                                           : ExtractFromCarrier(s, c, carrier.c_str(), out.c_str(), header);
    if (!found) return {};
    Bytes bytes = ReadFile(out);
    std::filesystem::remove(out);
    return bytes;
}

TEST(HideFileTest, RoundTripsInEveryKindOfCarrier) {
    struct Kind {
        const char* name;
        Bytes carrier;
    };
    const Kind kinds[] = {
        {"bmp", Bmp24(120, 100).bytes},
        {"wav", Wav16(20000).bytes},
        {"pcx", MakePcx({.planes = 3, .width = 150, .height = 100, .line_bytes = 150}).bytes},
    };
    struct File {
        const char* name;
        Bytes bytes;
    };
    const File files[] = {
        {"one byte", {0x42}},
        {"all equal", Bytes(3000, 0x61)},
        {"text", TextLike(2500)},
        {"random", TestRandom(17).Bytes(1500)},
    };
    HideHost h;  // one library state for every hide: state must not leak from one to the next
    for (const Kind& kind : kinds) {
        for (const File& file : files) {
            SCOPED_TRACE(std::string(kind.name) + ", " + file.name);
            WriteFile(h / "carrier", kind.carrier);
            WriteFile(h / "file", file.bytes);
            int32_t result = 0;
            ASSERT_EQ(h.Hide("carrier", "file", "pw", &result), kOk);
            EXPECT_NE(result, 0);
            EXPECT_NE(ReadFile(h / "carrier"), kind.carrier);
            EXPECT_EQ(h.st->archive.cipher_id, 2);
            EXPECT_STREQ(h.st->archive.data_password, "pw");

            const Bytes prepared = PreparedIn(h / "carrier");
            ASSERT_GE(prepared.size(), kPreparedHeaderSize);
            EXPECT_EQ(Load32Le(prepared.data() + 4), file.bytes.size());
            const uint32_t packed = Load32Le(prepared.data() + 8);
            EXPECT_EQ(prepared.size(), kPreparedHeaderSize + packed);
            if (std::string(file.name) == "random") {
                EXPECT_EQ(packed, 8 + (file.bytes.size() + 7) / 8 * 8) << "stored: chain block and blocks of 8";
            }
            if (std::string(file.name) == "all equal") {
                EXPECT_LT(packed, 100u);
            }

            ASSERT_EQ(h.Unhide("carrier", "out.bin", "pw"), kOk);
            EXPECT_EQ(ReadFile(h / "out.bin"), file.bytes);
            EXPECT_EQ(h.Files(), (std::vector<std::string> {"carrier", "file", "out.bin", "tmp"}));
            std::filesystem::remove(h / "out.bin");
        }
    }
}

TEST(HideFileTest, RefusalsLeaveTheCarrierAsItWas) {
    HideHost h;
    const Bytes bmp = Bmp24(60, 60).bytes;
    Bytes pcx_v4 = MakePcx({.width = 200, .height = 40, .line_bytes = 200}).bytes;
    pcx_v4[1] = 4;
    Bytes rle_bmp = bmp;
    rle_bmp[30] = 1;
    Bytes bmp16 = bmp;
    bmp16[28] = 16;
    struct Case {
        const char* name;
        Bytes carrier;
        Bytes file;
        const char* password;
        Status status;
    };
    const Case cases[] = {
        {"empty password", bmp, {1, 2, 3}, "", Status::kNoPassword},
        {"empty file", bmp, {}, "pw", Status::kEmptyFile},
        {"text file as carrier", Bytes(20000, 'X'), {1, 2, 3}, "pw", Status::kBadFormat},
        {"PCX version 4 is not tried as anything else", pcx_v4, {1}, "pw", Status::kBadFormat},
        {"PCX of 16 colours", MakePcx({.bits = 4, .width = 400, .height = 40, .line_bytes = 200}).bytes, {1}, "pw",
         Status::kUnsupportedCarrier},
        {"compressed BMP", rle_bmp, {1}, "pw", Status::kCompressedCarrier},
        {"16-bit BMP", bmp16, {1}, "pw", Status::kUnsupportedCarrier},
        {"too small by the rule", Bmp24(20, 20).bytes, TestRandom(1).Bytes(300), "pw", Status::kCarrierTooSmall},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        WriteFile(h / "carrier", test.carrier);
        WriteFile(h / "file", test.file);
        int32_t result = 7;
        EXPECT_EQ(h.Hide("carrier", "file", test.password, &result), Code(test.status));
        EXPECT_EQ(result, 0);
        EXPECT_EQ(ReadFile(h / "carrier"), test.carrier);
        EXPECT_EQ(h.Files(), (std::vector<std::string> {"carrier", "file", "tmp"}));
    }
    // A file to hide that cannot be read stops before anything is made.
    WriteFile(h / "carrier", bmp);
    EXPECT_EQ(h.Hide("carrier", "missing"), Code(Status::kIoError));
    EXPECT_EQ(h.Hide("missing", "file"), Code(Status::kIoError));
    EXPECT_EQ(h.Files(), (std::vector<std::string> {"carrier", "file", "tmp"}));
}

TEST(HideFileTest, CapacityRuleAtItsEdge) {
    // 100 random bytes are stored: 17 + 8 + 104 = 129 bytes, so a carrier needs more than
    // 8 x 129 + 1600 = 2632 bytes, and 16-bit sound more than twice that. A carrier that
    // falls short tells how much it takes: by the rule, or the samples it has.
    HideHost h;
    WriteFile(h / "file", TestRandom(3).Bytes(100));
    struct Case {
        const char* name;
        Carrier carrier;
        size_t length;
        Status status;
        uint64_t room;  // when too small
    };
    const Case cases[] = {
        {"8-bit sound of 2632 bytes", MakeWav({{FormatChunk(8), false}, {RiffChunk("data", Bytes(2588, 0x80)), true}}),
         2632, Status::kCarrierTooSmall, 128},
        {"8-bit sound of 2633 bytes", MakeWav({{FormatChunk(8), false}, {RiffChunk("data", Bytes(2588, 0x80)), true}}),
         2633, Status::kOk, 0},
        {"16-bit sound of 5264 bytes", MakeWav({{FormatChunk(16), false}, {RiffChunk("data", Bytes(5220, 0)), true}}, 2),
         5264, Status::kCarrierTooSmall, 128},
        {"16-bit sound of 5266 bytes", MakeWav({{FormatChunk(16), false}, {RiffChunk("data", Bytes(5220, 0)), true}}, 2),
         5266, Status::kOk, 0},
        {"8-bit sound whose samples run out", MakeWav({{FormatChunk(8), false}, {RiffChunk("data", Bytes(1000, 0x80)), true}}),
         2633, Status::kCarrierTooSmall, 125},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Bytes bytes = test.carrier.bytes;
        ASSERT_LE(bytes.size(), test.length);
        bytes.resize(test.length, 0);  // bytes behind the RIFF data count for the rule only
        WriteFile(h / "carrier", bytes);
        EXPECT_EQ(h.Hide("carrier", "file"), Code(test.status));
        if (test.status != Status::kOk) {
            EXPECT_EQ(ReadFile(h / "carrier"), bytes);
            EXPECT_EQ(h.short_of.needed, 129u);
            EXPECT_EQ(h.short_of.room, test.room);
        }
    }
}

TEST(HideFileTest, WrongPasswordIsReportedAndWritesNothing) {
    // The prepared file keeps only the low byte of the data CRC, so one wrong password in
    // 256 passes the check whatever the reader does (the chain block, and with it the
    // outcome, is new with every hide). Most wrong passwords must be reported, and none
    // that is reported may leave a file.
    HideHost h;
    WriteFile(h / "carrier", Bmp24(100, 80).bytes);
    const Bytes before = {'k', 'e', 'e', 'p'};
    for (const Bytes& file : {TextLike(3000), TestRandom(5).Bytes(700)}) {  // compressed and stored
        WriteFile(h / "file", file);
        ASSERT_EQ(h.Hide("carrier", "file", "right"), kOk);
        int reported = 0;
        for (const char* wrong : {"wrong", "", "Right", "right ", "rig", "x", "secret", "hedge"}) {
            SCOPED_TRACE(wrong);
            WriteFile(h / "out.bin", before);
            const uint16_t status = h.Unhide("carrier", "out.bin", wrong);
            if (status == Code(Status::kBadPassword)) {
                ++reported;
                EXPECT_EQ(ReadFile(h / "out.bin"), before);
            } else {
                EXPECT_EQ(status, kOk);
            }
        }
        EXPECT_GE(reported, 6);
        std::filesystem::remove(h / "out.bin");
        EXPECT_EQ(h.Unhide("carrier", "out.bin", "wrong"), Code(Status::kBadPassword));  // ...or the 1 in 256
        EXPECT_EQ(h.Files(), (std::vector<std::string> {"carrier", "file", "tmp"}));
        ASSERT_EQ(h.Unhide("carrier", "out.bin", "right"), kOk);
        EXPECT_EQ(ReadFile(h / "out.bin"), file);
        std::filesystem::remove(h / "out.bin");
    }
}

TEST(HideFileTest, AWrongPasswordNeverYieldsAShortFile) {
    // About one wrong password in 256 passes the one-byte check; the garbage it deciphers
    // to often runs out of packed data before the recorded size. Such a password must be
    // reported like any other: every file that unhiding lets through has the recorded size.
    HideHost h;
    const Bytes file = TextLike(3000);
    WriteFile(h / "file", file);
    char prepared[archive::kTempNameCapacity] = {};
    ASSERT_TRUE(PackForHiding(*HideCall(*h.st), (h / "file").c_str(), "right", prepared));
    uint8_t header[kPreparedHeaderSize];
    std::memcpy(header, ReadFile(prepared).data(), sizeof header);
    std::strcpy(h.st->session.output_path, (h.dir.path() + "/").c_str());
    int passed = 0;
    for (int i = 0; i < 4000; ++i) {
        const std::string wrong = "wrong " + std::to_string(i);
        h.st->session.status = 0;
        if (!UnpackHidden(*HideCall(*h.st), header, prepared, "out.bin", wrong.c_str())) {
            ASSERT_EQ(h.st->session.status, Code(Status::kBadPassword)) << wrong;
            ASSERT_FALSE(std::filesystem::exists(h / "out.bin")) << wrong;
            continue;
        }
        ++passed;
        EXPECT_EQ(std::filesystem::file_size(h / "out.bin"), file.size()) << wrong;
        std::filesystem::remove(h / "out.bin");
    }
    EXPECT_LT(passed, 40);  // the one-byte check still catches nearly all
    std::filesystem::remove(prepared);
}

TEST(HideFileTest, UnhidingACarrierThatHoldsNothing) {
    HideHost h;
    WriteFile(h / "carrier", Bmp24(100, 80).bytes);
    EXPECT_EQ(h.Unhide("carrier", "out.bin"), Code(Status::kNothingHidden));
    WriteFile(h / "carrier", MakePcx({.width = 80, .height = 40, .line_bytes = 80}).bytes);
    EXPECT_EQ(h.Unhide("carrier", "out.bin"), Code(Status::kNothingHidden));
    WriteFile(h / "carrier", "Xylophone");
    EXPECT_EQ(h.Unhide("carrier", "out.bin"), Code(Status::kBadFormat));
    EXPECT_EQ(h.Unhide("missing", "out.bin"), Code(Status::kIoError));
    EXPECT_EQ(h.Files(), (std::vector<std::string> {"carrier", "tmp"}));
}

int32_t g_answer = 0;
int g_asked = 0;
int32_t HEDGEROW_CALL Answer(uint32_t, const HedgerowFindData*, const HedgerowFindData*) {
    ++g_asked;
    return g_answer;
}
std::vector<std::string> g_names;
int32_t HEDGEROW_CALL Names(uint32_t, const char* first, const char* second) {
    g_names = {first, second};
    return 1;
}

TEST(HideFileTest, HostIsAskedBeforeAFileIsReplaced) {
    HideHost h;
    WriteFile(h / "carrier", Bmp24(100, 80).bytes);
    WriteFile(h / "file", TextLike(900));
    ASSERT_EQ(h.Hide("carrier", "file"), kOk);
    h.st->session.callbacks.ok_to_replace = {0, Answer};
    h.st->session.callbacks.file_name = {0, Names};
    const Bytes old = {'o', 'l', 'd'};
    for (int32_t answer : {1, 2, 0}) {
        SCOPED_TRACE(answer);
        WriteFile(h / "out.bin", old);
        g_answer = answer;
        g_asked = 0;
        EXPECT_EQ(h.Unhide("carrier", "out.bin"), answer == 0 ? kOk : Code(Status::kCancelled));
        EXPECT_EQ(g_asked, 1);
        EXPECT_EQ(ReadFile(h / "out.bin"), answer == 0 ? TextLike(900) : old);
        EXPECT_EQ(g_names, (std::vector<std::string> {"\\out.bin", h.dir.path() + "/out.bin"}));
    }
    EXPECT_EQ(h.Files(), (std::vector<std::string> {"carrier", "file", "out.bin", "tmp"}));
}

TEST(HideFileTest, CarrierKeepsItsStampAndAttributes) {
    HideHost h;
    const uint32_t stamp = (static_cast<uint32_t>(((2004 - 1980) << 9) | (2 << 5) | 29) << 16) | (13 << 11) | (7 << 5);
    WriteFile(h / "file", TextLike(500));
    WriteFile(h / "c.bmp", Bmp24(100, 80).bytes);
    WriteFile(h / "c.pcx", MakePcx({.width = 100, .height = 60, .line_bytes = 100}).bytes);
    for (const char* carrier : {"c.bmp", "c.pcx"}) {
        SCOPED_TRACE(carrier);
        SetStamp(h / carrier, stamp);
        ASSERT_EQ(platform::SetAttributes((h / carrier).c_str(), 0x22), 0u);  // archive and hidden
        ASSERT_EQ(h.Hide(carrier, "file"), kOk);
        EXPECT_EQ(StampOf(h / carrier), stamp);
        EXPECT_EQ(AttributesOf(h / carrier), 0x22u);
    }
}

TEST(HideFileTest, AFailureAnywhereLeavesTheCarrierAsItWas) {
    // Through the exports, which turn an allocation that throws into the out-of-memory
    // status. While a plan is armed the test allocates nothing: the test program's
    // operator new fails on the planned allocation too (see ops/alloc_fault_test.cpp).
    using platform::FaultKind;
    const FaultKind kinds[] = {FaultKind::kRead, FaultKind::kWrite, FaultKind::kCreate,
                               FaultKind::kRename, FaultKind::kRemove, FaultKind::kAlloc};
    struct Kind {
        const char* name;
        Bytes carrier;
    };
    BmpShape palette;
    palette.bits = 8;
    palette.width = 200;
    palette.height = 16;
    palette.colours = 50;
    const Kind carriers[] = {
        {"bmp8", MakeBmp(palette).bytes},
        {"wav", MakeWav({{FormatChunk(12), false}, {RiffChunk("data", TestRandom(4).Bytes(12000)), true}}).bytes},
        {"pcx", MakePcx({.width = 100, .height = 60, .line_bytes = 100}).bytes},
    };
    const Bytes file = TextLike(700);
    // The strong form with a cheap key derivation (the walk takes every step many times).
    archive::ArchiveState& shared = hedgerow::State().archive;
    shared.strong_argon2_memory_kib = 64;
    shared.strong_argon2_passes = 1;
    shared.strong_argon2_lanes = 1;
    using Hide = int32_t(HEDGEROW_CALL*)(const char*, const char*, const char*);
    const std::pair<const char*, Hide> forms[] = {{"legacy", ::HideFile}, {"strong", ::HideFileStrong}};
    int walked = 0;  // injected failures, reported as a test property
    for (const auto& [form, hide] : forms) {
        for (const Kind& carrier : carriers) {
            for (FaultKind kind : kinds) {
                for (int64_t n = 0;; ++n) {
                    SCOPED_TRACE(std::string(form) + " " + carrier.name + " fault kind " +
                                 std::to_string(static_cast<int>(kind)) +
                                 " at " + std::to_string(n));
                    HideHost h;
                    const std::string carrier_path = h / "carrier";
                    const std::string file_path = h / "file";
                    const std::string out_path = h / "out.bin";
                    WriteFile(carrier_path, carrier.carrier);
                    WriteFile(file_path, file);
                    SetOutputPath(h.dir.path().c_str());
                    platform::FaultPlan plan;
                    plan.fail_at[static_cast<int>(kind)] = n;

                    platform::SetFaultPlan(plan);
                    hide(carrier_path.c_str(), file_path.c_str(), "secret");
                    const bool fired = platform::SetFaultPlan(platform::FaultPlan {}).seen[static_cast<int>(kind)] > n;
                    const uint16_t hidden = GetArchiveStatus();
                    if (hidden != kOk) {
                        ASSERT_TRUE(fired) << hidden;
                        EXPECT_EQ(ReadFile(carrier_path), carrier.carrier);
                        EXPECT_EQ(ListDir(h.dir.path()), (std::vector<std::string> {"carrier", "file", "tmp"}));
                    } else {
                        ::UnhideFile(carrier_path.c_str(), "out.bin", "secret");
                        ASSERT_EQ(GetArchiveStatus(), kOk);
                        EXPECT_EQ(ReadFile(out_path), file);
                        std::filesystem::remove(out_path);
                        // Unhiding under the same failure: the whole file or none.
                        platform::SetFaultPlan(plan);
                        ::UnhideFile(carrier_path.c_str(), "out.bin", "secret");
                        platform::SetFaultPlan(platform::FaultPlan {});
                        if (GetArchiveStatus() == kOk) {
                            EXPECT_EQ(ReadFile(out_path), file);
                        } else {
                            EXPECT_EQ(ListDir(h.dir.path()), (std::vector<std::string> {"carrier", "file", "tmp"}));
                        }
                    }
                    SetOutputPath("");
                    if (!fired) break;
                    ++walked;
                }
            }
        }
    }
    shared.strong_argon2_memory_kib = shared.strong_argon2_passes = shared.strong_argon2_lanes = 0;
    RecordProperty("hide_and_unhide_points", walked);
}

TEST(HideFileTest, ExportsReportThroughTheStatusWord) {
    HideHost h;  // for its scratch and temporary directories; the exports use the library's state
    WriteFile(h / "carrier", Bmp24(100, 80).bytes);
    WriteFile(h / "file", TextLike(1000));
    EXPECT_EQ(::HideFile((h / "carrier").c_str(), (h / "file").c_str(), ""), 0);
    EXPECT_EQ(GetArchiveStatus(), arNoPassword);
    EXPECT_NE(::HideFile((h / "carrier").c_str(), (h / "file").c_str(), "pw"), 0);
    EXPECT_EQ(GetArchiveStatus(), arOk);
    SetOutputPath(h.dir.path().c_str());
    ::UnhideFile((h / "carrier").c_str(), "out.bin", "pw");
    EXPECT_EQ(GetArchiveStatus(), arOk);
    EXPECT_EQ(ReadFile(h / "out.bin"), TextLike(1000));
    SetOutputPath("");
    DeleteFilesAndData();
}


// ---- The strong form ----------------------------------------------------------------

constexpr auto kStrong = PreparedForm::kStrong;

// A host whose strong hiding derives its key cheaply (the reader takes the parameters
// from the prepared file).
struct StrongHost : HideHost {
    StrongHost() {
        st->archive.strong_argon2_memory_kib = 64;
        st->archive.strong_argon2_passes = 1;
        st->archive.strong_argon2_lanes = 1;
    }
};

TEST(HideFileStrongTest, RoundTripsAndShowsNothingInPlain) {
    const Bytes carriers[] = {Bmp24(200, 120).bytes, Wav16(60000).bytes,
                              MakePcx({.planes = 3, .width = 200, .height = 120, .line_bytes = 200}).bytes};
    const Bytes files[] = {{0x42}, TextLike(2500), TestRandom(17).Bytes(1500)};
    StrongHost h;
    for (const Bytes& carrier : carriers) {
        for (const Bytes& file : files) {
            SCOPED_TRACE(std::to_string(carrier.size()) + " / " + std::to_string(file.size()));
            WriteFile(h / "carrier", carrier);
            WriteFile(h / "file", file);
            ASSERT_EQ(h.Hide("carrier", "file", "pw", nullptr, kStrong), kOk);
            const Bytes prepared = PreparedIn(h / "carrier");
            ASSERT_GE(prepared.size(), kPreparedHeaderSize + kStrongPayloadHead);
            EXPECT_EQ(std::string(prepared.begin() + 12, prepared.begin() + 17), "Thorn");
            EXPECT_EQ(Load32Le(prepared.data() + 4), 0u) << "no size in plain";
            EXPECT_EQ(Load32Le(prepared.data() + 8), prepared.size() - kPreparedHeaderSize);
            EXPECT_EQ(Load32Le(prepared.data() + 17 + 16), 64u) << "Argon2id memory of the archive state";
            if (file.size() == 2500) {
                EXPECT_LT(prepared.size(), 17 + 124 + 16 + 1000u) << "compressed before sealing";
            }
            ASSERT_EQ(h.Unhide("carrier", "out.bin", "pw"), kOk);
            EXPECT_EQ(ReadFile(h / "out.bin"), file);
            std::filesystem::remove(h / "out.bin");
            EXPECT_EQ(h.Files(), (std::vector<std::string> {"carrier", "file", "tmp"}));
        }
    }
}

TEST(HideFileStrongTest, EveryWrongPasswordIsReportedAndWritesNothing) {
    StrongHost h;
    WriteFile(h / "carrier", Bmp24(100, 80).bytes);
    WriteFile(h / "file", TextLike(3000));
    ASSERT_EQ(h.Hide("carrier", "file", "right", nullptr, kStrong), kOk);
    const Bytes before = {'k', 'e', 'e', 'p'};
    for (const char* wrong : {"wrong", "", "Right", "right ", "rig", "x", "secret", "hedge"}) {
        SCOPED_TRACE(wrong);
        WriteFile(h / "out.bin", before);
        EXPECT_EQ(h.Unhide("carrier", "out.bin", wrong), Code(Status::kBadPassword));
        EXPECT_EQ(ReadFile(h / "out.bin"), before);
    }
    ASSERT_EQ(h.Unhide("carrier", "out.bin", "right"), kOk);
    EXPECT_EQ(ReadFile(h / "out.bin"), TextLike(3000));
}

TEST(HideFileStrongTest, DamageIsToldApartFromAWrongPassword) {
    // The prepared file itself, changed and unpacked as unhiding would after collecting it.
    StrongHost h;
    WriteFile(h / "file", TestRandom(9).Bytes(150000));  // stored: three chunks
    char temp[archive::kTempNameCapacity] = {};
    ASSERT_TRUE(PackStrongForHiding(*HideCall(*h.st), (h / "file").c_str(), "pw", temp));
    const Bytes good = ReadFile(temp);
    std::filesystem::remove(temp);
    const auto fix_crc = [](Bytes& b) { Store32Le(b.data() + 137, crypto::Crc32(b.data(), 137)); };
    struct Case {
        const char* name;
        void (*change)(Bytes&);
        bool crc_fixed;
        Status status;
    };
    const Case cases[] = {
        {"a data byte", [](Bytes& b) { b[b.size() - 70000] ^= 1; }, false, Status::kCrcError},
        {"the last chunk cut off", [](Bytes& b) { b.resize(b.size() - 100); }, false, Status::kCrcError},
        {"a byte of the sealed info", [](Bytes& b) { b[kPreparedHeaderSize + 50] ^= 1; }, false, Status::kCrcError},
        {"the salt", [](Bytes& b) { b[kPreparedHeaderSize] ^= 1; }, false, Status::kCrcError},
        {"the salt, CRC made to fit", [](Bytes& b) { b[kPreparedHeaderSize] ^= 1; }, true, Status::kBadPassword},
        {"the length, CRC made to fit", [](Bytes& b) { b[8] ^= 1; }, true, Status::kBadPassword},
        {"4 GiB of Argon2 memory and more, CRC made to fit",
         [](Bytes& b) { Store32Le(b.data() + kPreparedHeaderSize + 16, 0xFFFFFFFF); }, true, Status::kCrcError},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Bytes changed = good;
        test.change(changed);
        if (test.crc_fixed) fix_crc(changed);
        WriteFile(h / "prepared", changed);
        auto call = HideCall(*h.st);
        std::strncpy(h.st->session.output_path, (h.dir.path() + "/").c_str(), sizeof h.st->session.output_path - 1);
        EXPECT_FALSE(UnpackHidden(*call, changed.data(), (h / "prepared").c_str(), "out.bin", "pw"));
        EXPECT_EQ(h.st->session.status, Code(test.status));
        EXPECT_FALSE(std::filesystem::exists(h / "out.bin"));
        ClearStatus(h.st->session);
    }
}

}  // namespace
}  // namespace hedgerow::hide
