// format.cpp -- header, records and sealed data of strong archives (see format.h).
#include "strong/format.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "common/byte_order.h"
#include "crypto/crc32.h"
#include "crypto/wipe.h"
#include "platform/platform.h"

namespace hedgerow::strong {

namespace {

constexpr char kSignature[10] = {'O', 'v', 'e', 'r', 'g', 'r', 'o', 'w', 'n', '!'};
constexpr uint32_t kMarkerMagic = 0x1541524E;
constexpr size_t kCrcOffset = 92;
constexpr size_t kHmacOffset = 96;
constexpr std::string_view kHeaderInfo = "hedgerow strong v1 header";
constexpr std::string_view kRecordsInfo = "hedgerow strong v1 records";

std::span<const uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// The associated data of a record: archive identifier, position, frame head.
std::array<uint8_t, kIdSize + 8 + kFrameHeadSize> RecordAssociated(const Header& header, uint64_t index,
                                                                  const uint8_t head[kFrameHeadSize]) {
    std::array<uint8_t, kIdSize + 8 + kFrameHeadSize> ad {};
    std::memcpy(ad.data(), header.archive_id.data(), kIdSize);
    Store64Le(ad.data() + kIdSize, index);
    std::memcpy(ad.data() + kIdSize + 8, head, kFrameHeadSize);
    return ad;
}

}  // namespace

// The nonce of data chunk number `chunk`: 11 bytes big-endian, then the last-chunk flag.
void DataChunkNonce(uint64_t chunk, bool last, uint8_t nonce[kNonceSize]) {
    std::memset(nonce, 0, kNonceSize);
    for (int i = 0; i < 8; ++i) nonce[10 - i] = static_cast<uint8_t>(chunk >> (8 * i));
    nonce[11] = last ? 1 : 0;
}

namespace {

uint64_t ChunkCount(uint64_t n, uint32_t chunk_size) { return n == 0 ? 1 : (n + chunk_size - 1) / chunk_size; }

bool ReadAll(std::FILE* f, void* buffer, size_t n) { return n == 0 || platform::ReadBytes(f, buffer, n) == n; }
bool WriteAll(std::FILE* f, const void* buffer, size_t n) { return n == 0 || platform::WriteBytes(f, buffer, n) == n; }

}  // namespace

bool NewHeader(const Argon2Parameters& argon2, Header* header) {
    header->argon2 = argon2;
    header->chunk_size = kChunkSize;
    return platform::RandomBytes(header->archive_id.data(), kIdSize) && platform::RandomBytes(header->salt.data(), kSaltSize);
}

bool DeriveMasterKey(const Header& header, const char* password, Key* master) {
    const std::string_view text = password ? password : "";
    return Argon2id(Bytes(text), header.salt, header.argon2, master->bytes);
}

bool DeriveKeys(const Header& header, const Key& master, KeySchedule* keys) {
    keys->master = master;
    return HkdfSha256(master.bytes, header.archive_id, Bytes(kHeaderInfo), keys->header.bytes) &&
           HkdfSha256(master.bytes, header.archive_id, Bytes(kRecordsInfo), keys->records.bytes);
}

namespace {

void EncodeHeaderFields(const Header& header, uint8_t out[kHeaderSize]) {
    std::memset(out, 0, kHeaderSize);
    std::memcpy(out, kSignature, sizeof kSignature);
    Store32Le(out + 10, kMarkerMagic);
    Store32Le(out + 14, kFormatTag);
    Store32Le(out + 18, kVersion);
    Store32Le(out + 22, static_cast<uint32_t>(kHeaderSize));
    std::memcpy(out + 26, header.archive_id.data(), kIdSize);
    std::memcpy(out + 42, header.salt.data(), kSaltSize);
    Store32Le(out + 58, header.argon2.memory_kib);
    Store32Le(out + 62, header.argon2.passes);
    Store32Le(out + 66, header.argon2.lanes);
    Store32Le(out + 70, 0);
    Store32Le(out + 74, header.chunk_size);
    Store32Le(out + kCrcOffset, crypto::Crc32(out, kCrcOffset));
}

}  // namespace

bool EncodeHeader(const Header& header, const KeySchedule& keys, uint8_t out[kHeaderSize]) {
    EncodeHeaderFields(header, out);
    std::array<uint8_t, kMacSize> mac {};
    if (!HmacSha256(keys.header.bytes, std::span<const uint8_t>(out, kHmacOffset), mac)) return false;
    std::memcpy(out + kHmacOffset, mac.data(), kMacSize);
    return true;
}

bool Argon2ParametersAccepted(const Argon2Parameters& a) {
    return a.lanes != 0 && a.lanes <= kMaxArgon2Lanes && a.passes != 0 && a.passes <= kMaxArgon2Passes &&
           a.memory_kib >= 8 * a.lanes && a.memory_kib <= kMaxArgon2MemoryKib;
}

Argon2Parameters NewArgon2Parameters(const archive::ArchiveState& a, const Argon2Parameters& otherwise) {
    Argon2Parameters p = otherwise;
    if (a.strong_argon2_memory_kib != 0) p.memory_kib = a.strong_argon2_memory_kib;
    if (a.strong_argon2_passes != 0) p.passes = a.strong_argon2_passes;
    if (a.strong_argon2_lanes != 0) p.lanes = a.strong_argon2_lanes;
    return p;
}

HeaderRead DecodeHeader(const uint8_t bytes[kHeaderSize], Header* header) {
    if (std::memcmp(bytes, kSignature, sizeof kSignature) != 0 || Load32Le(bytes + 10) != kMarkerMagic ||
        Load32Le(bytes + 14) != kFormatTag) {
        return HeaderRead::kNotStrong;
    }
    if (Load32Le(bytes + kCrcOffset) != crypto::Crc32(bytes, kCrcOffset)) return HeaderRead::kDamaged;
    if (Load32Le(bytes + 18) != kVersion) return HeaderRead::kUnsupported;
    if (Load32Le(bytes + 22) != kHeaderSize) return HeaderRead::kDamaged;
    std::memcpy(header->archive_id.data(), bytes + 26, kIdSize);
    std::memcpy(header->salt.data(), bytes + 42, kSaltSize);
    header->argon2 = {Load32Le(bytes + 58), Load32Le(bytes + 62), Load32Le(bytes + 66)};
    header->chunk_size = Load32Le(bytes + 74);
    if (!Argon2ParametersAccepted(header->argon2)) return HeaderRead::kDamaged;
    if (header->chunk_size == 0 || header->chunk_size > (16u << 20) || Load32Le(bytes + 70) != 0) return HeaderRead::kDamaged;
    return HeaderRead::kRead;
}

bool HeaderHmacHolds(const uint8_t bytes[kHeaderSize], const KeySchedule& keys) {
    std::array<uint8_t, kMacSize> mac {};
    if (!HmacSha256(keys.header.bytes, std::span<const uint8_t>(bytes, kHmacOffset), mac)) return false;
    return SameBytes(mac, std::span<const uint8_t>(bytes + kHmacOffset, kMacSize));
}

std::vector<uint8_t> EncodeRecordBody(const Record& record) {
    const size_t used = kBodyFixedSize + record.name.size();
    std::vector<uint8_t> body((used + kBodyAlign - 1) / kBodyAlign * kBodyAlign, 0);
    body[0] = static_cast<uint8_t>(record.kind);
    body[1] = record.flags;
    Store16Le(body.data() + 2, static_cast<uint16_t>(record.name.size()));
    Store32Le(body.data() + 4, record.attributes);
    Store32Le(body.data() + 8, record.unix_mode);
    Store32Le(body.data() + 12, record.mtime_nanoseconds);
    Store64Le(body.data() + 16, static_cast<uint64_t>(record.mtime_seconds));
    Store64Le(body.data() + 24, record.unpacked_size);
    Store64Le(body.data() + 32, record.stream_size);
    Store64Le(body.data() + 40, record.data_length);
    std::memcpy(body.data() + 48, record.data_key.bytes.data(), kKeySize);
    std::memcpy(body.data() + kBodyFixedSize, record.name.data(), record.name.size());
    return body;
}

std::vector<uint8_t> RecordAssociatedData(const Header& header, uint64_t index, const uint8_t head[kFrameHeadSize]) {
    const auto ad = RecordAssociated(header, index, head);
    return std::vector<uint8_t>(ad.begin(), ad.end());
}

std::vector<uint8_t> EncodeRecordFrame(Aead& records, const Header& header, uint64_t index, const Record& record,
                                       const uint8_t nonce[kNonceSize]) {
    if (record.name.size() > kMaxNameBytes) return {};
    std::vector<uint8_t> body = EncodeRecordBody(record);
    std::vector<uint8_t> frame(kFrameHeadSize + body.size() + kTagSize, 0);
    Store32Le(frame.data(), kFrameMagic);
    Store32Le(frame.data() + 4, static_cast<uint32_t>(body.size()));
    std::memcpy(frame.data() + 8, nonce, kNonceSize);
    std::memcpy(frame.data() + kFrameHeadSize, body.data(), body.size());
    crypto::SecureWipe(body.data(), body.size());
    const auto ad = RecordAssociated(header, index, frame.data());
    std::span<uint8_t> sealed(frame.data() + kFrameHeadSize, frame.size() - kFrameHeadSize - kTagSize);
    if (!records.Seal(nonce, ad, sealed, sealed, frame.data() + kFrameHeadSize + sealed.size())) {
        crypto::SecureWipe(frame.data(), frame.size());
        return {};
    }
    return frame;
}

bool WriteRecord(std::FILE* out, Aead& records, const Header& header, uint64_t index, const Record& record) {
    uint8_t nonce[kNonceSize];
    if (!platform::RandomBytes(nonce, sizeof nonce)) return false;
    const std::vector<uint8_t> frame = EncodeRecordFrame(records, header, index, record, nonce);
    return !frame.empty() && WriteAll(out, frame.data(), frame.size());
}

RecordRead ReadRecord(std::FILE* in, Aead& records, const Header& header, uint64_t index, Record* record) {
    uint8_t head[kFrameHeadSize];
    const size_t got = platform::ReadBytes(in, head, sizeof head);
    if (got == 0) return std::ferror(in) ? RecordRead::kIoError : RecordRead::kEnd;
    if (got < sizeof head) return std::ferror(in) ? RecordRead::kIoError : RecordRead::kDamaged;
    const uint32_t body_length = Load32Le(head + 4);
    if (Load32Le(head) != kFrameMagic || body_length < kBodyFixedSize || body_length % kBodyAlign != 0 ||
        body_length > kBodyFixedSize + kMaxNameBytes + kBodyAlign) {
        return RecordRead::kDamaged;
    }
    std::vector<uint8_t> sealed(body_length + kTagSize);
    if (!ReadAll(in, sealed.data(), sealed.size())) return std::ferror(in) ? RecordRead::kIoError : RecordRead::kDamaged;
    const auto ad = RecordAssociated(header, index, head);
    std::vector<uint8_t> body(body_length);
    struct Wipe {
        std::vector<uint8_t>& bytes;
        ~Wipe() { crypto::SecureWipe(bytes.data(), bytes.size()); }
    } wipe {body};
    if (!records.Open(head + 8, ad, std::span<const uint8_t>(sealed.data(), body_length), body, sealed.data() + body_length)) {
        return RecordRead::kDamaged;
    }
    const uint8_t kind = body[0];
    const uint16_t name_length = Load16Le(body.data() + 2);
    if ((kind != static_cast<uint8_t>(EntryKind::kFile) && kind != static_cast<uint8_t>(EntryKind::kEnd)) ||
        kBodyFixedSize + name_length > body_length) {
        return RecordRead::kDamaged;
    }
    record->kind = static_cast<EntryKind>(kind);
    record->flags = body[1];
    record->attributes = Load32Le(body.data() + 4);
    record->unix_mode = Load32Le(body.data() + 8);
    record->mtime_nanoseconds = Load32Le(body.data() + 12);
    record->mtime_seconds = static_cast<int64_t>(Load64Le(body.data() + 16));
    record->unpacked_size = Load64Le(body.data() + 24);
    record->stream_size = Load64Le(body.data() + 32);
    record->data_length = Load64Le(body.data() + 40);
    std::memcpy(record->data_key.bytes.data(), body.data() + 48, kKeySize);
    record->name.assign(reinterpret_cast<const char*>(body.data()) + kBodyFixedSize, name_length);
    // What the record says must be possible: its data is the sealed form of its stream,
    // a stored stream is the file itself, and the end record carries nothing.
    if (record->kind == EntryKind::kEnd) {
        const bool empty = record->data_length == 0 && record->stream_size == 0 && record->unpacked_size == 0 &&
                           name_length == 0 && record->flags == 0;
        return empty ? RecordRead::kRead : RecordRead::kDamaged;
    }
    if (record->data_length != SealedLength(record->stream_size, header.chunk_size)) return RecordRead::kDamaged;
    if (!record->Compressed() && record->stream_size != record->unpacked_size) return RecordRead::kDamaged;
    if (record->mtime_nanoseconds >= 1000000000u) return RecordRead::kDamaged;
    return RecordRead::kRead;
}

uint64_t SealedLength(uint64_t n, uint32_t chunk_size) { return n + ChunkCount(n, chunk_size) * kTagSize; }

bool DataSealer::Begin(std::FILE* file, uint32_t size) {
    out = file;
    chunk_size = size;
    const int64_t here = platform::Tell(file);
    if (here < 0) return false;
    start = static_cast<uint64_t>(here);
    buffer.assign(chunk_size + kTagSize, 0);
    chunk = 0;
    plain_bytes = 0;
    fill = 0;
    return platform::RandomBytes(key.bytes.data(), kKeySize) && aead.SetKey(key);
}

bool DataSealer::Write(const uint8_t* bytes, size_t n) {
    while (n > 0) {
        if (fill == chunk_size) {
            // More follows: the full chunk is not the last one.
            uint8_t nonce[kNonceSize];
            DataChunkNonce(chunk, false, nonce);
            std::span<uint8_t> plain(buffer.data(), fill);
            if (!aead.Seal(nonce, {}, plain, plain, buffer.data() + fill) || !WriteAll(out, buffer.data(), fill + kTagSize)) {
                return false;
            }
            ++chunk;
            fill = 0;
        }
        const size_t take = std::min(n, chunk_size - fill);
        std::memcpy(buffer.data() + fill, bytes, take);
        fill += take;
        plain_bytes += take;
        bytes += take;
        n -= take;
    }
    return true;
}

bool DataSealer::Restart() {
    if (!platform::SeekTo(out, start)) return false;
    chunk = 0;
    plain_bytes = 0;
    fill = 0;
    return platform::RandomBytes(key.bytes.data(), kKeySize) && aead.SetKey(key);
}

bool DataSealer::Finish() {
    uint8_t nonce[kNonceSize];
    DataChunkNonce(chunk, true, nonce);
    std::span<uint8_t> plain(buffer.data(), fill);
    if (!aead.Seal(nonce, {}, plain, plain, buffer.data() + fill) || !WriteAll(out, buffer.data(), fill + kTagSize)) {
        return false;
    }
    ++chunk;
    fill = 0;
    return true;
}

DataSealer::~DataSealer() { crypto::SecureWipe(buffer.data(), buffer.size()); }

bool DataOpener::Begin(std::FILE* file, const Record& record, uint32_t size) {
    in = file;
    chunk_size = size;
    chunks = ChunkCount(record.stream_size, size);
    chunk = 0;
    left = record.stream_size;
    buffer.assign(chunk_size + kTagSize, 0);
    position = 0;
    fill = 0;
    damaged = false;
    read_failed = false;
    return aead.SetKey(record.data_key);
}

size_t DataOpener::Read(uint8_t* destination, size_t n) {
    size_t given = 0;
    while (given < n) {
        if (position == fill) {
            if (chunk == chunks || damaged) break;
            const auto size = static_cast<size_t>(std::min<uint64_t>(left, chunk_size));
            if (!ReadAll(in, buffer.data(), size + kTagSize)) {
                read_failed = std::ferror(in) != 0;
                damaged = true;  // cut short, or unreadable: either way the data is not whole
                break;
            }
            uint8_t nonce[kNonceSize];
            DataChunkNonce(chunk, chunk + 1 == chunks, nonce);
            std::span<uint8_t> sealed(buffer.data(), size);
            if (!aead.Open(nonce, {}, sealed, sealed, buffer.data() + size)) {
                damaged = true;
                break;
            }
            ++chunk;
            left -= size;
            position = 0;
            fill = size;
        }
        const size_t take = std::min(n - given, fill - position);
        std::memcpy(destination + given, buffer.data() + position, take);
        position += take;
        given += take;
    }
    return given;
}

DataOpener::~DataOpener() { crypto::SecureWipe(buffer.data(), buffer.size()); }

bool SealFile(std::FILE* in, uint64_t n, std::FILE* out, uint32_t chunk_size, DataSealer& sealer) {
    if (!sealer.Begin(out, chunk_size)) return false;
    std::vector<uint8_t> piece(chunk_size);
    for (uint64_t left = n; left > 0;) {
        const auto size = static_cast<size_t>(std::min<uint64_t>(left, piece.size()));
        if (!ReadAll(in, piece.data(), size) || !sealer.Write(piece.data(), size)) return false;
        left -= size;
    }
    const bool finished = sealer.Finish();
    crypto::SecureWipe(piece.data(), piece.size());
    return finished;
}

}  // namespace hedgerow::strong
