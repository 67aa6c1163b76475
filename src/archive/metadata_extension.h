// metadata_extension.h -- what an entry record keeps of a file beyond the DOS stamp and
// the attribute word: its Unix mode bits, its modification time in full range with
// nanoseconds, whether its stored name is UTF-8, and whether the entry is an empty
// directory or a symbolic link. It lives in the record's last 64 reserved bytes
// (offsets 368 to 431), which readers of the format do not look at; a tag and a CRC of
// its own tell it from zeros or from anything another writer put there. The layout,
// byte by byte: docs/metadata-extension.md.
#pragma once

#include <cstdint>

#include "archive/archive_state.h"

namespace hedgerow::archive {

inline constexpr uint32_t kFieldMetadata = 368;
inline constexpr uint32_t kMetadataSize = 64;
inline constexpr uint32_t kMetadataTag = 0xE5787268;  // bytes 68 72 78 E5: "hrx" and 0xE5
inline constexpr uint8_t kMetadataVersion = 1;

// Flag bits of the extension.
inline constexpr uint16_t kMetaNameUtf8 = 0x0001;    // the stored name is UTF-8, not code page 850
inline constexpr uint16_t kMetaDirectory = 0x0002;   // an empty directory (zero length, no data)
inline constexpr uint16_t kMetaSymlink = 0x0004;     // a symbolic link; the data is its target text
inline constexpr uint16_t kMetaKnownFlags = kMetaNameUtf8 | kMetaDirectory | kMetaSymlink;

struct UnixMetadata {
    bool present = false;        // the record holds the extension
    uint16_t flags = 0;          // kMeta* bits
    uint32_t mode = 0;           // permission bits, 07777
    int64_t seconds = 0;         // modification time, seconds since 1970 (UTC), signed
    uint32_t nanoseconds = 0;    // below 1,000,000,000
};

// Writes the extension into the record's bytes 368 to 431 (the caller computes the
// header CRC afterwards). Writes zeros when meta is not present.
void WriteMetadata(uint8_t record[kRecordSize], const UnixMetadata& meta);

// Reads the extension: present only when the tag, the version and its CRC hold and the
// nanoseconds are in range; anything else (zeros, another writer's bytes) leaves
// meta.present false and the other fields zero. Flag bits this reader does not know are
// dropped.
UnixMetadata ReadMetadata(const uint8_t record[kRecordSize]);

}  // namespace hedgerow::archive
