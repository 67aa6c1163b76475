// hide_file_posix_test.cpp -- hiding checks that need POSIX file-system features.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/carrier_builder.h"
#include "support/hide_host.h"

namespace hedgerow::hide {
namespace {

using namespace hedgerow::testing;

TEST(HideFilePosixTest, CarrierReachedThroughASymbolicLinkIsRefused) {
    // The new carrier takes the old one's name by a rename, which would put a plain file
    // where the link was and leave the picture it points to without the hidden file.
    HideHost h;
    BmpShape shape;
    shape.width = 100;
    shape.height = 80;
    const std::vector<uint8_t> bmp = MakeBmp(shape).bytes;
    WriteFile(h / "carrier", bmp);
    WriteFile(h / "file", "a few bytes");
    std::filesystem::create_symlink("carrier", h / "link");
    EXPECT_EQ(h.Hide("link", "file"), static_cast<uint16_t>(Status::kUnsupported));
    EXPECT_TRUE(std::filesystem::is_symlink(h / "link"));
    EXPECT_EQ(ReadFile(h / "carrier"), bmp);
}

}  // namespace
}  // namespace hedgerow::hide
