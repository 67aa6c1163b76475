// archive_exports.cpp -- the exported functions that name an archive and list its entries.
#include <cstring>

#include "api/export_guard.h"
#include "api/library_state.h"
#include "archive/open_list.h"
#include "hedgerow.h"
#include "ops/strong_archive.h"
#include "ops/strong_walk.h"

using hedgerow::State;

namespace {
const FileMaskList kAllEntries {};  // an empty list selects every entry
}  // namespace

extern "C" {

HEDGEROW_API void HEDGEROW_CALL InitHidFile(const char* name, const HidFileSettings* settings) {
    hedgerow::GuardedVoid([&] { hedgerow::archive::InitHidFile(State().session, State().archive, name, settings); });
}

HEDGEROW_API void HEDGEROW_CALL CreateHidFile(const char* name, const HidFileSettings* settings) {
    hedgerow::GuardedVoid([&] { hedgerow::archive::CreateHidFile(State().session, State().archive, name, settings); });
}

HEDGEROW_API int32_t HEDGEROW_CALL DoneHidFile(void) {
    hedgerow::archive::DoneHidFile(State().session, State().archive);
    return 0;
}

HEDGEROW_API void HEDGEROW_CALL InitHidFileList(HidFileList* list) {
    if (list) hedgerow::archive::InitHidFileList(*list);
}

HEDGEROW_API void HEDGEROW_CALL BuildHidFileList(HidFileList* list, const FileMaskList* masks) {
    if (!list) return;
    hedgerow::GuardedVoid([&] {
        const FileMaskList& selected = masks ? *masks : kAllEntries;
        if (State().archive.strong && !State().archive.new_archive) {
            // Its records are sealed: they open with the data password, in a call's context.
            hedgerow::ops::Context call(State().session, State().archive);
            hedgerow::ops::ListStrongArchive(call, *list, selected);
        } else {
            hedgerow::archive::BuildHidFileList(State().session, State().archive, *list, selected);
        }
    });
}

HEDGEROW_API void HEDGEROW_CALL GetHidFileInfo(HidFileInfo* info) {
    if (!info) return;
    hedgerow::GuardedVoid([&] {
        using hedgerow::Status;
        hedgerow::Session& session = State().session;
        const hedgerow::archive::ArchiveState& a = State().archive;
        hedgerow::ClearStatus(session);
        HidFileInfo out {};
        out.size = sizeof out;
        out.kind = a.strong ? HEDGEROW_KIND_STRONG : HEDGEROW_KIND_LEGACY;
        if (a.name[0] == '\0') {
            hedgerow::Fail(session, Status::kNotFound);
        } else if (a.strong && a.new_archive) {
            const hedgerow::strong::Argon2Parameters p = hedgerow::strong::NewArgon2Parameters(a);
            out.kdf_memory_kib = p.memory_kib;
            out.kdf_passes = p.passes;
            out.kdf_lanes = p.lanes;
        } else if (a.strong) {
            hedgerow::ops::Context call(session, State().archive);
            hedgerow::ops::StrongReader r;
            if (hedgerow::ops::ReadStrongHeader(call, a.name, r)) {
                out.kdf_memory_kib = r.header.argon2.memory_kib;
                out.kdf_passes = r.header.argon2.passes;
                out.kdf_lanes = r.header.argon2.lanes;
            }
        }
        const size_t n = info->size < sizeof out ? info->size : sizeof out;
        std::memcpy(info, &out, n);
    });
}

HEDGEROW_API void HEDGEROW_CALL DoneHidFileList(HidFileList* list) {
    if (list) hedgerow::archive::DoneHidFileList(*list);
}

}  // extern "C"
