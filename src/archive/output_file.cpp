// output_file.cpp -- output paths, directory creation and safe replacement of targets.
#include "archive/output_file.h"

#include <cstring>
#include <vector>

#include "names/paths.h"
#include "names/short_string.h"

namespace hedgerow::archive {

bool BuildOutputPath(Session& session, const char* stored_name, char destination[kOutputPathCapacity],
                     size_t* relative_start) {
    destination[0] = '\0';
    if (session.output_path_refused) return Fail(session, Status::kNameTooLong);
    // Whatever the stored name says, the file lands below the output path: no drive, no
    // root, no server, no way up.
    std::vector<std::string> parts;
    if (!names::OutputParts(stored_name, session.relative_path, OptionOn(session, kOptRestorePaths), &parts)) {
        return Fail(session, Status::kUnsafeName);
    }
    std::string path = session.output_path;
    *relative_start = path.size();
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) path += '\\';
        path += parts[i];
    }
    if (path.size() + 1 > kOutputPathCapacity) return Fail(session, Status::kNameTooLong);
    std::memcpy(destination, path.c_str(), path.size() + 1);
    return true;
}

bool CreateOutputFile(Session& session, const char* path, size_t relative_start, OutputFile& out) {
    const std::string full = path;
    out.target = full;
    // Leave a UNC server and share alone: they are not directories to create.
    const size_t first = names::SplitUncPath(full).root.size();
    for (size_t i = first; i < full.size(); ++i) {
        if (!names::IsSeparator(full[i]) || i == 0) continue;
        const std::string directory = full.substr(0, i);
        // a drive, or a doubled separator
        if (directory.back() == ':' || names::IsSeparator(directory.back())) continue;
        if (i > relative_start && platform::IsSymbolicLink(directory.c_str())) {
            return Fail(session, Status::kUnsafeName);
        }
        if (names::FileExists(directory.c_str())) {
            if (!platform::IsDirectory(directory.c_str())) return Fail(session, Status::kIoError);
            continue;
        }
        if (!platform::MakeDirectory(directory.c_str())) return Fail(session, Status::kIoError);
    }
    if (platform::IsSymbolicLink(path)) return Fail(session, Status::kUnsafeName);
    if (platform::IsDirectory(path)) return Fail(session, Status::kIoError);
    if (!out.temp.Claim(path)) return Fail(session, Status::kIoError);
    return true;
}

bool OutputFile::Commit(Session& session) {
    if (!temp.Finish(false)) return Fail(session, Status::kWriteError);
    // A symbolic link planted while the file was written is not followed either.
    if (platform::IsSymbolicLink(target.c_str())) {
        temp.Discard();
        return Fail(session, Status::kUnsafeName);
    }
    return temp.RenameTo(target.c_str()) || Fail(session, Status::kIoError);
}

}  // namespace hedgerow::archive
