// lock.h -- enciphering the entry records of an archive with a header password (lock, also
// used to change that password) and writing them in plain again (unlock). The entries'
// data is copied unchanged.
#pragma once

#include "ops/context.h"

namespace hedgerow::ops {

// Rewrites every record enciphered with the header password for enciphering. A locked
// archive's records are first deciphered with the header password for deciphering
// (asking HeadCryptKeyProc when it fails); an archive that is not locked yet is locked.
// Status 0; 2, 5, 9999, 9967 from the reopening; 9953 without a header password for
// enciphering; 9906 no entry; 9961 the host gave up; 2926, 8, 101.
void LockArchive(Context& cx, const char* name);

// Rewrites every record in plain and clears the marker's locked flag. An archive that is
// not locked is left alone (status 0).
void UnlockArchive(Context& cx, const char* name);

}  // namespace hedgerow::ops
