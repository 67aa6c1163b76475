// extract.cpp -- ExtractFileMaskListHid, and the extraction and checking of listed entries.
#include "ops/extract.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "archive/archive_lock.h"
#include "archive/open_list.h"
#include "archive/output_file.h"
#include "codec/decoder.h"
#include "codec/stream.h"
#include "crypto/cipher.h"
#include "crypto/wipe.h"
#include "names/replace_query.h"
#include "ops/damage.h"
#include "ops/data_key.h"
#include "ops/strong_archive.h"
#include "ops/unix_entries.h"
#include "ops/workers.h"
#include "platform/platform.h"

namespace hedgerow::ops {

namespace {

struct EntryList {
    HidFileList list {};
    ~EntryList() { archive::DoneHidFileList(list); }
};

// Releases the stream layer's hold on files that are about to close.
struct StreamFiles {
    codec::StreamState& stream;
    ~StreamFiles() {
        stream.packed_in = nullptr;
        stream.output = nullptr;
    }
};

struct DecoderGuard {
    codec::DecoderState& decoder;
    ~DecoderGuard() { codec::FreeDecoder(decoder); }
};

enum class Outcome {
    kDone,     // written whole
    kAccepted, // written as it came out, its check failed: the host accepted it
    kSkipped,  // not written: the host kept the existing file
    kRetry,    // the host gave another data password: try again
    kBad,      // not written: its check failed (damage, or a wrong password when unproven)
    kStop,     // the call ends (status set)
};

// An entry a worker has expanded ahead into a spill, with a data check that held.
struct DecodedEntry {
    bool ready = false;         // the spill holds the whole entry, its CRC checked
    Spill spill;                // kept by the job slot from job to job
};

// The data of one entry into out, in a walk that tells damage from a wrong password: once
// the password is proven (or the host has no other), an entry whose check fails is left
// out (kBad) without a question.
Outcome ExpandWithLedger(Context& cx, std::FILE* archive_file, const HidFileEntry& entry, std::FILE* out,
                         DamageLedger& ledger, bool* accepted) {
    switch (ExpandAndCheck(cx, archive_file, entry, out)) {
        case Checked::kStop: return Outcome::kStop;
        case Checked::kWhole: return Outcome::kDone;
        case Checked::kBad: break;
    }
    if (FailureIsDamage(ledger, entry) || ledger.declined) return Outcome::kBad;
    switch (AskAgainOrHearNoOther(cx, entry)) {
        case BadData::kRetry: return Outcome::kRetry;
        case BadData::kNoOther:
            ledger.declined = true;  // asked once in a call, not for every entry
            return Outcome::kBad;
        case BadData::kAccept: *accepted = true; return Outcome::kDone;
        default: return Outcome::kStop;
    }
}

// One attempt at one entry. After the host has agreed to replace an existing file, a
// retry with another password does not ask again. A ledger (kWithLedger) tells damage
// from a wrong password; the variant without one is all the self-extractor program
// links, which has no room for the other.
template <bool kWithLedger>
Outcome ExtractEntry(Context& cx, std::FILE* archive_file, archive::OutputRoot& root, const HidFileEntry& entry,
                     bool* replace_agreed, DecodedEntry* decoded, DamageLedger* ledger) {
    // Sizes of 2 GiB or more are beyond the stream's signed arithmetic; our writer never
    // makes them, and taking one would let a record claim data it does not hold.
    if (entry.unpacked_size > static_cast<uint32_t>(INT32_MAX)) {
        Fail(cx.session, Status::kTooLarge);
        return Outcome::kStop;
    }
    // An id that names no cipher is damage: its data cannot be read as the record says.
    if (!crypto::IsKnownCipher(entry.cipher_id)) {
        Fail(cx.session, Status::kBadFormat);
        return Outcome::kStop;
    }
    codec::StreamState& stream = cx.stream;
    stream.data_crc = 0xFFFFFFFFu;
    stream.unpacked_size = static_cast<int32_t>(entry.unpacked_size);
    cx.archive.cipher_id = entry.cipher_id;  // an update that follows keeps to it
    if (decoded == nullptr && !BeginDeciphering(cx, entry.cipher_id, entry.name)) {
        Fail(cx.session, Status::kBadPassword);
        return Outcome::kStop;
    }
    char path[archive::kOutputPathCapacity];
    size_t relative_start = 0;
    if (!archive::BuildOutputPath(cx.session, entry.name, path, &relative_start)) return Outcome::kStop;
    const auto& name_slot = cx.session.callbacks.file_name;
    if (name_slot.proc != nullptr) {
        char shown[sizeof entry.name + 1] = "\\";
        std::memcpy(shown + 1, entry.name, strnlen(entry.name, sizeof entry.name - 1));
        name_slot.proc(name_slot.user, shown, path);
    }
    if (kUnixEntriesBuilt && entry.entry_kind == HEDGEROW_ENTRY_DIRECTORY) {
        return MakeDirectoryEntry(cx, root, entry, path, relative_start) ? Outcome::kDone : Outcome::kStop;
    }
    if (!*replace_agreed) {
        const int32_t answer = names::AskReplaceOnExtract(cx.session, entry, path);
        if (answer == 1) return Outcome::kSkipped;
        if (answer == 2) {
            Fail(cx.session, Status::kCancelled);
            return Outcome::kStop;
        }
        *replace_agreed = true;
    }
    archive::OutputFile out;
    const bool link_entry = kUnixEntriesBuilt && entry.entry_kind == HEDGEROW_ENTRY_SYMLINK;
    if (!archive::CreateOutputFile(cx.session, root, path, relative_start, out, link_entry)) return Outcome::kStop;
    if (decoded != nullptr) {
        // Expanded and checked by a worker: the bytes only move.
        if (!CopySpillOut(cx, decoded->spill, out.get(), entry.unpacked_size, entry.unpacked_size)) return Outcome::kStop;
        stream.unpacked_left = 0;
        stream.data_crc = ~entry.data_crc;
    }
    bool accepted = false;
    if (decoded == nullptr) {
        // A partial file goes with `out` unless the host accepts it.
        Outcome data;
        if constexpr (kWithLedger) {
            data = ExpandWithLedger(cx, archive_file, entry, out.get(), *ledger, &accepted);
        } else {
            // Hosts that choose the entries themselves: the stream fails into the call's
            // status word, and every failed check goes to the host's question.
            (void)ledger;
            if (!platform::SeekTo(archive_file, static_cast<uint64_t>(entry.record_offset) + entry.record_length)) {
                Fail(cx.session, Status::kIoError);
                return Outcome::kStop;
            }
            stream.packed_in = archive_file;
            stream.packed_left = entry.packed_size;
            stream.unpacked_left = static_cast<int32_t>(entry.unpacked_size);
            stream.output = out.get();
            const bool expanded = codec::ExpandEntry(cx.decoder, cx.stream);
            stream.output = nullptr;
            if (!expanded || !StatusIsOk(cx.session)) return Outcome::kStop;
            data = Outcome::kDone;
            // Data that ran out before the recorded size is damaged however its CRC comes
            // out (the CRC of nothing is the 0 that an empty entry records).
            if (stream.unpacked_left != 0 || ~stream.data_crc != entry.data_crc) {
                switch (AskAgainAfterBadData(cx, entry)) {
                    case BadData::kRetry: return Outcome::kRetry;
                    case BadData::kAccept: accepted = true; break;
                    default: return Outcome::kStop;
                }
            }
        }
        if (data != Outcome::kDone) return data;
    }
    // The time stamp, attributes and mode go onto the file before it takes its name.
    archive::OutputForm form;
    if (!FormOfEntry(cx, entry, &form)) {
        Fail(cx.session, Status::kIoError);  // a stamp that is no time cannot be set
        return Outcome::kStop;
    }
    if (link_entry) {
        return CommitLinkEntry(cx, entry, path, relative_start, out, form) ? Outcome::kDone : Outcome::kStop;
    }
    if (!out.Commit(cx.session, form)) return Outcome::kStop;
    return accepted ? Outcome::kAccepted : Outcome::kDone;
}

// Extracts one entry on the calling thread, with its retries after a bad data check; the
// first attempt takes what a worker expanded, when it is ready. The ledger learns how it
// came out.
bool ExtractInOrder(Context& cx, std::FILE* archive_file, archive::OutputRoot& root, const HidFileEntry& entry,
                    DecodedEntry* decoded, DamageLedger& ledger) {
    Outcome outcome;
    bool replace_agreed = false;
    do {
        outcome = ExtractEntry<true>(cx, archive_file, root, entry, &replace_agreed, decoded, &ledger);
        decoded = nullptr;
    } while (outcome == Outcome::kRetry);
    switch (outcome) {
        case Outcome::kStop: return false;
        case Outcome::kDone: return NoteWhole(cx, ledger, entry);
        case Outcome::kBad: return NoteBad(cx, ledger, entry);
        default: return true;
    }
}

// What the workers read of the archive state: their own copy, wiped when the run ends.
struct ExpandSettings {
    std::string archive_name;
    std::string password;   // empty: enciphered entries wait for the calling thread
    explicit ExpandSettings(const archive::ArchiveState& a) : archive_name(a.name), password(a.data_password) {}
    ~ExpandSettings() { crypto::SecureWipe(password.data(), password.size()); }
    ExpandSettings(const ExpandSettings&) = delete;
    ExpandSettings& operator=(const ExpandSettings&) = delete;
};

// The job of a worker: expand one entry into the slot's spill and check its CRC. Anything
// it cannot do alone (a password to ask for, a failed read, a bad check) is left to the
// calling thread, which then does the entry as one worker would.
void ExpandJob(Worker& w, DecodedEntry& job, const HidFileEntry& entry, const ExpandSettings& settings) {
    job.ready = false;
    if (entry.unpacked_size > static_cast<uint32_t>(INT32_MAX)) return;
    if (entry.cipher_id != crypto::kCipherNone && settings.password.empty()) return;
    if (!w.archive_file) w.archive_file = platform::OpenFile(settings.archive_name.c_str(), "rb");
    if (!w.archive_file || (!w.decoder.window && !codec::AllocDecoder(w.decoder, w.stream)) || !job.spill.Open()) {
        w.status = 0;
        return;
    }
    codec::StreamState& s = w.stream;
    if (!platform::SeekTo(w.archive_file.get(), static_cast<uint64_t>(entry.record_offset) + entry.record_length)) return;
    s.data_crc = 0xFFFFFFFFu;
    s.unpacked_size = static_cast<int32_t>(entry.unpacked_size);
    s.packed_in = w.archive_file.get();
    s.packed_left = entry.packed_size;
    s.unpacked_left = static_cast<int32_t>(entry.unpacked_size);
    s.output = job.spill.file.get();
    codec::BeginEntryCipher(s, entry.cipher_id, settings.password.c_str(), codec::Direction::kDecipher);
    const bool expanded = codec::ExpandEntry(w.decoder, s);
    s.packed_in = nullptr;
    s.output = nullptr;
    job.ready = expanded && s.unpacked_left == 0 && ~s.data_crc == entry.data_crc && std::fflush(job.spill.file.get()) == 0;
    w.status = 0;
}

void ExtractList(Context& cx, const HidFileList& list) {
    platform::File archive_file = platform::OpenFile(cx.archive.name, "rb");
    if (!archive_file) {
        Fail(cx.session, Status::kIoError);
        return;
    }
    std::vector<const HidFileEntry*> entries;
    for (const HidFileEntry* entry = list.first; entry; entry = entry->next) entries.push_back(entry);
    const int workers = std::min<int>(WorkerCount(cx.archive), static_cast<int>(std::max<size_t>(entries.size(), 1)));
    if (!codec::AllocDecoder(cx.decoder, cx.stream)) return;
    DecoderGuard decoder {cx.decoder};
    StreamFiles release {cx.stream};
    DamageLedger ledger = StartLedger(cx.archive);
    archive::OutputRoot root;  // opened when the first file is written, then kept
    if (!kWorkersBuilt || workers <= 1) {
        for (const HidFileEntry* entry : entries) {
            if (!ExtractInOrder(cx, archive_file.get(), root, *entry, nullptr, ledger)) return;
        }
        CloseLedger(cx, ledger);
        return;
    }
    std::atomic<bool> stop {false};
    std::vector<std::unique_ptr<Worker>> pool;
    for (int w = 0; w < workers; ++w) pool.push_back(std::make_unique<Worker>(stop));
    const size_t ahead = JobsAhead(workers);
    std::vector<DecodedEntry> slots(ahead);
    const ExpandSettings settings(cx.archive);
    const auto run = [&](int worker, size_t job) {
        ExpandJob(*pool[static_cast<size_t>(worker)], slots[job % ahead], *entries[job], settings);
    };
    const auto take = [&](size_t job) {
        DecodedEntry& decoded = slots[job % ahead];
        // A password given since the workers started makes their work on enciphered entries void.
        const bool usable = decoded.ready && settings.password == cx.archive.data_password;
        return ExtractInOrder(cx, archive_file.get(), root, *entries[job], usable ? &decoded : nullptr, ledger);
    };
    if (RunInOrder(entries.size(), workers, ahead, stop, run, take) == RunOutcome::kOutOfMemory) {
        Fail(cx.session, Status::kNoMemory);
    }
    if (StatusIsOk(cx.session)) CloseLedger(cx, ledger);
}

}  // namespace

void ExtractEntries(Context& cx, const HidFileList& list, uint32_t* kept) {
    if (kept) *kept = 0;
    platform::File archive_file = platform::OpenFile(cx.archive.name, "rb");
    if (!archive_file) {
        Fail(cx.session, Status::kIoError);
        return;
    }
    if (!codec::AllocDecoder(cx.decoder, cx.stream)) return;
    DecoderGuard decoder {cx.decoder};
    StreamFiles release {cx.stream};
    archive::OutputRoot root;  // opened when the first file is written, then kept
    for (const HidFileEntry* entry = list.first; entry; entry = entry->next) {
        Outcome outcome;
        bool replace_agreed = false;
        do {
            outcome = ExtractEntry<false>(cx, archive_file.get(), root, *entry, &replace_agreed, nullptr, nullptr);
        } while (outcome == Outcome::kRetry);
        if (outcome == Outcome::kStop) return;
        if (outcome == Outcome::kSkipped && kept) ++*kept;
    }
}

const HidFileEntry* CheckEntries(Context& cx, const HidFileList& list) {
    platform::File archive_file = platform::OpenFile(cx.archive.name, "rb");
    if (!archive_file) {
        Fail(cx.session, Status::kIoError);
        return list.first;
    }
    if (!codec::AllocDecoder(cx.decoder, cx.stream)) return list.first;
    DecoderGuard decoder {cx.decoder};
    StreamFiles release {cx.stream};
    codec::StreamState& stream = cx.stream;
    for (const HidFileEntry* entry = list.first; entry; entry = entry->next) {
        for (;;) {
            if (entry->unpacked_size > static_cast<uint32_t>(INT32_MAX)) {
                Fail(cx.session, Status::kTooLarge);
                return entry;
            }
            if (!BeginDeciphering(cx, entry->cipher_id, entry->name)) {
                Fail(cx.session, Status::kBadPassword);
                return entry;
            }
            if (!platform::SeekTo(archive_file.get(), static_cast<uint64_t>(entry->record_offset) + entry->record_length)) {
                Fail(cx.session, Status::kIoError);
                return entry;
            }
            stream.unpacked_size = static_cast<int32_t>(entry->unpacked_size);
            stream.packed_in = archive_file.get();
            stream.packed_left = entry->packed_size;
            stream.unpacked_left = static_cast<int32_t>(entry->unpacked_size);
            stream.output = nullptr;  // checked, written nowhere
            if (!codec::ExpandEntry(cx.decoder, stream) || !StatusIsOk(cx.session)) return entry;
            if (stream.unpacked_left == 0 && ~stream.data_crc == entry->data_crc) break;
            const BadData again = AskAgainAfterBadData(cx, *entry);
            if (again == BadData::kStop) return entry;
            if (again == BadData::kAccept) break;
        }
    }
    return nullptr;
}

void ExtractFileMaskListHid(Context& cx, const FileMaskList& masks) {
    if (cx.archive.strong) {
        ReadStrongArchive(cx, masks, ReadMode::kExtract);
        return;
    }
    ClearStatus(cx.session);
    if (cx.session.output_path_refused || cx.session.relative_path_refused) {
        Fail(cx.session, Status::kNameTooLong);
        return;
    }
    archive::ArchiveLock lock;  // no writer swaps the archive while it is read
    if (!archive::LockArchive(cx.session, cx.archive, archive::LockKind::kShared, lock)) return;
    EntryList entries;
    archive::BuildHidFileList(cx.session, cx.archive, entries.list, masks);
    // A damaged record (or the end of a cut archive) ends the listing; the entries before
    // it are still extracted.
    const uint16_t listing = cx.session.status;
    if (listing != arOk && !(listing == arBadFormat && entries.list.first != nullptr)) return;
    cx.session.status = 0;
    ExtractList(cx, entries.list);
    // A walk cut short outweighs damaged entries: entries behind the cut were not seen.
    if (listing != arOk && (StatusIsOk(cx.session) || cx.session.status == arDamagedEntries)) {
        cx.session.status = listing;
    }
}

}  // namespace hedgerow::ops
