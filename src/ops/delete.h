// delete.h -- removing the entries that masks select: every other entry is copied byte
// for byte (never decoded) into a new archive that then replaces the old one.
#pragma once

#include "ops/context.h"
#include "hedgerow.h"

namespace hedgerow::ops {

// Fails with kNoEntries when the masks select nothing (nothing is rewritten), kCancelled
// when the host cancels, kIoError, kNoMemory or kWriteError. On every failure the archive
// is unchanged.
void DeleteFileMaskListHid(Context& cx, const FileMaskList& masks);

}  // namespace hedgerow::ops
