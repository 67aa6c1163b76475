// strong_archive.h -- the operations on strong archives: listing, extracting, creating,
// updating, deleting and changing the password. The exported functions choose them when
// the named archive is strong (or, new, is to be: cipher id 3). One Argon2id derivation
// per operation at most: the master key is kept in the archive state for the calls that
// follow on the same archive with the same password.
#pragma once

#include "hedgerow.h"
#include "ops/context.h"

namespace hedgerow::ops {

// BuildHidFileList of a strong archive: the entries whose names match the masks, in
// archive order (sizes in full with their high halves, modes and exact times). Fails with
// kBadPassword (wrong or no password), kBadFormat (damaged: the entries before the damage
// stay listed), kIoError, kNoMemory; kNoEntries when nothing matched.
void ListStrongArchive(Context& cx, HidFileList& list, const FileMaskList& masks);

// Extracting the entries, or checking them only (decoded and authenticated, written nowhere).
enum class ReadMode { kExtract, kCheck };

// Extracts the selected entries below the output path, as ExtractFileMaskListHid does, or
// checks them. An entry whose data fails its check is damaged: its output is removed, the
// host's SkipFileProc (when registered) is told its name (answer 2 cancels), the next
// entries are still read, and the operation ends with kDamagedEntries. A damaged or
// missing record ends the walk with kBadFormat. Checking tells the host each entry's name
// through FileNameProc with an empty path.
void ReadStrongArchive(Context& cx, const FileMaskList& masks, ReadMode mode);

// Writes a new strong archive of the files the masks name (CompressFileMaskListHid after
// CreateHidFile with cipher id 3); files receives the named files.
void CreateStrongArchive(Context& cx, const FileMaskList& masks, FileMaskList& files);

// Adds the named files to the open strong archive, replacing entries of the same name as
// the host agrees (the rules of an update).
void UpdateStrongArchive(Context& cx, const FileMaskList& masks);

// Removes the entries the masks select (kNoEntries when none).
void DeleteFromStrongArchive(Context& cx, const FileMaskList& masks);

// Changes the password of the named strong archive to new_password: a new salt and the
// records sealed anew; the entries' data is copied unchanged. kNoPassword for an empty
// new password; kUnsupported for an archive that is not strong (use LockArchive).
void ChangeStrongPassword(Context& cx, const char* archive_name, const char* new_password);

}  // namespace hedgerow::ops
