// format.h -- the strong archive format: a header checked by a key derived from the
// password, then entry after entry a sealed record followed by the entry's sealed data,
// then a sealed end record. Records and data are ChaCha20-Poly1305; each record binds the
// archive's identifier and its own position, and the end record the number of entries, so
// that removing, reordering, duplicating, swapping or cutting off entries fails. Every
// entry's data has a random key of its own, kept in its record. docs/strong-format.md
// describes the format byte by byte, with a worked example.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/archive_state.h"
#include "strong/primitives.h"

namespace hedgerow::strong {

// ---- Header (kHeaderSize bytes at offset 0, little-endian words) --------------------
//   0  10  "Overgrown!"          10  4  marker magic 0x1541524E
//  14   4  format tag kFormatTag (a legacy reader looks for 77 and finds no archive)
//  18   4  version 1            22  4  header length 128
//  26  16  archive identifier (random)
//  42  16  Argon2id salt (random)
//  58   4  Argon2id memory (KiB) 62  4  passes       66  4  lanes
//  70   4  flags (0)            74  4  chunk size (65536)
//  78  14  zero
//  92   4  CRC-32 of bytes 0..91 (tells damage apart from a wrong password)
//  96  32  HMAC-SHA-256 of bytes 0..95 under the header key
inline constexpr size_t kHeaderSize = archive::kStrongHeaderSize;
inline constexpr uint32_t kFormatTag = archive::kStrongFormatTag;
inline constexpr uint32_t kVersion = 1;
inline constexpr uint32_t kChunkSize = 65536;
inline constexpr size_t kIdSize = 16;
inline constexpr size_t kSaltSize = 16;

// Argon2id's defaults and the limits a reader accepts (so that a hostile header cannot
// ask for terabytes or years).
inline constexpr Argon2Parameters kDefaultArgon2 {65536, 3, 1};
inline constexpr uint32_t kMaxArgon2MemoryKib = 4u << 20;  // 4 GiB
inline constexpr uint32_t kMaxArgon2Passes = 64;
inline constexpr uint32_t kMaxArgon2Lanes = 64;

// True for parameters within the limits above (and Argon2id's own: 8 KiB per lane).
bool Argon2ParametersAccepted(const Argon2Parameters& argon2);

// The parameters for a new archive or prepared file: the ones the archive state asks for,
// each one's default (or, given, the one it replaces) where it asks for none.
Argon2Parameters NewArgon2Parameters(const archive::ArchiveState& a, const Argon2Parameters& otherwise = kDefaultArgon2);

struct Header {
    std::array<uint8_t, kIdSize> archive_id {};
    std::array<uint8_t, kSaltSize> salt {};
    Argon2Parameters argon2 = kDefaultArgon2;
    uint32_t chunk_size = kChunkSize;
};

// The keys of one archive under one password.
struct KeySchedule {
    Key master;   // Argon2id(password, salt)
    Key header;   // HKDF(master, archive id, "hedgerow strong v1 header")
    Key records;  // HKDF(master, archive id, "hedgerow strong v1 records")
};

// A new header: random identifier and salt, the given Argon2 parameters.
[[nodiscard]] bool NewHeader(const Argon2Parameters& argon2, Header* header);

// The master key from the password (the one slow step), and the keys derived from it.
[[nodiscard]] bool DeriveMasterKey(const Header& header, const char* password, Key* master);
[[nodiscard]] bool DeriveKeys(const Header& header, const Key& master, KeySchedule* keys);

// The header's bytes, its CRC and its HMAC under keys.header.
[[nodiscard]] bool EncodeHeader(const Header& header, const KeySchedule& keys, uint8_t out[kHeaderSize]);

enum class HeaderRead {
    kRead,        // the header is well formed; its HMAC is still to be checked
    kNotStrong,   // not a strong header (no signature, or another tag)
    kDamaged,     // the CRC fails, or a field is out of range
    kUnsupported, // a later version
};
HeaderRead DecodeHeader(const uint8_t bytes[kHeaderSize], Header* header);
// True when the header's HMAC holds under keys.header: the password is right.
bool HeaderHmacHolds(const uint8_t bytes[kHeaderSize], const KeySchedule& keys);

// ---- Records ----------------------------------------------------------------------
// A frame: magic kFrameMagic (4), body length B (4, a multiple of 64), nonce (12), the
// sealed body (B), its tag (16). Associated data: archive identifier, position (8 bytes),
// the frame's first 20 bytes.
inline constexpr uint32_t kFrameMagic = 0x31455348;  // "HSE1"
inline constexpr size_t kFrameHeadSize = 20;
inline constexpr size_t kBodyFixedSize = 80;
inline constexpr size_t kBodyAlign = 64;
inline constexpr size_t kMaxNameBytes = 4096;

enum class EntryKind : uint8_t { kFile = 1, kEnd = 0xFF };
inline constexpr uint8_t kFlagCompressed = 0x01;

// What a record holds (docs/strong-format.md, "Record body").
struct Record {
    EntryKind kind = EntryKind::kFile;
    uint8_t flags = 0;
    std::string name;          // UTF-8, '\' between parts
    uint32_t attributes = 0;   // DOS attribute word
    uint32_t unix_mode = 0;    // mode bits (0 when unknown)
    int64_t mtime_seconds = 0; // since 1970, UTC
    uint32_t mtime_nanoseconds = 0;
    uint64_t unpacked_size = 0;
    uint64_t stream_size = 0;  // bytes of the codec stream (the unpacked size when stored)
    uint64_t data_length = 0;  // sealed bytes of data behind the record
    Key data_key;
    bool Compressed() const { return (flags & kFlagCompressed) != 0; }
};

// The record's body in plain: its fields, then zeros up to a multiple of kBodyAlign.
std::vector<uint8_t> EncodeRecordBody(const Record& record);
// The associated data that binds a frame to its archive and position.
std::vector<uint8_t> RecordAssociatedData(const Header& header, uint64_t index, const uint8_t head[kFrameHeadSize]);
// The frame of record at position index, sealed under records with the given nonce (empty
// when the name is too long or sealing fails).
std::vector<uint8_t> EncodeRecordFrame(Aead& records, const Header& header, uint64_t index, const Record& record,
                                       const uint8_t nonce[kNonceSize]);
// Seals record as the entry at position index with a random nonce and writes its frame.
// False when that fails.
[[nodiscard]] bool WriteRecord(std::FILE* out, Aead& records, const Header& header, uint64_t index, const Record& record);

enum class RecordRead {
    kRead,       // record holds the entry (or the end record)
    kEnd,        // the file ends where a frame should begin: cut short
    kDamaged,    // the frame does not open, or what it holds is not well formed
    kIoError,
};
// Reads the frame at the file's position as the entry at position index.
RecordRead ReadRecord(std::FILE* in, Aead& records, const Header& header, uint64_t index, Record* record);

// ---- Data -------------------------------------------------------------------------
// The codec stream (or the stored file) in chunks of the header's chunk size, each sealed
// under the entry's data key with nonce = 11-byte big-endian chunk number and one byte
// that is 1 for the last chunk, 0 otherwise; every entry has one chunk at least.

// Sealed length of a stream of n bytes.
uint64_t SealedLength(uint64_t n, uint32_t chunk_size);
// The nonce of data chunk number `chunk`.
void DataChunkNonce(uint64_t chunk, bool last, uint8_t nonce[kNonceSize]);

// Seals the bytes written to it into out as they come, holding back one chunk so that
// the last one can be marked. Every Begin and Restart draws a new data key, so no nonce is
// ever used twice under one key.
struct DataSealer {
    std::FILE* out = nullptr;
    uint32_t chunk_size = kChunkSize;
    Key key;                      // the data key of the entry
    uint64_t start = 0;           // where the data begins in out
    uint64_t chunk = 0;           // number of the chunk being filled
    uint64_t plain_bytes = 0;     // stream bytes taken so far
    std::vector<uint8_t> buffer;  // the chunk being filled, with room for its tag
    size_t fill = 0;
    Aead aead;

    [[nodiscard]] bool Begin(std::FILE* file, uint32_t size);
    [[nodiscard]] bool Write(const uint8_t* bytes, size_t n);
    [[nodiscard]] bool Restart();   // back to start with a new key; what was written is dropped
    [[nodiscard]] bool Finish();    // seals the last chunk (possibly empty)
    uint64_t SealedBytes() const { return SealedLength(plain_bytes, chunk_size); }
    ~DataSealer();
};

// Opens an entry's sealed data as it is read. A chunk that fails its tag, comes out of
// place or is missing ends the data: Read then gives 0 and damaged() is true.
struct DataOpener {
    std::FILE* in = nullptr;
    uint32_t chunk_size = kChunkSize;
    uint64_t chunks = 0;          // chunks of the entry
    uint64_t chunk = 0;           // next chunk to open
    uint64_t left = 0;            // stream bytes not yet opened
    std::vector<uint8_t> buffer;  // the chunk last opened
    size_t position = 0;          // next byte of it to give
    size_t fill = 0;              // its bytes
    bool damaged = false;
    bool read_failed = false;
    Aead aead;

    [[nodiscard]] bool Begin(std::FILE* file, const Record& record, uint32_t size);
    size_t Read(uint8_t* out, size_t n);
    // True when every chunk has been opened and every byte given out.
    bool AllRead() const { return chunk == chunks && position == fill && !damaged; }
    ~DataOpener();
};

// Seals n bytes read from in into out (stored data that the codec does not take). False on
// a read or write failure; sealer.key is the entry's data key afterwards.
[[nodiscard]] bool SealFile(std::FILE* in, uint64_t n, std::FILE* out, uint32_t chunk_size, DataSealer& sealer);

}  // namespace hedgerow::strong
