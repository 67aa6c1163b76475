// compress.h -- CompressFileMaskListHid: what putting files into the named archive means
// for each kind of archive: a new one, a new self-extracting one, or an update.
#pragma once

#include "hedgerow.h"
#include "ops/context.h"

namespace hedgerow::ops {

// Creates the archive that CreateHidFile prepared (a self-extracting one when its settings
// ask for it; the host's list is then freed), or updates the one InitHidFile opened.
// Does nothing unless the status word is 0.
void CompressFileMaskListHid(Context& cx, FileMaskList& masks);

}  // namespace hedgerow::ops
