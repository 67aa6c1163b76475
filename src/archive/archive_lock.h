// archive_lock.h -- one writer at a time: every operation that rewrites an archive holds
// an exclusive advisory lock on it for its whole run, and every reader a shared one, so
// that two writers started together do not both copy the old archive and lose each
// other's work, and a reader never reads a half-swapped one. Cooperating programs only:
// the locks are advisory (platform::FileLock).
#pragma once

#include "archive/archive_state.h"
#include "common/session.h"
#include "platform/platform.h"

namespace hedgerow::archive {

enum class LockKind { kShared, kExclusive };

#ifdef HEDGEROW_COMPACT

// The self-extracting program only reads its own file, and every byte of it counts (the
// archive behind it must begin within 61,440 bytes): it takes no locks.
struct ArchiveLock {};
[[nodiscard]] inline bool LockArchive(Session&, ArchiveState&, LockKind, ArchiveLock&, const char* = nullptr) {
    return true;
}

#else

// The lock a call holds on its archive. The outermost step of a call takes it; steps
// inside it find archive.lock_held set and take none of their own (a second lock by the
// same process would wait for the first).
struct ArchiveLock {
    platform::FileLock lock;
    ArchiveState* holder = nullptr;  // set while this value is the call's lock
    ArchiveLock() = default;
    ArchiveLock(const ArchiveLock&) = delete;
    ArchiveLock& operator=(const ArchiveLock&) = delete;
    ~ArchiveLock() {
        if (holder) holder->lock_held = false;
    }
};

// Locks the file `name` (the archive's own name when null) for this call. While another
// program holds a lock in the way, waits, asking ProgressProc (with 0 and 0) between
// tries whether to go on (kCancelled when it answers 0); with arOptNoWait it fails at once
// with kArchiveBusy. A name that names no file yet is not locked: whatever opens it next
// reports that.
[[nodiscard]] bool LockArchive(Session& session, ArchiveState& archive, LockKind kind, ArchiveLock& lock,
                               const char* name = nullptr);

#endif  // HEDGEROW_COMPACT

}  // namespace hedgerow::archive
