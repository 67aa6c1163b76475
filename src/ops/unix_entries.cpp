// unix_entries.cpp -- times, modes, empty directories and symbolic links on extraction.
#include "ops/unix_entries.h"

#include <cstring>

#include "names/paths.h"
#include "platform/platform.h"

namespace hedgerow::ops {

namespace {

constexpr size_t kLinkTargetCapacity = 4096;  // longer "targets" stay files
constexpr uint32_t kSetIdBits = 06000;

int64_t SecondsOf(const HidFileEntry& entry) {
    return static_cast<int64_t>(static_cast<uint64_t>(entry.mtime_low) | (static_cast<uint64_t>(entry.mtime_high) << 32));
}

bool Kept(const HidFileEntry& entry) {
    return kUnixEntriesBuilt && (entry.metadata_flags & HEDGEROW_META_KEPT) != 0;
}

// The target text of a link entry, read back from the file it was written to; false
// when it is too long for a target or holds a zero byte (it stays a file then).
bool ReadTarget(const archive::OutputFile& out, uint32_t size, char (&target)[kLinkTargetCapacity], bool* read) {
    *read = false;
    if (size >= sizeof target) return true;
    if (std::fflush(out.get()) != 0) return false;
    platform::File file = platform::OpenFileAt(*out.parent, out.temp);
    if (!file) return false;
    const size_t got = platform::ReadBytes(file.get(), target, size);
    if (got != size) return false;
    target[got] = '\0';
    *read = std::strlen(target) == size;  // no zero byte inside
    return true;
}

}  // namespace

uint32_t RestoredMode(const Context& cx, uint32_t mode) {
    mode &= 07777;
    return OptionOn(cx.session, kOptKeepSetId) ? mode : mode & ~kSetIdBits;
}

bool FormOfEntry(const Context& cx, const HidFileEntry& entry, archive::OutputForm* form) {
    if (!archive::FormOfStamp(entry.date_time, entry.attributes, form)) return false;
    if (Kept(entry)) {
        form->seconds = SecondsOf(entry);
        form->nanoseconds = entry.mtime_nanoseconds;
        form->time_may_fail = true;
        form->mode = RestoredMode(cx, entry.unix_mode);
    }
    return true;
}

bool MakeDirectoryEntry(Context& cx, archive::OutputRoot& root, const HidFileEntry& entry, const char* path,
                        size_t relative_start) {
    platform::Directory made;
    if (!archive::MakeOutputDirectory(cx.session, root, path, relative_start, &made)) return false;
    if (Kept(entry)) {
        (void)platform::SetTimeAndModeOf(made, SecondsOf(entry), entry.mtime_nanoseconds, RestoredMode(cx, entry.unix_mode));
    }
    return true;
}

bool CommitLinkEntry(Context& cx, const HidFileEntry& entry, const char* path, size_t relative_start,
                     archive::OutputFile& out, const archive::OutputForm& form) {
    char target[kLinkTargetCapacity];
    bool read = false;
    if (!ReadTarget(out, entry.unpacked_size, target, &read)) {
        out.Discard();
        return Fail(cx.session, Status::kIoError);
    }
    if (!read) return out.Commit(cx.session, form);
    const platform::Directory& parent = *out.parent;
    if (!names::LinkTargetStaysInside(path + relative_start, target)) {
        // Left out: nothing stays at the link's place.
        out.Discard();
        const platform::EntryKind there = platform::KindAt(parent, out.name);
        if (there == platform::EntryKind::kNone) return true;
        return platform::RemoveAt(parent, out.name) || Fail(cx.session, Status::kIoError);
    }
    // The link is made under a name of its own beside the file and then takes the entry's
    // name; where no link can be made, the file with the target text stays.
    char beside[sizeof out.temp + 2];
    const size_t length = std::strlen(out.temp);
    std::memcpy(beside, out.temp, length);
    std::memcpy(beside + length, "~l", 3);
    (void)platform::RemoveAt(parent, beside);
    if (!platform::MakeSymbolicLinkAt(parent, target, beside)) return out.Commit(cx.session, form);
    out.Discard();
    if (!platform::RenameAt(parent, beside, out.name)) {
        (void)platform::RemoveAt(parent, beside);
        return Fail(cx.session, Status::kIoError);
    }
    return true;
}

}  // namespace hedgerow::ops
