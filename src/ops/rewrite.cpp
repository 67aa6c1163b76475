// rewrite.cpp -- temporary new archives, byte copies, name keys and the swap.
#include "ops/rewrite.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "crypto/cipher.h"
#include "names/masks.h"
#include "names/paths.h"

namespace hedgerow::ops {

bool NewArchiveFile::Create(Context& cx, const char* archive_name) {
    if (!platform::LinkTarget(archive_name, &target)) target = archive_name;
    return temp.Claim(cx.session, target.c_str());
}

bool NewArchiveFile::Commit(Context& cx) {
    if (!temp.Finish(true)) return Fail(cx.session, Status::kWriteError);
    return temp.RenameTo(target.c_str()) || Fail(cx.session, Status::kIoError);
}

bool NewArchiveFile::CommitNew(Context& cx, bool runnable) {
    if (!platform::SetCreationMode(get()) || (runnable && !platform::MakeRunnable(get()))) {
        return Fail(cx.session, Status::kIoError);
    }
    if (!temp.Finish(true)) return Fail(cx.session, Status::kWriteError);
    switch (temp.RenameToFreeName(target.c_str())) {
        case platform::Renamed::kRenamed: return true;
        case platform::Renamed::kTaken: return Fail(cx.session, Status::kArchiveBusy);
        case platform::Renamed::kFailed: break;
    }
    return Fail(cx.session, Status::kIoError);
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

bool RefuseUnknownCiphers(Context& cx, const HidFileList& entries) {
    for (const HidFileEntry* entry = entries.first; entry; entry = entry->next) {
        if (!crypto::IsKnownCipher(entry->cipher_id)) return Fail(cx.session, Status::kBadFormat);
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

bool SealPrefix(Context& cx, const sfxblocks::SealPlan& plan, NewArchiveFile& out, uint32_t files) {
    switch (sfxblocks::SealFile(out.get(), out.temp.name, plan, files)) {
        case sfxblocks::SealOutcome::kSealed: return true;
        case sfxblocks::SealOutcome::kReadFailed: return Fail(cx.session, Status::kIoError);
        case sfxblocks::SealOutcome::kWriteFailed: return Fail(cx.session, Status::kWriteError);
        case sfxblocks::SealOutcome::kTooLarge: return Fail(cx.session, Status::kUnsupported);
    }
    return Fail(cx.session, Status::kIoError);
}

namespace {

// When the archive being rewritten has our self-extractor program in front (its sealed
// blocks end where the marker begins), seals the blocks of the new file anew: its new
// length, its checksum, and the count raised by added. True without a change for an
// archive without such a program.
bool ResealSelfExtractor(Context& cx, const char* archive_name, NewArchiveFile& out, uint32_t added) {
    const uint64_t head = cx.archive.marker_offset;
    if (head < sfxblocks::kBlocksSize) return true;
    platform::File old_file = platform::OpenFile(archive_name, "rb");
    if (!old_file) return Fail(cx.session, Status::kIoError);
    sfxblocks::SealPlan plan;
    uint32_t count = 0;
    switch (sfxblocks::FindSealedBlocks(old_file.get(), head, &plan, &count)) {
        case sfxblocks::FoundBlocks::kFound: return SealPrefix(cx, plan, out, count + added);
        case sfxblocks::FoundBlocks::kNone: return true;  // no program of ours in front: nothing to seal
        case sfxblocks::FoundBlocks::kUnreadable: break;
    }
    return Fail(cx.session, Status::kIoError);
}

}  // namespace

bool SwapInNewArchive(Context& cx, const char* archive_name, NewArchiveFile& new_file, uint32_t added) {
    if (!ResealSelfExtractor(cx, archive_name, new_file, added)) return false;
    // One rename replaces the archive: at every moment the name holds either the whole
    // old archive or the whole new one. The new file keeps the old one's permissions, so
    // that an archive only its owner could read stays so (and a self-extracting one
    // stays runnable); it was private until now.
    if (!platform::CopyAccessMode(new_file.target.c_str(), new_file.get())) return Fail(cx.session, Status::kIoError);
    return new_file.Commit(cx);
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
