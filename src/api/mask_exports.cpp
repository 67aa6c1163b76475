// mask_exports.cpp -- the exported file mask list functions.
#include "api/export_guard.h"
#include "api/library_state.h"
#include "hedgerow.h"
#include "names/masks.h"

extern "C" {

HEDGEROW_API void HEDGEROW_CALL InitFileMaskList(FileMaskList* list) {
    if (list) hedgerow::names::InitFileMaskList(*list);
}

HEDGEROW_API uint8_t HEDGEROW_CALL AppendFileMask(const char* mask, FileMaskList* list) {
    if (!list) return 0;
    return hedgerow::Guarded<uint8_t>(0, [&]() -> uint8_t {
        return hedgerow::names::AddFileMask(hedgerow::State().session, mask, *list) ? 1 : 0;
    });
}

HEDGEROW_API void HEDGEROW_CALL DoneFileMaskList(FileMaskList* list) {
    if (list) hedgerow::names::DoneFileMaskList(*list);
}

}  // extern "C"
