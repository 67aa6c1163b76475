// control_exports.cpp -- the exported status, option, path and callback functions.
#include "api/control.h"
#include "api/export_guard.h"
#include "api/library_state.h"
#include "hedgerow.h"

using hedgerow::State;

namespace {

template <typename Proc>
void Register(hedgerow::CallbackSlot<Proc>& slot, uint32_t user, Proc proc) {
    slot.user = user;
    slot.proc = proc;
}

}  // namespace

extern "C" {

HEDGEROW_API uint16_t HEDGEROW_CALL GetArchiveStatus(void) { return State().session.status; }

HEDGEROW_API uint16_t HEDGEROW_CALL SetArchiveStatus(uint16_t status) {
    State().session.status = status;
    return status;
}

HEDGEROW_API uint16_t HEDGEROW_CALL arOptionsOn(uint16_t bits) { return hedgerow::OptionsOn(State().session, bits); }

HEDGEROW_API uint16_t HEDGEROW_CALL arOptionsOff(uint16_t bits) { return hedgerow::OptionsOff(State().session, bits); }

HEDGEROW_API uint8_t HEDGEROW_CALL arOptionsAreOn(uint16_t bits) {
    return hedgerow::OptionsAreOn(State().session, bits) ? 1 : 0;
}

HEDGEROW_API void HEDGEROW_CALL SetOutputPath(const char* path) { hedgerow::SetOutputPath(State().session, path); }

HEDGEROW_API void HEDGEROW_CALL SetInputPath(const char* path) { hedgerow::SetInputPath(State().session, path); }

HEDGEROW_API void HEDGEROW_CALL SetRelativePath(const char* path) {
    hedgerow::SetRelativePath(State().session, path);
}

HEDGEROW_API void HEDGEROW_CALL SetSetProgressProc(uint32_t user, ProgressProc proc) {
    Register(State().session.callbacks.progress, user, proc);
}

HEDGEROW_API void HEDGEROW_CALL SetSetFileNameProc(uint32_t user, FileNameProc proc) {
    Register(State().session.callbacks.file_name, user, proc);
}

HEDGEROW_API void HEDGEROW_CALL SetSkipFileProc(uint32_t user, SkipFileProc proc) {
    Register(State().session.callbacks.skip_file, user, proc);
}

HEDGEROW_API void HEDGEROW_CALL SetSetCryptKeyProc(uint32_t user, CryptKeyProc proc) {
    Register(State().session.callbacks.crypt_key, user, proc);
}

HEDGEROW_API void HEDGEROW_CALL SetSetHeadCryptKeyProc(uint32_t user, HeadCryptKeyProc proc) {
    Register(State().session.callbacks.head_crypt_key, user, proc);
}

HEDGEROW_API void HEDGEROW_CALL SetOkToReplaceProc(uint32_t user, OkToReplaceProc proc) {
    Register(State().session.callbacks.ok_to_replace, user, proc);
}

HEDGEROW_API void HEDGEROW_CALL SetGetNextDiskProc(uint32_t user, GetNextDiskProc proc) {
    Register(State().session.callbacks.next_disk, user, proc);
}

HEDGEROW_API void HEDGEROW_CALL SetSetSfxProgressProc(uint32_t user, SfxProgressProc proc) {
    Register(State().session.callbacks.sfx_progress, user, proc);
}

HEDGEROW_API void HEDGEROW_CALL CreateArcFolder(void) {}

HEDGEROW_API void HEDGEROW_CALL DeleteFilesAndData(void) {}

}  // extern "C"
