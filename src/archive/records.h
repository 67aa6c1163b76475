// records.h -- the archive file's records: the 34-byte marker that identifies an archive
// (found behind any prefix), and the 432-byte entry record in front of each member's data,
// checked by a CRC-32 and, in a locked archive, enciphered with the header password.
//
// Marker record (at offset M, little-endian words):
//   0  10  "Overgrown!"        10  4  magic 0x1541524E   14  4  format tag 77
//   18  4  flags (bit 0: locked)  22  4  body length 24  26  8  reserved
// Entry record:
//   0   4  cipher id           4   4  header CRC (of bytes 8..431)   8  4  tag 77
//   12 64  reserved            76 256 stored name (OEM code page, zero-terminated)
//   332 4  reserved            336 4  record length 432            340 4 reserved
//   344 4  data CRC            348 4  packed size                  352 4 unpacked size
//   356 4  DOS date and time   360 4  attributes                   364 4 format revision 30
//   368 64 reserved
#pragma once

#include <cstdint>
#include <cstdio>

#include "archive/archive_state.h"
#include "archive/metadata_extension.h"
#include "common/session.h"

namespace hedgerow::archive {

inline constexpr char kSignature[] = "Overgrown!";  // ten characters, no terminator in the file
inline constexpr uint32_t kMarkerMagic = 0x1541524E;

// Offsets of the entry record's fields.
inline constexpr uint32_t kFieldCipherId = 0;
inline constexpr uint32_t kFieldHeaderCrc = 4;
inline constexpr uint32_t kFieldTag = 8;
inline constexpr uint32_t kFieldName = 76;
inline constexpr uint32_t kNameFieldSize = 256;
inline constexpr uint32_t kFieldRecordLength = 336;
inline constexpr uint32_t kFieldReserved340 = 340;
inline constexpr uint32_t kFieldDataCrc = 344;
inline constexpr uint32_t kFieldPackedSize = 348;
inline constexpr uint32_t kFieldUnpackedSize = 352;
inline constexpr uint32_t kFieldDateTime = 356;
inline constexpr uint32_t kFieldAttributes = 360;
inline constexpr uint32_t kFieldRevision = 364;

// Builds the 34-byte marker record.
void MakeMarkerRecord(bool locked, uint8_t marker[kMarkerSize]);

enum class MarkerSearch { kFound, kStrong, kNone, kUnreadable };

// Searches the first 61,440 bytes of an open file for the marker: its offset and whether
// its flags say the records are enciphered. kStrong for a strong archive (its header at
// offset 0), which has no marker of the legacy kind.
MarkerSearch FindMarker(std::FILE* file, uint32_t* offset, bool* locked);

// Searches the first 61,440 bytes for the marker; records M, the body offset and length,
// and sets the locked flag from the marker's flags. False: kIoError when the file cannot
// be positioned or read, kLengthError when its length is unknown; no status when there is
// no marker (the caller reports kNotAnArchive). A strong archive sets the strong flag and
// cipher id 3 instead.
[[nodiscard]] bool ReadMarkerRecord(Session& session, ArchiveState& archive, std::FILE* file);

// What the search for the first entry record found. Sets no status: what the outcome
// means depends on the caller (opening reports kBadPassword, reopening kNothingToDo).
enum class FirstRecord {
    kFound,       // first_entry_offset and read_position are set
    kNone,        // no record passes its check (or none can be deciphered unasked)
    kRefused,     // the host gave up on the header password
    kUnreadable,  // the file could not be positioned or read
};

// Finds the first entry record behind the marker (deciphering it first in a locked
// archive, asking the host for the header password as needed).
FirstRecord FindFirstEntryRecord(Session& session, ArchiveState& archive, std::FILE* file);

// Sets the read position back to the first entry record.
void RewindEntries(ArchiveState& archive);

enum class NextRecord { kEntry, kEnd, kFailed };

// Reads the record at the read position into record (deciphered in a locked archive),
// fills entry (all but its name, record copy and next) and copies the stored OEM name
// into name. Advances the read position past the entry's data. kEnd at the end of the
// archive. kFailed with the status set on damage: kBadFormat for a tag other than 77, a
// name without terminator, data running past the end of the file or a record cut off by
// it, and for a locked record after the first that does not decipher (the first proved
// the password) unless the host gave a password that deciphers it; kIoError when a read
// fails; kBadPassword when the first record does not decipher.
NextRecord ReadNextEntryRecord(Session& session, ArchiveState& archive, std::FILE* file, HidFileEntry* entry,
                               char name[kNameFieldSize], uint8_t record[kRecordSize]);

// Forms the stored name from name (FormStoredName), writes the metadata extension when
// meta is given (with the UTF-8 flag set when the name is stored as UTF-8), fills the
// constant fields and the header CRC, enciphers the record in a locked archive and writes it at the file's
// current position. The caller fills the CRC, size, stamp and attribute fields. False: kWriteError on a short write,
// kNameTooLong when the stored name would not fit its field.
[[nodiscard]] bool WriteEntryRecord(Session& session, const ArchiveState& archive, std::FILE* file,
                                    uint8_t record[kRecordSize], const char* name,
                                    const UnixMetadata* meta = nullptr);

// The stored name of WriteEntryRecord (names::StoredNameOf with the session's relative
// path and names-only option) in the OEM code page: false when it would not fit 255 bytes.
// With utf8 given, a name the OEM code page cannot hold exactly is stored as UTF-8
// instead and *utf8 says so.
[[nodiscard]] bool FormStoredName(const Session& session, const char* name, char stored[kNameFieldSize],
                                  bool* utf8 = nullptr);

// Enciphers source in place with the header password for enciphering (DES, ECB) and
// copies it to destination.
void EncipherEntryHeader(const ArchiveState& archive, uint8_t destination[kRecordSize], uint8_t source[kRecordSize]);

enum class HeaderKey { kDeciphered, kNoProcedure, kRefused };

// Deciphers with the header password for deciphering until the header CRC holds, asking
// HeadCryptKeyProc for another password each time it fails (the answer becomes the
// header password for deciphering). kNoProcedure when none is registered, kRefused when
// it answers 0. When the password is proven (by an earlier record of the walk), a record
// that fails is kRefused at once, without a question. Sets no status.
HeaderKey DecipherEntryHeader(Session& session, ArchiveState& archive, uint8_t destination[kRecordSize],
                              const uint8_t source[kRecordSize], bool proven = false);

// True when the record's header CRC field matches bytes 8 to 431.
bool CheckEntryHeaderCrc(const uint8_t record[kRecordSize]);

// Fills a listed entry from a plain record found at offset (name left empty).
void FillEntryFromRecord(HidFileEntry* entry, const uint8_t record[kRecordSize], uint32_t offset);

}  // namespace hedgerow::archive
