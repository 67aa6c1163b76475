// lock.cpp -- LockArchive and UnlockArchive.
#include "ops/lock.h"

#include <cstring>
#include <string>

#include "archive/open_list.h"
#include "archive/records.h"
#include "frame/byte_order.h"
#include "ops/rewrite.h"
#include "platform/platform.h"

namespace hedgerow::ops {

namespace {

enum class Mode { kLock, kUnlock };

struct EntryList {
    HidFileList list {};
    ~EntryList() { archive::DoneHidFileList(list); }
};

// Whether the named archive's marker says its records are enciphered. An archive that
// cannot be opened or has no marker counts as locked: the reopening then reports what is
// wrong with it. False with kIoError when it opens but cannot be read.
bool ProbeMarker(LibraryState& st, const char* name, bool* locked) {
    *locked = true;
    platform::File file = platform::OpenFile(name, "rb");
    if (!file) return true;
    uint32_t offset = 0;
    const int found = archive::FindMarker(file.get(), &offset, locked);
    if (found < 0) return Fail(st.session, Status::kIoError);
    if (found == 0) *locked = true;
    return true;
}

// Writes the entry's record in its new form, then copies the entry's data. The listing
// has already deciphered (and so checked) the records of a locked archive; the plain
// records of an archive being locked for the first time are checked here.
bool TransformEntry(LibraryState& st, Mode mode, bool was_locked, std::FILE* in, std::FILE* out,
                    const HidFileEntry& entry) {
    uint8_t plain[archive::kRecordSize];
    std::memcpy(plain, entry.record_copy, sizeof plain);
    if (!was_locked && !archive::CheckEntryHeaderCrc(plain)) return Fail(st.session, Status::kBadFormat);
    uint8_t result[archive::kRecordSize];
    if (mode == Mode::kLock) {
        archive::EncipherEntryHeader(st, result, plain);
    } else {
        std::memcpy(result, plain, sizeof result);
    }
    if (platform::WriteBytes(out, result, sizeof result) != sizeof result) return Fail(st.session, Status::kWriteError);
    return CopyArchiveBytes(st, in, out, static_cast<uint64_t>(entry.record_offset) + archive::kRecordSize,
                            entry.packed_size);
}

// Sets or clears the locked flag in the marker of the new file (head already copied).
bool WriteMarkerFlag(LibraryState& st, std::FILE* out, bool locked) {
    const int64_t end = platform::Tell(out);
    uint8_t flags[4];
    Store32Le(flags, locked ? 1 : 0);
    if (end < 0 || !platform::SeekTo(out, st.archive.marker_offset + 18) ||
        platform::WriteBytes(out, flags, 4) != 4 || !platform::SeekTo(out, static_cast<uint64_t>(end))) {
        return Fail(st.session, Status::kWriteError);
    }
    return true;
}

void Rewrite(LibraryState& st, const char* name, Mode mode) {
    SetStatus(st.session, Status::kOk);
    // The marker tells whether the records are enciphered: an archive that is not locked
    // is locked by LockArchive and left alone by UnlockArchive, and nobody is asked for
    // a header password it does not have.
    bool was_locked = true;
    if (name != nullptr && !ProbeMarker(st, name, &was_locked)) return;
    archive::ReopenHidFile(st, name, was_locked);
    if (!StatusIsOk(st.session)) return;
    if (mode == Mode::kUnlock && !was_locked) return;
    if (mode == Mode::kLock && st.archive.header_password_encipher[0] == '\0') {
        Fail(st.session, Status::kNoPassword);
        return;
    }
    EntryList entries;
    archive::BuildHidFileList(st, entries.list, FileMaskList {});
    if (!StatusIsOk(st.session)) return;

    NewArchiveFile out;
    platform::File in;
    if (!BeginRewrite(st, out, in)) return;
    // The marker must say what the records are, or the archive could not be read again.
    if (!WriteMarkerFlag(st, out.get(), mode == Mode::kLock)) return;
    for (const HidFileEntry* entry = entries.list.first; entry; entry = entry->next) {
        if (!TransformEntry(st, mode, was_locked, in.get(), out.get(), *entry)) return;
        AnnounceEntry(st, entry->name);
        if (!ReportEntryDone(st)) return;
    }
    in.reset();
    SwapInNewArchive(st, st.archive.name, out);
}

}  // namespace

void LockArchive(LibraryState& st, const char* name) { Rewrite(st, name, Mode::kLock); }

void UnlockArchive(LibraryState& st, const char* name) { Rewrite(st, name, Mode::kUnlock); }

}  // namespace hedgerow::ops
