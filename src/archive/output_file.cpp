// output_file.cpp -- output paths, directory creation and safe replacement of targets.
#include "archive/output_file.h"

#include <cstring>
#include <vector>

#include "names/short_string.h"

namespace hedgerow::archive {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Splits on either separator, dropping empty and "." parts. False when a part is "..".
bool SafeParts(const std::string& name, std::vector<std::string>* parts) {
    std::string part;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || IsSeparator(name[i])) {
            if (part == "..") return false;
            if (!part.empty() && part != ".") parts->push_back(part);
            part.clear();
        } else {
            part += name[i];
        }
    }
    return true;
}

}  // namespace

bool BuildOutputPath(Session& session, const char* stored_name, char destination[kOutputPathCapacity],
                     size_t* relative_start) {
    destination[0] = '\0';
    if (session.output_path_refused) return Fail(session, Status::kNameTooLong);
    std::string name = stored_name;
    for (char& c : name) {
        if (c == '/') c = '\\';
    }
    if (!OptionOn(session, kOptRestorePaths)) {
        const size_t cut = name.find_last_of("\\:");
        if (cut != std::string::npos) name.erase(0, cut + 1);
    } else {
        if (!name.empty() && name[0] == '\\') name.erase(0, 1);
        const size_t relative_length = std::strlen(session.relative_path);
        if (relative_length > 0 && relative_length < name.size()) name.erase(0, relative_length + 1);
    }
    // Whatever the stored name says, the file lands below the output path: no drive, no
    // root, no server, no way up.
    while (!name.empty() && IsSeparator(name[0])) name.erase(0, 1);
    if (name.size() >= 2 && name[1] == ':') name.erase(0, 2);
    std::vector<std::string> parts;
    if (!SafeParts(name, &parts) || parts.empty()) return Fail(session, Status::kUnsafeName);
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
    size_t first = 0;
    if (full.size() >= 2 && IsSeparator(full[0]) && IsSeparator(full[1])) {
        std::vector<char> rest(full.size() + 2);
        std::vector<char> root(full.size() + 2);
        SplitUncPath(path, rest.data(), root.data());
        first = std::strlen(root.data());
    }
    for (size_t i = first; i < full.size(); ++i) {
        if (!IsSeparator(full[i]) || i == 0) continue;
        const std::string directory = full.substr(0, i);
        if (directory.back() == ':' || IsSeparator(directory.back())) continue;  // a drive, or a doubled separator
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
