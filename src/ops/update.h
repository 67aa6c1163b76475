// update.h -- adding files to an existing archive: entries that a named file replaces are
// left out (when the host agrees), every other entry is copied unchanged, the named
// files are appended, and the rewritten archive replaces the old one.
#pragma once

#include "ops/context.h"
#include "hedgerow.h"

namespace hedgerow::ops {

// Fails with kNothingToDo when the masks name no file, kCancelled when the host cancels,
// kIoError, kNoMemory, kWriteError and the failures of the per-file step. On every
// failure the archive is left byte for byte as it was.
void UpdateArchive(Context& cx, const FileMaskList& masks);

}  // namespace hedgerow::ops
