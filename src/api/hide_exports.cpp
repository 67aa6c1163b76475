// hide_exports.cpp -- the exported functions that hide a file in a carrier and recover it.
#include "api/export_guard.h"
#include "api/library_state.h"
#include "hedgerow.h"
#include "hide/hide_file.h"

using hedgerow::State;

extern "C" {

HEDGEROW_API int32_t HEDGEROW_CALL HideFile(const char* carrier, const char* file_name, const char* password) {
    return hedgerow::Guarded<int32_t>(0, [&] {
        hedgerow::hide::Context call(State().session, State().archive);
        return hedgerow::hide::HideFile(call, carrier, file_name, password);
    });
}

HEDGEROW_API int32_t HEDGEROW_CALL HideFileStrong(const char* carrier, const char* file_name, const char* password) {
    return hedgerow::Guarded<int32_t>(0, [&] {
        hedgerow::hide::Context call(State().session, State().archive);
        return hedgerow::hide::HideFile(call, carrier, file_name, password, hedgerow::hide::PreparedForm::kStrong);
    });
}

HEDGEROW_API void HEDGEROW_CALL UnhideFile(const char* carrier, const char* output_name, const char* password) {
    hedgerow::GuardedVoid([&] {
        hedgerow::hide::Context call(State().session, State().archive);
        hedgerow::hide::UnhideFile(call, carrier, output_name, password);
    });
}

}  // extern "C"
