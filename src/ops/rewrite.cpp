// rewrite.cpp -- temporary new archives, byte copies, name keys and the swap.
#include "ops/rewrite.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "names/masks.h"
#include "names/paths.h"
#include "ops/sfx.h"

namespace hedgerow::ops {

bool NewArchiveFile::Create(Context& cx, const char* base) {
    return temp.Claim(base) || Fail(cx.session, Status::kIoError);
}

bool NewArchiveFile::Commit(Context& cx, const char* target) {
    if (!temp.Finish(true)) return Fail(cx.session, Status::kWriteError);
    return temp.RenameTo(target) || Fail(cx.session, Status::kIoError);
}

bool CopyArchiveBytes(Context& cx, std::FILE* source, std::FILE* destination, uint64_t start, uint64_t length,
                      size_t piece) {
    if (!platform::SeekTo(source, start)) return Fail(cx.session, Status::kIoError);
    std::vector<uint8_t> buffer(std::min<uint64_t>(piece, std::max<uint64_t>(length, 1)));
    while (length > 0) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(length, buffer.size()));
        if (platform::ReadBytes(source, buffer.data(), n) != n) return Fail(cx.session, Status::kIoError);
        if (platform::WriteBytes(destination, buffer.data(), n) != n) return Fail(cx.session, Status::kWriteError);
        length -= n;
    }
    return true;
}

bool BeginRewrite(Context& cx, NewArchiveFile& out, platform::File& in) {
    if (!out.Create(cx, cx.archive.name)) return false;
    in = platform::OpenFile(cx.archive.name, "rb");
    if (!in) return Fail(cx.session, Status::kIoError);
    const uint64_t head = static_cast<uint64_t>(cx.archive.marker_offset) + archive::kMarkerSize;
    return CopyArchiveBytes(cx, in.get(), out.get(), 0, head, 6000);
}

namespace {

// The name under which a named file is stored, as a key.
std::string StoredKey(const Session& session, const std::string& name) {
    return names::NameKey(names::StoredNameOf(session.relative_path, OptionOn(session, kOptNamesOnly), name));
}

}  // namespace

NameKeys NamedEntryKeys(const Session& session, const FileMaskList& named) {
    NameKeys keys;
    for (const FileMaskRecord* mask = named.first; mask; mask = mask->next) {
        keys.insert(StoredKey(session, names::MaskPath(*mask)));
    }
    return keys;
}

bool IsNamedEntry(const NameKeys& keys, const char* stored_name) { return keys.count(names::NameKey(stored_name)) > 0; }

NameKeys MaskListKeys(const FileMaskList& list) {
    NameKeys keys;
    for (const FileMaskRecord* mask = list.first; mask; mask = mask->next) {
        keys.insert(names::NameKey(names::MaskPath(*mask)));
    }
    return keys;
}

bool IsNameInList(const Session& session, const NameKeys& keys, const char* name) {
    return keys.count(StoredKey(session, name)) > 0;
}

bool SwapInNewArchive(Context& cx, const char* archive_name, NewArchiveFile& new_file, uint32_t added) {
    if (!ResealSelfExtractor(cx, archive_name, new_file, added)) return false;
    // One rename replaces the archive: at every moment the name holds either the whole
    // old archive or the whole new one. The new file keeps the old one's permissions, so
    // that an archive only its owner could read stays so (and a self-extracting one
    // stays runnable).
    (void)platform::CopyAccessMode(archive_name, new_file.temp.name);
    return new_file.Commit(cx, archive_name);
}

void AnnounceEntry(Context& cx, const char* stored_name) {
    const auto& slot = cx.session.callbacks.file_name;
    if (slot.proc == nullptr) return;
    const std::string shown = std::string("\\") + stored_name;
    slot.proc(slot.user, shown.c_str(), shown.c_str());
}

bool ReportEntryDone(Context& cx) {
    const auto& slot = cx.session.callbacks.progress;
    if (slot.proc != nullptr && slot.proc(slot.user, 100, 100) == 0) return Fail(cx.session, Status::kCancelled);
    return true;
}

}  // namespace hedgerow::ops
