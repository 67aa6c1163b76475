// open_list.cpp -- InitHidFile, CreateHidFile, listing and reopening.
#include "archive/open_list.h"

#include <cstdlib>
#include <cstring>

#include "archive/records.h"
#include "frame/control.h"
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

void ClearArchiveState(ArchiveState& a) {
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
bool TakeName(LibraryState& st, const char* name) {
    const char* text = name ? name : "";
    if (std::strlen(text) >= sizeof st.archive.name) {
        st.archive.name[0] = '\0';
        return Fail(st.session, Status::kNameTooLong);
    }
    CopyBounded(st.archive.name, sizeof st.archive.name, text);
    return true;
}

// The steps opening and reopening share: the archive name must name an existing file
// with a marker. The open file, or null with the status set (2 with the new-archive flag
// and the name cleared, 5, 9999).
platform::File OpenNamedArchive(LibraryState& st) {
    ArchiveState& a = st.archive;
    if (a.name[0] == '\0' || !names::FileExists(a.name) || platform::IsDirectory(a.name)) {
        SetStatus(st.session, Status::kNotFound);
        a.name[0] = '\0';
        a.new_archive = true;
        return platform::File();
    }
    platform::File file = platform::OpenFile(a.name, "rb");
    if (!file) {
        SetStatus(st.session, Status::kIoError);
        return file;
    }
    if (!ReadMarkerRecord(st, file.get())) {
        if (StatusIsOk(st.session)) SetStatus(st.session, Status::kNotAnArchive);
        file.reset();
    }
    return file;
}

}  // namespace

void InitHidFile(LibraryState& st, const char* name, const HidFileSettings* settings) {
    const HidFileSettings no_settings {};
    const HidFileSettings& s = settings ? *settings : no_settings;
    ArchiveState& a = st.archive;
    st.session.relative_path[0] = '\0';
    st.session.relative_path_refused = false;
    ClearArchiveState(a);
    std::memset(a.data_password, 0, sizeof a.data_password);
    std::memset(a.header_password_decipher, 0, sizeof a.header_password_decipher);
    std::memset(a.header_password_encipher, 0, sizeof a.header_password_encipher);

    a.cipher_id = s.cipher_id;
    a.locked = s.lock_headers != 0;
    CopyBounded(a.data_password, sizeof a.data_password, s.data_password);
    if (s.header_password[0] != '\0') {
        CopyBounded(a.header_password_decipher, sizeof a.header_password_decipher, s.header_password);
        CopyBounded(a.header_password_encipher, sizeof a.header_password_encipher, s.header_password);
    }
    if (!TakeName(st, name)) return;
    platform::File file = OpenNamedArchive(st);
    if (!file) return;
    if (!FindFirstEntryRecord(st, file.get())) {
        // An archive whose every entry was deleted ends at its marker: it is empty, not
        // locked against us.
        const uint64_t end_of_head = static_cast<uint64_t>(a.marker_offset) + kMarkerSize;
        if (platform::Length(file.get()) != static_cast<int64_t>(end_of_head)) {
            if (st.session.status != static_cast<uint16_t>(Status::kIoError)) SetStatus(st.session, Status::kBadPassword);
            return;
        }
        a.first_entry_offset = static_cast<uint32_t>(end_of_head);
        a.read_position = a.first_entry_offset;
    }
    ClearCallbackProcedures(st.session);
    SetStatus(st.session, Status::kOk);
}

void CreateHidFile(LibraryState& st, const char* name, const HidFileSettings* settings) {
    if (settings == nullptr || settings->data_password[0] == '\0') {
        SetStatus(st.session, Status::kNoPassword);
        return;
    }
    InitHidFile(st, name, settings);
    if (st.session.status == static_cast<uint16_t>(Status::kNameTooLong)) return;
    ArchiveState& a = st.archive;
    if (a.locked) {
        if (settings->header_password[0] == '\0') {
            SetStatus(st.session, Status::kNoPassword);
            return;
        }
        CopyBounded(a.header_password_encipher, sizeof a.header_password_encipher, settings->header_password);
    }
    if (names::FileExists(name)) {
        SetStatus(st.session, Status::kIoError);
        a.name[0] = '\0';
        return;
    }
    SetStatus(st.session, Status::kOk);
    (void)TakeName(st, name);
    a.new_archive = true;
    a.settings = *settings;
}

void DoneHidFile(LibraryState& st) {
    st.archive.name[0] = '\0';
    st.session.input_path[0] = '\0';
    st.session.input_path_refused = false;
}

void InitHidFileList(HidFileList& list) {
    list.count = 0;
    list.first = nullptr;
    list.last = nullptr;
}

void BuildHidFileList(LibraryState& st, HidFileList& list, const FileMaskList& masks) {
    InitHidFileList(list);
    RewindEntries(st.archive);
    platform::File file = platform::OpenFile(st.archive.name, "rb");
    if (!file) {
        SetStatus(st.session, Status::kIoError);
        return;
    }
    HidFileEntry entry {};
    char stored[kNameFieldSize];
    uint8_t record[kRecordSize];
    // Each name is matched against the whole list, so the list is indexed once.
    const names::MaskIndex index = names::IndexMasks(masks);
    while (ReadNextEntryRecord(st, file.get(), &entry, stored, record)) {
        // Names are kept in the OEM code page; the host sees them in its own.
        (void)platform::OemToAnsi(stored, entry.name, sizeof entry.name);
        if (!names::MatchMaskIndex(entry.name, index)) continue;
        void* block = nullptr;
        if (!names::AllocBlock(&block, sizeof(HidFileEntry))) {
            SetStatus(st.session, Status::kNoMemory);
            break;
        }
        auto* listed = static_cast<HidFileEntry*>(block);
        void* copy = nullptr;
        if (!names::AllocBlock(&copy, kRecordSize)) {
            names::FreeBlock(&block);
            SetStatus(st.session, Status::kNoMemory);
            break;
        }
        *listed = entry;
        listed->record_copy = static_cast<uint8_t*>(copy);
        std::memcpy(listed->record_copy, record, kRecordSize);
        listed->next = nullptr;
        if (list.first == nullptr) {
            list.first = listed;
        } else {
            list.last->next = listed;
        }
        list.last = listed;
        ++list.count;
    }
    // An empty list says so, unless a failure stopped the walk: that failure must stay
    // visible, or a rewrite would take a damaged or unreadable archive for an empty one.
    if (list.count == 0 && StatusIsOk(st.session)) SetStatus(st.session, Status::kNoEntries);
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

void ReopenHidFile(LibraryState& st, const char* name, bool assume_locked) {
    Callbacks& c = st.session.callbacks;
    c.progress.user = c.file_name.user = c.skip_file.user = c.crypt_key.user = 0;
    c.head_crypt_key.user = c.ok_to_replace.user = c.next_disk.user = c.sfx_progress.user = 0;
    st.session.relative_path[0] = '\0';
    st.session.relative_path_refused = false;
    ClearArchiveState(st.archive);
    st.archive.locked = assume_locked;
    st.archive.cipher_id = 0;
    if (!TakeName(st, name)) return;
    platform::File file = OpenNamedArchive(st);
    if (!file) return;
    if (!FindFirstEntryRecord(st, file.get())) {
        // A host that gave up on the header password keeps its answer.
        if (st.session.status != static_cast<uint16_t>(Status::kBadPassword)) SetStatus(st.session, Status::kNothingToDo);
        return;
    }
    ClearCallbackProcedures(st.session);
    SetStatus(st.session, Status::kOk);
}

}  // namespace hedgerow::archive
