// check.h -- TestFileMaskListHid: every selected entry decoded and checked as extraction
// would, nothing written; damaged entries are named to the host and the walk goes on.
#pragma once

#include "hedgerow.h"
#include "ops/context.h"

namespace hedgerow::ops {

// Checks the entries the masks select (every entry for an empty list). Each one is named
// through FileNameProc (the stored name with a leading '\', an empty path). An entry whose
// data fails its check is damaged: SkipFileProc is told its name (answer 2 cancels) and
// the next entries are still checked; the call ends with kDamagedEntries when there was
// one, with kOk when every entry is whole. In a legacy archive, an enciphered entry that
// fails its CRC is damaged once the data password is proven (see damage.h); when nothing
// proves it, the call ends with kBadPassword.
// kNoEntries when nothing is selected; kBadFormat when a damaged record ends the listing
// (the entries before it are checked); kIoError, kNoMemory, kCancelled.
void TestFileMaskListHid(Context& cx, const FileMaskList& masks);

}  // namespace hedgerow::ops
