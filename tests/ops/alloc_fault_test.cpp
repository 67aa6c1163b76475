// alloc_fault_test.cpp -- every allocation of an operation may fail in turn: through the
// exported functions the failure becomes the out-of-memory status, nothing is half
// written, and nothing leaks (the sanitizer build checks that at exit).
//
// The test program's operator new consults the platform layer's fault points, so the
// library's allocations (its own blocks and those of the standard library) can be failed
// one by one while a plan is armed. Under AddressSanitizer, whose own operator new must
// stay in place, only the library's own blocks fail; the leak check of the full walk is
// the memcheck run over the normal build.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "hedgerow.h"
#include "platform/platform.h"
#include "support/ops_host.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HEDGEROW_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define HEDGEROW_TEST_ASAN 1
#endif

#if !defined(HEDGEROW_TEST_ASAN)
// The replacements allocate with malloc, so free is their matching release.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
std::atomic<long> g_live_blocks {0};  // blocks from operator new not yet deleted (workers allocate too)
}  // namespace

void* operator new(std::size_t size) {
    if (hedgerow::platform::FaultPoint(hedgerow::platform::FaultKind::kAlloc)) throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        ++g_live_blocks;
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept {
    if (p) --g_live_blocks;
    std::free(p);
}
void operator delete[](void* p) noexcept { operator delete(p); }
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }
void operator delete[](void* p, std::size_t) noexcept { operator delete(p); }
#define HEDGEROW_TEST_COUNTS_BLOCKS 1
#endif

namespace hedgerow::ops {
namespace {

using namespace hedgerow::testing;
using platform::FaultKind;

struct Masks {
    FileMaskList list {};
    explicit Masks(const std::vector<std::string>& masks) {
        InitFileMaskList(&list);
        for (const auto& m : masks) AppendFileMask(m.c_str(), &list);
    }
    ~Masks() { DoneFileMaskList(&list); }
};

// Runs op with the n-th allocation failing; true when that allocation happened.
template <typename Op>
bool WithFailingAllocation(int n, Op&& op) {
    platform::FaultPlan plan;
    plan.fail_at[static_cast<int>(FaultKind::kAlloc)] = n;
    platform::SetFaultPlan(plan);
    op();
    const platform::FaultPlan seen = platform::SetFaultPlan(platform::FaultPlan {});
    return seen.seen[static_cast<int>(FaultKind::kAlloc)] > n;
}

// Sets up the global state through the exports for one operation on dir/test.arc.
void Prepare(Host& h, bool create) {
    SetArchiveStatus(0);
    ::SetInputPath((h.dir / "in").c_str());
    ::SetOutputPath((h.dir / "out").c_str());
    arOptionsOn(arOptRestorePaths);
    const HidFileSettings s = MakeSettings(2, "pw", "hp", create);
    if (create) {
        CreateHidFile(h.archive.c_str(), &s);
    } else {
        InitHidFile(h.archive.c_str(), &s);
    }
    ASSERT_EQ(GetArchiveStatus(), arOk);
}

TEST(AllocFaultTest, EveryOperationSurvivesEachFailingAllocation) {
    enum Op { kCreate, kUpdate, kExtract, kDelete, kLock, kUnlock };
    for (Op op : {kCreate, kUpdate, kExtract, kDelete, kLock, kUnlock}) {
        int walked = 0;
        for (int n = 0;; ++n) {
            SCOPED_TRACE("operation " + std::to_string(op) + ", allocation " + std::to_string(n));
            Host h;
            h.AddFile("a.txt", TextBytes(20000));
            h.AddFile("b.bin", RandomBytes(3000));
            if (op != kCreate) {
                ASSERT_EQ(h.Create({"a.txt", "b.bin"}, MakeSettings(2, "pw", "hp", true)), arOk);
            }
            const std::vector<uint8_t> before = h.ArchiveBytes();
            Prepare(h, op == kCreate);
            Masks create_masks({"a.txt", "b.bin"});
            Masks one({"a.txt"});
#if defined(HEDGEROW_TEST_COUNTS_BLOCKS)
            const long live_before = g_live_blocks;
#endif
            const bool fired = WithFailingAllocation(n, [&] {
                switch (op) {
                    case kCreate:
                    case kUpdate: CompressFileMaskListHid(&create_masks.list); break;
                    case kExtract: ExtractFileMaskListHid(&one.list); break;
                    case kDelete: DeleteFileMaskListHid(&one.list); break;
                    case kLock: ::LockArchive(h.archive.c_str()); break;
                    case kUnlock: ::UnlockArchive(h.archive.c_str()); break;
                }
            });
            const uint16_t status = GetArchiveStatus();
#if defined(HEDGEROW_TEST_COUNTS_BLOCKS)
            EXPECT_EQ(g_live_blocks, live_before) << "blocks leaked";
#endif
            DoneHidFile();
            if (!fired) {
                EXPECT_EQ(status, arOk);
                break;
            }
            ++walked;
            EXPECT_TRUE(h.Strays().empty());
            if (status == arOk) continue;  // an allocation whose failure the operation could absorb
            EXPECT_EQ(status, arNoMemory);
            EXPECT_EQ(h.ArchiveBytes(), before);
            if (op == kExtract && std::filesystem::exists(h.dir / "out")) {
                for (const auto& e : std::filesystem::directory_iterator(h.dir / "out")) {
                    EXPECT_EQ(ReadFile(e.path().string()), TextBytes(20000)) << e.path();
                }
            }
        }
        EXPECT_GT(walked, 0) << "operation " << op;
        static const char* const op_names[] = {"create", "update", "extract", "delete", "lock", "unlock"};
        RecordProperty(std::string(op_names[op]) + "_allocations", walked);
    }
    arOptionsOff(arOptRestorePaths);
    ::SetInputPath("");
    ::SetOutputPath("");
}

}  // namespace
}  // namespace hedgerow::ops
