// archive_exports.cpp -- the exported functions that name an archive and list its entries.
#include "archive/open_list.h"
#include "api/export_guard.h"
#include "api/library_state.h"
#include "hedgerow.h"

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
        hedgerow::archive::BuildHidFileList(State().session, State().archive, *list, masks ? *masks : kAllEntries);
    });
}

HEDGEROW_API void HEDGEROW_CALL DoneHidFileList(HidFileList* list) {
    if (list) hedgerow::archive::DoneHidFileList(*list);
}

}  // extern "C"
