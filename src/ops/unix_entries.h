// unix_entries.h -- what extraction does with the metadata extension of a legacy entry:
// the exact modification time and the mode bits on the finished file, empty directories
// made as directories, and symbolic links made as links when they lead to a place inside
// the output directory. Everything goes through the directory handles of the output.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/output_file.h"
#include "hedgerow.h"
#include "ops/context.h"

namespace hedgerow::ops {

// The self-extractor's compact build stays within its size: it makes empty directories
// and links as a reader that ignores the extension does (an empty file, a small file
// holding the link's target text), and gives files their DOS stamp.
#ifdef HEDGEROW_COMPACT
inline constexpr bool kUnixEntriesBuilt = false;
#else
inline constexpr bool kUnixEntriesBuilt = true;
#endif

// Permission bits as extraction restores them: set-user-id and set-group-id only with
// arOptKeepSetId.
uint32_t RestoredMode(const Context& cx, uint32_t mode);

// The form an entry's finished file is given: its attributes and DOS stamp, and, when
// the entry keeps the extension (HEDGEROW_META_KEPT), its exact time and mode bits (a
// time the file system cannot hold is left as it comes). False when the stamp is no time.
[[nodiscard]] bool FormOfEntry(const Context& cx, const HidFileEntry& entry, archive::OutputForm* form);

// An empty-directory entry: makes the directory (and those on the way) below the output
// root, and gives it its time and mode. False with the status set when it cannot be made.
[[nodiscard]] bool MakeDirectoryEntry(Context& cx, archive::OutputRoot& root, const HidFileEntry& entry,
                                      const char* path, size_t relative_start);

// A symbolic-link entry whose target text has been written to out, not yet committed:
// the link takes the file's place when its target stays inside the output directory. A
// target that leads outside is not made: the file goes and nothing stays at its place
// (the host can tell by that, as the command does, and name it). Where no link can be
// made (a system or file system without them) the file with the target text is
// committed with form. False with the status set when the run stops.
[[nodiscard]] bool CommitLinkEntry(Context& cx, const HidFileEntry& entry, const char* path, size_t relative_start,
                                   archive::OutputFile& out, const archive::OutputForm& form);

}  // namespace hedgerow::ops
