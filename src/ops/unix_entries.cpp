// unix_entries.cpp -- times, modes, empty directories and symbolic links on extraction.
#include "ops/unix_entries.h"

#include <cstring>

#include "archive/output_file.h"
#include "names/paths.h"
#include "platform/platform.h"

namespace hedgerow::ops {

namespace {

constexpr size_t kLinkTargetCapacity = 4096;  // longer "targets" stay files
constexpr uint32_t kSetIdBits = 06000;

int64_t SecondsOf(const HidFileEntry& entry) {
    return static_cast<int64_t>(static_cast<uint64_t>(entry.mtime_low) | (static_cast<uint64_t>(entry.mtime_high) << 32));
}

}  // namespace

void RestoreUnixMetadata(const Context& cx, const HidFileEntry& entry, const char* path) {
    if (!kUnixEntriesBuilt || (entry.metadata_flags & HEDGEROW_META_KEPT) == 0) return;
    (void)platform::SetModificationTime(path, SecondsOf(entry), entry.mtime_nanoseconds);
    uint32_t mode = entry.unix_mode & 07777;
    if (!OptionOn(cx.session, kOptKeepSetId)) mode &= ~kSetIdBits;
    (void)platform::SetPermissions(path, mode);
}

bool MakeDirectoryEntry(Context& cx, const HidFileEntry& entry, const char* path, size_t relative_start) {
    if (!archive::MakeOutputDirectory(cx.session, path, relative_start)) return false;
    RestoreUnixMetadata(cx, entry, path);
    return true;
}

bool MakeLinkEntry(Context& cx, const HidFileEntry& entry, const char* path, size_t relative_start) {
    char target[kLinkTargetCapacity];
    if (entry.unpacked_size >= sizeof target) return true;
    {
        platform::File file = platform::OpenFile(path, "rb");
        if (!file) return Fail(cx.session, Status::kIoError);
        const size_t got = platform::ReadBytes(file.get(), target, entry.unpacked_size);
        if (got != entry.unpacked_size) return Fail(cx.session, Status::kIoError);
        target[got] = '\0';
    }
    const bool whole = std::strlen(target) == entry.unpacked_size;  // no zero byte inside
    if (!whole || !names::LinkTargetStaysInside(path + relative_start, target)) {
        // Left out: nothing stays at the link's place.
        return platform::RemoveFile(path) || Fail(cx.session, Status::kIoError);
    }
    // The link is made beside the file and then takes its name, so that the file stays
    // where no link can be made.
    char beside[archive::kOutputPathCapacity + 8];
    const size_t length = std::strlen(path);
    if (length + 6 >= sizeof beside) return true;
    std::memcpy(beside, path, length);
    std::memcpy(beside + length, ".link~", 7);
    (void)platform::RemoveFile(beside);
    if (!platform::MakeSymbolicLink(target, beside)) return true;
    if (!platform::RenamePath(beside, path)) {
        (void)platform::RemoveFile(beside);
        return Fail(cx.session, Status::kIoError);
    }
    return true;
}

}  // namespace hedgerow::ops
