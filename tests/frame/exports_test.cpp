// exports_test.cpp -- what the exported calls promise beyond the operations themselves.
#include <gtest/gtest.h>

#include <cstring>

#include "frame/library_state.h"
#include "hedgerow.h"
#include "support/ops_host.h"

namespace hedgerow {
namespace {

using namespace hedgerow::testing;

bool AllZero(const void* p, size_t n) {
    const auto* bytes = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

TEST(ExportsTest, NoKeyScheduleOutlivesAnExportedCall) {
    TempDir dir;
    WriteFile(dir / "in/a.txt", TextBytes(5000));
    SetArchiveStatus(0);
    ::SetInputPath((dir / "in").c_str());
    const HidFileSettings s = MakeSettings(1, "pw", "hp", true);
    const std::string archive = dir / "k.arc";
    CreateHidFile(archive.c_str(), &s);
    FileMaskList masks {};
    AppendFileMask("a.txt", &masks);
    CompressFileMaskListHid(&masks);
    ASSERT_EQ(GetArchiveStatus(), arOk);
    EXPECT_TRUE(AllZero(&State().cipher, sizeof State().cipher));
    InitHidFile(archive.c_str(), &s);
    HidFileList list {};
    BuildHidFileList(&list, &masks);
    EXPECT_EQ(list.count, 1u);
    EXPECT_TRUE(AllZero(&State().cipher, sizeof State().cipher));
    DoneHidFileList(&list);
    DoneFileMaskList(&masks);
    DoneHidFile();
    ::SetInputPath("");
}

}  // namespace
}  // namespace hedgerow
