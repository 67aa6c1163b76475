// rewrite_test.cpp -- update, delete, lock and unlock: what they keep, what they replace,
// the host's answers, and that a failure anywhere leaves the archive as it was.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/records.h"
#include "platform/platform.h"
#include "support/archive_builder.h"
#include "support/ops_host.h"

namespace hedgerow::ops {
namespace {

using namespace hedgerow::testing;

const HidFileSettings kSettings = MakeSettings(2, "pw");

// An archive of A.TXT, B.TXT and D.TXT, reopened for the next operation.
void MakeAbd(Host& h, const HidFileSettings& s = kSettings) {
    h.AddFile("A.TXT", TextBytes(3000, 1));
    h.AddFile("B.TXT", TextBytes(3000, 2));
    h.AddFile("D.TXT", RandomBytes(500));
    ASSERT_EQ(h.Create({"A.TXT", "B.TXT", "D.TXT"}, s), arOk);
    ASSERT_EQ(h.Open(s), arOk);
}

// The bytes of one entry (record and data) as they stand in the archive.
std::vector<uint8_t> EntryBytes(Host& h, const std::string& name) {
    HidFileList list {};
    archive::BuildHidFileList(h.st.session, h.st.archive, list, FileMaskList {});
    const std::vector<uint8_t> all = h.ArchiveBytes();
    std::vector<uint8_t> bytes;
    for (const HidFileEntry* e = list.first; e; e = e->next) {
        if (name == e->name) bytes.assign(all.begin() + e->record_offset, all.begin() + e->record_offset + 432 + e->packed_size);
    }
    archive::DoneHidFileList(list);
    return bytes;
}

struct ReplaceScript {
    int32_t answer = 0;
    int calls = 0;
    uint32_t first_size = 0;
    uint32_t second_size = 0;
};
ReplaceScript* g_replace = nullptr;
int32_t HEDGEROW_CALL Replace(uint32_t, const HedgerowFindData* a, const HedgerowFindData* b) {
    ++g_replace->calls;
    g_replace->first_size = a->nFileSizeLow;
    g_replace->second_size = b->nFileSizeLow;
    return g_replace->answer;
}

TEST(RewriteTest, UpdateReplacesKeepsOrCancelsAsTheHostSays) {
    struct Case {
        int32_t answer;
        uint16_t status;
        std::vector<std::string> names;
        bool new_content;
    };
    for (const Case& c : {Case{0, arOk, {"B.TXT", "D.TXT", "A.TXT"}, true}, Case{1, arOk, {"A.TXT", "B.TXT", "D.TXT"}, false},
                          Case{2, arCancelled, {"A.TXT", "B.TXT", "D.TXT"}, false}}) {
        SCOPED_TRACE(c.answer);
        Host h;
        MakeAbd(h);
        const std::vector<uint8_t> before = h.ArchiveBytes();
        h.AddFile("A.TXT", TextBytes(4321, 5));
        ReplaceScript script {c.answer};
        g_replace = &script;
        h.st.session.callbacks.ok_to_replace = {1, Replace};
        SetInputPath(h.st.session, (h.dir / "in").c_str());
        EXPECT_EQ(h.Compress({"A.TXT"}), c.status);
        EXPECT_EQ(script.calls, 1);
        EXPECT_EQ(script.first_size, 3000u);   // the entry first
        EXPECT_EQ(script.second_size, 4321u);  // the disk file second
        EXPECT_EQ(h.Names(), c.names);
        EXPECT_TRUE(h.Strays().empty());
        if (c.answer != 0) {
            EXPECT_EQ(h.ArchiveBytes(), before);
        }
        h.st.session.status = 0;
        ASSERT_EQ(h.Extract({"A.TXT"}), arOk);
        EXPECT_EQ(ReadFile(h.Out("A.TXT")) == TextBytes(4321, 5), c.new_content);
    }
    g_replace = nullptr;
}

TEST(RewriteTest, UpdateAppendsNewNamesAndCopiesTheRestUnchanged) {
    Host h;
    MakeAbd(h);
    const std::vector<uint8_t> b_before = EntryBytes(h, "B.TXT");
    h.AddFile("E.TXT", TextBytes(10, 8));
    SetInputPath(h.st.session, (h.dir / "in").c_str());
    ASSERT_EQ(h.Compress({"E.TXT", "A.TXT"}), arOk);  // no procedure: every clash is replaced
    EXPECT_EQ(h.Names(), (std::vector<std::string>{"B.TXT", "D.TXT", "E.TXT", "A.TXT"}));
    EXPECT_EQ(EntryBytes(h, "B.TXT"), b_before);

    const std::vector<uint8_t> before = h.ArchiveBytes();
    EXPECT_EQ(h.Compress({"*.TXT"}), arNothingToDo);
    EXPECT_EQ(h.ArchiveBytes(), before);
    EXPECT_TRUE(h.Strays().empty());
}

TEST(RewriteTest, UpdateMatchesNamesThroughRelativePathsAndDrives) {
    Host h;
    h.AddFile("DATA/A.TXT", TextBytes(100));
    const HidFileSettings s = kSettings;
    archive::CreateHidFile(h.st.session, h.st.archive, h.archive.c_str(), &s);
    SetInputPath(h.st.session, (h.dir / "in").c_str());
    SetRelativePath(h.st.session, "ARCH");
    ASSERT_EQ(h.Compress({"DATA\\A.TXT"}), arOk);
    ASSERT_EQ(h.Open(s), arOk);
    EXPECT_EQ(h.Names(), std::vector<std::string>{"ARCH\\DATA\\A.TXT"});
    ReplaceScript script {1};
    g_replace = &script;
    h.st.session.callbacks.ok_to_replace = {1, Replace};
    SetInputPath(h.st.session, (h.dir / "in").c_str());
    SetRelativePath(h.st.session, "ARCH");
    ASSERT_EQ(h.Compress({"data/a.txt"}), arOk);  // the same name, whatever its case
    EXPECT_EQ(script.calls, 1);
    EXPECT_EQ(h.Names(), std::vector<std::string>{"ARCH\\DATA\\A.TXT"});  // kept, not added twice
    g_replace = nullptr;
}

TEST(RewriteTest, DeleteRemovesExactlyTheSelectedEntries) {
    Host h;
    MakeAbd(h);
    const std::vector<uint8_t> a_before = EntryBytes(h, "A.TXT");
    const std::vector<uint8_t> d_before = EntryBytes(h, "D.TXT");
    const std::vector<uint8_t> before = h.ArchiveBytes();

    EXPECT_EQ(h.Delete({"NONE.TXT"}), arNoEntries);
    EXPECT_EQ(h.ArchiveBytes(), before);
    ASSERT_EQ(h.Delete({"b.txt"}), arOk);
    EXPECT_EQ(h.Names(), (std::vector<std::string>{"A.TXT", "D.TXT"}));
    EXPECT_EQ(EntryBytes(h, "A.TXT"), a_before);
    EXPECT_EQ(EntryBytes(h, "D.TXT"), d_before);
    EXPECT_TRUE(h.Strays().empty());

    // With a relative path set, the masks still delete what they select.
    SetRelativePath(h.st.session, "SOMEWHERE");
    ASSERT_EQ(h.Delete({"A.TXT"}), arOk);
    EXPECT_EQ(h.Names(), std::vector<std::string>{"D.TXT"});

    // Deleting everything leaves the head alone, which still opens as an empty archive.
    ASSERT_EQ(h.Delete({}), arOk);
    EXPECT_EQ(h.ArchiveBytes().size(), 34u);
    ASSERT_EQ(h.Open(kSettings), arOk);
    EXPECT_TRUE(h.Names().empty());
}

int g_progress_calls = 0;
int32_t HEDGEROW_CALL CancelAtOnce(uint32_t, int32_t percent, int32_t count) {
    EXPECT_EQ(percent, 100);
    EXPECT_EQ(count, 100);
    ++g_progress_calls;
    return 0;
}

TEST(RewriteTest, DeleteCanBeCancelledAndKeepsAnyProgramInFront) {
    Host h;
    // A program in front of the marker, as a self-extracting archive has.
    std::vector<TestEntry> entries = {{.name = "A.TXT", .data = {1, 2}}, {.name = "B.TXT", .data = {3}}};
    WriteFile(h.archive, MakeArchive(entries, "", 5000));
    ASSERT_EQ(h.Open(kSettings), arOk);
    const std::vector<uint8_t> before = h.ArchiveBytes();
    h.st.session.callbacks.progress = {0, CancelAtOnce};
    EXPECT_EQ(h.Delete({"A.TXT"}), arCancelled);
    EXPECT_EQ(g_progress_calls, 1);
    EXPECT_EQ(h.ArchiveBytes(), before);
    h.st.session.callbacks.progress = {};
    ASSERT_EQ(h.Delete({"A.TXT"}), arOk);
    const std::vector<uint8_t> after = h.ArchiveBytes();
    ASSERT_EQ(after.size(), before.size() - 434);
    EXPECT_TRUE(std::equal(after.begin(), after.begin() + 5034, before.begin()));
    EXPECT_EQ(h.Names(), std::vector<std::string>{"B.TXT"});
}

int32_t g_head_calls = 0;
const char* g_head_answer = nullptr;
uint32_t g_head_user = 99;
int32_t HEDGEROW_CALL HeadKey(uint32_t user, char* password, const char*) {
    g_head_user = user;
    ++g_head_calls;
    if (g_head_answer == nullptr) return 0;
    std::strcpy(password, g_head_answer);
    return 1;
}

TEST(RewriteTest, LockRekeyAndUnlock) {
    Host h;
    MakeAbd(h);
    const std::vector<uint8_t> plain_a = EntryBytes(h, "A.TXT");

    // Locking an archive that is not locked yet.
    ASSERT_EQ(h.Open(MakeSettings(2, "pw", "first")), arOk);
    LockArchive(*OpCall(h.st), h.archive.c_str());
    ASSERT_EQ(h.st.session.status, arOk);
    EXPECT_EQ(h.ArchiveBytes()[18] & 1, 1);
    EXPECT_EQ(h.Open(MakeSettings(2, "pw")), arBadPassword);
    ASSERT_EQ(h.Open(MakeSettings(2, "pw", "first")), arOk);
    EXPECT_EQ(h.Names(), (std::vector<std::string>{"A.TXT", "B.TXT", "D.TXT"}));
    std::vector<uint8_t> locked_a = EntryBytes(h, "A.TXT");
    EXPECT_NE(std::vector<uint8_t>(locked_a.begin(), locked_a.begin() + 432),
              std::vector<uint8_t>(plain_a.begin(), plain_a.begin() + 432));
    EXPECT_EQ(std::vector<uint8_t>(locked_a.begin() + 432, locked_a.end()),
              std::vector<uint8_t>(plain_a.begin() + 432, plain_a.end()));  // data untouched

    // Changing the header password: the old one comes from the host when asked.
    g_head_calls = 0;
    g_head_answer = "first";
    h.st.session.callbacks.head_crypt_key = {5, HeadKey};
    ASSERT_EQ(h.Open(MakeSettings(2, "pw", "second")), arOk);  // asks once for the old password
    EXPECT_EQ(g_head_calls, 1);
    LockArchive(*OpCall(h.st), h.archive.c_str());
    ASSERT_EQ(h.st.session.status, arOk);
    EXPECT_EQ(g_head_calls, 1);  // the password found is kept
    ASSERT_EQ(h.Open(MakeSettings(2, "pw", "second")), arOk);
    EXPECT_EQ(h.Names().size(), 3u);

    // A host that gives up leaves the archive as it was. During locking the procedure is
    // called with user value 0: the reopening cleared the registrations' values.
    const std::vector<uint8_t> before = h.ArchiveBytes();
    g_head_answer = nullptr;
    ASSERT_EQ(h.Open(MakeSettings(2, "pw", "second")), arOk);
    std::strcpy(h.st.archive.header_password_decipher, "wrong");
    LockArchive(*OpCall(h.st), h.archive.c_str());
    EXPECT_EQ(h.st.session.status, arBadPassword);
    EXPECT_EQ(g_head_user, 0u);
    EXPECT_EQ(h.ArchiveBytes(), before);
    EXPECT_TRUE(h.Strays().empty());

    // Unlocking writes plain records and clears the flag, so the archive reads again.
    ASSERT_EQ(h.Open(MakeSettings(2, "pw", "second")), arOk);
    UnlockArchive(*OpCall(h.st), h.archive.c_str());
    ASSERT_EQ(h.st.session.status, arOk);
    const std::vector<uint8_t> unlocked = h.ArchiveBytes();
    EXPECT_EQ(unlocked[18] & 1, 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(unlocked.data()) + 34 + 76), "A.TXT");
    EXPECT_TRUE(archive::CheckEntryHeaderCrc(unlocked.data() + 34));
    ASSERT_EQ(h.Open(MakeSettings(2, "pw")), arOk);
    ASSERT_EQ(h.Extract(), arOk);
    EXPECT_EQ(ReadFile(h.Out("A.TXT")), TextBytes(3000, 1));
    // Unlocking an archive that is not locked changes nothing.
    UnlockArchive(*OpCall(h.st), h.archive.c_str());
    EXPECT_EQ(h.st.session.status, arOk);
    EXPECT_EQ(h.ArchiveBytes(), unlocked);
    // Locking needs a header password.
    ASSERT_EQ(h.Open(MakeSettings(2, "pw")), arOk);
    LockArchive(*OpCall(h.st), h.archive.c_str());
    EXPECT_EQ(h.st.session.status, arNoPassword);
    EXPECT_EQ(h.ArchiveBytes(), unlocked);
}

TEST(RewriteTest, UpdatingALockedArchiveKeepsOneHeaderPassword) {
    Host h;
    MakeAbd(h, MakeSettings(2, "pw", "old", true));
    // The host opens with another header password in its settings and answers the old
    // one when asked: the new records must open with the old one too.
    g_head_calls = 0;
    g_head_answer = "old";
    h.st.session.callbacks.head_crypt_key = {5, HeadKey};
    ASSERT_EQ(h.Open(MakeSettings(2, "pw", "new")), arOk);
    h.AddFile("E.TXT", TextBytes(100, 6));
    SetInputPath(h.st.session, (h.dir / "in").c_str());
    ASSERT_EQ(h.Compress({"E.TXT"}), arOk);
    h.st.session.callbacks.head_crypt_key = {};
    ASSERT_EQ(h.Open(MakeSettings(2, "pw", "old")), arOk);
    EXPECT_EQ(h.Names(), (std::vector<std::string>{"A.TXT", "B.TXT", "D.TXT", "E.TXT"}));
    EXPECT_EQ(h.st.session.status, arOk);
    g_head_answer = nullptr;
}

// Every write, rename, create and allocation of a rewrite may fail; whichever does, the
// archive stays byte for byte as it was and no temporary file remains.
TEST(RewriteTest, AnUnknownCipherIdIsDamageThatNoOperationBuildsOn) {
    // Taken as it is, an id that names no cipher would store new entries unenciphered
    // under it and accept any password. Listing shows it; everything else refuses.
    for (const int32_t id : {7, -5, 3, -2, INT32_MIN}) {
        SCOPED_TRACE(id);
        for (const bool locked : {false, true}) {
            Host h;
            TestEntry plain;
            plain.name = "A.TXT";
            plain.data = {'a', 'l', 'p', 'h', 'a'};
            plain.data_crc = ReferenceCrc32(plain.data.data(), plain.data.size());
            TestEntry odd = plain;
            odd.name = "B.TXT";
            odd.cipher_id = id;
            WriteFile(h.archive, MakeArchive({plain, odd}, locked ? "hp" : ""));
            const std::vector<uint8_t> before = h.ArchiveBytes();
            const HidFileSettings settings = MakeSettings(2, "pw", "hp");
            ASSERT_EQ(h.Open(settings), arOk);

            HidFileList list {};
            archive::BuildHidFileList(h.st.session, h.st.archive, list, FileMaskList {});
            ASSERT_EQ(h.st.session.status, arOk);
            ASSERT_EQ(list.count, 2u);
            EXPECT_EQ(list.last->cipher_id, id);
            archive::DoneHidFileList(list);

            EXPECT_EQ(h.Extract(), arBadFormat);
            EXPECT_FALSE(std::filesystem::exists(h.Out("B.TXT")));
            h.AddFile("new.txt", TextBytes(100));
            SetInputPath(h.st.session, (h.dir / "in").c_str());
            h.st.session.status = 0;
            EXPECT_EQ(h.Compress({"new.txt"}), arBadFormat);
            EXPECT_EQ(h.Delete({"A.TXT"}), arBadFormat);
            if (locked) {
                UnlockArchive(*OpCall(h.st), h.archive.c_str());
            } else {
                LockArchive(*OpCall(h.st), h.archive.c_str());
            }
            EXPECT_EQ(h.st.session.status, arBadFormat);
            EXPECT_EQ(h.ArchiveBytes(), before);
            EXPECT_TRUE(h.Strays().empty());
        }
    }
    // Nor does a host's own setting make one.
    Host h;
    h.AddFile("new.txt", TextBytes(100));
    EXPECT_EQ(h.Create({"new.txt"}, MakeSettings(7, "pw")), arUnsupported);
    EXPECT_FALSE(std::filesystem::exists(h.archive));
}

int32_t HEDGEROW_CALL GiveUp(uint32_t, char*, const char*) { return 0; }

TEST(RewriteTest, ADamagedRecordInALockedArchiveIsDamageNotTheEnd) {
    // The first record proves the header password; a later one that does not decipher is
    // damaged. Taken for the end of the archive, it would make a rewrite drop every entry
    // behind it; taken for a wrong password, it would hide the entries before it.
    std::vector<TestEntry> entries;
    for (const char* name : {"A.TXT", "B.TXT", "C.TXT"}) {
        TestEntry e;
        e.name = name;
        e.data = {'d', 'a', 't', 'a'};
        e.data_crc = ReferenceCrc32(e.data.data(), e.data.size());
        entries.push_back(e);
    }
    std::vector<uint8_t> bytes = MakeArchive(entries, "hp");
    bytes[34 + 432 + 4 + 100] ^= 0x40;  // inside the second record
    for (const bool with_procedure : {false, true}) {
        SCOPED_TRACE(with_procedure);
        Host h;
        WriteFile(h.archive, bytes);
        ASSERT_EQ(h.Open(MakeSettings(-1, "pw", "hp")), arOk);
        if (with_procedure) h.st.session.callbacks.head_crypt_key = {0, GiveUp};
        HidFileList list {};
        archive::BuildHidFileList(h.st.session, h.st.archive, list, FileMaskList {});
        EXPECT_EQ(h.st.session.status, arBadFormat);
        ASSERT_EQ(list.count, 1u);
        EXPECT_STREQ(list.first->name, "A.TXT");
        archive::DoneHidFileList(list);
        // (A host that gives up leaves the header password cleared: each step opens anew.)
        ASSERT_EQ(h.Open(MakeSettings(-1, "pw", "hp")), arOk);
        EXPECT_EQ(h.Delete({"A.TXT"}), arBadFormat);
        ASSERT_EQ(h.Open(MakeSettings(-1, "pw", "hp")), arOk);
        UnlockArchive(*OpCall(h.st), h.archive.c_str());
        EXPECT_EQ(h.st.session.status, arBadFormat);
        EXPECT_EQ(h.ArchiveBytes(), bytes);
    }
}

// The progress procedure lets go of the lock another holder has on the archive after a
// few calls, or gives up.
platform::FileLock* g_other = nullptr;
int g_calls = 0;
int g_give_up_after = 0;
int32_t HEDGEROW_CALL WhileWaiting(uint32_t, int32_t percent, int32_t count) {
    if (percent != 0 || count != 0 || g_other == nullptr) return 1;  // real progress, after the wait
    if (++g_calls == g_give_up_after) return 0;
    if (g_calls == 3) *g_other = platform::FileLock();
    return 1;
}

TEST(RewriteTest, OneWriterAtATime) {
    Host h;
    MakeAbd(h);
    struct Case {
        bool exclusive_other;  // the other holder writes (else it reads)
        bool no_wait;
        int give_up_after;     // 0: never
        uint16_t status;
        int calls;             // of the progress procedure while waiting
    };
    const Case cases[] = {
        {true, true, 0, arArchiveBusy, 0},   // fails at once
        {false, true, 0, arArchiveBusy, 0},  // a reader keeps writers out too
        {true, false, 2, arCancelled, 2},    // waits until the host gives up
        {true, false, 0, arOk, 3},           // or until the other is done
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.exclusive_other) + std::to_string(c.no_wait) + std::to_string(c.give_up_after));
        const std::vector<uint8_t> before = h.ArchiveBytes();
        ASSERT_EQ(h.Open(kSettings), arOk);  // before the other takes its lock
        platform::FileLock other;
        ASSERT_EQ(platform::TryLockFile(h.archive.c_str(), c.exclusive_other, &other), platform::Locked::kLocked);
        g_other = &other;
        g_calls = 0;
        g_give_up_after = c.give_up_after;
        if (c.no_wait) OptionsOn(h.st.session, kOptNoWait);
        h.st.session.callbacks.progress = {0, WhileWaiting};
        const uint16_t status = h.Delete({"B.TXT"});
        OptionsOff(h.st.session, kOptNoWait);
        g_other = nullptr;
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(g_calls, c.calls);
        if (status != arOk) {
            EXPECT_EQ(h.ArchiveBytes(), before);
        }
    }
    ASSERT_EQ(h.Open(kSettings), arOk);
    EXPECT_EQ(h.Names(), (std::vector<std::string> {"A.TXT", "D.TXT"}));
}

TEST(RewriteTest, AFailureAtAnyStepLeavesTheArchiveAsItWas) {
    using platform::FaultKind;
    enum Op { kUpdate, kDelete, kLock, kUnlock };
    static const char* const op_names[] = {"update", "delete", "lock", "unlock"};
    for (Op op : {kUpdate, kDelete, kLock, kUnlock}) {
        int walked = 0;  // injected failures, reported as a test property
        for (FaultKind kind : {FaultKind::kWrite, FaultKind::kRename, FaultKind::kCreate, FaultKind::kRead}) {
            for (int n = 0;; ++n) {
                SCOPED_TRACE("op " + std::to_string(op) + " kind " + std::to_string(static_cast<int>(kind)) + " n " +
                             std::to_string(n));
                Host h;
                MakeAbd(h, MakeSettings(1, "pw", "head", op == kUnlock));
                h.AddFile("A.TXT", TextBytes(9000, 3));
                const std::vector<uint8_t> before = h.ArchiveBytes();
                platform::FaultPlan plan;
                plan.fail_at[static_cast<int>(kind)] = n;
                platform::SetFaultPlan(plan);
                switch (op) {
                    case kUpdate:
                        SetInputPath(h.st.session, (h.dir / "in").c_str());
                        h.Compress({"A.TXT"});
                        break;
                    case kDelete: h.Delete({"B.TXT"}); break;
                    case kLock: LockArchive(*OpCall(h.st), h.archive.c_str()); break;
                    case kUnlock: UnlockArchive(*OpCall(h.st), h.archive.c_str()); break;
                }
                const platform::FaultPlan seen = platform::SetFaultPlan(platform::FaultPlan {});
                const bool fired = seen.seen[static_cast<int>(kind)] > n;
                if (!fired) {
                    EXPECT_EQ(h.st.session.status, arOk);  // the run without a failure
                    break;
                }
                ++walked;
                EXPECT_NE(h.st.session.status, arOk);
                EXPECT_EQ(h.ArchiveBytes(), before);
                EXPECT_TRUE(h.Strays().empty());
            }
        }
        RecordProperty(std::string(op_names[op]) + "_points", walked);
    }
}

}  // namespace
}  // namespace hedgerow::ops
