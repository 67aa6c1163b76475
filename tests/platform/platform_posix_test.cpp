// platform_posix_test.cpp -- code page 850 conversion (checked against the C library's
// iconv) and attributes on POSIX.
#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>

#include <string>

#include "platform/platform.h"
#include "support/temp_dir.h"

namespace hedgerow::platform {
namespace {

using hedgerow::testing::TempDir;
using hedgerow::testing::WriteFile;

std::string Iconv(const char* from, const char* to, const std::string& text) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return "<no iconv>";
    std::string in = text;
    std::string out(text.size() * 4 + 4, '\0');
    char* ip = in.data();
    char* op = out.data();
    size_t il = in.size();
    size_t ol = out.size();
    const size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == static_cast<size_t>(-1)) return "<failed>";
    out.resize(out.size() - ol);
    return out;
}

TEST(PlatformPosixTest, Cp850TableAgreesWithIconv) {
    for (int byte = 0x80; byte <= 0xFF; ++byte) {
        const std::string oem(1, static_cast<char>(byte));
        char utf8[8];
        ASSERT_TRUE(OemToAnsi(oem.c_str(), utf8, sizeof utf8));
        EXPECT_EQ(std::string(utf8), Iconv("CP850", "UTF-8", oem)) << std::hex << byte;
        char back[4];
        ASSERT_TRUE(AnsiToOem(utf8, back, sizeof back));
        EXPECT_EQ(static_cast<unsigned char>(back[0]), byte);
    }
}

TEST(PlatformPosixTest, CodePageConversionEdgeCases) {
    char oem[32];
    EXPECT_TRUE(AnsiToOem("D\xc3\xa4t\xc3\xa9n\\\xe2\x82\xac.txt", oem, sizeof oem));  // Euro sign: not in 850
    EXPECT_STREQ(oem, "D\x84t\x82n\\_.txt");
    EXPECT_TRUE(AnsiToOem("bad\xff\xc3", oem, sizeof oem));  // malformed bytes become '_'
    EXPECT_STREQ(oem, "bad__");
    char small[4];
    EXPECT_FALSE(AnsiToOem("abcdef", small, sizeof small));
    EXPECT_STREQ(small, "abc");
    char utf8[4];
    EXPECT_FALSE(OemToAnsi("a\x84", utf8, 3));  // never splits a character
    EXPECT_STREQ(utf8, "a");
}

TEST(PlatformPosixTest, ReadOnlyIsTheWritePermission) {
    TempDir dir;
    const std::string path = dir / "f";
    WriteFile(path, "x");
    uint32_t attributes = 0;
    ASSERT_EQ(GetAttributes(path.c_str(), &attributes), 0u);
    EXPECT_EQ(attributes, kAttrArchive);
    ASSERT_EQ(SetAttributes(path.c_str(), kAttrReadOnly | kAttrArchive), 0u);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    ASSERT_EQ(GetAttributes(path.c_str(), &attributes), 0u);
    EXPECT_EQ(attributes & kAttrReadOnly, kAttrReadOnly);
    ASSERT_EQ(SetAttributes(path.c_str(), kAttrArchive), 0u);
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_NE(st.st_mode & S_IWUSR, 0u);
    EXPECT_NE(GetAttributes((dir / "missing").c_str(), &attributes), 0u);
    EXPECT_NE(SetAttributes((dir / "missing").c_str(), 0x20), 0u);
    ASSERT_EQ(GetAttributes(dir.path().c_str(), &attributes), 0u);
    EXPECT_EQ(attributes & kAttrDirectory, kAttrDirectory);
}

}  // namespace
}  // namespace hedgerow::platform
