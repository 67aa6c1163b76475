// rewrite.h -- the machinery shared by every operation that rewrites an archive (update,
// delete, lock, unlock): the new archive is written to a temporary file beside the old
// one, and only a complete, flushed file replaces it. Also the name keys by which entries
// and named files are compared.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_set>

#include "archive/temp_names.h"
#include "ops/context.h"
#include "platform/platform.h"
#include "sfxblocks/sfx_blocks.h"

namespace hedgerow::ops {

// A new archive being written beside the archive it will replace. Unless it was put in
// place, it is removed on every way out, so that a failed operation leaves the old
// archive as it was and no temporary file behind. It is private (mode 0600) from its
// first byte and gets its final permissions just before it takes its name.
struct NewArchiveFile {
    archive::TempFile temp;
    // The file it replaces or becomes: the archive's name, or, when that name is a
    // symbolic link, the file the link leads to, which is rewritten in its own directory
    // (the link stays a link, as an editor keeps it).
    std::string target;

    std::FILE* get() const { return temp.file.get(); }
    // Finds the target of archive_name, claims a temporary name beside it and opens it for
    // writing; kNoTempFile or kIoError on failure.
    [[nodiscard]] bool Create(Context& cx, const char* archive_name);
    // Flushes the file to disk, closes it and renames it over the target (replacing the
    // file there). kWriteError when the data cannot be flushed, kIoError when the rename
    // fails.
    [[nodiscard]] bool Commit(Context& cx);
    // The same for a new archive: the permissions of a new file (runnable too for a
    // self-extracting one), and the name taken only while it is free: kArchiveBusy when
    // another program made a file of that name in the meantime, which stays as it is.
    [[nodiscard]] bool CommitNew(Context& cx, bool runnable);
};

// Every entry of a rewrite must name a known cipher (crypto::IsKnownCipher): an archive
// with one that does not is damaged, and the rewrite refuses it (kBadFormat) before
// anything is written, so that no new entry takes over a cipher that is none.
[[nodiscard]] bool RefuseUnknownCiphers(Context& cx, const HidFileList& entries);

// The start of every rewrite: the new file beside the archive, the archive opened for
// reading and its head (everything up to the end of the marker record, a program in
// front of it included) copied. False with the status set.
[[nodiscard]] bool BeginRewrite(Context& cx, NewArchiveFile& out, platform::File& in);

// Copies length bytes of source from start to the current position of destination, in
// pieces of at most piece bytes. kIoError on a short read, kWriteError on a short write.
[[nodiscard]] bool CopyArchiveBytes(Context& cx, std::FILE* source, std::FILE* destination, uint64_t start, uint64_t length,
                      size_t piece = 16000);

// Entries and named files meet by name keys (names::NameKey): a named file is matched
// under the name it would be stored as (relative path, names-only option and the
// stored-name rule applied), an entry under its stored name.
using NameKeys = std::unordered_set<std::string>;
NameKeys NamedEntryKeys(const Session& session, const FileMaskList& named);
bool IsNamedEntry(const NameKeys& keys, const char* stored_name);

// The keys of a list of stored names (as masks); a named file is in the list when the
// name it would be stored as is.
NameKeys MaskListKeys(const FileMaskList& list);
bool IsNameInList(const Session& session, const NameKeys& keys, const char* name);

// Seals the configuration blocks of the program in front of a new file (see
// sfxblocks::SealFile) for its length, checksum and file count. False with the status set.
[[nodiscard]] bool SealPrefix(Context& cx, const sfxblocks::SealPlan& plan, NewArchiveFile& out, uint32_t files);

// Replaces the archive (its target: see NewArchiveFile) by the finished new file, which
// takes the old one's permissions (and, for a process running as root, its owner and
// group). kIoError when that fails; the archive is then left as it was. A self-extracting archive gets its configuration blocks sealed
// anew for its new length and contents, with added more files in its count, so that its
// program still accepts it.
[[nodiscard]] bool SwapInNewArchive(Context& cx, const char* archive_name, NewArchiveFile& new_file, uint32_t added = 0);

// Calls the host's FileNameProc, when registered, with a backslash and the name twice.
void AnnounceEntry(Context& cx, const char* stored_name);

// Calls the host's ProgressProc, when registered, with (100, 100); false (kCancelled)
// when it answers 0.
[[nodiscard]] bool ReportEntryDone(Context& cx);

}  // namespace hedgerow::ops
