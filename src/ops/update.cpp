// update.cpp -- UpdateArchive.
#include "ops/update.h"

#include <cstring>
#include <string>
#include <vector>

#include "archive/archive_lock.h"
#include "archive/open_list.h"
#include "archive/records.h"
#include "crypto/cipher.h"
#include "crypto/wipe.h"
#include "names/masks.h"
#include "names/replace_query.h"
#include "ops/create.h"
#include "ops/pack_files.h"
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
    archive::ArchiveLock lock;  // one writer at a time, from the listing to the swap
    if (!archive::LockArchive(cx.session, cx.archive, archive::LockKind::kExclusive, lock)) return;
    const SameHeaderPassword same_password(cx.archive);
    Lists lists;
    if (!names::CollectNamedMasks(cx.session, masks, lists.named)) return;
    if (lists.named.first == nullptr) {
        Fail(cx.session, Status::kNothingToDo);
        return;
    }
    if (!archive::ListEntries(cx.session, cx.archive, lists.entries, FileMaskList {})) return;
    if (!RefuseUnknownCiphers(cx, lists.entries)) return;
    if (!crypto::IsKnownCipher(cx.archive.cipher_id)) {
        Fail(cx.session, Status::kUnsupported);  // the host asked for a cipher there is none of
        return;
    }

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

    const NameKeys kept_keys = MaskListKeys(lists.kept);
    std::vector<FileToPack> files;
    bool path_refused = false;  // the list stops at a source path that cannot be made
    for (const FileMaskRecord* mask = lists.named.first; mask; mask = mask->next) {
        FileToPack file;
        file.name = names::MaskPath(*mask);
        if (!SourcePathFits(cx, file.name, &file.source_path)) {
            path_refused = true;
            break;
        }
        if (IsNameInList(cx.session, kept_keys, file.name.c_str())) continue;
        files.push_back(std::move(file));
    }
    uint32_t files_handled = 0;
    if (!PackFiles(cx, out.get(), files, &files_handled)) return;
    if (path_refused) {
        Fail(cx.session, Status::kNameTooLong);
        return;
    }
    (void)SwapInNewArchive(cx, cx.archive.name, out, files_handled);  // the outcome is in the status word
}

}  // namespace hedgerow::ops
