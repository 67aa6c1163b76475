// open_list.h -- naming an archive (existing or new), listing its entries by mask, and
// the reopening that locking and unlocking start with. The archive file stays closed
// between calls: each routine opens it, works and closes it again.
#pragma once

#include "archive/archive_state.h"
#include "common/session.h"
#include "hedgerow.h"

namespace hedgerow::archive {

// Loads the settings and opens an existing archive: finds the marker and the first
// entry record, then clears the callback procedures (all but the header-password one).
// Clears the status word first (an entry point). Fails with kNotFound (no such file:
// the new-archive flag is set and the name cleared), kIoError, kNotAnArchive (no
// marker), kBadPassword (no entry record passes its check), kNameTooLong.
void InitHidFile(Session& session, ArchiveState& archive, const char* name, const HidFileSettings* settings);

// Prepares a new archive: refuses an empty data password (kNoPassword), locking without
// a header password (kNoPassword) and the name of an existing file (kIoError).
void CreateHidFile(Session& session, ArchiveState& archive, const char* name, const HidFileSettings* settings);

// Forgets the archive name and the input path.
void DoneHidFile(Session& session, ArchiveState& archive);

void InitHidFileList(HidFileList& list);
// Fills the list with the entries whose names match the masks (all for an empty list),
// in archive order. kNoEntries when nothing matched; kIoError when the archive cannot be
// opened or read; kNoMemory when memory runs out (the list keeps what it had);
// kBadFormat when a damaged record ends the walk (the entries before it stay listed). A
// failure keeps its code also when it leaves the list empty.
void BuildHidFileList(Session& session, ArchiveState& archive, HidFileList& list, const FileMaskList& masks);
// The same walk for the operations, where an empty list is no failure: false (status
// set) only when a failure ended the walk.
[[nodiscard]] bool ListEntries(Session& session, ArchiveState& archive, HidFileList& list, const FileMaskList& masks);
// The same walk over every entry, without masks (no allocation beyond the list's own).
[[nodiscard]] bool ListAllEntries(Session& session, ArchiveState& archive, HidFileList& list);
void DoneHidFileList(HidFileList& list);
// Links an allocated entry at the end of the list (its next pointer cleared) and counts it.
void AppendToList(HidFileList& list, HidFileEntry* listed);

// The first step of locking and unlocking: clears the callback registrations and the
// archive state, takes the archive as locked with cipher id 0 and finds its first
// record by deciphering. False with kNotFound, kIoError, kNotAnArchive, kBadPassword (the
// host gave up on the header password) or kNothingToDo (no record deciphers). With
// assume_locked false the records are taken as plain (for locking an archive that is not
// locked yet).
[[nodiscard]] bool ReopenHidFile(Session& session, ArchiveState& archive, const char* name, bool assume_locked = true);

}  // namespace hedgerow::archive
