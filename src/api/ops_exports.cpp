// ops_exports.cpp -- the exported archive operations.
#include "api/export_guard.h"
#include "api/library_state.h"
#include "hedgerow.h"
#include "ops/check.h"
#include "ops/compress.h"
#include "ops/delete.h"
#include "ops/extract.h"
#include "ops/lock.h"
#include "ops/strong_archive.h"

namespace {

// Runs an operation in a context of its own, built for this call.
template <typename Operation>
void RunOperation(Operation&& operation) {
    hedgerow::GuardedVoid([&] {
        hedgerow::ops::Context call(hedgerow::State().session, hedgerow::State().archive);
        operation(call);
    });
}

}  // namespace

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
    RunOperation([&](hedgerow::ops::Context& call) { hedgerow::ops::CompressFileMaskListHid(call, list); });
}

HEDGEROW_API void HEDGEROW_CALL ExtractFileMaskListHid(const FileMaskList* masks) {
    RunOperation([&](hedgerow::ops::Context& call) {
        hedgerow::ops::ExtractFileMaskListHid(call, masks ? *masks : kNoMasks);
    });
}

HEDGEROW_API void HEDGEROW_CALL TestFileMaskListHid(const FileMaskList* masks) {
    if (masks == nullptr) {  // no list at all selects nothing (an empty list selects everything)
        State().session.status = arNoEntries;
        return;
    }
    RunOperation([&](hedgerow::ops::Context& call) { hedgerow::ops::TestFileMaskListHid(call, *masks); });
}

HEDGEROW_API void HEDGEROW_CALL DeleteFileMaskListHid(const FileMaskList* masks) {
    if (masks == nullptr) {  // no list at all selects nothing (an empty list selects everything)
        State().session.status = arNoEntries;
        return;
    }
    RunOperation([&](hedgerow::ops::Context& call) { hedgerow::ops::DeleteFileMaskListHid(call, *masks); });
}

HEDGEROW_API void HEDGEROW_CALL LockArchive(const char* archive_name) {
    RunOperation([&](hedgerow::ops::Context& call) { hedgerow::ops::LockArchive(call, archive_name); });
}

HEDGEROW_API void HEDGEROW_CALL ChangeArchivePassword(const char* archive_name, const char* new_password) {
    RunOperation([&](hedgerow::ops::Context& call) {
        hedgerow::ops::ChangeStrongPassword(call, archive_name, new_password);
    });
}

HEDGEROW_API void HEDGEROW_CALL UnlockArchive(const char* archive_name) {
    RunOperation([&](hedgerow::ops::Context& call) { hedgerow::ops::UnlockArchive(call, archive_name); });
}

}  // extern "C"
