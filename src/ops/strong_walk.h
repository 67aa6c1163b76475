// strong_walk.h -- reading a strong archive in order, for the operations: the header and
// the keys (the password proved by the header's HMAC), then record after record up to the
// end record, with the data of each skipped or opened by the caller.
#pragma once

#include <cstdint>

#include "hedgerow.h"
#include "ops/context.h"
#include "platform/platform.h"
#include "strong/format.h"

namespace hedgerow::ops {

struct StrongReader {
    platform::File file;
    uint8_t header_bytes[strong::kHeaderSize] = {};
    strong::Header header;
    strong::KeySchedule keys;
    strong::Aead records;   // keyed with keys.records
    uint64_t index = 0;     // position of the next record
    int64_t length = 0;     // bytes of the file
};

// Reads the named strong archive's header into r (file, length, header and its bytes), no
// password needed. False with the status set: kIoError, kNotAnArchive, kBadFormat
// (damaged header), kUnsupported (a later version).
[[nodiscard]] bool ReadStrongHeader(Context& cx, const char* name, StrongReader& r);

// Opens the named strong archive: reads its header, obtains the keys from the data
// password (or the host's CryptKeyProc, asked until the password is right or the host gives
// up) and proves them by the header's HMAC. False with the status set: kIoError,
// kNotAnArchive, kBadFormat (damaged header), kUnsupported (a later version), kBadPassword.
[[nodiscard]] bool OpenStrongReader(Context& cx, const char* name, StrongReader& r);

enum class StrongNext { kEntry, kEnd, kFailed };
// Reads the next record. kEntry: record holds an entry whose data follows at the file's
// position (at *data_offset). kEnd: the end record, with nothing behind it. kFailed with
// the status set: kBadFormat (damaged, cut short, or bytes behind the end), kIoError.
StrongNext NextStrongEntry(Context& cx, StrongReader& r, strong::Record* record, uint64_t* data_offset);

// Positions the reader behind the entry's data. False (kIoError) when that fails.
[[nodiscard]] bool SkipStrongData(Context& cx, StrongReader& r, uint64_t data_offset, const strong::Record& record);

// The listed form of an entry: its name in the API's code page (cut at 255 bytes), sizes
// with their high halves, DOS stamp and exact time, attributes and mode.
void FillStrongEntry(const strong::Record& record, uint64_t frame_offset, HidFileEntry* entry);

// The keys of a new or re-keyed archive under password (one Argon2id derivation), kept in
// the archive state as the keys of that password. False with kNoMemory when the
// derivation fails.
[[nodiscard]] bool StrongKeysForNewHeader(Context& cx, const strong::Header& header, const char* password,
                                          strong::KeySchedule* keys);

}  // namespace hedgerow::ops
