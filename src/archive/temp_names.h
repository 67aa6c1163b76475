// temp_names.h -- temporary file names beside an archive or in the temporary directory,
// and the files under them.
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace hedgerow::archive {

inline constexpr size_t kTempNameCapacity = 261;

// Makes a name of the form <drive and directory of base><1 to 5 digits>.$HW and claims
// it by creating the file exclusively, so that no other writer can take the same name.
// With `file` given the new, empty file stays open there for writing; otherwise it is
// closed. False when no name could be claimed or the name would not fit into
// kTempNameCapacity bytes.
[[nodiscard]] bool MakeTempName(const char* base, char* out, platform::File* file);
// The same in the system's temporary directory. False when that directory is missing.
[[nodiscard]] bool MakeTempNameInTempDir(char* out, platform::File* file);

// A file under a claimed temporary name, open for writing. Unless Keep() was called the
// destructor closes and removes it, so that every way out of an operation that writes
// through a temporary file leaves none behind.
struct TempFile {
    char name[kTempNameCapacity] = {};
    platform::File file;

    // Claims a name beside base (MakeTempName) and opens it; false when none can be had.
    [[nodiscard]] bool Claim(const char* base);
    // Closes the file (after flushing it to disk when sync is set); false (the file
    // removed) when its data could not be written out.
    [[nodiscard]] bool Finish(bool sync);
    // Renames the finished file to target, replacing what is there; false (the file
    // removed) when the rename fails.
    [[nodiscard]] bool RenameTo(const char* target);
    void Discard();
    ~TempFile() { Discard(); }
};

// True when the first n bytes agree (true for n = 0).
bool CompareBytes(const void* a, const void* b, size_t n);

}  // namespace hedgerow::archive
