// sfx_blocks.h -- the three configuration blocks at the end of a self-extractor program:
// their sizes, the patched fields of block 2, the checksum over blocks and archive, and
// the obscuring with the two key tables. The library seals a new self-extracting file
// with these routines; the extractor program undoes the obscuring and checks the seal
// with the same ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace hedgerow::sfxblocks {

inline constexpr size_t kBlock1Size = 3556;
inline constexpr size_t kBlock2Size = 1599;
inline constexpr size_t kBlock3Size = 1812;
inline constexpr size_t kBlocksSize = kBlock1Size + kBlock2Size + kBlock3Size;  // 6967
inline constexpr size_t kSpanTailSize = 28;  // behind the blocks when the file is split

// Byte offsets within block 2 of the patched values, bits 24-31 first, bits 0-7 last.
inline constexpr size_t kCountField[4] = {127, 383, 1087, 863};
inline constexpr size_t kLengthField[4] = {799, 511, 1023, 255};
inline constexpr size_t kChecksumField[4] = {767, 1215, 319, 991};
// What the checksum bytes hold while the checksum is computed, in the same order.
inline constexpr char kChecksumPlaceholder[4] = {'2', '1', '.', '4'};
inline constexpr uint32_t kChecksumStart = 0x0072006E;

// The contents of the blocks beyond the patched fields, which only our module and our
// extractor agree on: block 1 starts with kSfxBlockMagic, then one byte giving the length
// of the spanning tail (0 or 28); block 3 starts with the magic as well.
inline constexpr char kSfxBlockMagic[12] = {'H', 'e', 'd', 'g', 'e', 'r', 'o', 'w', 'S', 'F', 'X', '1'};
inline constexpr size_t kTailLengthOffset = sizeof kSfxBlockMagic;
// The spanning tail: kSpanTailMagic, then the disk size as 32 bits, little endian.
inline constexpr char kSpanTailMagic[8] = {'H', 'e', 'd', 'g', 'e', 'S', 'p', 'n'};

struct SfxKeyTables {
    uint8_t a[32];
    uint8_t b[32];
};

// XOR of the sign-extended little-endian 32-bit words of bytes; the count % 4 bytes at
// the end are not used.
uint32_t FoldChecksum(const uint8_t* bytes, size_t count, uint32_t start);

// The built-in A-table and B-table, filled afresh.
void FillKeyTables(SfxKeyTables& tables);
// Mixes the two tables in place (the key the blocks are obscured with).
void MixKeyTables(SfxKeyTables& tables);
// dst[k] = ((src[n-1-k] ^ (n-1-k)) ^ A[k % 32]) - B[k % 32]: reversed and masked.
void ObscureBlock(uint8_t* dst, const uint8_t* src, size_t count, const SfxKeyTables& tables);
// The inverse of ObscureBlock with the same tables.
void RevealBlock(uint8_t* dst, const uint8_t* src, size_t count, const SfxKeyTables& tables);

// Reveals the three obscured blocks (kBlocksSize bytes) into plain with the mixed tables.
// True when they are ours: both magics in place and a tail length of 0 or 28 in *tail.
[[nodiscard]] bool RevealSealedBlocks(const uint8_t* stored, uint8_t* plain, uint32_t* tail);

// A 32-bit value stored byte by byte at the four offsets of a field (bits 24-31 first).
void PutField(uint8_t* block2, const size_t (&field)[4], uint32_t value);
uint32_t GetField(const uint8_t* block2, const size_t (&field)[4]);

// Folds the bytes of file in [start, end) into value, read in pieces of up to 16,384
// bytes, each piece folded by itself. False on a read error, a short file or a lack of memory.
[[nodiscard]] bool FoldFileRange(std::FILE* file, uint64_t start, uint64_t end, uint32_t* value);

// The checksum of a self-extracting file: blocks (plain, with the placeholder in the
// checksum field of block 2 -- the field is set here, in the caller's copy), then the
// file's bytes before block_offset and from archive_offset to file_end.
[[nodiscard]] bool SealChecksum(std::FILE* file, uint64_t block_offset, uint64_t archive_offset, uint64_t file_end,
                  uint8_t* block1, uint8_t* block2, uint8_t* block3, uint32_t* checksum);

// ---- Checking a self-extracting file -------------------------------------------------

// The length of the executable image that begins file: everything its loader's headers
// describe (an ELF image's segments and section table, a PE image's sections). A
// program's configuration blocks follow right behind it. 0 when the file does not begin
// with such an image or its headers cannot be read.
uint64_t ElfImageLength(std::FILE* file);
uint64_t PeImageLength(std::FILE* file);

// What the extractor program finds of its own seal.
enum class SealCheck {
    kSound,           // blocks ours, length and checksum as sealed
    kUnreadable,      // the file's length cannot be had
    kNoBlocks,        // no image, or no room for the blocks behind it
    kForeignBlocks,   // the blocks do not reveal to ours
    kWrongLength,     // the file is not as long as it was sealed (a piece missing?)
    kWrongChecksum,   // the checksum does not match (or the file could not be read for it)
};

// Checks the seal of a self-extracting file whose image is image bytes long: the blocks
// behind it, the length and the checksum. On kSound, *files is the file count it was sealed with; *tail is set
// from the blocks as soon as they reveal (0 or kSpanTailSize).
SealCheck CheckSealedFile(std::FILE* file, uint64_t image, uint32_t* tail, uint32_t* files);

// ---- Sealing a self-extracting file ---------------------------------------------------

// What sealing needs to know of the program in front of an archive.
struct SealPlan {
    uint32_t tail = 0;                 // length of the spanning tail behind the blocks: 0 or 28
    uint64_t length = 0;               // the program's length, blocks and tail included
    uint8_t blocks[kBlocksSize] = {};  // blocks 1, 2 and 3 in plain form
    uint64_t BlockOffset() const { return length - tail - kBlocksSize; }
};

// Reads the plain blocks of a program file the module wrote (tail already set in plan):
// its length, and the blocks that end it. False when the file cannot be read or is too
// short to end in blocks and tail.
enum class ProgramRead { kRead, kUnreadable, kTooShort };
ProgramRead ReadProgramBlocks(std::FILE* program, SealPlan* plan);

// Looks for our sealed blocks right in front of head (where an archive's marker begins)
// in an existing file, with either tail length. On kFound, plan describes them and *count
// is the file count they were sealed with.
enum class FoundBlocks { kFound, kNone, kUnreadable };
FoundBlocks FindSealedBlocks(std::FILE* file, uint64_t head, SealPlan* plan, uint32_t* count);

// Seals the blocks of a self-extracting file whose program (as plan describes it) and
// archive have been written: the file count, the length (all but the tail) and the
// checksum go into block 2, and the three blocks are written obscured at their place.
// out is the file open for writing, path its name (it is read back for the checksum).
enum class SealOutcome { kSealed, kReadFailed, kWriteFailed, kTooLarge };
SealOutcome SealFile(std::FILE* out, const char* path, const SealPlan& plan, uint32_t files);

}  // namespace hedgerow::sfxblocks
