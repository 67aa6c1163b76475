// hide_exports.cpp -- the exported functions that hide a file in a carrier and recover it.
#include <cstring>

#include "api/export_guard.h"
#include "api/library_state.h"
#include "hedgerow.h"
#include "hide/hide_file.h"

using hedgerow::State;

namespace {

int32_t HideIn(const char* carrier, const char* file_name, const char* password, hedgerow::hide::PreparedForm form) {
    HideRoom& room = State().hide_room;
    room = HideRoom {};
    room.size = sizeof room;
    return hedgerow::Guarded<int32_t>(0, [&] {
        hedgerow::hide::Context call(State().session, State().archive);
        const int32_t restored = hedgerow::hide::HideFile(call, carrier, file_name, password, form);
        if (hedgerow::StatusIs(State().session, hedgerow::Status::kCarrierTooSmall)) {
            room.needed = call.hide.short_of.needed;
            room.room = call.hide.short_of.room;
        }
        return restored;
    });
}

}  // namespace

extern "C" {

HEDGEROW_API int32_t HEDGEROW_CALL HideFile(const char* carrier, const char* file_name, const char* password) {
    return HideIn(carrier, file_name, password, hedgerow::hide::PreparedForm::kLegacy);
}

HEDGEROW_API int32_t HEDGEROW_CALL HideFileStrong(const char* carrier, const char* file_name, const char* password) {
    return HideIn(carrier, file_name, password, hedgerow::hide::PreparedForm::kStrong);
}

HEDGEROW_API void HEDGEROW_CALL GetHideRoom(HideRoom* room) {
    if (!room) return;
    const size_t n = room->size < sizeof(HideRoom) ? room->size : sizeof(HideRoom);
    std::memcpy(room, &State().hide_room, n);
}

HEDGEROW_API void HEDGEROW_CALL UnhideFile(const char* carrier, const char* output_name, const char* password) {
    hedgerow::GuardedVoid([&] {
        hedgerow::hide::Context call(State().session, State().archive);
        hedgerow::hide::UnhideFile(call, carrier, output_name, password);
    });
}

}  // extern "C"
