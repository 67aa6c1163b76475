// extract.h -- writing the entries that masks select back to disk: decompressed,
// deciphered, checked against their CRC, with their time stamps and attributes.
#pragma once

#include "ops/context.h"
#include "hedgerow.h"

namespace hedgerow::ops {

// Extracts every selected entry below the output path. The first failure stops the
// operation (entries extracted before it stay): kNoEntries nothing selected; kIoError,
// kNoMemory, kWriteError, kCancelled; kBadPassword (no or wrong data password);
// kCrcError (damaged data); kNameTooLong (a path too long); kUnsafeName (a stored name
// that would leave the output directory).
void ExtractFileMaskListHid(Context& cx, const FileMaskList& masks);

}  // namespace hedgerow::ops
