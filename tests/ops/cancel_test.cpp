// cancel_test.cpp -- a host's cancel stops the work promptly: compression does not go on
// through the rest of a large file, nor does the copy of a large stored entry.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/ops_host.h"

namespace hedgerow::ops {
namespace {

using namespace hedgerow::testing;

int g_calls = 0;
int32_t HEDGEROW_CALL CancelAtOnce(uint32_t, int32_t, int32_t) {
    ++g_calls;
    return 0;
}

TEST(CancelTest, WorkStopsSoonAfterTheHostCancels) {
    constexpr int32_t kSize = 8 << 20;
    Host h;
    h.AddFile("big.bin", RandomBytes(kSize));
    const HidFileSettings s = MakeSettings(2, "pw");

    archive::CreateHidFile(h.st.session, h.st.archive, h.archive.c_str(), &s);
    SetInputPath(h.st.session, (h.dir / "in").c_str());
    h.st.session.callbacks.progress = {0, CancelAtOnce};
    g_calls = 0;
    EXPECT_EQ(h.Compress({"big.bin"}), arCancelled);
    EXPECT_EQ(g_calls, 1);
    EXPECT_LT(h.last_call->stream.progress_count, kSize / 8) << "source bytes encoded after the cancel";
    EXPECT_FALSE(std::filesystem::exists(h.archive));

    // The noise is stored, not compressed: extraction copies it piece by piece.
    h.st.session.callbacks.progress = {};
    h.st.session.status = 0;
    ASSERT_EQ(h.Compress({"big.bin"}), arOk);
    ASSERT_EQ(h.Open(s), arOk);
    h.st.session.callbacks.progress = {0, CancelAtOnce};
    g_calls = 0;
    EXPECT_EQ(h.Extract(), arCancelled);
    EXPECT_EQ(g_calls, 1);
    EXPECT_LT(h.last_call->stream.progress_count, kSize / 8) << "bytes copied after the cancel";
    EXPECT_TRUE(ListDir(h.dir / "out").empty());
}

}  // namespace
}  // namespace hedgerow::ops
