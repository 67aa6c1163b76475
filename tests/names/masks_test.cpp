// masks_test.cpp -- mask parsing, the library's own wildcard rules and named-mask collection.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hedgerow.h"
#include "names/masks.h"
#include "support/code_page.h"

namespace hedgerow::names {
namespace {

using hedgerow::testing::Api;

struct MaskList {
    FileMaskList list{};
    Session session;
    explicit MaskList(std::initializer_list<const char*> masks) {
        InitFileMaskList(list);
        for (const char* m : masks) EXPECT_TRUE(AddFileMask(session, m, list)) << m;
    }
    ~MaskList() { DoneFileMaskList(list); }
    std::vector<std::string> Paths() const {
        std::vector<std::string> out;
        for (auto* r = list.first; r; r = r->next) out.push_back(MaskPath(*r));
        return out;
    }
};

TEST(MasksTest, MatchingRules) {
    struct Case {
        const char* mask;
        const char* name;
        bool matches;
    };
    const Case cases[] = {
        {"*.*", "A.TXT", true},
        {"*.*", "README", true},
        {"*.*", "DATA\\SUB\\B.DOC", true},
        {"DATA\\*.*", "DATA\\A.TXT", true},
        {"DATA\\*.*", "DATA\\SUB\\B.TXT", true},
        {"DATA\\*.*", "A.TXT", false},
        {"DATA\\*.*", "OTHER\\A.TXT", false},
        {"DATA\\*.*", "XDATA\\A.TXT", false},
        {"DATA\\*.*", "OTHER\\DATA\\A.TXT", false},
        {"DATA\\*.*", "ABCD\\DATA\\A.TXT", true},  // the rule compares one character only
        {"*.TXT", "A.TXT", true},
        {"*.TXT", "a.txt", true},
        {"*.TXT", "DATA\\A.TXT", false},
        {"*.TXT", "A.TXTX", false},
        {"A?X.DOC", "ABX.DOC", true},
        {"A?X.DOC", "AX.DOC", false},
        {"A?X.DOC", "ABBX.DOC", false},
        {"AB*.DOC", "ABC.DOC", false},
        {"AB*.DOC", "AB*.DOC", true},
        {"*X.DOC", "ANY.DOC", true},
        {"*X.DOC", "D\\ANY.DOC", false},
        {"README", "README", true},
        {"README", "README.TXT", false},
        {"*", "ANYTHING", true},
        {"*", "A.TXT", false},
        {"*", "D\\A", false},
        {"X:\\DATA\\A.TXT", "x:/data/a.txt", true},
        {"data/a.txt", "DATA\\A.TXT", true},
        {"A.*", "A", true},
        {"A.*", "A.B.C", false},
        {"A.B.*", "A.B.C", true},
        {Api("\xc3\xa4.TXT", "\xe4.TXT"), Api("\xc3\x84.txt", "\xc4.txt"), true},  // a umlaut folds to its capital
        {".\x01", "\x01", false},  // an extension alone is not a name alone
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.mask) + " / " + c.name);
        MaskList m{c.mask};
        EXPECT_EQ(MatchFileMask(c.name, *m.list.first), c.matches);
        EXPECT_EQ(MatchFileMaskList(c.name, m.list), c.matches);
        EXPECT_EQ(MatchMaskIndex(c.name, IndexMasks(m.list)), c.matches);
    }
}

TEST(MasksTest, ListsSelectByAnyMask) {
    MaskList empty{};
    EXPECT_TRUE(MatchFileMaskList("ANYTHING.AT\\ALL", empty.list));
    EXPECT_TRUE(MatchMaskIndex("ANYTHING.AT\\ALL", IndexMasks(empty.list)));
    MaskList two{"A.TXT", "B.TXT", "D\\?.*"};
    const MaskIndex index = IndexMasks(two.list);
    for (const char* name : {"a.txt", "B.TXT", "d/x.doc", "C.TXT", "D\\XY.DOC"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(MatchMaskIndex(name, index), MatchFileMaskList(name, two.list));
    }
    EXPECT_TRUE(MatchFileMaskList("a.txt", two.list));
    EXPECT_TRUE(MatchFileMaskList("B.TXT", two.list));
    EXPECT_FALSE(MatchFileMaskList("C.TXT", two.list));
}

TEST(MasksTest, RecordsKeepTheMaskAsWritten) {
    MaskList m{"X:\\Letters\\January.doc", "data/", "noext", "x:"};
    const FileMaskRecord* r = m.list.first;
    EXPECT_STREQ(r->directory, "X:\\Letters\\");
    EXPECT_STREQ(r->name, "January");
    EXPECT_STREQ(r->extension, "doc");
    r = r->next;
    EXPECT_STREQ(r->directory, "data\\");
    EXPECT_STREQ(r->name, "");
    r = r->next;
    EXPECT_STREQ(r->name, "noext");
    for (char byte : r->extension) EXPECT_EQ(byte, 0);
    r = r->next;
    EXPECT_STREQ(r->directory, "x:");
    EXPECT_EQ(r->next, nullptr);
    EXPECT_EQ(m.list.last, r);
}

TEST(MasksTest, OverlongMaskIsRefused) {
    Session s;
    FileMaskList list{};
    InitFileMaskList(list);
    EXPECT_TRUE(AddFileMask(s, std::string(255, 'a').c_str(), list));
    EXPECT_FALSE(AddFileMask(s, std::string(256, 'a').c_str(), list));
    EXPECT_EQ(s.status, arNameTooLong);
    EXPECT_EQ(list.first, list.last);  // the list is unchanged by the refusal
    DoneFileMaskList(list);
    DoneFileMaskList(list);  // on an emptied list it only clears the head again
    EXPECT_EQ(list.first, nullptr);
}

TEST(MasksTest, CollectNamedMasksKeepsOnlyNamedFiles) {
    MaskList source{"*.TXT", "DATA\\A.TXT", "README", "X:", "C:\\IN\\F.BIN", ".profile", "dir\\.*", "D\\"};
    MaskList named{};
    EXPECT_TRUE(CollectNamedMasks(named.session, source.list, named.list));
    EXPECT_EQ(named.session.status, arOk);
    EXPECT_EQ(named.Paths(), (std::vector<std::string>{"DATA\\A.TXT", "README", "C:\\IN\\F.BIN", ".profile"}));
}

TEST(MasksTest, SplitPath) {
    const PathParts p = SplitPath("C:/dir/sub/file.tar.gz");
    EXPECT_EQ(p.drive, "C:");
    EXPECT_EQ(p.directory, "\\dir\\sub\\");
    EXPECT_EQ(p.name, "file.tar");
    EXPECT_EQ(p.extension, ".gz");
    const PathParts q = SplitPath("name");
    EXPECT_EQ(q.drive + q.directory + q.extension, "");
    EXPECT_EQ(q.name, "name");
}

}  // namespace
}  // namespace hedgerow::names
