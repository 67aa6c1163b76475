// entry_text.h -- archive entries as a user reads them: DOS stamps, attribute letters,
// cipher names, sizes and ratios, and the time comparison behind --update.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "hedgerow.h"

namespace hedgerow::cli {

// Cipher ids of the settings block and the entry records.
inline constexpr int32_t kCipherNone = -1;
inline constexpr int32_t kCipherDes = 0;
inline constexpr int32_t kCipherTripleDes = 1;
inline constexpr int32_t kCipherIdea = 2;
inline constexpr int32_t kCipherChacha = 3;  // a strong archive

// "none", "des", "3des", "idea", "chacha"; "damaged" for any other id, which no archive
// holds unless it is damaged.
const char* CipherName(int32_t cipher_id);
// Whether the id is one of the five above.
bool IsKnownCipher(int32_t cipher_id);
// The id for one of the names above (case as given), or nothing.
std::optional<int32_t> CipherIdFromName(std::string_view name);

// An entry's sizes in full (a strong archive's entries may pass 4 GiB).
inline uint64_t EntrySize(const HidFileEntry& e) {
    return e.unpacked_size | static_cast<uint64_t>(e.unpacked_size_high) << 32;
}
inline uint64_t EntryPackedSize(const HidFileEntry& e) {
    return e.packed_size | static_cast<uint64_t>(e.packed_size_high) << 32;
}

// A DOS date and time (time in the low half, date in the high half) as
// "YYYY-MM-DD HH:MM:SS", or with a 'T' between date and time when iso is set.
std::string FormatDosStamp(uint32_t date_time, bool iso = false);
// The entry's modification time in local time: the exact one where the archive keeps it
// (strong archives, legacy entries with the metadata extension), else its DOS stamp.
std::string FormatEntryTime(const HidFileEntry& entry, bool iso = false);

// The four attribute bits a user cares about as letters, '-' where a bit is off:
// read-only, hidden, system, archive ("R--A").
std::string AttributeLetters(uint32_t attributes);

// A byte count for people: "812 B", "4.0 KiB", "1.5 MiB", "2.0 GiB".
std::string FormatBytes(uint64_t bytes);

// Packed size as a share of the size, "37%"; "-" for an empty file.
std::string FormatRatio(uint64_t packed, uint64_t size);

// Whether `candidate` was last written later than `current`. Archive entries keep their
// time to two seconds only, so both times are cut to two seconds first: a file that was
// extracted from an entry, or stored into one, is never newer than that entry.
bool IsNewer(const HedgerowFindData& candidate, const HedgerowFindData& current);

}  // namespace hedgerow::cli
