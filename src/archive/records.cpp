// records.cpp -- marker search, first-entry search, reading and writing entry records.
#include "archive/records.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "archive/temp_names.h"
#include "common/byte_order.h"
#include "common/heap.h"
#include "common/rule_tables.h"
#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "names/paths.h"
#include "platform/platform.h"

namespace hedgerow::archive {

namespace {

constexpr uint32_t kCrcStart = 8;
constexpr uint32_t kCrcLength = kRecordSize - kCrcStart;  // 424 bytes

uint32_t HeaderCrc(const uint8_t* record) { return crypto::Crc32(record + kCrcStart, kCrcLength); }

// The first-entry search tests the header CRC at every offset of up to 60 KiB. The CRC of
// a window of fixed length can slide by one byte in constant time: with lin(w) the
// register of w started from zero, lin(w shifted) = step(lin(w), incoming byte) xor
// lin(outgoing byte followed by kCrcLength zeros), and the preset adds one constant.
struct SlidingCrc {
    std::array<uint32_t, 256> step {};      // the byte table of the reflected polynomial
    std::array<uint32_t, 256> outgoing {};  // lin(x, then kCrcLength zero bytes)
    uint32_t preset = 0;                    // the preset's part of the register after kCrcLength bytes
};

constexpr uint32_t Step(const std::array<uint32_t, 256>& table, uint32_t r, uint8_t byte) {
    return (r >> 8) ^ table[(r ^ byte) & 0xFF];
}

constexpr SlidingCrc MakeSlidingCrc() {
    SlidingCrc c;
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit) r = (r >> 1) ^ (0xEDB88320u & (0u - (r & 1u)));
        c.step[i] = r;
    }
    for (uint32_t x = 0; x < 256; ++x) {
        uint32_t r = Step(c.step, 0, static_cast<uint8_t>(x));
        for (uint32_t i = 0; i < kCrcLength; ++i) r = Step(c.step, r, 0);
        c.outgoing[x] = r;
    }
    uint32_t r = 0xFFFFFFFFu;
    for (uint32_t i = 0; i < kCrcLength; ++i) r = Step(c.step, r, 0);
    c.preset = r;
    return c;
}


}  // namespace

void MakeMarkerRecord(bool locked, uint8_t marker[kMarkerSize]) {
    std::memset(marker, 0, kMarkerSize);
    std::memcpy(marker, kSignature, 10);
    Store32Le(marker + 10, kMarkerMagic);
    Store32Le(marker + 14, kRecordTag);
    Store32Le(marker + 18, locked ? 1 : 0);
    Store32Le(marker + 22, kMarkerBodyLength);
}

namespace {

// A strong archive's header at offset 0: the signature, the magic and the strong tag.
bool IsStrongHead(const uint8_t* buffer, size_t window) {
    return window >= kStrongHeaderSize && CompareBytes(buffer, kSignature, 10) && Load32Le(buffer + 10) == kMarkerMagic &&
           Load32Le(buffer + 14) == kStrongFormatTag;
}

// The marker search over the bytes read: false when the window holds no marker.
bool SearchMarker(const uint8_t* buffer, size_t window, uint32_t* offset, bool* locked) {
    if (window < 25) return false;
    const size_t last = window - 24;  // one past the last place a marker can begin
    for (size_t p = 0; p < last; ++p) {
        // (straight to the next byte that can begin the signature)
        while (buffer[p] != kSignature[0]) {
            if (++p == last) return false;
        }
        const uint8_t* at = buffer + p;
        if (CompareBytes(at, kSignature, 10) && Load32Le(at + 14) == kRecordTag && Load32Le(at + 10) == kMarkerMagic) {
            *offset = static_cast<uint32_t>(p);
            *locked = (Load32Le(at + 18) & 1) != 0;
            return true;
        }
    }
    return false;
}

}  // namespace

MarkerSearch FindMarker(std::FILE* file, uint32_t* offset, bool* locked) {
    const int64_t length = platform::Length(file);
    if (length < 0 || !platform::SeekTo(file, 0)) return MarkerSearch::kUnreadable;
    const auto window = static_cast<size_t>(std::min<int64_t>(length, kMarkerSearchLimit));
    const HeapBytes buffer = AllocBytes(window);
    if (!buffer || platform::ReadBytes(file, buffer.get(), window) != window) return MarkerSearch::kUnreadable;
    if (IsStrongHead(buffer.get(), window)) return MarkerSearch::kStrong;
    return SearchMarker(buffer.get(), window, offset, locked) ? MarkerSearch::kFound : MarkerSearch::kNone;
}

bool ReadMarkerRecord(Session& session, ArchiveState& archive, std::FILE* file) {
    if (!platform::SeekTo(file, 0)) return Fail(session, Status::kIoError);
    const int64_t length = platform::Length(file);
    if (length < 0) return Fail(session, Status::kLengthError);
    const auto window = static_cast<size_t>(std::min<int64_t>(length, kMarkerSearchLimit));
    const HeapBytes buffer = AllocBytes(window);
    if (!buffer) return Fail(session, Status::kNoMemory);
    if (platform::ReadBytes(file, buffer.get(), window) != window) return Fail(session, Status::kIoError);
    if (IsStrongHead(buffer.get(), window)) {
        archive.strong = true;
        archive.cipher_id = kCipherIdStrong;
        archive.marker_offset = 0;
        archive.marker_body_offset = 10;
        archive.marker_body_length = 0;
        return true;
    }
    uint32_t offset = 0;
    bool locked = false;
    if (!SearchMarker(buffer.get(), window, &offset, &locked)) return false;
    archive.marker_offset = offset;
    archive.marker_body_offset = offset + 10;
    archive.marker_body_length = kMarkerBodyLength;
    if (locked) archive.locked = true;
    return true;
}

FirstRecord FindFirstEntryRecord(Session& session, ArchiveState& archive, std::FILE* file) {
    const uint64_t start = static_cast<uint64_t>(archive.marker_body_offset) + archive.marker_body_length;
    if (!platform::SeekTo(file, start)) return FirstRecord::kUnreadable;
    const int64_t length = platform::Length(file);
    if (length < 0) return FirstRecord::kNone;
    const uint64_t behind_marker = static_cast<uint64_t>(length) > start ? static_cast<uint64_t>(length) - start : 0;
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(behind_marker, kMarkerSearchLimit));
    const HeapBytes buffer = AllocBytes(wanted);
    if (!buffer) return FirstRecord::kUnreadable;
    const size_t got = platform::ReadBytes(file, buffer.get(), wanted);
    if (got < wanted) return FirstRecord::kUnreadable;
    if (got < kRecordSize) return FirstRecord::kNone;
    if (archive.locked) {
        uint8_t plain[kRecordSize];
        const HeaderKey key = DecipherEntryHeader(session, archive, plain, buffer.get());
        if (key == HeaderKey::kRefused) return FirstRecord::kRefused;
        if (key == HeaderKey::kNoProcedure) return FirstRecord::kNone;
        std::memcpy(buffer.get(), plain, kRecordSize);
    }
    // Writers put the first record right behind the marker; readers accept one that
    // starts later. An archive whose only member is empty holds exactly one record.
    const uint8_t* b = buffer.get();
    const SlidingCrc& sliding = RuleTable<SlidingCrc, MakeSlidingCrc>();
    uint32_t lin = 0;
    for (uint32_t i = 0; i < kCrcLength; ++i) lin = Step(sliding.step, lin, b[kCrcStart + i]);
    for (size_t p = 0; p + kRecordSize <= got; ++p) {
        if (p > 0) {
            lin = Step(sliding.step, lin, b[p + kCrcStart + kCrcLength - 1]) ^ sliding.outgoing[b[p + kCrcStart - 1]];
        }
        if (Load32Le(b + p + kFieldHeaderCrc) == ~(lin ^ sliding.preset)) {
            archive.first_entry_offset = static_cast<uint32_t>(start + p);
            archive.read_position = archive.first_entry_offset;
            return FirstRecord::kFound;
        }
    }
    return FirstRecord::kNone;
}

void RewindEntries(ArchiveState& archive) { archive.read_position = archive.first_entry_offset; }

void FillEntryFromRecord(HidFileEntry* entry, const uint8_t record[kRecordSize], uint32_t offset) {
    const auto* name = reinterpret_cast<const char*>(record + kFieldName);
    entry->valid = 1;
    entry->name[0] = '\0';
    entry->packed_size = Load32Le(record + kFieldPackedSize);
    entry->unpacked_size = Load32Le(record + kFieldUnpackedSize);
    entry->date_time = Load32Le(record + kFieldDateTime);
    entry->attributes = Load32Le(record + kFieldAttributes);
    entry->cipher_id = static_cast<int32_t>(Load32Le(record + kFieldCipherId));
    entry->enciphered = entry->cipher_id != -1 ? 1 : 0;
    entry->format_revision = Load32Le(record + kFieldRevision);
    entry->record_offset = offset;
    entry->unpacked_size_high = 0;
    entry->packed_size_high = 0;
    entry->record_length = kRecordSize;
    entry->reserved2 = 0;
    entry->data_crc = Load32Le(record + kFieldDataCrc);
    entry->reserved3 = Load32Le(record + kFieldReserved340);
    entry->reserved4 = 0;
    entry->name_length = static_cast<uint32_t>(strnlen(name, kNameFieldSize));
    entry->record_tag = Load32Le(record + kFieldTag);
    entry->unix_mode = 0;
    entry->mtime_low = 0;
    entry->mtime_high = 0;
    entry->mtime_nanoseconds = 0;
    std::memset(entry->reserved6, 0, sizeof entry->reserved6);
}

NextRecord ReadNextEntryRecord(Session& session, ArchiveState& archive, std::FILE* file, HidFileEntry* entry,
                               char name[kNameFieldSize], uint8_t record[kRecordSize]) {
    const auto failed = [&](Status code) {
        Fail(session, code);
        return NextRecord::kFailed;
    };
    const uint32_t offset = archive.read_position;
    const int64_t length = platform::Length(file);
    if (length < 0) return failed(Status::kIoError);
    if (static_cast<uint64_t>(offset) >= static_cast<uint64_t>(length)) return NextRecord::kEnd;
    // Less than a record behind the last entry is a cut-off archive, and a read that
    // fails is an error: neither may pass for the end, or a rewrite would drop entries.
    if (static_cast<uint64_t>(offset) + kRecordSize > static_cast<uint64_t>(length)) {
        return failed(Status::kBadFormat);
    }
    uint8_t raw[kRecordSize];
    if (!platform::SeekTo(file, offset) || platform::ReadBytes(file, raw, kRecordSize) < kRecordSize) {
        return failed(Status::kIoError);
    }
    if (archive.locked) {
        // Opening found the first record with the header password, which proves it: a
        // later record that does not decipher is damaged, whatever the host answers when
        // asked for another password. Taking it for the end would let a rewrite drop
        // every entry behind it.
        const bool later = offset != archive.first_entry_offset;
        switch (DecipherEntryHeader(session, archive, record, raw)) {
            case HeaderKey::kDeciphered: break;
            case HeaderKey::kRefused:
            case HeaderKey::kNoProcedure: return failed(later ? Status::kBadFormat : Status::kBadPassword);
        }
    } else {
        std::memcpy(record, raw, kRecordSize);
    }
    if (Load32Le(record + kFieldTag) != kRecordTag) return failed(Status::kBadFormat);
    const auto* stored = reinterpret_cast<const char*>(record + kFieldName);
    if (strnlen(stored, kNameFieldSize) == kNameFieldSize) return failed(Status::kBadFormat);
    // The data must lie inside the file, and the next record inside what an entry
    // offset can express.
    const uint64_t next = static_cast<uint64_t>(offset) + kRecordSize + Load32Le(record + kFieldPackedSize);
    if (next > static_cast<uint64_t>(length) || next > UINT32_MAX) {
        return failed(Status::kBadFormat);
    }
    FillEntryFromRecord(entry, record, offset);
    std::memcpy(name, stored, strnlen(stored, kNameFieldSize) + 1);
    archive.read_position = static_cast<uint32_t>(next);
    return NextRecord::kEntry;
}

bool FormStoredName(const Session& session, const char* name, char stored[kNameFieldSize]) {
    const std::string n = names::StoredNameOf(session.relative_path, OptionOn(session, kOptNamesOnly), name ? name : "");
    return platform::AnsiToOem(n.c_str(), stored, kNameFieldSize);
}

bool WriteEntryRecord(Session& session, const ArchiveState& archive, std::FILE* file, uint8_t record[kRecordSize],
                      const char* name) {
    char stored[kNameFieldSize] = {};
    if (!FormStoredName(session, name, stored)) return Fail(session, Status::kNameTooLong);
    Store32Le(record + kFieldCipherId, static_cast<uint32_t>(archive.cipher_id));
    Store32Le(record + kFieldTag, kRecordTag);
    Store32Le(record + kFieldRecordLength, kRecordSize);
    Store32Le(record + kFieldRevision, kFormatRevision);
    std::memset(record + kFieldName, 0, kNameFieldSize);
    std::memcpy(record + kFieldName, stored, std::strlen(stored));
    Store32Le(record + kFieldHeaderCrc, HeaderCrc(record));
    uint8_t out[kRecordSize];
    if (archive.locked) {
        uint8_t work[kRecordSize];
        std::memcpy(work, record, kRecordSize);
        EncipherEntryHeader(archive, out, work);
    } else {
        std::memcpy(out, record, kRecordSize);
    }
    if (platform::WriteBytes(file, out, kRecordSize) < kRecordSize) return Fail(session, Status::kWriteError);
    return true;
}

void EncipherEntryHeader(const ArchiveState& archive, uint8_t destination[kRecordSize], uint8_t source[kRecordSize]) {
    // Records have keys of their own (the header password): a schedule of this call only.
    crypto::CipherState cipher;
    crypto::SetEncipherKey(cipher, archive.header_password_encipher, crypto::kCipherDes);
    crypto::EncipherBuffer(cipher, source, static_cast<int32_t>(kRecordSize), crypto::kCipherDes);
    std::memmove(destination, source, kRecordSize);
}

HeaderKey DecipherEntryHeader(Session& session, ArchiveState& archive, uint8_t destination[kRecordSize],
                              const uint8_t source[kRecordSize]) {
    crypto::CipherState cipher;
    for (;;) {
        uint8_t work[kRecordSize];
        std::memcpy(work, source, kRecordSize);
        crypto::SetDecipherKey(cipher, archive.header_password_decipher, crypto::kCipherDes);
        crypto::DecipherBuffer(cipher, work, static_cast<int32_t>(kRecordSize), crypto::kCipherDes);
        std::memcpy(destination, work, kRecordSize);
        if (CheckEntryHeaderCrc(work)) return HeaderKey::kDeciphered;
        const auto& slot = session.callbacks.head_crypt_key;
        if (slot.proc == nullptr) return HeaderKey::kNoProcedure;
        char* password = archive.header_password_decipher;
        std::memset(password, 0, kPasswordCapacity);
        const int32_t answer = slot.proc(slot.user, password, archive.name);
        password[kPasswordCapacity - 1] = '\0';  // whatever the host wrote, it ends here
        if (answer == 0) return HeaderKey::kRefused;
    }
}

bool CheckEntryHeaderCrc(const uint8_t record[kRecordSize]) {
    return Load32Le(record + kFieldHeaderCrc) == HeaderCrc(record);
}

}  // namespace hedgerow::archive
