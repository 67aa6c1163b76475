// output_file.cpp -- output paths, directory creation and safe replacement of targets.
#include "archive/output_file.h"

#include <cstring>

#include "names/paths.h"
#include "names/short_string.h"

namespace hedgerow::archive {

bool BuildOutputPath(Session& session, const char* stored_name, char destination[kOutputPathCapacity],
                     size_t* relative_start) {
    destination[0] = '\0';
    if (session.output_path_refused) return Fail(session, Status::kNameTooLong);
    // Whatever the stored name says, the file lands below the output path: no drive, no
    // root, no server, no way up.
    const size_t base = strnlen(session.output_path, sizeof session.output_path);
    if (base >= kOutputPathCapacity) return Fail(session, Status::kNameTooLong);
    std::memcpy(destination, session.output_path, base);
    *relative_start = base;
    switch (names::OutputPathOf(stored_name, session.relative_path, OptionOn(session, kOptRestorePaths),
                                destination + base, kOutputPathCapacity - base)) {
        case names::OutputName::kWritten: return true;
        case names::OutputName::kRefused: destination[0] = '\0'; return Fail(session, Status::kUnsafeName);
        case names::OutputName::kTooLong: break;
    }
    destination[0] = '\0';
    return Fail(session, Status::kNameTooLong);
}

namespace {

// Makes each directory that path (length bytes) names before a separator and that does not exist yet;
// one at or after relative_start that is a symbolic link refuses the path (kUnsafeName),
// one that is a file is kIoError.
bool MakeDirectoriesOf(Session& session, const char* path, size_t length, size_t relative_start) {
    // Each directory of the path in turn, as the path's first i bytes.
    char directory[kOutputPathCapacity];
    // Leave a UNC server and share alone: they are not directories to create.
    const size_t first = names::UncRootLength(path);
    for (size_t i = first; i < length; ++i) {
        if (!names::IsSeparator(path[i]) || i == 0) continue;
        // a drive, or a doubled separator
        if (path[i - 1] == ':' || names::IsSeparator(path[i - 1])) continue;
        std::memcpy(directory, path, i);
        directory[i] = '\0';
        if (i > relative_start && platform::IsSymbolicLink(directory)) {
            return Fail(session, Status::kUnsafeName);
        }
        if (names::FileExists(directory)) {
            if (!platform::IsDirectory(directory)) return Fail(session, Status::kIoError);
            continue;
        }
        if (!platform::MakeDirectory(directory)) return Fail(session, Status::kIoError);
    }
    return true;
}

}  // namespace

bool CreateOutputFile(Session& session, const char* path, size_t relative_start, OutputFile& out) {
    const size_t length = std::strlen(path);
    if (length >= sizeof out.target) return Fail(session, Status::kNameTooLong);
    std::memcpy(out.target, path, length + 1);
    if (!MakeDirectoriesOf(session, path, length, relative_start)) return false;
    if (platform::IsSymbolicLink(path)) return Fail(session, Status::kUnsafeName);
    if (platform::IsDirectory(path)) return Fail(session, Status::kIoError);
    if (!out.temp.Claim(path)) return Fail(session, Status::kIoError);
    return true;
}

bool MakeOutputDirectory(Session& session, const char* path, size_t relative_start) {
    // The directory itself too: the path with a separator behind it.
    char with_separator[kOutputPathCapacity + 1];
    const size_t length = std::strlen(path);
    if (length + 1 >= sizeof with_separator) return Fail(session, Status::kNameTooLong);
    std::memcpy(with_separator, path, length);
    with_separator[length] = '\\';
    with_separator[length + 1] = '\0';
    return MakeDirectoriesOf(session, with_separator, length + 1, relative_start);
}

bool OutputFile::Commit(Session& session) {
    if (!temp.Finish(false)) return Fail(session, Status::kWriteError);
    // A symbolic link planted while the file was written is not followed either.
    if (platform::IsSymbolicLink(target)) {
        temp.Discard();
        return Fail(session, Status::kUnsafeName);
    }
    return temp.RenameTo(target) || Fail(session, Status::kIoError);
}

}  // namespace hedgerow::archive
