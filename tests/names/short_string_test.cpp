// short_string_test.cpp -- the short-string routines and their edge cases.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "names/short_string.h"
#include "support/code_page.h"

namespace hedgerow::names {
namespace {

using hedgerow::testing::Api;

TEST(ShortStringTest, PosChar) {
    EXPECT_EQ(PosChar('\\', ""), kNoPosition);
    EXPECT_EQ(PosChar('\\', "ABC"), kNoPosition);
    EXPECT_EQ(PosChar('\\', "A\\B"), 1);
    const std::string long_text = std::string(300, 'x') + "\\";
    EXPECT_EQ(PosChar('\\', long_text.c_str()), kNoPosition);  // positions are 8-bit
}

TEST(ShortStringTest, CopyAndDeleteSubString) {
    struct Case {
        const char* source;
        uint8_t position;
        uint8_t count;
        const char* copied;
    };
    const Case cases[] = {{"ABCDEF", 2, 10, "CDEF"}, {"ABC", 3, 1, ""}, {"ABC", 0, 0, ""},
                          {"ABC", 1, 1, "B"},        {"ABC", 0, 255, "ABC"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source);
        char out[256];
        EXPECT_STREQ(CopySubString(c.source, c.position, c.count, out), c.copied);
    }
    char text[256] = ".TXT";
    EXPECT_STREQ(DeleteSubString(text, 0, 1), "TXT");
    char empty[256] = "";
    EXPECT_STREQ(DeleteSubString(empty, 0, 1), "");
    char middle[256] = "ABCDEF";
    EXPECT_STREQ(DeleteSubString(middle, 1, 2), "ADEF");
}

TEST(ShortStringTest, InsertString) {
    char target[512] = "\\DIR\\";
    EXPECT_STREQ(InsertString("X:", target, 0), "X:\\DIR\\");
    EXPECT_STREQ(InsertString("", target, 0), "X:\\DIR\\");
    char cut[600];
    std::memset(cut, 'a', 300);
    cut[300] = '\0';
    InsertString("B", cut, 0);  // an over-long target is first cut to 256 characters
    EXPECT_EQ(std::strlen(cut), 257u);
}

TEST(ShortStringTest, AddBackslashAndExtractFileName) {
    struct Case {
        const char* source;
        const char* with_backslash;
    };
    const Case cases[] = {{"X:\\DATA", "X:\\DATA\\"}, {"X:\\DATA\\", "X:\\DATA\\"}, {"X:", "X:"}, {"", ""},
                          {"a/b/", "a/b/"}};
    for (const Case& c : cases) {
        char out[256];
        EXPECT_TRUE(AddBackslash(c.source, out, sizeof out));
        EXPECT_STREQ(out, c.with_backslash);
    }
    char small[4];
    EXPECT_FALSE(AddBackslash("abc", small, sizeof small));
    EXPECT_STREQ(small, "");

    for (const char* path : {"X:\\A\\B.TXT", "X:B.TXT", "B.TXT", "a/b/B.TXT"}) {
        char name[256];
        EXPECT_STREQ(ExtractFileName(path, name), "B.TXT") << path;
    }
    const std::string long_name = "X:\\" + std::string(256, 'n');
    char name[256];
    EXPECT_STREQ(ExtractFileName(long_name.c_str(), name), "");
}

TEST(ShortStringTest, UpperCasing) {
    EXPECT_EQ(UpCaseChar('a'), 'A');
    EXPECT_EQ(UpCaseChar('z'), 'Z');
    EXPECT_EQ(UpCaseChar(0xE4), 0xC4);
    EXPECT_EQ(UpCaseChar(0xF6), 0xD6);
    EXPECT_EQ(UpCaseChar(0xFC), 0xFC);
    EXPECT_EQ(UpCaseChar('1'), '1');
    // In the API's code page a and o umlaut are raised, sharp s and u umlaut stay.
    char out[64];
    EXPECT_STREQ(UpperString(Api("stra\xc3\x9f" "e.\xc3\xa4\xc3\xb6\xc3\xbc", "stra\xdf" "e.\xe4\xf6\xfc"), out),
                 Api("STRA\xc3\x9f" "E.\xc3\x84\xc3\x96\xc3\xbc", "STRA\xdf" "E.\xc4\xd6\xfc"));
    if (platform::AnsiIsUtf8()) {
        // A three-byte character that begins with 0xE4 is not split.
        EXPECT_STREQ(UpperString("\xe4\xb8\xad", out), "\xe4\xb8\xad");
    }
    char same[16] = "abc";
    EXPECT_STREQ(UpperString(same, same), "ABC");
}

TEST(ShortStringTest, FileExistsAndHeapStrings) {
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(FileExists(nullptr));
    EXPECT_TRUE(FileExists("/"));
    char* copy = NewString("hedge");
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, "hedge");
    DisposeString(&copy);
    EXPECT_EQ(copy, nullptr);
    DisposeString(&copy);  // a second release is harmless
    void* block = nullptr;
    ASSERT_TRUE(AllocBlock(&block, 100));
    FreeBlock(&block);
    EXPECT_EQ(block, nullptr);
}

}  // namespace
}  // namespace hedgerow::names
