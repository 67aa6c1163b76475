// platform_test.cpp -- what the platform layer does alike on every system: either separator
// in paths, one-path lookup, the range of DOS stamps and fault points.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "support/temp_dir.h"

namespace hedgerow::platform {
namespace {

using hedgerow::testing::TempDir;
using hedgerow::testing::WriteFile;

TEST(PlatformTest, BackslashesSeparatePathParts) {
    TempDir dir;
    WriteFile(dir / "sub/file.txt", "hello");
    const std::string with_backslashes = dir.path() + "\\sub\\file.txt";
    EXPECT_TRUE(PathExists(with_backslashes.c_str()));
    HedgerowFindData record {};
    ASSERT_TRUE(FindOne(with_backslashes.c_str(), &record));
    EXPECT_STREQ(record.cFileName, "file.txt");
    EXPECT_EQ(record.nFileSizeLow, 5u);
    EXPECT_FALSE(FindOne((dir / "sub/*.txt").c_str(), &record));  // one path, no wildcards
    File f = OpenFile(with_backslashes.c_str(), "rb");
    ASSERT_TRUE(f);
    EXPECT_EQ(Length(f.get()), 5);
}

TEST(PlatformTest, DosStampsOutsideTheirRangeAreRefused) {
    uint32_t stamp = 0;
    // 1 January 1970 is before the DOS epoch.
    EXPECT_FALSE(UtcTimeToDosStamp(116444736000000000ULL, &stamp));
    uint64_t utc = 0;
    EXPECT_FALSE(DosStampToUtcTime(0, &utc));  // month 0
    EXPECT_NE(CurrentDosStamp(), 0u);
}

TEST(PlatformTest, FaultPointsFailTheChosenCall) {
    TempDir dir;
    FaultPlan plan;
    plan.fail_at[static_cast<int>(FaultKind::kWrite)] = 1;
    const FaultPlan previous = SetFaultPlan(plan);
    File f = OpenFile((dir / "f").c_str(), "wb");
    EXPECT_EQ(WriteBytes(f.get(), "a", 1), 1u);
    EXPECT_EQ(WriteBytes(f.get(), "b", 1), 0u);  // the second write fails
    EXPECT_EQ(WriteBytes(f.get(), "c", 1), 1u);
    SetFaultPlan(previous);
}

}  // namespace
}  // namespace hedgerow::platform
