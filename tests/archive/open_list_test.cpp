// open_list_test.cpp -- opening archives built byte by byte, listing them by mask, locked
// headers, and damaged or hostile archives.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "api/library_state.h"
#include "archive/open_list.h"
#include "archive/records.h"
#include "names/masks.h"
#include "platform/platform.h"
#include "support/archive_builder.h"
#include "support/code_page.h"
#include "support/temp_dir.h"

namespace hedgerow::archive {
namespace {

using hedgerow::testing::Api;
using hedgerow::testing::MakeArchive;
using hedgerow::testing::TempDir;
using hedgerow::testing::TestEntry;
using hedgerow::testing::WriteFile;

HidFileSettings Settings(const char* data_password = "data", const char* header_password = "", uint32_t lock = 0) {
    HidFileSettings s {};
    s.cipher_id = 2;
    s.lock_headers = lock;
    std::strncpy(s.data_password, data_password, sizeof s.data_password - 1);
    std::strncpy(s.header_password, header_password, sizeof s.header_password - 1);
    return s;
}

std::vector<TestEntry> ThreeEntries() {
    return {{.name = "A.TXT", .data = {1, 2, 3}}, {.name = "DOCS\\B.DOC", .data = {}}, {.name = "C.BIN", .data = {9}}};
}

struct Listing {
    HidFileList list {};
    ~Listing() { DoneHidFileList(list); }
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const HidFileEntry* e = list.first; e; e = e->next) names.emplace_back(e->name);
        return names;
    }
};

std::vector<std::string> ListNames(LibraryState& st, std::initializer_list<const char*> masks, uint16_t* status) {
    FileMaskList list {};
    for (const char* m : masks) EXPECT_TRUE(names::AddFileMask(st.session, m, list)) << m;
    Listing listing;
    BuildHidFileList(st.session, st.archive, listing.list, list);
    names::DoneFileMaskList(list);
    *status = st.session.status;
    EXPECT_EQ(listing.list.count, listing.Names().size());
    return listing.Names();
}

TEST(OpenListTest, MarkerIsFoundBehindAPrefixOnlyWithinTheSearchWindow) {
    TempDir dir;
    struct Case {
        size_t prefix;
        size_t total;  // padded with zeros up to this length
        uint16_t status;
    };
    const Case cases[] = {{0, 0, arOk}, {40000, 0, arOk}, {61415, 100000, arOk}, {61416, 100000, arNotAnArchive},
                          {61420, 100000, arNotAnArchive}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefix);
        std::vector<uint8_t> bytes = MakeArchive(ThreeEntries(), "", c.prefix);
        if (c.total > bytes.size()) bytes.resize(c.total, 0);
        WriteFile(dir / "a.arc", bytes);
        LibraryState st;
        const HidFileSettings s = Settings();
        InitHidFile(st.session, st.archive, (dir / "a.arc").c_str(), &s);
        EXPECT_EQ(st.session.status, c.status);
        if (c.status == arOk) {
            EXPECT_EQ(st.archive.marker_offset, c.prefix);
            EXPECT_EQ(st.archive.first_entry_offset, c.prefix + 34);
        }
    }
}

TEST(OpenListTest, OpeningFailuresHaveTheirStatus) {
    TempDir dir;
    WriteFile(dir / "text.txt", "just some text, not an archive at all");
    std::vector<uint8_t> short_record = hedgerow::testing::MakeMarker(false);
    short_record.resize(34 + 431, 0);
    WriteFile(dir / "short-record.arc", short_record);
    std::vector<TestEntry> bad = ThreeEntries();
    bad[0].corrupt_crc = true;
    bad.resize(1);
    WriteFile(dir / "bad-crc.arc", MakeArchive(bad));
    struct Case {
        std::string name;
        uint16_t status;
    };
    const Case cases[] = {{dir / "missing.arc", arNotFound},   {dir / "text.txt", arNotAnArchive},
                          {dir / "short-record.arc", arBadPassword}, {dir / "bad-crc.arc", arBadPassword},
                          {"", arNotFound},                     {std::string(300, 'n'), arNameTooLong}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LibraryState st;
        const HidFileSettings s = Settings();
        InitHidFile(st.session, st.archive, c.name.c_str(), &s);
        EXPECT_EQ(st.session.status, c.status);
        if (c.status == arNotFound) {
            EXPECT_TRUE(st.archive.new_archive);
            EXPECT_STREQ(st.archive.name, "");
        }
    }
}

TEST(OpenListTest, AnArchiveOfOneEmptyMemberOpens) {
    TempDir dir;
    WriteFile(dir / "e.arc", MakeArchive({{.name = "EMPTY", .data = {}}}));
    LibraryState st;
    const HidFileSettings s = Settings();
    InitHidFile(st.session, st.archive, (dir / "e.arc").c_str(), &s);
    EXPECT_EQ(st.session.status, arOk);
    uint16_t status = 0;
    EXPECT_EQ(ListNames(st, {}, &status), std::vector<std::string>{"EMPTY"});
}

TEST(OpenListTest, TheFirstRecordMayStartLaterThanTheMarkerEnds) {
    TempDir dir;
    for (size_t gap : {1, 13, 431, 433, 5000}) {
        SCOPED_TRACE(gap);
        std::vector<uint8_t> bytes = MakeArchive(ThreeEntries());
        bytes.insert(bytes.begin() + 34, gap, 0xA5);
        WriteFile(dir / "g.arc", bytes);
        LibraryState st;
        const HidFileSettings s = Settings();
        InitHidFile(st.session, st.archive, (dir / "g.arc").c_str(), &s);
        ASSERT_EQ(st.session.status, arOk);
        EXPECT_EQ(st.archive.first_entry_offset, 34 + gap);
        uint16_t status = 0;
        EXPECT_EQ(ListNames(st, {}, &status).size(), 3u);
    }
}

TEST(OpenListTest, AnArchiveWithoutEntriesOpensAndListsNothing) {
    TempDir dir;
    WriteFile(dir / "head-only.arc", MakeArchive({}, "", 500));  // a program in front, then the marker alone
    LibraryState st;
    const HidFileSettings s = Settings();
    InitHidFile(st.session, st.archive, (dir / "head-only.arc").c_str(), &s);
    EXPECT_EQ(st.session.status, arOk);
    uint16_t status = 0;
    EXPECT_TRUE(ListNames(st, {}, &status).empty());
    EXPECT_EQ(status, arNoEntries);
}

TEST(OpenListTest, ListingSelectsByMaskAndFillsEntries) {
    TempDir dir;
    std::vector<TestEntry> entries = ThreeEntries();
    entries[0].cipher_id = 1;
    entries[0].data_crc = 0xDEADBEEF;
    entries[0].unpacked_size = 100;
    WriteFile(dir / "a.arc", MakeArchive(entries, "", 100));
    LibraryState st;
    const HidFileSettings s = Settings();
    InitHidFile(st.session, st.archive, (dir / "a.arc").c_str(), &s);
    ASSERT_EQ(st.session.status, arOk);

    uint16_t status = 0;
    EXPECT_EQ(ListNames(st, {}, &status), (std::vector<std::string>{"A.TXT", "DOCS\\B.DOC", "C.BIN"}));
    EXPECT_EQ(status, arOk);
    EXPECT_EQ(ListNames(st, {"*.TXT", "docs\\*.*"}, &status), (std::vector<std::string>{"A.TXT", "DOCS\\B.DOC"}));
    EXPECT_EQ(ListNames(st, {"NONE.*"}, &status), std::vector<std::string>{});
    EXPECT_EQ(status, arNoEntries);

    Listing listing;
    BuildHidFileList(st.session, st.archive, listing.list, FileMaskList {});
    const HidFileEntry* e = listing.list.first;
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->valid, 1u);
    EXPECT_EQ(e->packed_size, 3u);
    EXPECT_EQ(e->unpacked_size, 100u);
    EXPECT_EQ(e->cipher_id, 1);
    EXPECT_EQ(e->enciphered, 1u);
    EXPECT_EQ(e->data_crc, 0xDEADBEEFu);
    EXPECT_EQ(e->date_time, 0x2C210A00u);
    EXPECT_EQ(e->attributes, 0x20u);
    EXPECT_EQ(e->format_revision, 30u);
    EXPECT_EQ(e->record_offset, 134u);
    EXPECT_EQ(e->record_length, 432u);
    EXPECT_EQ(e->record_tag, 77u);
    EXPECT_EQ(e->name_length, 5u);
    ASSERT_NE(e->record_copy, nullptr);
    EXPECT_EQ(std::memcmp(e->record_copy + 76, "A.TXT", 6), 0);
    EXPECT_EQ(e->next->enciphered, 0u);                        // cipher id -1
    EXPECT_EQ(e->next->next->record_offset, 134u + 432 + 3 + 432);
    EXPECT_EQ(listing.list.last, e->next->next);
}

// The header-password procedure is asked again after every wrong answer.
struct HeadPasswordScript {
    std::vector<std::string> answers;  // "" means: answer 0 (give up)
    size_t asked = 0;
    uint32_t last_user = 99;
};
HeadPasswordScript* g_script = nullptr;

int32_t HEDGEROW_CALL ScriptedHeadPassword(uint32_t user, char* password, const char* /*archive*/) {
    g_script->last_user = user;
    for (int i = 0; i < 256; ++i) EXPECT_EQ(password[i], 0) << "the buffer is cleared first";
    const std::string answer = g_script->asked < g_script->answers.size() ? g_script->answers[g_script->asked] : "";
    ++g_script->asked;
    if (answer.empty()) return 0;
    std::strcpy(password, answer.c_str());
    return 1;
}

TEST(OpenListTest, LockedHeadersNeedTheHeaderPassword) {
    TempDir dir;
    WriteFile(dir / "l.arc", MakeArchive(ThreeEntries(), "secret"));
    struct Case {
        const char* settings_password;
        std::vector<std::string> answers;
        uint16_t status;
        size_t asked;
    };
    const Case cases[] = {
        {"secret", {}, arOk, 0},
        {"wrong", {"also wrong", "still wrong", ""}, arBadPassword, 3},
        {"wrong", {"secret"}, arOk, 1},
        {"", {"secret"}, arOk, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings_password);
        HeadPasswordScript script {c.answers};
        g_script = &script;
        LibraryState st;
        st.session.callbacks.head_crypt_key = {5, ScriptedHeadPassword};
        const HidFileSettings s = Settings("data", c.settings_password);
        InitHidFile(st.session, st.archive, (dir / "l.arc").c_str(), &s);
        EXPECT_EQ(st.session.status, c.status);
        EXPECT_EQ(script.asked, c.asked);
        if (c.asked) {
            EXPECT_EQ(script.last_user, 5u);
        }
        if (c.status == arOk) {
            EXPECT_TRUE(st.archive.locked);
            uint16_t status = 0;
            EXPECT_EQ(ListNames(st, {}, &status).size(), 3u);
            EXPECT_EQ(script.asked, c.asked);  // the good password is kept for the listing
        }
    }
    // Without a procedure a wrong password simply fails.
    LibraryState st;
    const HidFileSettings s = Settings("data", "");
    InitHidFile(st.session, st.archive, (dir / "l.arc").c_str(), &s);
    EXPECT_EQ(st.session.status, arBadPassword);
    g_script = nullptr;
}

int32_t HEDGEROW_CALL AnyProgress(uint32_t, int32_t, int32_t) { return 1; }
int32_t HEDGEROW_CALL AnyHead(uint32_t, char*, const char*) { return 0; }

TEST(OpenListTest, OpeningClearsAllCallbacksButTheHeaderPassword) {
    TempDir dir;
    WriteFile(dir / "a.arc", MakeArchive(ThreeEntries()));
    LibraryState st;
    st.session.callbacks.progress = {3, AnyProgress};
    st.session.callbacks.head_crypt_key = {4, AnyHead};
    const HidFileSettings s = Settings();
    InitHidFile(st.session, st.archive, (dir / "a.arc").c_str(), &s);
    ASSERT_EQ(st.session.status, arOk);
    EXPECT_EQ(st.session.callbacks.progress.proc, nullptr);
    EXPECT_EQ(st.session.callbacks.progress.user, 3u);
    EXPECT_EQ(st.session.callbacks.head_crypt_key.proc, AnyHead);

    // Reopening for locking clears the user values too.
    st.session.callbacks.progress = {3, AnyProgress};
    EXPECT_FALSE(ReopenHidFile(st.session, st.archive, (dir / "a.arc").c_str()));
    EXPECT_EQ(st.session.status, arBadPassword);  // a plain archive: no record deciphers, the host gave up
    EXPECT_EQ(st.session.callbacks.progress.user, 0u);
    EXPECT_EQ(st.session.callbacks.head_crypt_key.user, 0u);
    EXPECT_EQ(st.session.callbacks.head_crypt_key.proc, AnyHead);
}

TEST(OpenListTest, CreateHidFileRefusesWhatItCannotCreate) {
    TempDir dir;
    WriteFile(dir / "exists.arc", MakeArchive(ThreeEntries()));
    const std::vector<uint8_t> before = hedgerow::testing::ReadFile(dir / "exists.arc");
    struct Case {
        std::string name;
        HidFileSettings settings;
        uint16_t status;
    };
    const Case cases[] = {
        {dir / "new.arc", Settings(), arOk},
        {dir / "new.arc", Settings(""), arNoPassword},
        {dir / "new.arc", Settings("data", "", 1), arNoPassword},
        {dir / "new.arc", Settings("data", "head", 1), arOk},
        {dir / "exists.arc", Settings(), arIoError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LibraryState st;
        st.session.callbacks.progress = {3, AnyProgress};
        CreateHidFile(st.session, st.archive, c.name.c_str(), &c.settings);
        EXPECT_EQ(st.session.status, c.status);
        if (c.status == arOk) {
            EXPECT_TRUE(st.archive.new_archive);
            EXPECT_EQ(st.archive.name, c.name);
            EXPECT_FALSE(hedgerow::testing::ReadFile(c.name).size());  // nothing is created yet
        }
        if (c.name == dir / "exists.arc") {
            EXPECT_EQ(st.session.callbacks.progress.proc, nullptr);  // the archive was opened on the way
            EXPECT_STREQ(st.archive.name, "");
        }
    }
    EXPECT_EQ(hedgerow::testing::ReadFile(dir / "exists.arc"), before);
}

TEST(OpenListTest, DamagedArchivesEndTheWalkWithAStatus) {
    TempDir dir;
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        std::vector<std::string> listed;
        uint16_t status;
    };
    std::vector<TestEntry> wrong_tag = ThreeEntries();
    wrong_tag[2].tag = 78;
    std::vector<TestEntry> past_end = ThreeEntries();
    past_end[2].packed_size_override = 1000;
    std::vector<TestEntry> wraps = ThreeEntries();
    wraps[1].packed_size_override = 0xFFFFFFF0u;
    std::vector<TestEntry> unterminated = ThreeEntries();
    unterminated[1].unterminated_name = true;
    std::vector<uint8_t> truncated = MakeArchive(ThreeEntries());
    truncated.resize(truncated.size() - 1);
    const Case cases[] = {
        {"tag", MakeArchive(wrong_tag), {"A.TXT", "DOCS\\B.DOC"}, arBadFormat},
        {"past end", MakeArchive(past_end), {"A.TXT", "DOCS\\B.DOC"}, arBadFormat},
        {"wraps", MakeArchive(wraps), {"A.TXT"}, arBadFormat},
        {"unterminated", MakeArchive(unterminated), {"A.TXT"}, arBadFormat},
        {"truncated", truncated, {"A.TXT", "DOCS\\B.DOC"}, arBadFormat},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir / "d.arc", c.bytes);
        LibraryState st;
        const HidFileSettings s = Settings();
        InitHidFile(st.session, st.archive, (dir / "d.arc").c_str(), &s);
        ASSERT_EQ(st.session.status, arOk);
        uint16_t status = 0;
        EXPECT_EQ(ListNames(st, {}, &status), c.listed);
        EXPECT_EQ(status, c.status);
    }
    // A damaged first record leaves nothing to list, and says why.
    std::vector<TestEntry> first_bad = ThreeEntries();
    first_bad[0].tag = 1;
    WriteFile(dir / "d.arc", MakeArchive(first_bad));
    LibraryState st;
    const HidFileSettings s = Settings();
    InitHidFile(st.session, st.archive, (dir / "d.arc").c_str(), &s);
    uint16_t status = 0;
    EXPECT_TRUE(ListNames(st, {}, &status).empty());
    EXPECT_EQ(status, arBadFormat);
}

TEST(OpenListTest, StoredNamesUseTheOemCodePage) {
    TempDir dir;
    LibraryState st;
    st.archive.cipher_id = -1;
    const std::string path = dir / "n.arc";
    {
        platform::File out = platform::OpenFile(path.c_str(), "wb");
        uint8_t marker[34];
        MakeMarkerRecord(false, marker);
        ASSERT_EQ(platform::WriteBytes(out.get(), marker, 34), 34u);
        uint8_t record[432] = {};
        ASSERT_TRUE(WriteEntryRecord(st.session, st.archive, out.get(), record, Api("M\xc3\xa4rz\\\xc3\xa4pfel.txt", "M\xe4rz\\\xe4pfel.txt")));
        EXPECT_EQ(record[76 + 1], 0x84);  // a umlaut in code pages 850 and 437
    }
    const HidFileSettings s = Settings();
    InitHidFile(st.session, st.archive, path.c_str(), &s);
    ASSERT_EQ(st.session.status, arOk);
    uint16_t status = 0;
    EXPECT_EQ(ListNames(st, {Api("M\xc3\x84RZ\\*.*", "M\xc4RZ\\*.*")}, &status),
              std::vector<std::string>{Api("M\xc3\xa4rz\\\xc3\xa4pfel.txt", "M\xe4rz\\\xe4pfel.txt")});
}

TEST(OpenListTest, StoredNameForms) {
    struct Case {
        const char* name;
        const char* relative;
        bool names_only;
        const char* stored;
    };
    const Case cases[] = {
        {"sub\\a.txt", "", false, "sub\\a.txt"},
        {"sub\\a.txt", "docs", false, "docs\\sub\\a.txt"},
        {"sub\\a.txt", "docs\\", false, "docs\\sub\\a.txt"},
        {"D:\\in\\sub\\a.txt", "", true, "a.txt"},
        {"E:\\data\\a.txt", "", false, "data\\a.txt"},
        {"\\\\srv\\share\\d\\f.txt", "", false, "d\\f.txt"},
        {"\\x.txt", "", false, "x.txt"},
        {"..\\x.txt", "", false, "x.txt"},
        {"..\\..\\.\\x.txt", "", false, "x.txt"},
        {"/abs/path/f", "", false, "abs\\path\\f"},
        {"X:rel.txt", "", false, "rel.txt"},
        {"README.", "", true, "README"},
        {"dir\\..hidden", "", false, "dir\\..hidden"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        std::strcpy(s.relative_path, c.relative);
        if (c.names_only) s.options |= kOptNamesOnly;
        char stored[256];
        ASSERT_TRUE(FormStoredName(s, c.name, stored));
        EXPECT_STREQ(stored, c.stored);
    }
    Session s;
    char stored[256];
    EXPECT_FALSE(FormStoredName(s, std::string(256, 'x').c_str(), stored));
}

}  // namespace
}  // namespace hedgerow::archive
