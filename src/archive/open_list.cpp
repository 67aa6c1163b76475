// open_list.cpp -- InitHidFile, CreateHidFile, listing and reopening.
#include "archive/open_list.h"

#include <cstdlib>
#include <cstring>

#include "archive/archive_lock.h"
#include "archive/records.h"
#include "archive/settings_extension.h"
#include "crypto/wipe.h"
#include "names/masks.h"
#include "names/short_string.h"
#include "platform/platform.h"

namespace hedgerow::archive {

namespace {

// Copies a zero-terminated string of at most capacity - 1 bytes; a longer or
// unterminated source is cut there.
void CopyBounded(char* destination, size_t capacity, const char* source) {
    const size_t n = strnlen(source, capacity - 1);
    std::memcpy(destination, source, n);
    std::memset(destination + n, 0, capacity - n);
}

void ClearArchiveState(ArchiveState& a, bool keep_strong_key) {
    if (!keep_strong_key) ForgetStrongKey(a);
    a.strong = false;
    a.cipher_id = 0;
    a.locked = false;
    a.new_archive = false;
    a.sfx_stub = false;
    a.encoder_parameter = 0;
    a.marker_offset = 0;
    a.marker_body_offset = 0;
    a.marker_body_length = 0;
    a.first_entry_offset = 0;
    a.read_position = 0;
}

// Copies the archive name; false (name cleared, kNameTooLong) when it does not fit.
bool TakeName(Session& session, ArchiveState& a, const char* name) {
    const char* text = name ? name : "";
    if (std::strlen(text) >= sizeof a.name) {
        a.name[0] = '\0';
        return Fail(session, Status::kNameTooLong);
    }
    CopyBounded(a.name, sizeof a.name, text);
    return true;
}

// The steps opening and reopening share: the archive name must name an existing file
// with a marker. The open file, or null with the status set (kNotFound with the
// new-archive flag set and the name cleared, kIoError, kLengthError, kNotAnArchive).
platform::File OpenNamedArchive(Session& session, ArchiveState& a) {
    if (a.name[0] == '\0' || !names::FileExists(a.name) || platform::IsDirectory(a.name)) {
        Fail(session, Status::kNotFound);
        a.name[0] = '\0';
        a.new_archive = true;
        return platform::File();
    }
    platform::File file = platform::OpenFile(a.name, "rb");
    if (!file) {
        Fail(session, Status::kIoError);
        return file;
    }
    if (!ReadMarkerRecord(session, a, file.get())) {
        Fail(session, Status::kNotAnArchive);  // unless reading it failed first
        file.reset();
    }
    return file;
}

}  // namespace

void ForgetStrongKey(ArchiveState& archive) {
    crypto::SecureWipe(archive.strong_key, sizeof archive.strong_key);
    archive.strong_key_ready = false;
}

void InitHidFile(Session& session, ArchiveState& a, const char* name, const HidFileSettings* settings) {
    ClearStatus(session);
    const HidFileSettings no_settings {};
    const HidFileSettings& s = settings ? *settings : no_settings;
    session.relative_path[0] = '\0';
    session.relative_path_refused = false;
    // A strong archive opened again with the same data password keeps the key derived
    // from it, so that a host's sequence of calls derives it once (the key is checked
    // against the archive's header at every use all the same).
    const bool same_archive = name != nullptr && std::strncmp(a.name, name, sizeof a.name) == 0 &&
                              std::strncmp(a.data_password, s.data_password, sizeof a.data_password) == 0;
    ClearArchiveState(a, a.strong_key_ready && same_archive);
    std::memset(a.data_password, 0, sizeof a.data_password);
    std::memset(a.header_password_decipher, 0, sizeof a.header_password_decipher);
    std::memset(a.header_password_encipher, 0, sizeof a.header_password_encipher);

    if (!TakeSettingsExtension(session, a, s)) {
        a.name[0] = '\0';  // nothing is named: a later operation must not find the last archive
        return;
    }
    a.cipher_id = s.cipher_id;
    a.locked = s.lock_headers != 0;
    CopyBounded(a.data_password, sizeof a.data_password, s.data_password);
    if (s.header_password[0] != '\0') {
        CopyBounded(a.header_password_decipher, sizeof a.header_password_decipher, s.header_password);
        CopyBounded(a.header_password_encipher, sizeof a.header_password_encipher, s.header_password);
    }
    if (!TakeName(session, a, name)) return;
    ArchiveLock lock;  // no writer swaps the archive while it is read
    if (!LockArchive(session, a, LockKind::kShared, lock)) return;
    platform::File file = OpenNamedArchive(session, a);
    if (!file) return;
    if (a.strong) {
        // Its records are sealed: they are read, with the data password, by the
        // operations; the first one lies right behind the header.
        a.first_entry_offset = static_cast<uint32_t>(kStrongHeaderSize);
        a.read_position = a.first_entry_offset;
        ClearCallbackProcedures(session);
        return;
    }
    const FirstRecord first = FindFirstEntryRecord(session, a, file.get());
    if (first != FirstRecord::kFound) {
        // An archive whose every entry was deleted ends at its marker: it is empty, not
        // locked against us.
        const uint64_t end_of_head = static_cast<uint64_t>(a.marker_offset) + kMarkerSize;
        if (platform::Length(file.get()) != static_cast<int64_t>(end_of_head)) {
            Fail(session, first == FirstRecord::kUnreadable ? Status::kIoError : Status::kBadPassword);
            return;
        }
        a.first_entry_offset = static_cast<uint32_t>(end_of_head);
        a.read_position = a.first_entry_offset;
    }
    ClearCallbackProcedures(session);
}

void CreateHidFile(Session& session, ArchiveState& a, const char* name, const HidFileSettings* settings) {
    ClearStatus(session);
    if (settings != nullptr && !TakeSettingsExtension(session, a, *settings)) {
        a.name[0] = '\0';
        return;
    }
    if (settings == nullptr || settings->data_password[0] == '\0') {
        Fail(session, Status::kNoPassword);
        return;
    }
    // Opening the name takes in the settings as for an existing archive; that a new name
    // is not found (or an existing file is no archive) is what this call wants to know,
    // not its outcome, so the status is cleared again unless the name itself was refused.
    InitHidFile(session, a, name, settings);
    if (StatusIs(session, Status::kNameTooLong)) return;
    ClearStatus(session);
    if (a.locked) {
        if (settings->header_password[0] == '\0') {
            Fail(session, Status::kNoPassword);
            return;
        }
        CopyBounded(a.header_password_encipher, sizeof a.header_password_encipher, settings->header_password);
    }
    if (names::FileExists(name)) {
        Fail(session, Status::kIoError);
        a.name[0] = '\0';
        return;
    }
    (void)TakeName(session, a, name);
    a.new_archive = true;
    a.strong = settings->cipher_id == kCipherIdStrong;
    a.settings = *settings;
}

void DoneHidFile(Session& session, ArchiveState& a) {
    ForgetStrongKey(a);
    a.name[0] = '\0';
    session.input_path[0] = '\0';
    session.input_path_refused = false;
}

void InitHidFileList(HidFileList& list) {
    list.count = 0;
    list.first = nullptr;
    list.last = nullptr;
}

namespace {

// The listing walk: every entry whose (host code page) name keep accepts joins the list.
template <typename Keep>
bool ListEntriesWhere(Session& session, ArchiveState& a, HidFileList& list, Keep&& keep) {
    InitHidFileList(list);
    RewindEntries(a);
    platform::File file = platform::OpenFile(a.name, "rb");
    if (!file) return Fail(session, Status::kIoError);
    HidFileEntry entry {};
    char stored[kNameFieldSize];
    uint8_t record[kRecordSize];
    for (;;) {
        const NextRecord next = ReadNextEntryRecord(session, a, file.get(), &entry, stored, record);
        if (next == NextRecord::kFailed) return false;
        if (next == NextRecord::kEnd) return true;
        // Names are kept in the OEM code page, or in UTF-8 where the metadata extension
        // says so; the host sees them in its own.
#ifndef HEDGEROW_COMPACT
        if ((entry.metadata_flags & HEDGEROW_META_UTF8_NAME) != 0) {
            (void)platform::Utf8ToAnsiName(stored, entry.name, sizeof entry.name);
        } else
#endif
        {
            (void)platform::OemToAnsi(stored, entry.name, sizeof entry.name);
        }
        if (!keep(entry.name)) continue;
        void* block = nullptr;
        if (!names::AllocBlock(&block, sizeof(HidFileEntry))) return Fail(session, Status::kNoMemory);
        auto* listed = static_cast<HidFileEntry*>(block);
        void* copy = nullptr;
        if (!names::AllocBlock(&copy, kRecordSize)) {
            names::FreeBlock(&block);
            return Fail(session, Status::kNoMemory);
        }
        *listed = entry;
        listed->record_copy = static_cast<uint8_t*>(copy);
        std::memcpy(listed->record_copy, record, kRecordSize);
        AppendToList(list, listed);
    }
}

}  // namespace

bool ListEntries(Session& session, ArchiveState& a, HidFileList& list, const FileMaskList& masks) {
    // Each name is matched against the whole list, so the list is indexed once.
    const names::MaskIndex index = names::IndexMasks(masks);
    return ListEntriesWhere(session, a, list, [&](const char* name) { return names::MatchMaskIndex(name, index); });
}

bool ListAllEntries(Session& session, ArchiveState& a, HidFileList& list) {
    return ListEntriesWhere(session, a, list, [](const char*) { return true; });
}

void BuildHidFileList(Session& session, ArchiveState& a, HidFileList& list, const FileMaskList& masks) {
    ArchiveLock lock;  // no writer swaps the archive while it is read
    if (!LockArchive(session, a, LockKind::kShared, lock)) {
        InitHidFileList(list);
        return;
    }
    // An empty list says so, unless a failure stopped the walk: that failure must stay
    // visible, or a rewrite would take a damaged or unreadable archive for an empty one.
    if (ListEntries(session, a, list, masks) && list.count == 0) Fail(session, Status::kNoEntries);
}

void AppendToList(HidFileList& list, HidFileEntry* listed) {
    listed->next = nullptr;
    if (list.first == nullptr) {
        list.first = listed;
    } else {
        list.last->next = listed;
    }
    list.last = listed;
    ++list.count;
}

void DoneHidFileList(HidFileList& list) {
    HidFileEntry* entry = list.first;
    while (entry) {
        HidFileEntry* next = entry->next;
        std::free(entry->record_copy);
        std::free(entry);
        entry = next;
    }
    InitHidFileList(list);
}

bool ReopenHidFile(Session& session, ArchiveState& a, const char* name, bool assume_locked) {
    Callbacks& c = session.callbacks;
    c.progress.user = c.file_name.user = c.skip_file.user = c.crypt_key.user = 0;
    c.head_crypt_key.user = c.ok_to_replace.user = c.next_disk.user = c.sfx_progress.user = 0;
    session.relative_path[0] = '\0';
    session.relative_path_refused = false;
    // (the data password stays, and with it the key derived from it: see InitHidFile)
    ClearArchiveState(a, a.strong_key_ready && name != nullptr && std::strncmp(a.name, name, sizeof a.name) == 0);
    a.locked = assume_locked;
    a.cipher_id = 0;
    if (!TakeName(session, a, name)) return false;
    platform::File file = OpenNamedArchive(session, a);
    if (!file) return false;
    switch (FindFirstEntryRecord(session, a, file.get())) {
        case FirstRecord::kFound: break;
        // A host that gave up on the header password keeps its answer.
        case FirstRecord::kRefused: return Fail(session, Status::kBadPassword);
        case FirstRecord::kNone:
        case FirstRecord::kUnreadable: return Fail(session, Status::kNothingToDo);
    }
    ClearCallbackProcedures(session);
    return true;
}

}  // namespace hedgerow::archive
