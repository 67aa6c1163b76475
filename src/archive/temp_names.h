// temp_names.h -- temporary file names beside an archive, in the temporary directory or
// inside an opened directory, and the files under them.
#pragma once

#include <cstddef>

#include "common/session.h"
#include "platform/platform.h"

namespace hedgerow::archive {

inline constexpr size_t kTempNameCapacity = 261;

// How claiming a temporary name went.
enum class TempClaim {
    kClaimed,    // the name is ours: its file was created exclusively
    kExhausted,  // every name tried was taken (kNoTempFile)
    kFailed,     // the directory refused to create a file (kIoError)
};

// Temporary names have the form <digits>.$HW. Candidates are the numbers 0 to 32767 (one
// to five digits, the classic form), tried upwards from a random one; when another
// program has taken all of them, random numbers of sixteen digits follow. A name is
// claimed by creating its file exclusively, so that no other writer can take the same
// name, and a name that is taken in between is passed over.

// A name of the form <drive and directory of base><digits>.$HW claimed beside base. With
// `file` given the new, empty file stays open there for writing; otherwise it is closed.
// kFailed also when the name would not fit into kTempNameCapacity bytes.
TempClaim ClaimTempName(const char* base, char* out, platform::File* file);
// ClaimTempName as a yes or no.
[[nodiscard]] bool MakeTempName(const char* base, char* out, platform::File* file);
// The same in the system's temporary directory; kFailed when that directory is missing.
TempClaim ClaimTempNameInTempDir(char* out, platform::File* file);
[[nodiscard]] bool MakeTempNameInTempDir(char* out, platform::File* file);
// The longest temporary name, terminator included.
inline constexpr size_t kTempPartCapacity = 24;
// A name of the same form claimed inside an opened directory, its file open for writing.
TempClaim ClaimTempNameAt(const platform::Directory& dir, char name[kTempPartCapacity], platform::File* file);

// A file under a claimed temporary name, open for writing. Unless Keep() was called the
// destructor closes and removes it, so that every way out of an operation that writes
// through a temporary file leaves none behind.
struct TempFile {
    char name[kTempNameCapacity] = {};
    platform::File file;

    // Claims a name beside base and opens it; false with kNoTempFile or kIoError (see
    // TempClaim) when none can be had.
    [[nodiscard]] bool Claim(Session& session, const char* base);
    // Closes the file (after flushing it to disk when sync is set); false (the file
    // removed) when its data could not be written out.
    [[nodiscard]] bool Finish(bool sync);
    // Renames the finished file to target, replacing what is there; false (the file
    // removed) when the rename fails.
    [[nodiscard]] bool RenameTo(const char* target);
    // Renames the finished file to target only when nothing has that name (see
    // platform::RenameToFreeName); the file is removed when it is not renamed.
    platform::Renamed RenameToFreeName(const char* target);
    void Discard();
    ~TempFile() { Discard(); }
};

// The status of a claim that failed.
Status ClaimFailure(TempClaim claim);

// True when the first n bytes agree (true for n = 0).
bool CompareBytes(const void* a, const void* b, size_t n);

}  // namespace hedgerow::archive
