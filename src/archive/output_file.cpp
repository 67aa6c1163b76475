// output_file.cpp -- output paths, the output directory, the walk below it by handles
// and the safe replacement of targets.
#include "archive/output_file.h"

#include <cstring>
#include <utility>

#include "names/paths.h"
#include "names/short_string.h"

namespace hedgerow::archive {

namespace {

// Creates the directories of the host's output path that are missing, from the outermost
// inwards (a drive, a UNC server and share, and doubled separators are left alone).
// Links on the way are followed: the host chose this path.
bool MakeOutputPath(const char* path, size_t length) {
    char directory[hedgerow::kOutputPathCapacity];
    if (length >= sizeof directory) return false;
    const size_t first = names::UncRootLength(std::string_view(path, length));
    for (size_t i = first; i <= length; ++i) {
        if ((i < length && !names::IsSeparator(path[i])) || i == 0) continue;
        if (path[i - 1] == ':' || names::IsSeparator(path[i - 1])) continue;
        std::memcpy(directory, path, i);
        directory[i] = '\0';
        if (platform::IsDirectory(directory)) continue;
        if (names::FileExists(directory) || !platform::MakeDirectory(directory)) return false;
    }
    return true;
}

bool OpenRoot(Session& session, OutputRoot& root) {
    if (root.dir.IsOpen()) return true;
    char path[hedgerow::kOutputPathCapacity];
    size_t length = strnlen(session.output_path, sizeof session.output_path);
    if (length >= sizeof path) return Fail(session, Status::kNameTooLong);
    std::memcpy(path, session.output_path, length);
    path[length] = '\0';
    if (!MakeOutputPath(path, length)) return Fail(session, Status::kIoError);
    // Without its closing separator, unless that is all there is of a root ("/", "C:\").
    while (length > 1 && names::IsSeparator(path[length - 1]) && path[length - 2] != ':') path[--length] = '\0';
    return platform::OpenDirectory(path, &root.dir) || Fail(session, Status::kIoError);
}

}  // namespace

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

// Opens, below the root, each directory that the parts of path below relative_start name
// (backslash-separated, as BuildOutputPath writes them, none empty), all but the last one
// unless whole is set: each relative to the one before it, made when missing, never
// through a link, and the handle is what the next step works in, so that a name another
// user changes in the meantime leads nowhere else. *at is left at the innermost
// directory opened (the root's, or walked), *last at the last part, in parts.
bool WalkBelowRoot(Session& session, OutputRoot& root, const char* path, size_t relative_start, bool whole,
                   char (&parts)[kNameFieldSize], platform::Directory& walked, const platform::Directory** at,
                   char** last) {
    const char* rest = path + relative_start;
    const size_t rest_length = std::strlen(rest);
    if (rest_length == 0 || rest_length >= kNameFieldSize) return Fail(session, Status::kUnsafeName);
    std::memcpy(parts, rest, rest_length + 1);
    if (!OpenRoot(session, root)) return false;
    const platform::Directory* dir = &root.dir;
    char* name = parts;
    for (;;) {
        char* separator = std::strchr(name, '\\');
        if (separator == nullptr && !whole) break;
        if (separator != nullptr) *separator = '\0';
        platform::Directory next;
        switch (platform::OpenChildDirectory(*dir, name, true, &next)) {
            case platform::Opened::kOpened: break;
            case platform::Opened::kLink: return Fail(session, Status::kUnsafeName);
            case platform::Opened::kNotDirectory:
            case platform::Opened::kFailed: return Fail(session, Status::kIoError);
        }
        walked = std::move(next);
        dir = &walked;
        if (separator == nullptr) break;
        name = separator + 1;
    }
    *at = dir;
    *last = name;
    return true;
}

}  // namespace

bool CreateOutputFile(Session& session, OutputRoot& root, const char* path, size_t relative_start, OutputFile& out,
                      bool link_may_go) {
    char parts[kNameFieldSize];
    platform::Directory walked;
    const platform::Directory* at = nullptr;
    char* name = nullptr;
    if (!WalkBelowRoot(session, root, path, relative_start, false, parts, walked, &at, &name)) return false;
    switch (platform::KindAt(*at, name)) {
        case platform::EntryKind::kLink:
            if (link_may_go) break;
            return Fail(session, Status::kUnsafeName);
        case platform::EntryKind::kDirectory:
        case platform::EntryKind::kOther: return Fail(session, Status::kIoError);
        case platform::EntryKind::kNone:
        case platform::EntryKind::kFile: break;
    }
    char temp[kTempPartCapacity];
    platform::File file;
    const TempClaim claim = ClaimTempNameAt(*at, temp, &file);
    if (claim != TempClaim::kClaimed) return Fail(session, ClaimFailure(claim));
    out.Discard();
    if (at == &walked) {
        out.below = std::move(walked);
        out.parent = &out.below;
    } else {
        out.parent = &root.dir;
    }
    std::memcpy(out.name, name, std::strlen(name) + 1);
    std::memcpy(out.temp, temp, sizeof temp);
    out.file = std::move(file);
    return true;
}

bool MakeOutputDirectory(Session& session, OutputRoot& root, const char* path, size_t relative_start,
                         platform::Directory* made) {
    char parts[kNameFieldSize];
    const platform::Directory* at = nullptr;
    char* name = nullptr;
    return WalkBelowRoot(session, root, path, relative_start, true, parts, *made, &at, &name);
}

bool FormOfStamp(uint32_t stamp, uint32_t attributes, OutputForm* form) {
    constexpr int64_t kUnixEpochInFileTime = 116444736000000000;  // 100 ns from 1601 to 1970
    uint64_t utc = 0;
    if (!platform::DosStampToUtcTime(stamp, &utc)) return false;
    form->attributes = attributes;
    form->timed = true;
    form->seconds = (static_cast<int64_t>(utc) - kUnixEpochInFileTime) / 10000000;  // stamps are whole seconds
    form->nanoseconds = 0;
    return true;
}

bool OutputFile::Commit(Session& session, const OutputForm& form) {
    if (!file || std::fflush(file.get()) != 0) {
        Discard();
        return Fail(session, Status::kWriteError);
    }
    // Private until now; the final permissions, attributes and time are set on the open
    // file, never by a name that could lead elsewhere. Attributes are not essential: a
    // file system that cannot keep them still gets the file.
    if (form.mode != 0) {
        (void)platform::SetPermissionsOf(file.get(), form.mode);
    } else {
        (void)platform::SetCreationMode(file.get(), (form.attributes & platform::kAttrReadOnly) != 0);
    }
    (void)platform::KeepAttributesOf(file.get(), form.attributes);
    if (form.timed && !platform::SetModificationTimeOf(file.get(), form.seconds, form.nanoseconds) &&
        !form.time_may_fail) {
        Discard();
        return Fail(session, Status::kIoError);
    }
    if (!platform::Close(file)) {
        Discard();
        return Fail(session, Status::kWriteError);
    }
    if (!platform::RenameAt(*parent, temp, name)) {
        Discard();
        return Fail(session, Status::kIoError);
    }
    temp[0] = '\0';
    return true;
}

void OutputFile::Discard() {
    file.reset();
    if (temp[0] != '\0' && parent) {
        (void)platform::RemoveAt(*parent, temp);
        temp[0] = '\0';
    }
}

}  // namespace hedgerow::archive
