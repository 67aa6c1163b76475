// delete.cpp -- DeleteFileMaskListHid.
#include "ops/delete.h"

#include <string>

#include "archive/archive_lock.h"
#include "archive/open_list.h"
#include "names/paths.h"
#include "ops/rewrite.h"
#include "ops/strong_archive.h"
#include "platform/platform.h"

namespace hedgerow::ops {

namespace {

struct EntryList {
    HidFileList list {};
    ~EntryList() { archive::DoneHidFileList(list); }
};

}  // namespace

void DeleteFileMaskListHid(Context& cx, const FileMaskList& masks) {
    if (cx.archive.strong) {
        DeleteFromStrongArchive(cx, masks);
        return;
    }
    ClearStatus(cx.session);
    archive::ArchiveLock lock;  // one writer at a time, from the listing to the swap
    if (!archive::LockArchive(cx.session, cx.archive, archive::LockKind::kExclusive, lock)) return;
    EntryList all;
    if (!archive::ListEntries(cx.session, cx.archive, all.list, FileMaskList {})) return;
    if (!RefuseUnknownCiphers(cx, all.list)) return;
    EntryList selected;
    archive::BuildHidFileList(cx.session, cx.archive, selected.list, masks);  // kNoEntries: nothing to delete
    if (!StatusIsOk(cx.session)) return;

    // An entry goes when its name equals (ignoring case) the name of a selected entry, so
    // entries that share a name go together. Both sides are the stored names themselves,
    // whatever relative path the host has set.
    NameKeys deletion;
    for (const HidFileEntry* entry = selected.list.first; entry; entry = entry->next) {
        deletion.insert(names::NameKey(entry->name));
    }
    archive::DoneHidFileList(selected.list);

    NewArchiveFile out;
    platform::File in;
    if (!BeginRewrite(cx, out, in)) return;
    for (const HidFileEntry* entry = all.list.first; entry; entry = entry->next) {
        if (deletion.count(names::NameKey(entry->name)) > 0) {
            AnnounceEntry(cx, entry->name);
            if (!ReportEntryDone(cx)) return;
            continue;
        }
        const uint64_t length = static_cast<uint64_t>(entry->record_length) + entry->packed_size;
        if (!CopyArchiveBytes(cx, in.get(), out.get(), entry->record_offset, length)) return;
    }
    in.reset();
    (void)SwapInNewArchive(cx, cx.archive.name, out);  // the outcome is in the status word
}

}  // namespace hedgerow::ops
