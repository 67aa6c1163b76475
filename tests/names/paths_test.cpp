// paths_test.cpp -- the rules of names/paths.h: UNC splitting, the stored-name rule, name
// keys and where a stored name may be written.
#include "names/paths.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hedgerow::names {
namespace {

TEST(PathsTest, UncPaths) {
    struct Case {
        const char* path;
        bool unc;
        const char* root;
        const char* rest;
    };
    const Case cases[] = {
        {"\\\\srv\\share\\a\\b.txt", true, "\\\\srv\\share\\", "a\\b.txt"},
        {"E:\\a\\b.txt", false, "", "E:\\a\\b.txt"},
        {"\\\\srv", true, "\\\\srv\\", ""},
        {"\\\\srv\\share", true, "\\\\srv\\share\\", ""},
        {"\\\\", true, "\\\\\\", ""},
        {"\\single", false, "", "\\single"},
        {"//srv/share/a", true, "//srv/share/", "a"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const UncSplit split = SplitUncPath(c.path);
        EXPECT_EQ(split.unc, c.unc);
        EXPECT_EQ(split.root, c.root);
        EXPECT_EQ(split.rest, c.rest);
    }
}

// The rows of the table in paths.h, and the corners around them.
TEST(PathsTest, StoredNameRule) {
    struct Case {
        const char* name;
        const char* stored;
    };
    const Case cases[] = {
        {"sub/a.txt", "sub\\a.txt"},
        {"E:\\data\\a.txt", "data\\a.txt"},
        {"X:rel.txt", "rel.txt"},
        {"\\\\srv\\share\\d\\f.txt", "d\\f.txt"},
        {"\\\\srv", "srv"},
        {"\\\\srv\\share", ""},
        {"\\x.txt", "x.txt"},
        {"..\\..\\.\\x.txt", "x.txt"},
        {"../x.txt", "x.txt"},
        {"..", ""},
        {"./.", ""},
        {"dir\\..hidden", "dir\\..hidden"},
        {"..hidden\\x", "..hidden\\x"},
        {"a\\..\\b", "a\\..\\b"},
        // Input paths from below another directory and from beside it are one name.
        {"../../proj/README.md", "proj\\README.md"},
        {"./proj/README.md", "proj\\README.md"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(StoredNameBody(c.name), c.stored);
    }
    EXPECT_EQ(StoredNameOf("docs", false, "sub/a.txt"), "docs\\sub\\a.txt");
    EXPECT_EQ(StoredNameOf("docs\\", false, "..\\a.txt"), "docs\\a.txt");
    EXPECT_EQ(StoredNameOf("docs", true, "D:\\in\\sub\\a.txt"), "a.txt");
    EXPECT_EQ(StoredNameOf("", true, "README."), "README");
}

// Names that are stored alike have one key, whatever their case, separators, drive or
// leading dots; names stored differently never share one.
TEST(PathsTest, NameKeys) {
    EXPECT_EQ(NameKey("Dir/Sub/a.txt"), "DIR\\SUB\\A.TXT");
    EXPECT_EQ(NameKey("..\\..\\proj\\README.md"), NameKey("proj/README.md"));
    EXPECT_EQ(NameKey("X:proj\\a"), NameKey("proj\\a"));
    EXPECT_EQ(NameKey("\\\\srv\\share\\proj\\a"), NameKey("proj\\a"));
    EXPECT_NE(NameKey("X:abc"), NameKey("bc"));
    EXPECT_NE(NameKey("a\\b"), NameKey("ab"));
}

TEST(PathsTest, OutputPathOf) {
    struct Case {
        const char* stored;
        bool restore;
        const char* relative;
        OutputName result;
        const char* path;
    };
    constexpr auto kOk = OutputName::kWritten;
    constexpr auto kRefused = OutputName::kRefused;
    const std::string long_name = std::string(300, 'n') + "\\..\\x";
    const Case cases[] = {
        {"a\\b.txt", true, "", kOk, "a\\b.txt"},
        {"a/b.txt", true, "", kOk, "a\\b.txt"},
        {"\\abs.txt", true, "", kOk, "abs.txt"},
        {"C:\\win\\x.txt", true, "", kOk, "win\\x.txt"},
        {"\\\\srv\\share\\x.txt", true, "", kOk, "srv\\share\\x.txt"},
        {".\\dot\\.\\x.txt", true, "", kOk, "dot\\x.txt"},
        {"docs\\a.txt", true, "DOCS", kOk, "a.txt"},
        {"docs\\a.txt", true, "docs\\", kOk, "a.txt"},
        // Only names that begin with the relative path lose it.
        {"other\\dir\\config.txt", true, "backup", kOk, "other\\dir\\config.txt"},
        {"zzzzzzzzzzzza.txt", true, "backup\\2024", kOk, "zzzzzzzzzzzza.txt"},
        {"docsx\\a.txt", true, "docs", kOk, "docsx\\a.txt"},
        {"a\\..\\..\\evil.txt", true, "", kRefused, ""},
        {"..", true, "", kRefused, ""},
        {"", true, "", kRefused, ""},
        {"a\\b.txt", false, "", kOk, "b.txt"},
        {"C:x.txt", false, "", kOk, "x.txt"},
        {"a\\..", false, "", kRefused, ""},
        // Too long for the buffer; a ".." part behind the cut still refuses the name.
        {"abcdefghijklmnopqrstuvwxyz\\b", true, "", OutputName::kTooLong, ""},
        {long_name.c_str(), true, "", kRefused, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.stored) + (c.restore ? " with paths, relative " + std::string(c.relative) : ""));
        char out[24] = {};
        EXPECT_EQ(OutputPathOf(c.stored, c.relative, c.restore, out, sizeof out), c.result);
        if (c.result == kOk) {
            EXPECT_STREQ(out, c.path);
        }
    }
}

TEST(PathsTest, LinkTargetStaysInside) {
    struct Case {
        const char* link;
        const char* target;
        bool inside;
    };
    const Case cases[] = {
        {"a.txt", "b.txt", true},       {"d/l", "../b.txt", true},     {"d\\e\\l", "..\\..\\d\\x", true},
        {"d/l", "./x/./y", true},       {"l", "../x", false},          {"d/l", "../../x", false},
        {"l", "/etc/passwd", false},    {"l", "d/../x", false},        {"l", "", false},
        {"l", "C:\\x", false},          {"d/l", "..//../x", false},    {"./d/l", "../x", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.link) + " -> " + c.target);
        EXPECT_EQ(LinkTargetStaysInside(c.link, c.target), c.inside);
    }
}

TEST(PathsTest, SameNameKeyAgreesWithNameKey) {
    const char* names[] = {"a\\b", "A/B", "\\a\\b", "X:proj\\a", "proj\\a", "ab", "..\\ab", "\xe4.txt", "\xc4.TXT"};
    for (const char* a : names) {
        for (const char* b : names) {
            SCOPED_TRACE(std::string(a) + " vs " + b);
            EXPECT_EQ(SameNameKey(a, b), NameKey(a) == NameKey(b));
        }
    }
}

}  // namespace
}  // namespace hedgerow::names
