// output_file.h -- where an extracted (or unhidden) file goes, and how it gets there:
// the output path built from a stored name, refused when the name would lead outside
// the output directory; the output directory opened once, the directories below it
// walked and created through handles, never through a link; the data written to a
// private temporary file beside the target, which becomes the target only once it is
// complete and has its final time stamp, attributes and permissions. Nothing here
// allocates through the C++ run-time: the self-extractor program extracts with it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/records.h"
#include "archive/temp_names.h"
#include "common/session.h"
#include "platform/platform.h"

namespace hedgerow::archive {

// Room for the host's output path and any stored name below it: every name an archive
// can hold has an output path (the system's own limits still apply).
inline constexpr size_t kOutputPathCapacity = static_cast<size_t>(hedgerow::kOutputPathCapacity) + kNameFieldSize;

// The output path of a stored name: the output path followed by the name (without the
// relative path in front of it; only the file name when arOptRestorePaths is off), its
// parts joined by backslashes. Drive letters, UNC prefixes, leading separators and "."
// parts are dropped; a ".." part refuses the name (kUnsafeName), and so does a name that
// leaves nothing. kNameTooLong when the host's output path was refused. On success
// *relative_start is where the part below the output path begins.
[[nodiscard]] bool BuildOutputPath(Session& session, const char* stored_name,
                                   char destination[kOutputPathCapacity], size_t* relative_start);

// The output directory of one extraction: opened once, by the host's output path (created
// first, with any directory missing on the way, when it does not exist), when the first
// file is written; every file goes below it through handles.
struct OutputRoot {
    platform::Directory dir;
};

// What a finished output file is given before it takes its name.
struct OutputForm {
    uint32_t attributes = platform::kAttrArchive;  // the attribute word (read-only included)
    bool timed = false;          // set the last-write time below
    int64_t seconds = 0;         // the last-write time: seconds since 1970, UTC
    uint32_t nanoseconds = 0;
    bool time_may_fail = false;  // a time the file system cannot hold is left as it comes
    uint32_t mode = 0;           // POSIX permission bits; 0: a new file's (no write when read-only)
};
// The form of an archive entry: its attributes and its DOS stamp as the time; false when
// the stamp is no time.
[[nodiscard]] bool FormOfStamp(uint32_t stamp, uint32_t attributes, OutputForm* form);

// An output file being written, under a temporary name in the directory that will hold
// it. Commit() puts it in place; the destructor removes it unless it was committed, so a
// failed or cancelled extraction leaves no partial file and never damages a file that
// was already there.
struct OutputFile {
    platform::Directory below;                    // the directory that holds the file, below the root
    const platform::Directory* parent = nullptr;  // that directory, or the root's
    char name[kNameFieldSize] = {};               // the file's own name there
    char temp[kTempPartCapacity] = {};            // the temporary name it is written under, in parent
    platform::File file;                          // open for writing until Commit

    std::FILE* get() const { return file.get(); }
    // Gives the file its final form while it is still open and private (its permissions,
    // attribute word and time), then closes it and renames it over the target, replacing
    // what is there. kWriteError when its data cannot be written out, kIoError when the
    // time cannot be set or the rename fails; the file is removed then.
    [[nodiscard]] bool Commit(Session& session, const OutputForm& form = {});
    void Discard();
    ~OutputFile() { Discard(); }
};

// Opens the directories of path below relative_start (all parts but the last, created
// when missing) below the root, each relative to the one before it, and creates the
// temporary file for the last. A part that is a symbolic link, or a target that is one,
// refuses the name (kUnsafeName), unless link_may_go says that a link at the target is
// to be replaced (never followed: Commit renames over it), as a link entry replaces the
// link an earlier extraction made; a part that is a file, or a target that is a
// directory, is kIoError, as is a directory or file that cannot be created (kNoTempFile
// when every temporary name is taken).
[[nodiscard]] bool CreateOutputFile(Session& session, OutputRoot& root, const char* path, size_t relative_start,
                                    OutputFile& out, bool link_may_go = false);

// Makes the directory path (an empty-directory entry) and every directory on the way
// below relative_start that is missing, under the rules of CreateOutputFile (a part that
// is a symbolic link is kUnsafeName, one that is a file kIoError), and leaves it open in
// *made, for its time and mode to be set through the handle.
[[nodiscard]] bool MakeOutputDirectory(Session& session, OutputRoot& root, const char* path, size_t relative_start,
                                       platform::Directory* made);

}  // namespace hedgerow::archive
