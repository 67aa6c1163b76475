// output_file.h -- where an extracted (or unhidden) file goes, and how it gets there:
// the output path built from a stored name, refused when the name would lead outside
// the output directory; missing directories created; the data written to a temporary
// file beside the target that replaces the target only once it is complete.
#pragma once

#include <cstddef>

#include "archive/temp_names.h"
#include "common/session.h"
#include "platform/platform.h"

namespace hedgerow::archive {

inline constexpr size_t kOutputPathCapacity = 256;

// The output path of a stored name: the output path followed by the name (without the
// relative path in front of it; only the file name when arOptRestorePaths is off).
// Drive letters, UNC prefixes, leading separators and "." parts are dropped; a ".."
// part refuses the name (kUnsafeName), and so does a name that leaves nothing.
// kNameTooLong when the result would not fit kOutputPathCapacity bytes or the output
// path was refused. On success *relative_start is where the part below the output
// path begins.
[[nodiscard]] bool BuildOutputPath(Session& session, const char* stored_name,
                                   char destination[kOutputPathCapacity], size_t* relative_start);

// An output file being written. The data goes to a temporary file beside the target;
// Commit() puts it in place, and the destructor removes it unless it was committed, so a
// failed or cancelled extraction leaves no partial file and never damages a file that
// was already there.
struct OutputFile {
    char target[kOutputPathCapacity] = {};
    archive::TempFile temp;

    std::FILE* get() const { return temp.file.get(); }
    [[nodiscard]] bool Commit(Session& session);
};

// Creates the directories of path that are missing (from the outermost inwards) and
// opens the temporary file for it. No part of the path at or after relative_start may be
// a symbolic link (kUnsafeName), nor the target a directory (kIoError). kIoError when a
// directory or the file cannot be created; kNameTooLong when path does not fit
// kOutputPathCapacity bytes.
[[nodiscard]] bool CreateOutputFile(Session& session, const char* path, size_t relative_start, OutputFile& out);

// Makes the directory path and every directory on the way below relative_start that is
// missing (an empty-directory entry), under the rules of CreateOutputFile: a part that is
// a symbolic link is kUnsafeName, one that is a file kIoError.
[[nodiscard]] bool MakeOutputDirectory(Session& session, const char* path, size_t relative_start);

}  // namespace hedgerow::archive
