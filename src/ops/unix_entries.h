// unix_entries.h -- what extraction does with the metadata extension of a legacy entry:
// the exact modification time and the mode bits on the finished file, empty directories
// made as directories, and symbolic links made as links when they lead to a place inside
// the output directory.
#pragma once

#include <cstddef>

#include "hedgerow.h"
#include "ops/context.h"

namespace hedgerow::ops {

// The self-extractor's compact build stays within its size: it restores times and modes
// but makes empty directories and links as a reader that ignores the extension does (an
// empty file, a small file holding the link's target text).
#ifdef HEDGEROW_COMPACT
inline constexpr bool kUnixEntriesBuilt = false;
#else
inline constexpr bool kUnixEntriesBuilt = true;
#endif

// Sets the exact time and the mode bits the entry keeps (HEDGEROW_META_KEPT) on path;
// set-user-id and set-group-id bits only with arOptKeepSetId. A time or mode the file
// system refuses is left as it comes. Nothing without the extension.
void RestoreUnixMetadata(const Context& cx, const HidFileEntry& entry, const char* path);

// An empty-directory entry: makes the directory (and those on the way), with its time
// and mode. False with the status set when it cannot be made.
[[nodiscard]] bool MakeDirectoryEntry(Context& cx, const HidFileEntry& entry, const char* path,
                                      size_t relative_start);

// A symbolic-link entry whose target text has just been written to path as a file: the
// file becomes the link when the target stays inside the output directory. A target that
// leads outside is not made: the file goes and nothing stays at its place (the host can
// tell by that, as the command does, and name it). Where no link can be made
// (a system or file system without them) the file with the target text stays. False
// with the status set when the run stops.
[[nodiscard]] bool MakeLinkEntry(Context& cx, const HidFileEntry& entry, const char* path, size_t relative_start);

}  // namespace hedgerow::ops
