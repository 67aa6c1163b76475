// fault_injection_test.cpp -- creation and extraction with each read, write, create,
// rename and remove failing in turn: the operation reports a failure, and nothing half
// written stays behind (no archive, no temporary file, no partial output file).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/ops_host.h"

namespace hedgerow::ops {
namespace {

using namespace hedgerow::testing;
using platform::FaultKind;

constexpr FaultKind kKinds[] = {FaultKind::kRead, FaultKind::kWrite, FaultKind::kCreate, FaultKind::kRename,
                                FaultKind::kRemove};

std::string KindName(FaultKind kind) {
    static const char* names[] = {"read", "write", "create", "rename", "remove", "alloc"};
    return names[static_cast<int>(kind)];
}

// Runs body with the n-th call of kind failing; true when that call happened.
template <typename Body>
bool WithFault(FaultKind kind, int n, Body&& body) {
    platform::FaultPlan plan;
    plan.fail_at[static_cast<int>(kind)] = n;
    platform::SetFaultPlan(plan);
    body();
    const platform::FaultPlan seen = platform::SetFaultPlan(platform::FaultPlan {});
    return seen.seen[static_cast<int>(kind)] > n;
}

void AddSources(Host& h) {
    h.AddFile("a.txt", TextBytes(70000));
    h.AddFile("b.bin", RandomBytes(40000));
    h.AddFile("c.txt", TextBytes(100, 4));
    h.AddFile("sub/d.txt", TextBytes(9000, 5));
}

const std::vector<std::string> kMasks = {"a.txt", "b.bin", "c.txt", "sub/d.txt"};

TEST(FaultInjectionTest, CreationFailsCleanlyAtEveryStep) {
    for (FaultKind kind : kKinds) {
        int walked = 0;
        for (int n = 0;; ++n) {
            SCOPED_TRACE(KindName(kind) + " " + std::to_string(n));
            Host h;
            AddSources(h);
            uint16_t status = 0;
            const bool fired = WithFault(kind, n, [&] { status = h.Create(kMasks, MakeSettings(2, "pw", "hp", true)); });
            if (!fired) {
                EXPECT_EQ(status, arOk);
                break;
            }
            ++walked;
            EXPECT_TRUE(h.Strays().empty());
            if (status != arOk) {
                EXPECT_FALSE(std::filesystem::exists(h.archive));
            } else {
                // Only a failure that cannot matter may pass: the archive must be whole.
                ASSERT_EQ(h.Open(MakeSettings(2, "pw", "hp")), arOk);
                OptionsOn(h.st.session, kOptRestorePaths);
                ASSERT_EQ(h.Extract(), arOk);
                EXPECT_EQ(ReadFile(h.Out("a.txt")), TextBytes(70000));
                EXPECT_EQ(ReadFile(h.Out("sub/d.txt")), TextBytes(9000, 5));
            }
        }
        RecordProperty("create_" + KindName(kind), walked);
    }
}

TEST(FaultInjectionTest, ExtractionLeavesNoPartialFile) {
    Host base;
    AddSources(base);
    ASSERT_EQ(base.Create(kMasks, MakeSettings(1, "pw")), arOk);
    const std::vector<uint8_t> archive = base.ArchiveBytes();
    for (FaultKind kind : kKinds) {
        int walked = 0;
        for (int n = 0;; ++n) {
            SCOPED_TRACE(KindName(kind) + " " + std::to_string(n));
            Host h;
            AddSources(h);
            WriteFile(h.archive, archive);
            WriteFile(h.Out("c.txt"), "an older c.txt");  // an existing file that must survive a failure
            ASSERT_EQ(h.Open(MakeSettings(1, "pw")), arOk);
            OptionsOn(h.st.session, kOptRestorePaths);
            uint16_t status = 0;
            const bool fired = WithFault(kind, n, [&] { status = h.Extract(); });
            if (!fired) {
                EXPECT_EQ(status, arOk);
                break;
            }
            // Every file in the output is either complete or the one that was there before.
            for (const auto& e : std::filesystem::recursive_directory_iterator(h.dir / "out")) {
                if (!e.is_regular_file()) continue;
                const std::string rel = std::filesystem::relative(e.path(), h.dir / "out").string();
                const std::vector<uint8_t> bytes = ReadFile(e.path().string());
                const bool complete = bytes == ReadFile(h.In(rel));
                const bool older = rel == "c.txt" && bytes == std::vector<uint8_t>({'a', 'n', ' ', 'o', 'l', 'd', 'e', 'r',
                                                                                    ' ', 'c', '.', 't', 'x', 't'});
                EXPECT_TRUE(complete || older) << rel;
            }
            EXPECT_EQ(ReadFile(h.archive), archive);
            ++walked;
        }
        RecordProperty("extract_" + KindName(kind), walked);
    }
}

}  // namespace
}  // namespace hedgerow::ops
