// temp_names_test.cpp -- temporary names are claimed atomically and keep their form;
// UNC paths are split and stripped.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>
#include <string_view>

#include "archive/temp_names.h"
#include "support/temp_dir.h"

namespace hedgerow::archive {
namespace {

using hedgerow::testing::TempDir;

// A regular expression that matches text exactly (Windows paths hold backslashes).
std::string Literal(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) escaped += '\\';
        escaped += c;
    }
    return escaped;
}

TEST(TempNamesTest, NamesSitBesideTheBaseAndAreClaimed) {
    TempDir dir;
    const std::regex form(Literal(dir.path()) + "/[0-9]{1,5}\\.\\$HW");
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {  // many in the same second, none shared
        char name[kTempNameCapacity];
        ASSERT_TRUE(MakeTempName((dir / "backup.dat").c_str(), name, nullptr));
        EXPECT_TRUE(std::regex_match(name, form)) << name;
        EXPECT_TRUE(platform::PathExists(name));
        EXPECT_TRUE(seen.insert(name).second) << name;
    }
    char name[kTempNameCapacity];
    platform::File file;
    ASSERT_TRUE(MakeTempName((dir / "x").c_str(), name, &file));
    ASSERT_TRUE(file);
    EXPECT_EQ(platform::WriteBytes(file.get(), "abc", 3), 3u);
    EXPECT_TRUE(platform::Close(file));
    EXPECT_EQ(hedgerow::testing::ReadFile(name).size(), 3u);
}

TEST(TempNamesTest, BareBaseGivesANameInTheCurrentDirectoryAndTempDirWorks) {
    char name[kTempNameCapacity];
    ASSERT_TRUE(MakeTempName("bare.arc", name, nullptr));
    EXPECT_TRUE(std::regex_match(name, std::regex("[0-9]{1,5}\\.\\$HW")));
    EXPECT_TRUE(platform::RemoveFile(name));

    ASSERT_TRUE(MakeTempNameInTempDir(name, nullptr));
    EXPECT_TRUE(platform::PathExists(name));
    EXPECT_TRUE(platform::RemoveFile(name));

    EXPECT_FALSE(MakeTempName("/no/such/directory/x", name, nullptr));
    const std::string deep = "/" + std::string(255, 'd') + "/x";
    EXPECT_FALSE(MakeTempName(deep.c_str(), name, nullptr));  // would not fit 261 bytes
}

TEST(TempNamesTest, CompareBytes) {
    EXPECT_TRUE(CompareBytes("Overgrown!", "Overgrown?", 9));
    EXPECT_FALSE(CompareBytes("Overgrown!", "Overgrown?", 10));
    EXPECT_TRUE(CompareBytes("a", "b", 0));
}

}  // namespace
}  // namespace hedgerow::archive
