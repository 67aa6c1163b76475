// check.cpp -- checking legacy entries without writing them (strong archives: see
// strong_read.cpp).
#include "ops/check.h"

#include <cstdint>
#include <string>
#include <vector>

#include "archive/open_list.h"
#include "codec/decoder.h"
#include "codec/stream.h"
#include "crypto/cipher.h"
#include "ops/damage.h"
#include "ops/data_key.h"
#include "ops/strong_archive.h"
#include "platform/platform.h"

namespace hedgerow::ops {

namespace {

struct ListGuard {
    HidFileList list {};
    ~ListGuard() { archive::DoneHidFileList(list); }
};

struct DecoderGuard {
    codec::DecoderState& decoder;
    ~DecoderGuard() { codec::FreeDecoder(decoder); }
};

void NameEntry(Context& cx, const HidFileEntry& entry) {
    const auto& slot = cx.session.callbacks.file_name;
    if (slot.proc == nullptr) return;
    const std::string shown = std::string("\\") + entry.name;
    slot.proc(slot.user, shown.c_str(), "");
}

Checked CheckOne(Context& cx, std::FILE* archive_file, const HidFileEntry& entry) {
    // Sizes of 2 GiB or more are beyond the stream's arithmetic; our writer never makes them.
    if (entry.unpacked_size > static_cast<uint32_t>(INT32_MAX)) return Checked::kBad;
    if (!BeginDeciphering(cx, entry.cipher_id, entry.name)) {
        if (StatusIsOk(cx.session)) Fail(cx.session, Status::kBadPassword);
        return Checked::kStop;
    }
    return ExpandAndCheck(cx, archive_file, entry, nullptr);
}

void CheckLegacyEntries(Context& cx, const HidFileList& list) {
    platform::File archive_file = platform::OpenFile(cx.archive.name, "rb");
    if (!archive_file) {
        Fail(cx.session, Status::kIoError);
        return;
    }
    if (!codec::AllocDecoder(cx.decoder, cx.stream)) return;
    DecoderGuard decoder {cx.decoder};
    DamageLedger ledger = StartLedger(cx.archive);
    for (const HidFileEntry* entry = list.first; entry; entry = entry->next) {
        NameEntry(cx, *entry);
        switch (CheckOne(cx, archive_file.get(), *entry)) {
            case Checked::kStop: return;
            case Checked::kWhole:
                if (!NoteWhole(cx, ledger, *entry)) return;
                break;
            case Checked::kBad:
                if (!NoteBad(cx, ledger, *entry)) return;
                break;
        }
    }
    CloseLedger(cx, ledger);
}

}  // namespace

void TestFileMaskListHid(Context& cx, const FileMaskList& masks) {
    if (cx.archive.strong) {
        ReadStrongArchive(cx, masks, ReadMode::kCheck);
        return;
    }
    ClearStatus(cx.session);
    ListGuard entries;
    archive::BuildHidFileList(cx.session, cx.archive, entries.list, masks);
    // A damaged record ends the listing; the entries before it are still checked.
    const uint16_t listing = cx.session.status;
    if (listing != arOk && !(listing == arBadFormat && entries.list.first != nullptr)) return;
    cx.session.status = 0;
    CheckLegacyEntries(cx, entries.list);
    // A walk cut short outweighs damaged entries: entries behind the cut were not seen.
    if (listing != arOk && (StatusIsOk(cx.session) || cx.session.status == arDamagedEntries)) {
        cx.session.status = listing;
    }
}

}  // namespace hedgerow::ops
