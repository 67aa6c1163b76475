// archive_state.h -- what the library keeps about the archive the host named: its name,
// the passwords, the cipher, the locked flag and the offsets found in the file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hedgerow.h"

namespace hedgerow::archive {

inline constexpr uint32_t kMarkerSize = 34;
inline constexpr uint32_t kMarkerBodyLength = 24;
inline constexpr uint32_t kRecordSize = 432;
inline constexpr uint32_t kRecordTag = 77;
inline constexpr uint32_t kFormatRevision = 30;
inline constexpr uint32_t kMarkerSearchLimit = 61440;  // the marker must begin within these bytes
// A strong archive begins with the same signature and magic and this tag instead of 77,
// at offset 0 (its format: strong/format.h).
inline constexpr uint32_t kStrongFormatTag = 0x4B525453;  // "STRK"
inline constexpr size_t kStrongHeaderSize = 128;
// The cipher id that selects a strong archive in the settings and marks its entries.
inline constexpr int32_t kCipherIdStrong = 3;
inline constexpr size_t kStrongKeySize = 32;
inline constexpr size_t kStrongSaltSize = 16;
inline constexpr int kArchiveNameCapacity = 261;
inline constexpr int kPasswordCapacity = 256;
inline constexpr int32_t kDefaultLevel = 5;   // the level of the encoder the format describes
inline constexpr int32_t kBestLevel = 9;

struct ArchiveState {
    char name[kArchiveNameCapacity] = {};                       // empty: nothing open
    char data_password[kPasswordCapacity] = {};                 // key material for entry data
    char header_password_decipher[kPasswordCapacity] = {};      // reads locked records
    char header_password_encipher[kPasswordCapacity] = {};      // writes locked records
    int32_t cipher_id = 0;               // current data cipher id (-1, 0, 1, 2)
    bool locked = false;                 // entry records are enciphered
    bool new_archive = false;            // CompressFileMaskListHid creates instead of updating
    bool sfx_stub = false;               // a self-extractor program precedes the marker
    uint32_t encoder_parameter = 0;      // handed to the encoder; stays 0
    int32_t level = kDefaultLevel;       // compression level of written files, 0 (stored) to 9
    int32_t workers = 0;                 // files or entries worked on at once; 0: one per online core
    uint32_t marker_offset = 0;          // M
    uint32_t marker_body_offset = 0;     // M + 10
    uint32_t marker_body_length = 0;     // 24
    uint32_t first_entry_offset = 0;
    uint32_t read_position = 0;          // offset of the next entry record to read
    bool lock_held = false;              // the running call holds a lock on the archive file
    HidFileSettings settings = {};       // copy of the block last given to CreateHidFile
    // Strong archives. The master key is derived from the data password once and kept
    // for the following calls on the same archive; it is wiped whenever the archive or
    // the password changes (InitHidFile, CreateHidFile, DoneHidFile) and when the library
    // state goes.
    bool strong = false;                          // the named archive is (or will be) strong
    bool strong_key_ready = false;                // strong_key holds the key for strong_salt
    uint8_t strong_key[kStrongKeySize] = {};      // master key of the data password
    uint8_t strong_salt[kStrongSaltSize] = {};    // the archive's salt it was derived with
    // Argon2id parameters for a new or re-keyed strong archive: memory (KiB), passes,
    // lanes; 0 takes the default.
    uint32_t strong_argon2_memory_kib = 0;
    uint32_t strong_argon2_passes = 0;
    uint32_t strong_argon2_lanes = 0;
};

// Forgets the strong archive's master key (wiped).
void ForgetStrongKey(ArchiveState& archive);

}  // namespace hedgerow::archive
