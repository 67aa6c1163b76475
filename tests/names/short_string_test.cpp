// short_string_test.cpp -- the short-string routines and their edge cases.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "names/short_string.h"
#include "support/code_page.h"

namespace hedgerow::names {
namespace {

using hedgerow::testing::Api;

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
