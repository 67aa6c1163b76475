// lock.cpp -- LockArchive and UnlockArchive.
#include "ops/lock.h"

#include <cstring>
#include <string>

#include "archive/archive_lock.h"
#include "archive/open_list.h"
#include "archive/records.h"
#include "common/byte_order.h"
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
// wrong with it. False with kIoError when it opens but cannot be read, with kAlwaysLocked
// for a strong archive.
bool ProbeMarker(Context& cx, const char* name, bool* locked) {
    *locked = true;
    platform::File file = platform::OpenFile(name, "rb");
    if (!file) return true;
    uint32_t offset = 0;
    switch (archive::FindMarker(file.get(), &offset, locked)) {
        case archive::MarkerSearch::kFound: return true;
        case archive::MarkerSearch::kNone: *locked = true; return true;
        // Its records are always sealed: its password is changed instead.
        case archive::MarkerSearch::kStrong: return Fail(cx.session, Status::kAlwaysLocked);
        case archive::MarkerSearch::kUnreadable: break;
    }
    return Fail(cx.session, Status::kIoError);
}

// Writes the entry's record in its new form, then copies the entry's data. The listing
// has already deciphered (and so checked) the records of a locked archive; the plain
// records of an archive being locked for the first time are checked here.
bool TransformEntry(Context& cx, Mode mode, bool was_locked, std::FILE* in, std::FILE* out,
                    const HidFileEntry& entry) {
    uint8_t plain[archive::kRecordSize];
    std::memcpy(plain, entry.record_copy, sizeof plain);
    if (!was_locked && !archive::CheckEntryHeaderCrc(plain)) return Fail(cx.session, Status::kBadFormat);
    uint8_t result[archive::kRecordSize];
    if (mode == Mode::kLock) {
        archive::EncipherEntryHeader(cx.archive, result, plain);
    } else {
        std::memcpy(result, plain, sizeof result);
    }
    if (platform::WriteBytes(out, result, sizeof result) != sizeof result) return Fail(cx.session, Status::kWriteError);
    return CopyArchiveBytes(cx, in, out, static_cast<uint64_t>(entry.record_offset) + archive::kRecordSize,
                            entry.packed_size);
}

// Sets or clears the locked flag in the marker of the new file (head already copied).
bool WriteMarkerFlag(Context& cx, std::FILE* out, bool locked) {
    const int64_t end = platform::Tell(out);
    uint8_t flags[4];
    Store32Le(flags, locked ? 1 : 0);
    if (end < 0 || !platform::SeekTo(out, cx.archive.marker_offset + 18) ||
        platform::WriteBytes(out, flags, 4) != 4 || !platform::SeekTo(out, static_cast<uint64_t>(end))) {
        return Fail(cx.session, Status::kWriteError);
    }
    return true;
}

void Rewrite(Context& cx, const char* name, Mode mode) {
    ClearStatus(cx.session);
    archive::ArchiveLock lock;  // one writer at a time, from the first look to the swap
    if (!archive::LockArchive(cx.session, cx.archive, archive::LockKind::kExclusive, lock, name)) return;
    // The marker tells whether the records are enciphered: an archive that is not locked
    // is locked by LockArchive and left alone by UnlockArchive, and nobody is asked for
    // a header password it does not have.
    bool was_locked = true;
    if (name != nullptr && !ProbeMarker(cx, name, &was_locked)) return;
    if (!archive::ReopenHidFile(cx.session, cx.archive, name, was_locked)) return;
    if (mode == Mode::kUnlock && !was_locked) return;
    if (mode == Mode::kLock && cx.archive.header_password_encipher[0] == '\0') {
        Fail(cx.session, Status::kNoPassword);
        return;
    }
    EntryList entries;
    archive::BuildHidFileList(cx.session, cx.archive, entries.list, FileMaskList {});
    if (!StatusIsOk(cx.session) || !RefuseUnknownCiphers(cx, entries.list)) return;

    NewArchiveFile out;
    platform::File in;
    if (!BeginRewrite(cx, out, in)) return;
    // The marker must say what the records are, or the archive could not be read again.
    if (!WriteMarkerFlag(cx, out.get(), mode == Mode::kLock)) return;
    for (const HidFileEntry* entry = entries.list.first; entry; entry = entry->next) {
        if (!TransformEntry(cx, mode, was_locked, in.get(), out.get(), *entry)) return;
        AnnounceEntry(cx, entry->name);
        if (!ReportEntryDone(cx)) return;
    }
    in.reset();
    (void)SwapInNewArchive(cx, cx.archive.name, out);  // the outcome is in the status word
}

}  // namespace

void LockArchive(Context& cx, const char* name) { Rewrite(cx, name, Mode::kLock); }

void UnlockArchive(Context& cx, const char* name) { Rewrite(cx, name, Mode::kUnlock); }

}  // namespace hedgerow::ops
