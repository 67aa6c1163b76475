// extract.h -- writing the entries that masks select back to disk: decompressed,
// deciphered, checked against their CRC, with their time stamps and attributes.
#pragma once

#include "ops/context.h"
#include "hedgerow.h"

namespace hedgerow::ops {

// Extracts every selected entry below the output path. A damaged entry is left out (told
// to SkipFileProc) and the walk goes on (kDamagedEntries at the end; see damage.h for when
// a failed check is damage in a legacy archive); a damaged record ends the listing, the
// entries before it are extracted (kBadFormat). Any other failure stops the operation
// (entries extracted before it stay): kNoEntries nothing selected; kIoError, kNoMemory,
// kWriteError, kCancelled; kBadPassword (no or wrong data password); kNameTooLong (a path
// too long); kUnsafeName (a stored name that would leave the output directory).
void ExtractFileMaskListHid(Context& cx, const FileMaskList& masks);

// Extracts the entries of list (as the archive's listing made it) as
// ExtractFileMaskListHid does, for hosts that choose the entries themselves. Leaves the
// status word as it finds it unless a step fails. *kept (when given) counts the entries
// not written because the host kept an existing file.
void ExtractEntries(Context& cx, const HidFileList& list, uint32_t* kept);

// Checks every entry of list without writing anything: deciphers and expands its data
// and compares size and CRC, asking for the data password as extraction does (and again
// after an enciphered entry failed its check). The first failure stops the walk, with
// the statuses of extraction (kCrcError: damaged data); the entry it stopped at is
// returned, null when every entry is whole.
const HidFileEntry* CheckEntries(Context& cx, const HidFileList& list);

}  // namespace hedgerow::ops
