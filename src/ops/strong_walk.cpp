// strong_walk.cpp -- opening a strong archive and walking its records (see strong_walk.h).
#include "ops/strong_walk.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "codec/stream.h"
#include "crypto/wipe.h"
#include "names/replace_query.h"

namespace hedgerow::ops {

namespace {

// The cached master key, when it was derived for this salt.
bool CachedKey(const archive::ArchiveState& a, const strong::Header& header, strong::Key* master) {
    if (!a.strong_key_ready || std::memcmp(a.strong_salt, header.salt.data(), sizeof a.strong_salt) != 0) return false;
    std::memcpy(master->bytes.data(), a.strong_key, strong::kKeySize);
    return true;
}

void KeepKey(archive::ArchiveState& a, const strong::Header& header, const strong::Key& master) {
    std::memcpy(a.strong_key, master.bytes.data(), strong::kKeySize);
    std::memcpy(a.strong_salt, header.salt.data(), sizeof a.strong_salt);
    a.strong_key_ready = true;
}

// Tries the password: the keys, when the header's HMAC holds under them.
bool TryPassword(const StrongReader& r, const char* password, strong::KeySchedule* keys, bool* derived) {
    strong::Key master;
    *derived = strong::DeriveMasterKey(r.header, password, &master);
    return *derived && strong::DeriveKeys(r.header, master, keys) && strong::HeaderHmacHolds(r.header_bytes, *keys);
}

// The data password the host gives through CryptKeyProc, asked with the archive's name.
bool AskPassword(Context& cx) {
    const auto& slot = cx.session.callbacks.crypt_key;
    if (slot.proc == nullptr) return false;
    char answer[codec::kKeyBufferSize + 1] = {};
    const crypto::WipeOnExit wipe(answer);
    if (slot.proc(slot.user, answer, cx.archive.name) != 1) return false;
    const size_t n = strnlen(answer, codec::kKeyBufferSize);
    if (n == 0) return false;
    std::memset(cx.archive.data_password, 0, sizeof cx.archive.data_password);
    std::memcpy(cx.archive.data_password, answer, n);
    return true;
}

bool ObtainKeys(Context& cx, StrongReader& r) {
    strong::Key master;
    if (CachedKey(cx.archive, r.header, &master)) {
        if (strong::DeriveKeys(r.header, master, &r.keys) && strong::HeaderHmacHolds(r.header_bytes, r.keys)) return true;
        archive::ForgetStrongKey(cx.archive);
    }
    for (;;) {
        if (cx.archive.data_password[0] != '\0') {
            bool derived = false;
            if (TryPassword(r, cx.archive.data_password, &r.keys, &derived)) {
                KeepKey(cx.archive, r.header, r.keys.master);
                return true;
            }
            if (!derived) return Fail(cx.session, Status::kNoMemory);
        }
        if (!AskPassword(cx)) return Fail(cx.session, Status::kBadPassword);
    }
}

}  // namespace

bool ReadStrongHeader(Context& cx, const char* name, StrongReader& r) {
    r.file = platform::OpenFile(name, "rb");
    if (!r.file) return Fail(cx.session, Status::kIoError);
    r.length = platform::Length(r.file.get());
    if (r.length < 0) return Fail(cx.session, Status::kIoError);
    if (static_cast<uint64_t>(r.length) < strong::kHeaderSize ||
        platform::ReadBytes(r.file.get(), r.header_bytes, strong::kHeaderSize) != strong::kHeaderSize) {
        return Fail(cx.session, Status::kNotAnArchive);
    }
    switch (strong::DecodeHeader(r.header_bytes, &r.header)) {
        case strong::HeaderRead::kRead: break;
        case strong::HeaderRead::kNotStrong: return Fail(cx.session, Status::kNotAnArchive);
        case strong::HeaderRead::kDamaged: return Fail(cx.session, Status::kBadFormat);
        case strong::HeaderRead::kUnsupported: return Fail(cx.session, Status::kUnsupported);
    }
    return true;
}

bool OpenStrongReader(Context& cx, const char* name, StrongReader& r) {
    if (!ReadStrongHeader(cx, name, r) || !ObtainKeys(cx, r)) return false;
    if (!r.records.SetKey(r.keys.records)) return Fail(cx.session, Status::kNoMemory);
    r.index = 0;
    return true;
}

StrongNext NextStrongEntry(Context& cx, StrongReader& r, strong::Record* record, uint64_t* data_offset) {
    const auto failed = [&](Status code) {
        Fail(cx.session, code);
        return StrongNext::kFailed;
    };
    switch (strong::ReadRecord(r.file.get(), r.records, r.header, r.index, record)) {
        case strong::RecordRead::kRead: break;
        // The file ends where a record should begin: the end record is missing, so the
        // archive was cut short.
        case strong::RecordRead::kEnd: return failed(Status::kBadFormat);
        case strong::RecordRead::kDamaged: return failed(Status::kBadFormat);
        case strong::RecordRead::kIoError: return failed(Status::kIoError);
    }
    const int64_t here = platform::Tell(r.file.get());
    if (here < 0) return failed(Status::kIoError);
    if (record->kind == strong::EntryKind::kEnd) {
        // Nothing may follow the end record: bytes there were put there by someone else.
        return here == r.length ? StrongNext::kEnd : failed(Status::kBadFormat);
    }
    if (record->data_length > static_cast<uint64_t>(r.length - here)) return failed(Status::kBadFormat);
    *data_offset = static_cast<uint64_t>(here);
    ++r.index;
    return StrongNext::kEntry;
}

bool SkipStrongData(Context& cx, StrongReader& r, uint64_t data_offset, const strong::Record& record) {
    return platform::SeekTo(r.file.get(), data_offset + record.data_length) || Fail(cx.session, Status::kIoError);
}

void FillStrongEntry(const strong::Record& record, uint64_t frame_offset, HidFileEntry* entry) {
    std::memset(entry, 0, sizeof *entry);
    entry->valid = 1;
    const std::string name = platform::Utf8ToAnsi(record.name.c_str());
    size_t n = std::min(name.size(), sizeof entry->name - 1);
    // A cut name ends at a whole character.
    if (n < name.size() && platform::AnsiIsUtf8()) {
        while (n > 0 && (static_cast<unsigned char>(name[n]) & 0xC0u) == 0x80u) --n;
    }
    std::memcpy(entry->name, name.data(), n);
    entry->name_length = static_cast<uint32_t>(n);
    entry->unpacked_size = static_cast<uint32_t>(record.unpacked_size);
    entry->unpacked_size_high = static_cast<uint32_t>(record.unpacked_size >> 32);
    entry->packed_size = static_cast<uint32_t>(record.data_length);
    entry->packed_size_high = static_cast<uint32_t>(record.data_length >> 32);
    entry->attributes = record.attributes;
    entry->enciphered = 1;
    entry->format_revision = strong::kVersion;
    entry->record_offset = static_cast<uint32_t>(frame_offset);
    entry->cipher_id = archive::kCipherIdStrong;
    entry->record_length = 0;
    entry->record_tag = strong::kFormatTag;
    entry->unix_mode = record.unix_mode;
    entry->mtime_low = static_cast<uint32_t>(static_cast<uint64_t>(record.mtime_seconds));
    entry->mtime_high = static_cast<uint32_t>(static_cast<uint64_t>(record.mtime_seconds) >> 32);
    entry->mtime_nanoseconds = record.mtime_nanoseconds;
    entry->metadata_flags = HEDGEROW_META_KEPT;
    // The DOS stamp: local time, within the years a DOS stamp can hold.
    entry->date_time = names::DosStampOf(record.mtime_seconds);
}

bool StrongKeysForNewHeader(Context& cx, const strong::Header& header, const char* password, strong::KeySchedule* keys) {
    strong::Key master;
    if (!strong::DeriveMasterKey(header, password, &master) || !strong::DeriveKeys(header, master, keys)) {
        return Fail(cx.session, Status::kNoMemory);
    }
    KeepKey(cx.archive, header, master);
    return true;
}

}  // namespace hedgerow::ops
