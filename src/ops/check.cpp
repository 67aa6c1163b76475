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

// What became of one entry.
enum class Checked { kWhole, kBad, kStop };

void NameEntry(Context& cx, const HidFileEntry& entry) {
    const auto& slot = cx.session.callbacks.file_name;
    if (slot.proc == nullptr) return;
    const std::string shown = std::string("\\") + entry.name;
    slot.proc(slot.user, shown.c_str(), "");
}

// Decodes one entry into nowhere. The stream fails into a status word of its own, so that
// a damaged stream is this entry's outcome and not the call's; what stops the call (the
// host cancelling, memory running out, the archive unreadable) is handed on.
Checked CheckOne(Context& cx, std::FILE* archive_file, const HidFileEntry& entry) {
    // Sizes of 2 GiB or more are beyond the stream's arithmetic; our writer never makes them.
    if (entry.unpacked_size > static_cast<uint32_t>(INT32_MAX)) return Checked::kBad;
    if (!BeginDeciphering(cx, entry.cipher_id, entry.name)) {
        if (StatusIsOk(cx.session)) Fail(cx.session, Status::kBadPassword);
        return Checked::kStop;
    }
    if (!platform::SeekTo(archive_file, static_cast<uint64_t>(entry.record_offset) + entry.record_length)) {
        return Checked::kBad;  // the data lies beyond the end of a cut archive
    }
    codec::StreamState& stream = cx.stream;
    uint16_t entry_status = 0;
    codec::AttachStream(stream, entry_status, cx.session.callbacks.progress);
    stream.data_crc = 0xFFFFFFFFu;
    stream.unpacked_size = static_cast<int32_t>(entry.unpacked_size);
    stream.packed_in = archive_file;
    stream.packed_left = entry.packed_size;
    stream.unpacked_left = static_cast<int32_t>(entry.unpacked_size);
    stream.output = nullptr;  // checked, written nowhere
    const bool expanded = codec::ExpandEntry(cx.decoder, stream);
    stream.packed_in = nullptr;
    codec::AttachStream(stream, cx.session.status, cx.session.callbacks.progress);
    const auto failure = static_cast<Status>(entry_status);
    if (failure == Status::kCancelled || failure == Status::kNoMemory) {
        Fail(cx.session, failure);
        return Checked::kStop;
    }
    const bool whole = expanded && entry_status == 0 && stream.unpacked_left == 0 && ~stream.data_crc == entry.data_crc;
    return whole ? Checked::kWhole : Checked::kBad;
}

// Tells the host of a damaged entry; false (kCancelled) when it answers 2.
bool ReportDamaged(Context& cx, const HidFileEntry& entry, uint32_t* damaged) {
    ++*damaged;
    const auto& slot = cx.session.callbacks.skip_file;
    if (slot.proc == nullptr) return true;
    if (slot.proc(slot.user, entry.name) == 2) return Fail(cx.session, Status::kCancelled);
    return true;
}

void CheckLegacyEntries(Context& cx, const HidFileList& list) {
    platform::File archive_file = platform::OpenFile(cx.archive.name, "rb");
    if (!archive_file) {
        Fail(cx.session, Status::kIoError);
        return;
    }
    if (!codec::AllocDecoder(cx.decoder, cx.stream)) return;
    DecoderGuard decoder {cx.decoder};
    uint32_t damaged = 0;
    // An enciphered entry that fails before any has come out whole under the password may
    // have failed for the password, not for damage: it waits for the proof.
    bool proven = false;
    std::vector<const HidFileEntry*> doubtful;
    for (const HidFileEntry* entry = list.first; entry; entry = entry->next) {
        NameEntry(cx, *entry);
        const bool enciphered = entry->cipher_id != crypto::kCipherNone;
        switch (CheckOne(cx, archive_file.get(), *entry)) {
            case Checked::kStop: return;
            case Checked::kWhole:
                if (enciphered && !proven) {
                    proven = true;
                    for (const HidFileEntry* earlier : doubtful) {
                        if (!ReportDamaged(cx, *earlier, &damaged)) return;
                    }
                    doubtful.clear();
                }
                break;
            case Checked::kBad:
                if (enciphered && !proven) {
                    doubtful.push_back(entry);
                } else if (!ReportDamaged(cx, *entry, &damaged)) {
                    return;
                }
                break;
        }
    }
    if (!doubtful.empty()) {
        Fail(cx.session, Status::kBadPassword);
    } else if (damaged > 0) {
        Fail(cx.session, Status::kDamagedEntries);
    }
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
