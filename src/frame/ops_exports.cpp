// ops_exports.cpp -- the exported archive operations.
#include "frame/export_guard.h"
#include "frame/library_state.h"
#include "hedgerow.h"
#include "ops/create.h"
#include "ops/delete.h"
#include "ops/extract.h"
#include "ops/lock.h"

using hedgerow::State;

namespace {
const FileMaskList kNoMasks {};
}  // namespace

extern "C" {

HEDGEROW_API void HEDGEROW_CALL CompressFileMaskListHid(const FileMaskList* masks) {
    // Building a self-extractor frees the host's list and clears its head (a later
    // DoneFileMaskList by the host then does nothing); the records are the library's own.
    FileMaskList none {};
    FileMaskList& list = masks ? *const_cast<FileMaskList*>(masks) : none;
    hedgerow::GuardedVoid([&] { hedgerow::ops::CompressFileMaskListHid(State(), list); });
}

HEDGEROW_API void HEDGEROW_CALL ExtractFileMaskListHid(const FileMaskList* masks) {
    hedgerow::GuardedVoid([&] { hedgerow::ops::ExtractFileMaskListHid(State(), masks ? *masks : kNoMasks); });
}

HEDGEROW_API void HEDGEROW_CALL DeleteFileMaskListHid(const FileMaskList* masks) {
    if (masks == nullptr) {  // no list at all selects nothing (an empty list selects everything)
        State().session.status = arNoEntries;
        return;
    }
    hedgerow::GuardedVoid([&] { hedgerow::ops::DeleteFileMaskListHid(State(), *masks); });
}

HEDGEROW_API void HEDGEROW_CALL LockArchive(const char* archive_name) {
    hedgerow::GuardedVoid([&] { hedgerow::ops::LockArchive(State(), archive_name); });
}

HEDGEROW_API void HEDGEROW_CALL UnlockArchive(const char* archive_name) {
    hedgerow::GuardedVoid([&] { hedgerow::ops::UnlockArchive(State(), archive_name); });
}

}  // extern "C"
