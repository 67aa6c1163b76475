// cli_text_test.cpp -- the command's status table, entry formatting, the --update time
// rule and the checks and forms of stored names.
#include <gtest/gtest.h>

#include <cctype>
#include <set>

#include "entry_text.h"
#include "status_text.h"
#include "stored_names.h"

namespace hedgerow::cli {
namespace {

TEST(CliTextTest, EveryStatusHasOwnExitCodeAndSentence) {
    std::set<int> codes = {kExitOk, kExitHostError, kExitUsage, kExitIncomplete, kExitUnknownStatus};
    std::set<uint16_t> statuses;
    for (const StatusInfo& info : StatusTable()) {
        SCOPED_TRACE(info.name);
        EXPECT_TRUE(statuses.insert(info.status).second);
        if (info.status != arOk) {
            EXPECT_TRUE(codes.insert(info.exit_code).second) << info.exit_code;
        }
        EXPECT_GT(info.exit_code, info.status == arOk ? -1 : 0);
        EXPECT_LT(info.exit_code, 256);
        const std::string sentence = info.sentence;
        EXPECT_TRUE(sentence.size() > 4 && sentence.back() == '.' && std::isupper(static_cast<unsigned char>(sentence[0]))) << sentence;
        EXPECT_EQ(ExitCodeFor(info.status), info.exit_code);
    }
    EXPECT_EQ(StatusTable().size(), 31u);  // every code of hedgerow.h
    EXPECT_EQ(ExitCodeFor(arCancelled), 130);
    EXPECT_EQ(ExitCodeFor(12345), kExitUnknownStatus);
    EXPECT_STRNE(StatusSentence(12345), "");
}

HedgerowFindData WrittenAt(uint64_t ticks) {
    HedgerowFindData data {};
    data.ftLastWriteTime.dwLowDateTime = static_cast<uint32_t>(ticks);
    data.ftLastWriteTime.dwHighDateTime = static_cast<uint32_t>(ticks >> 32);
    return data;
}

TEST(CliTextTest, NewerMeansLaterByTwoSecondsOfArchiveTime) {
    constexpr uint64_t kSecond = 10'000'000;
    constexpr uint64_t kBase = 132'000'000'000'000'000ull;  // an even second in 2019
    struct Case {
        uint64_t candidate;
        uint64_t current;
        bool newer;
    };
    for (const Case c : {Case {kBase + 2 * kSecond, kBase, true}, Case {kBase + kSecond, kBase, false},
                         Case {kBase + 2 * kSecond - 1, kBase, false}, Case {kBase, kBase, false},
                         Case {kBase, kBase + 4 * kSecond, false}, Case {kBase + (1ull << 32) * 5, kBase, true}}) {
        EXPECT_EQ(IsNewer(WrittenAt(c.candidate), WrittenAt(c.current)), c.newer) << c.candidate - kBase;
    }
}

TEST(CliTextTest, EntryFieldsReadAsPeopleExpect) {
    // 2021-06-15 12:34:56: date (41 << 9 | 6 << 5 | 15), time (12 << 11 | 34 << 5 | 28).
    const uint32_t stamp = ((41u << 9 | 6u << 5 | 15u) << 16) | (12u << 11 | 34u << 5 | 28u);
    EXPECT_EQ(FormatDosStamp(stamp), "2021-06-15 12:34:56");
    EXPECT_EQ(FormatDosStamp(stamp, true), "2021-06-15T12:34:56");
    EXPECT_EQ(AttributeLetters(0x20), "---A");
    EXPECT_EQ(AttributeLetters(0x27), "RHSA");
    EXPECT_EQ(FormatBytes(812), "812 B");
    EXPECT_EQ(FormatBytes(1536), "1.5 KiB");
    EXPECT_EQ(FormatBytes(3u << 30), "3.0 GiB");
    EXPECT_EQ(FormatRatio(37, 100), "37%");
    EXPECT_EQ(FormatRatio(16, 0), "-");
    for (const int32_t id : {kCipherNone, kCipherDes, kCipherTripleDes, kCipherIdea}) {
        EXPECT_EQ(CipherIdFromName(CipherName(id)), id);
    }
    EXPECT_FALSE(CipherIdFromName("IDEA").has_value());
    EXPECT_STREQ(CipherName(7), "damaged");
}

TEST(CliTextTest, UnstorableNamesAreCaught) {
    struct Case {
        const char* path;
        bool storable;
    };
    for (const Case c : {Case {"a.txt", true}, Case {"dir/README", true}, Case {".config.json", true},
                         Case {"../up/a.txt", true}, Case {"dir/.hidden", true}, Case {".profile", true},
                         Case {"dir/.*x", false}, Case {".", false},
                         Case {"odd\\name.txt", false}, Case {"c:name.txt", false}, Case {"dir/*star.txt", false},
                         Case {"", false}}) {
        EXPECT_EQ(UnstorableReason(c.path).empty(), c.storable) << c.path;
    }
    EXPECT_FALSE(UnstorableReason(std::string(256, 'x')).empty());
    EXPECT_TRUE(UnstorableReason(std::string(255, 'x')).empty());
}

TEST(CliTextTest, PrefixesAndStoredNamesTakeTheArchiveForm) {
    struct PrefixCase {
        const char* given;
        const char* normal;  // nullptr: refused
    };
    for (const PrefixCase c : {PrefixCase {"", ""}, PrefixCase {"backup", "backup"},
                               PrefixCase {"/backup//2024/", "backup\\2024"}, PrefixCase {"a\\.\\b", "a\\b"},
                               PrefixCase {"a/../b", nullptr}, PrefixCase {"c:/x", nullptr}}) {
        std::string error;
        const std::string normal = NormalisePrefix(c.given, error);
        if (c.normal) {
            EXPECT_EQ(normal, c.normal) << c.given;
            EXPECT_EQ(error, "");
        } else {
            EXPECT_NE(error, "") << c.given;
        }
    }
    EXPECT_EQ(ExpectedStoredName("", "dir/a.txt", false), "dir\\a.txt");
    EXPECT_EQ(ExpectedStoredName("pre\\fix", "dir/a.txt", false), "pre\\fix\\dir\\a.txt");
    EXPECT_EQ(ExpectedStoredName("", "./a.txt", false), "a.txt");
    EXPECT_EQ(ExpectedStoredName("pre", "/abs/a.txt", false), "pre\\abs\\a.txt");
    EXPECT_EQ(ExpectedStoredName("pre", "../../a.txt", false), "pre\\a.txt");
    EXPECT_EQ(ExpectedStoredName("pre", "/home/u/dir/a.txt", true), "a.txt");
    EXPECT_EQ(DisplayName("dir\\sub\\a.txt"), "dir/sub/a.txt");
}

}  // namespace
}  // namespace hedgerow::cli
