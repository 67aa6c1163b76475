// replace_query_test.cpp -- DOS stamps of disk files and the two replace queries.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "names/replace_query.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

namespace hedgerow::names {
namespace {

using hedgerow::testing::TempDir;
using hedgerow::testing::WriteFile;

constexpr uint32_t MakeStamp(int year, int month, int day, int hour, int minute, int second) {
    return (static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day) << 16) |
           static_cast<uint32_t>((hour << 11) | (minute << 5) | (second / 2));
}

struct Call {
    uint32_t user;
    HedgerowFindData first;
    HedgerowFindData second;
};
std::vector<Call> g_calls;
int32_t g_answer = 0;

int32_t HEDGEROW_CALL RecordReplace(uint32_t user, const HedgerowFindData* a, const HedgerowFindData* b) {
    g_calls.push_back({user, *a, *b});
    return g_answer;
}

HidFileEntry MakeEntry(const char* name, uint32_t size, uint32_t stamp) {
    HidFileEntry entry {};
    std::strncpy(entry.name, name, sizeof entry.name - 1);
    entry.unpacked_size = size;
    entry.date_time = stamp;
    entry.attributes = 0x21;
    return entry;
}

TEST(ReplaceQueryTest, StampsSurviveWriteAndRead) {
    TempDir dir;
    const std::string path = dir / "f.txt";
    WriteFile(path, "x");
    for (uint32_t stamp : {MakeStamp(2002, 1, 1, 7, 19, 28), MakeStamp(2024, 7, 15, 23, 59, 58),
                           MakeStamp(1980, 1, 1, 0, 0, 0), MakeStamp(2099, 12, 31, 12, 0, 0)}) {
        SCOPED_TRACE(stamp);
        platform::NativeFile w = platform::OpenNativeForWriting(path.c_str());
        ASSERT_TRUE(w.IsOpen());
        EXPECT_TRUE(SetFileStamp(w, stamp));
        EXPECT_TRUE(platform::CloseNative(w));
        platform::NativeFile r = platform::OpenNativeForReading(path.c_str());
        uint32_t back = 0;
        EXPECT_TRUE(GetFileStamp(r, &back));
        EXPECT_TRUE(platform::CloseNative(r));
        EXPECT_EQ(back, stamp);
    }
    platform::NativeFile w = platform::OpenNativeForWriting(path.c_str());
    EXPECT_FALSE(SetFileStamp(w, MakeStamp(2002, 13, 1, 0, 0, 0)));  // no thirteenth month
    platform::CloseNative(w);
    platform::NativeFile closed;
    uint32_t untouched = 42;
    EXPECT_FALSE(GetFileStamp(closed, &untouched));
    EXPECT_EQ(untouched, 42u);
}

TEST(ReplaceQueryTest, ExtractQueryAsksOnlyAboutExistingFiles) {
    TempDir dir;
    Session s;
    s.callbacks.ok_to_replace = {5, RecordReplace};
    g_calls.clear();
    const uint32_t stamp = MakeStamp(2002, 1, 1, 7, 19, 28);
    const HidFileEntry entry = MakeEntry("DATA\\A.TXT", 1234, stamp);
    EXPECT_EQ(AskReplaceOnExtract(s, entry, (dir / "missing.txt").c_str()), 0);
    EXPECT_TRUE(g_calls.empty());

    const std::string path = dir / "a.txt";
    WriteFile(path, "disk");
    // The query only looks: the file is left as it is whatever the answer (a read-only file
    // is replaced all the same when the new one takes its name).
    struct Case {
        int32_t answer;
        uint32_t attributes_after;
    };
    for (const Case& c : {Case{1, 0x21}, Case{2, 0x21}, Case{0, 0x21}}) {
        SCOPED_TRACE(c.answer);
        ASSERT_EQ(platform::SetAttributes(path.c_str(), 0x21), 0u);  // read-only
        g_answer = c.answer;
        g_calls.clear();
        EXPECT_EQ(AskReplaceOnExtract(s, entry, path.c_str()), c.answer);
        ASSERT_EQ(g_calls.size(), 1u);
        const Call& call = g_calls[0];
        EXPECT_EQ(call.user, 5u);
        EXPECT_EQ(call.first.nFileSizeLow, 4u);  // the disk file comes first
        EXPECT_STREQ(call.first.cFileName, "a.txt");
        EXPECT_EQ(call.second.nFileSizeLow, 1234u);
        EXPECT_EQ(call.second.nFileSizeHigh, 0u);
        EXPECT_EQ(call.second.dwFileAttributes, 0x21u);
        EXPECT_STREQ(call.second.cFileName, "DATA\\A.TXT");
        uint64_t utc = 0;
        ASSERT_TRUE(platform::DosStampToUtcTime(stamp, &utc));
        for (const HedgerowFileTime& t :
             {call.second.ftCreationTime, call.second.ftLastAccessTime, call.second.ftLastWriteTime}) {
            EXPECT_EQ(t.dwLowDateTime, static_cast<uint32_t>(utc));
            EXPECT_EQ(t.dwHighDateTime, static_cast<uint32_t>(utc >> 32));
        }
        uint32_t attributes = 0;
        ASSERT_EQ(platform::GetAttributes(path.c_str(), &attributes), 0u);
        EXPECT_EQ(attributes, c.attributes_after);
    }
    s.callbacks.ok_to_replace = {};
    EXPECT_EQ(AskReplaceOnExtract(s, entry, path.c_str()), 0);  // no procedure: replace
}

TEST(ReplaceQueryTest, UpdateQueryFindsTheDiskFileBelowTheInputPath) {
    TempDir dir;
    WriteFile(dir / "DATA/A.TXT", "disk file");
    Session s;
    std::snprintf(s.input_path, sizeof s.input_path, "%s/", dir.path().c_str());
    std::strcpy(s.relative_path, "ARCH");
    s.callbacks.ok_to_replace = {9, RecordReplace};
    g_answer = 1;
    g_calls.clear();
    const HidFileEntry entry = MakeEntry("ARCH\\DATA\\A.TXT", 10, MakeStamp(2010, 5, 5, 5, 5, 4));
    EXPECT_EQ(AskReplaceOnUpdate(s, entry, entry.name), 1);
    ASSERT_EQ(g_calls.size(), 1u);
    EXPECT_EQ(g_calls[0].first.nFileSizeLow, 10u);   // the entry comes first
    EXPECT_EQ(g_calls[0].second.nFileSizeLow, 9u);   // then the disk file
    EXPECT_EQ(g_calls[0].second.dwFileAttributes & 0x01u, 0u);

    // A relative path as long as the name or longer leaves the name whole.
    std::strcpy(s.relative_path, "ARCH\\DATA\\A.TXT-and-more");
    g_calls.clear();
    EXPECT_EQ(AskReplaceOnUpdate(s, entry, entry.name), 0);  // "<in>/ARCH/DATA/A.TXT" does not exist
    EXPECT_TRUE(g_calls.empty());
}

}  // namespace
}  // namespace hedgerow::names
