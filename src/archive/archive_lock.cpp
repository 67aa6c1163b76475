// archive_lock.cpp -- taking an archive's lock, waiting as long as another holds it.
#include "archive/archive_lock.h"

namespace hedgerow::archive {

namespace {

constexpr uint32_t kRetryPause = 50;  // milliseconds between tries while another holds the lock

}  // namespace

#ifndef HEDGEROW_COMPACT  // (see archive_lock.h)

bool LockArchive(Session& session, ArchiveState& archive, LockKind kind, ArchiveLock& lock, const char* name) {
    if (archive.lock_held) return true;
    const char* path = name ? name : archive.name;
    if (path == nullptr || path[0] == '\0') return true;
    for (;;) {
        switch (platform::TryLockFile(path, kind == LockKind::kExclusive, &lock.lock)) {
            case platform::Locked::kLocked:
                archive.lock_held = true;
                lock.holder = &archive;
                return true;
            case platform::Locked::kNoFile: return true;
            case platform::Locked::kBusy: break;
        }
        if (OptionOn(session, kOptNoWait)) return Fail(session, Status::kArchiveBusy);
        const auto& slot = session.callbacks.progress;
        if (slot.proc != nullptr && slot.proc(slot.user, 0, 0) == 0) return Fail(session, Status::kCancelled);
        platform::PauseMilliseconds(kRetryPause);
    }
}

#endif  // HEDGEROW_COMPACT

}  // namespace hedgerow::archive
