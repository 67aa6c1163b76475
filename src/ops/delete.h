// delete.h -- removing the entries that masks select: every other entry is copied byte
// for byte (never decoded) into a new archive that then replaces the old one.
#pragma once

#include "ops/context.h"
#include "hedgerow.h"

namespace hedgerow::ops {

// Status 0 on success; 9906 when the masks select nothing (nothing is rewritten); 2926
// when the host cancels; 5, 8, 101 on failure. On every failure the archive is unchanged.
void DeleteFileMaskListHid(Context& cx, const FileMaskList& masks);

}  // namespace hedgerow::ops
