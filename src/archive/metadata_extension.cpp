// metadata_extension.cpp -- the metadata extension in an entry record's reserved bytes.
#include "archive/metadata_extension.h"

#include <cstring>

#include "common/byte_order.h"
#include "crypto/crc32.h"

namespace hedgerow::archive {

namespace {

// Offsets inside the extension.
constexpr uint32_t kAtTag = 0;
constexpr uint32_t kAtVersion = 4;
constexpr uint32_t kAtLength = 5;
constexpr uint32_t kAtFlags = 6;
constexpr uint32_t kAtMode = 8;
constexpr uint32_t kAtSeconds = 12;
constexpr uint32_t kAtNanoseconds = 20;
constexpr uint32_t kAtCrc = 60;           // CRC-32 of bytes 0 to 59 of the extension
constexpr uint8_t kUsedLength = 24;       // bytes up to the end of the nanoseconds

}  // namespace

void WriteMetadata(uint8_t record[kRecordSize], const UnixMetadata& meta) {
    uint8_t* x = record + kFieldMetadata;
    std::memset(x, 0, kMetadataSize);
    if (!meta.present) return;
    Store32Le(x + kAtTag, kMetadataTag);
    x[kAtVersion] = kMetadataVersion;
    x[kAtLength] = kUsedLength;
    x[kAtFlags] = static_cast<uint8_t>(meta.flags & kMetaKnownFlags);
    x[kAtFlags + 1] = static_cast<uint8_t>((meta.flags & kMetaKnownFlags) >> 8);
    Store32Le(x + kAtMode, meta.mode & 07777);
    Store64Le(x + kAtSeconds, static_cast<uint64_t>(meta.seconds));
    Store32Le(x + kAtNanoseconds, meta.nanoseconds < 1000000000u ? meta.nanoseconds : 0);
    Store32Le(x + kAtCrc, crypto::Crc32(x, kAtCrc));
}

UnixMetadata ReadMetadata(const uint8_t record[kRecordSize]) {
    const uint8_t* x = record + kFieldMetadata;
    UnixMetadata meta;
    if (Load32Le(x + kAtTag) != kMetadataTag || x[kAtVersion] != kMetadataVersion || x[kAtLength] < kUsedLength ||
        Load32Le(x + kAtCrc) != crypto::Crc32(x, kAtCrc)) {
        return meta;
    }
    const uint32_t nanoseconds = Load32Le(x + kAtNanoseconds);
    if (nanoseconds >= 1000000000u) return meta;
    meta.present = true;
    meta.flags = static_cast<uint16_t>((x[kAtFlags] | (x[kAtFlags + 1] << 8)) & kMetaKnownFlags);
    meta.mode = Load32Le(x + kAtMode) & 07777;
    meta.seconds = static_cast<int64_t>(Load64Le(x + kAtSeconds));
    meta.nanoseconds = nanoseconds;
    return meta;
}

}  // namespace hedgerow::archive
