// selection_test.cpp -- the command's patterns against stored names: wildcards within a
// part, "**" across parts, directories selecting what is below them.
#include <gtest/gtest.h>

#include "selection.h"

namespace hedgerow::cli {
namespace {

TEST(SelectionTest, PatternsSelectAsShellUsersExpect) {
    struct Case {
        const char* pattern;
        const char* name;
        bool selects;
    };
    constexpr Case kCases[] = {
        // '*' anywhere in a part, never across '/'; text after it counts.
        {"proj/*_old.txt", "proj/a_old.txt", true},
        {"proj/*_old.txt", "proj/notes.txt", false},
        {"src/include/*lib.h", "src/include/zlib.h", true},
        {"src/include/*lib.h", "src/include/stdio.h", false},
        {"xt_*.h", "xt_tables.h", true},
        {"*.h", "sub/x.h", false},
        {"*", "README", true},
        {"*", "dir/deep/file.c", true},  // the part matches "dir", which selects below it
        {"dir/*.h", "dir/a.h", true},
        {"dir/*.h", "dir/sub/a.h", false},
        {"a*b*c", "aXXbYYbZc", true},
        {"a*b*c", "aXXbYYc", true},
        {"a*b*c", "aXXcb", false},
        // '?' is one character, a whole UTF-8 sequence among them.
        {"?.txt", "a.txt", true},
        {"?.txt", "ab.txt", false},
        {"?.txt", "\xCE\xA9.txt", true},
        // Sets and ranges, negated ones, and a ']' first in the set.
        {"[abc].txt", "b.txt", true},
        {"[a-c].txt", "d.txt", false},
        {"[!a-c].txt", "d.txt", true},
        {"[^a-c].txt", "a.txt", false},
        {"[]x].txt", "].txt", true},
        {"[*].txt", "*.txt", true},
        {"[*].txt", "a.txt", false},
        {"[ab.txt", "[ab.txt", true},  // not closed: an ordinary '['
        // "**" is any number of parts, none included.
        {"**/*.h", "x.h", true},
        {"**/*.h", "a/b/c/x.h", true},
        {"src/**/x.c", "src/x.c", true},
        {"src/**/x.c", "src/a/b/x.c", true},
        {"src/**/x.c", "lib/a/x.c", false},
        // A directory selects everything below it, and only whole parts count.
        {"in/sub", "in/sub/deeper/empty.txt", true},
        {"in/sub", "in/subway.txt", false},
        {"in", "in", true},
        // Case does not count, as the archive compares names.
        {"IN/A.TXT", "in/a.txt", true},
        {"in/a.txt", "in/a.txt.bak", false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(std::string(c.pattern) + " ~ " + c.name);
        EXPECT_EQ(PatternSelects(NormalisePattern(c.pattern), c.name), c.selects);
    }
}

TEST(SelectionTest, PatternsAreNormalisedBeforeMatching) {
    EXPECT_EQ(NormalisePattern("./src//x/"), "src/x");
    EXPECT_EQ(NormalisePattern("/abs\\win\\path"), "abs/win/path");
    EXPECT_EQ(NormalisePattern("./"), "");
    EXPECT_FALSE(PatternSelects(NormalisePattern("./"), "a.txt"));  // an empty pattern selects nothing
}

}  // namespace
}  // namespace hedgerow::cli
