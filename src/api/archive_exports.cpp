// archive_exports.cpp -- the exported functions that name an archive and list its entries.
#include "api/export_guard.h"
#include "api/library_state.h"
#include "archive/open_list.h"
#include "hedgerow.h"
#include "ops/strong_archive.h"

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

HEDGEROW_API void HEDGEROW_CALL DoneHidFileList(HidFileList* list) {
    if (list) hedgerow::archive::DoneHidFileList(*list);
}

}  // extern "C"
