// damage.cpp -- telling damage from a wrong password (see damage.h).
#include "ops/damage.h"

#include <cstring>

#include "codec/decoder.h"
#include "codec/stream.h"
#include "crypto/cipher.h"
#include "platform/platform.h"

namespace hedgerow::ops {

namespace {

// Tells the host of a damaged entry; false (kCancelled) when it answers 2.
bool ReportDamaged(Context& cx, DamageLedger& ledger, const HidFileEntry& entry) {
    ++ledger.damaged;
    const auto& slot = cx.session.callbacks.skip_file;
    if (slot.proc == nullptr) return true;
    if (slot.proc(slot.user, entry.name) == 2) return Fail(cx.session, Status::kCancelled);
    return true;
}

}  // namespace

DamageLedger StartLedger(const archive::ArchiveState& archive) {
    DamageLedger ledger;
    // Locked records carry a check of their own: read whole, they prove the header
    // password, and with it the data password when the two are the same.
    ledger.proven = archive.locked && archive.data_password[0] != '\0' &&
                    std::strcmp(archive.data_password, archive.header_password_decipher) == 0;
    return ledger;
}

bool FailureIsDamage(const DamageLedger& ledger, const HidFileEntry& entry) {
    return entry.cipher_id == crypto::kCipherNone || ledger.proven;
}

bool NoteWhole(Context& cx, DamageLedger& ledger, const HidFileEntry& entry) {
    if (entry.cipher_id == crypto::kCipherNone || ledger.proven) return true;
    ledger.proven = true;
    for (const HidFileEntry* earlier : ledger.doubtful) {
        if (!ReportDamaged(cx, ledger, *earlier)) return false;
    }
    ledger.doubtful.clear();
    return true;
}

bool NoteBad(Context& cx, DamageLedger& ledger, const HidFileEntry& entry) {
    if (FailureIsDamage(ledger, entry)) return ReportDamaged(cx, ledger, entry);
    ledger.doubtful.push_back(&entry);
    return true;
}

void CloseLedger(Context& cx, const DamageLedger& ledger) {
    if (!ledger.doubtful.empty()) {
        Fail(cx.session, Status::kBadPassword);
    } else if (ledger.damaged > 0) {
        Fail(cx.session, Status::kDamagedEntries);
    }
}

Checked ExpandAndCheck(Context& cx, std::FILE* archive_file, const HidFileEntry& entry, std::FILE* output) {
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
    stream.output = output;
    const bool expanded = codec::ExpandEntry(cx.decoder, stream);
    stream.packed_in = nullptr;
    stream.output = nullptr;
    codec::AttachStream(stream, cx.session.status, cx.session.callbacks.progress);
    const auto failure = static_cast<Status>(entry_status);
    if (failure == Status::kCancelled || failure == Status::kNoMemory || failure == Status::kWriteError) {
        Fail(cx.session, failure);
        return Checked::kStop;
    }
    // Data that ran out before the recorded size is damaged however its CRC comes out
    // (the CRC of nothing is the 0 that an empty entry records).
    const bool whole = expanded && entry_status == 0 && stream.unpacked_left == 0 && ~stream.data_crc == entry.data_crc;
    return whole ? Checked::kWhole : Checked::kBad;
}

}  // namespace hedgerow::ops
