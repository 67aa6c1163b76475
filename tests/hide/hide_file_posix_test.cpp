// hide_file_posix_test.cpp -- hiding checks that need POSIX file-system features.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/carrier_builder.h"
#include "support/hide_host.h"

namespace hedgerow::hide {
namespace {

using namespace hedgerow::testing;

TEST(HideFilePosixTest, CarrierReachedThroughASymbolicLinkIsTheFileItLeadsTo) {
    // The new carrier takes the old one's name by a rename, which would put a plain file
    // where the link was and leave the picture it points to without the hidden file: the
    // picture itself is rewritten, and the link stays.
    HideHost h;
    BmpShape shape;
    shape.width = 100;
    shape.height = 80;
    const std::vector<uint8_t> bmp = MakeBmp(shape).bytes;
    WriteFile(h / "carrier", bmp);
    WriteFile(h / "file", "a few bytes");
    std::filesystem::create_symlink("carrier", h / "link");
    EXPECT_EQ(h.Hide("link", "file"), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(h / "link"));
    EXPECT_NE(ReadFile(h / "carrier"), bmp);
    EXPECT_EQ(h.Unhide("link", "out.txt"), 0);
    EXPECT_EQ(ReadFile(h / "out.txt"), ReadFile(h / "file"));
}

}  // namespace
}  // namespace hedgerow::hide
