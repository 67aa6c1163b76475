// update.cpp -- UpdateArchive.
#include "ops/update.h"

#include <cstring>
#include <string>

#include "archive/open_list.h"
#include "archive/records.h"
#include "crypto/wipe.h"
#include "names/masks.h"
#include "names/replace_query.h"
#include "ops/create.h"
#include "ops/rewrite.h"
#include "platform/platform.h"

namespace hedgerow::ops {

namespace {

struct Lists {
    FileMaskList named {};
    FileMaskList kept {};
    HidFileList entries {};
    ~Lists() {
        names::DoneFileMaskList(named);
        names::DoneFileMaskList(kept);
        archive::DoneHidFileList(entries);
    }
};

}  // namespace

namespace {

// New records of a locked archive are enciphered with the header password that reads
// the archive (the host may have supplied it through HeadCryptKeyProc), so that one
// password opens every record; the enciphering password of the settings is restored
// afterwards for a later LockArchive.
struct SameHeaderPassword {
    archive::ArchiveState& archive;
    char saved[archive::kPasswordCapacity];
    explicit SameHeaderPassword(archive::ArchiveState& a) : archive(a) {
        std::memcpy(saved, a.header_password_encipher, sizeof saved);
        if (a.locked) std::memcpy(a.header_password_encipher, a.header_password_decipher, sizeof saved);
    }
    ~SameHeaderPassword() {
        std::memcpy(archive.header_password_encipher, saved, sizeof saved);
        crypto::SecureWipe(saved, sizeof saved);
    }
};

}  // namespace

void UpdateArchive(Context& cx, const FileMaskList& masks) {
    ClearStatus(cx.session);
    const SameHeaderPassword same_password(cx.archive);
    Lists lists;
    if (!names::CollectNamedMasks(cx.session, masks, lists.named)) return;
    if (lists.named.first == nullptr) {
        Fail(cx.session, Status::kNothingToDo);
        return;
    }
    if (!archive::ListEntries(cx.session, cx.archive, lists.entries, FileMaskList {})) return;

    NewArchiveFile out;
    platform::File in;
    if (!BeginRewrite(cx, out, in)) return;

    // Named files and entries meet by hashed name keys, so that the work grows with the
    // number of entries plus the number of names, not with their product.
    const NameKeys named_keys = NamedEntryKeys(cx.session, lists.named);
    for (const HidFileEntry* entry = lists.entries.first; entry; entry = entry->next) {
        const uint64_t length = static_cast<uint64_t>(entry->record_length) + entry->packed_size;
        if (!IsNamedEntry(named_keys, entry->name)) {
            if (!CopyArchiveBytes(cx, in.get(), out.get(), entry->record_offset, length)) return;
            continue;
        }
        const int32_t answer = names::AskReplaceOnUpdate(cx.session, *entry, entry->name);
        if (answer == 2) {
            Fail(cx.session, Status::kCancelled);
            return;
        }
        if (answer == 1) {
            if (!CopyArchiveBytes(cx, in.get(), out.get(), entry->record_offset, length)) return;
            if (!names::AddFileMask(cx.session, entry->name, lists.kept)) {
                Fail(cx.session, Status::kNoMemory);
                return;
            }
        }
    }
    in.reset();

    Compressor compressor(cx);
    if (!compressor.Allocate()) return;
    const NameKeys kept_keys = MaskListKeys(lists.kept);
    uint32_t files_handled = 0;
    for (const FileMaskRecord* mask = lists.named.first; mask; mask = mask->next) {
        const std::string name = names::MaskPath(*mask);
        std::string source_path;
        if (!SourcePathOf(cx, name, &source_path)) return;
        if (IsNameInList(cx.session, kept_keys, name.c_str())) continue;
        AnnounceSource(cx, source_path, name);
        if (!CompressOneFile(cx, out.get(), source_path.c_str(), name.c_str())) return;
        ++files_handled;
    }
    (void)SwapInNewArchive(cx, cx.archive.name, out, files_handled);  // the outcome is in the status word
}

}  // namespace hedgerow::ops
