// no_strong_archives.cpp -- the operations on strong archives as the extractor program's
// copy of the library has them: none. Self-extracting archives are of the legacy kind
// only, and the program carries no cryptographic library; should it ever be handed a
// strong archive, every operation on it ends with kUnsupported.
#include "ops/strong_archive.h"

namespace hedgerow::ops {

void ListStrongArchive(Context& cx, HidFileList&, const FileMaskList&) { Fail(cx.session, Status::kUnsupported); }
void ReadStrongArchive(Context& cx, const FileMaskList&, ReadMode) { Fail(cx.session, Status::kUnsupported); }
void CreateStrongArchive(Context& cx, const FileMaskList&, FileMaskList&) { Fail(cx.session, Status::kUnsupported); }
void UpdateStrongArchive(Context& cx, const FileMaskList&) { Fail(cx.session, Status::kUnsupported); }
void DeleteFromStrongArchive(Context& cx, const FileMaskList&) { Fail(cx.session, Status::kUnsupported); }
void ChangeStrongPassword(Context& cx, const char*, const char*) { Fail(cx.session, Status::kUnsupported); }

}  // namespace hedgerow::ops
