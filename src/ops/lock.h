// lock.h -- enciphering the entry records of an archive with a header password (lock, also
// used to change that password) and writing them in plain again (unlock). The entries'
// data is copied unchanged.
#pragma once

#include "ops/context.h"

namespace hedgerow::ops {

// Rewrites every record enciphered with the header password for enciphering. A locked
// archive's records are first deciphered with the header password for deciphering
// (asking HeadCryptKeyProc when it fails); an archive that is not locked yet is locked.
// Fails with what the reopening reports (kNotFound, kIoError, kNotAnArchive,
// kNothingToDo, kBadPassword when the host gave up), kNoPassword without a header
// password for enciphering, kNoEntries without an entry, and kCancelled, kNoMemory or
// kWriteError on the way. The archive is unchanged on every failure.
void LockArchive(Context& cx, const char* name);

// Rewrites every record in plain and clears the marker's locked flag. An archive that is
// not locked is left alone (kOk).
void UnlockArchive(Context& cx, const char* name);

}  // namespace hedgerow::ops
