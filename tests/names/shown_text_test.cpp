// shown_text_test.cpp -- names escaped for the terminal: what a terminal acts upon and
// what is not UTF-8 becomes visible; everything else stays as it is.
#include <gtest/gtest.h>

#include <string>

#include "names/shown_text.h"

namespace hedgerow::names {
namespace {

TEST(ShownTextTest, ControlsAndInvalidUtf8BecomeVisibleEscapes) {
    struct Case {
        std::string text;
        std::string shown;
    };
    const Case cases[] = {
        {"plain name.txt", "plain name.txt"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8c\xb3", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x8c\xb3"},  // é € 🌳
        {"dir\\file", "dir\\file"},
        {"\x1b]0;PWNED\x07\x1b[31m red.txt", "\\x1b]0;PWNED\\x07\\x1b[31m red.txt"},
        {"two\nlines\r\tx", "two\\nlines\\r\\tx"},
        {std::string("nul\0byte", 8), "nul\\x00byte"},
        {"del\x7f", "del\\x7f"},
        {"csi\xc2\x9b" "2J", "csi\\u009b2J"},                  // C1 control as UTF-8
        {"\xe2\x80\xae" "txt.exe", "\\u202etxt.exe"},          // right-to-left override
        {"a\xe2\x80\xa8" "b", "a\\u2028b"},                    // line separator
        {"bad\x9b" "2J", "bad\\x9b2J"},                        // a lone continuation byte
        {"cut\xc3", "cut\\xc3"},                               // a sequence cut off
        {"over\xc0\xaf", "over\\xc0\\xaf"},                    // overlong '/'
        {"sur\xed\xa0\x80", "sur\\xed\\xa0\\x80"},             // a surrogate
        {"big\xf4\x90\x80\x80", "big\\xf4\\x90\\x80\\x80"},    // past U+10FFFF
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        const std::string shown = ShownText(c.text);
        EXPECT_EQ(shown, c.shown);
        EXPECT_EQ(ShownText(shown), shown);  // nothing left to escape
    }
}

}  // namespace
}  // namespace hedgerow::names
