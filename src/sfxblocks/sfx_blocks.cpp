// sfx_blocks.cpp -- checksum, key tables and obscuring of the configuration blocks.
#include "sfxblocks/sfx_blocks.h"

#include <cstring>

#include "common/byte_order.h"
#include "common/compiler.h"
#include "common/heap.h"
#include "platform/platform.h"

namespace hedgerow::sfxblocks {

namespace {

// Our key tables. The extractor program is built from the same source, so the two
// cannot drift apart.
constexpr uint8_t kTableA[32] = {0x5B, 0x12, 0xC7, 0x3E, 0x81, 0xF4, 0x29, 0x6D, 0xB0, 0x47, 0x9A, 0x0C, 0xE3, 0x75, 0x18, 0xD6,
                                 0x6A, 0xA1, 0x3F, 0xCC, 0x04, 0x97, 0x5E, 0xE8, 0x23, 0xB9, 0x71, 0x0F, 0x8D, 0x46, 0xD2, 0x39};
constexpr uint8_t kTableB[32] = {0xE1, 0x4C, 0x93, 0x27, 0xBA, 0x08, 0x6F, 0xD5, 0x32, 0x9E, 0x41, 0xF7, 0x1B, 0x86, 0xCD, 0x50,
                                 0xA4, 0x0B, 0x7C, 0xE9, 0x35, 0xD0, 0x62, 0x9F, 0x17, 0xAB, 0x58, 0xC3, 0x2E, 0x74, 0x8A, 0xF1};

uint32_t SignExtended(uint8_t byte) { return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(byte))); }

}  // namespace

HEDGEROW_NO_COVERAGE uint32_t FoldChecksum(const uint8_t* bytes, size_t count, uint32_t start) {
    uint32_t value = start;
    for (size_t i = 0; i + 4 <= count; i += 4) {
        value ^= SignExtended(bytes[i]) | SignExtended(bytes[i + 1]) << 8 | SignExtended(bytes[i + 2]) << 16 |
                 SignExtended(bytes[i + 3]) << 24;
    }
    return value;
}

void FillKeyTables(SfxKeyTables& tables) {
    for (size_t i = 0; i < 32; ++i) {
        tables.a[i] = kTableA[i];
        tables.b[i] = kTableB[i];
    }
}

void MixKeyTables(SfxKeyTables& tables) {
    for (size_t i = 0; i < 32; ++i) {
        const auto t = static_cast<uint8_t>(tables.a[31 - i] ^ tables.b[i]);
        tables.a[31 - i] = t;
        tables.b[i] = static_cast<uint8_t>(t + tables.b[i]);
    }
}

HEDGEROW_NO_COVERAGE void ObscureBlock(uint8_t* dst, const uint8_t* src, size_t count, const SfxKeyTables& tables) {
    for (size_t k = 0; k < count; ++k) {
        const size_t j = count - 1 - k;
        const auto masked = static_cast<uint8_t>(src[j] ^ static_cast<uint8_t>(j) ^ tables.a[k % 32]);
        dst[k] = static_cast<uint8_t>(masked - tables.b[k % 32]);
    }
}

HEDGEROW_NO_COVERAGE void RevealBlock(uint8_t* dst, const uint8_t* src, size_t count, const SfxKeyTables& tables) {
    for (size_t k = 0; k < count; ++k) {
        const size_t j = count - 1 - k;
        const auto masked = static_cast<uint8_t>(src[k] + tables.b[k % 32]);
        dst[j] = static_cast<uint8_t>(masked ^ tables.a[k % 32] ^ static_cast<uint8_t>(j));
    }
}

bool RevealSealedBlocks(const uint8_t* stored, uint8_t* plain, uint32_t* tail) {
    SfxKeyTables tables;
    FillKeyTables(tables);
    MixKeyTables(tables);
    RevealBlock(plain, stored, kBlock1Size, tables);
    RevealBlock(plain + kBlock1Size, stored + kBlock1Size, kBlock2Size, tables);
    RevealBlock(plain + kBlock1Size + kBlock2Size, stored + kBlock1Size + kBlock2Size, kBlock3Size, tables);
    *tail = plain[kTailLengthOffset];
    return std::memcmp(plain, kSfxBlockMagic, sizeof kSfxBlockMagic) == 0 &&
           std::memcmp(plain + kBlock1Size + kBlock2Size, kSfxBlockMagic, sizeof kSfxBlockMagic) == 0 &&
           (*tail == 0 || *tail == kSpanTailSize);
}

void PutField(uint8_t* block2, const size_t (&field)[4], uint32_t value) {
    for (int i = 0; i < 4; ++i) block2[field[i]] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

uint32_t GetField(const uint8_t* block2, const size_t (&field)[4]) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(block2[field[i]]) << (24 - 8 * i);
    return value;
}

bool FoldFileRange(std::FILE* file, uint64_t start, uint64_t end, uint32_t* value) {
    constexpr size_t kPiece = 16384;
    if (start >= end) return true;
    if (!platform::SeekTo(file, start)) return false;
    const HeapBytes piece = AllocBytes(kPiece);
    if (!piece) return false;
    for (uint64_t at = start; at < end;) {
        const size_t n = static_cast<size_t>(end - at < kPiece ? end - at : kPiece);
        if (platform::ReadBytes(file, piece.get(), n) != n) return false;
        *value = FoldChecksum(piece.get(), n, *value);
        at += n;
    }
    return true;
}

bool SealChecksum(std::FILE* file, uint64_t block_offset, uint64_t archive_offset, uint64_t file_end,
                  uint8_t* block1, uint8_t* block2, uint8_t* block3, uint32_t* checksum) {
    for (int i = 0; i < 4; ++i) block2[kChecksumField[i]] = static_cast<uint8_t>(kChecksumPlaceholder[i]);
    uint32_t c = FoldChecksum(block1, kBlock1Size, kChecksumStart);
    c = FoldChecksum(block2, kBlock2Size, c);
    c = FoldChecksum(block3, kBlock3Size, c);
    if (!FoldFileRange(file, 0, block_offset, &c) || !FoldFileRange(file, archive_offset, file_end, &c)) return false;
    *checksum = c;
    return true;
}

ProgramRead ReadProgramBlocks(std::FILE* program, SealPlan* plan) {
    const int64_t length = platform::Length(program);
    if (length < 0) return ProgramRead::kUnreadable;
    plan->length = static_cast<uint64_t>(length);
    if (plan->length < kBlocksSize + plan->tail) return ProgramRead::kTooShort;
    if (!platform::SeekTo(program, plan->BlockOffset()) ||
        platform::ReadBytes(program, plan->blocks, kBlocksSize) != kBlocksSize) {
        return ProgramRead::kUnreadable;
    }
    return ProgramRead::kRead;
}

namespace {

bool ReadAt(std::FILE* f, uint64_t at, void* out, size_t n) {
    return platform::SeekTo(f, at) && platform::ReadBytes(f, out, n) == n;
}

unsigned Load16(const uint8_t* p) { return p[0] | p[1] << 8; }

// end = max(end, start + size), where a sum past 64 bits is no image at all.
bool Reach(uint64_t& end, uint64_t start, uint64_t size) {
    if (start > UINT64_MAX - size) return false;
    if (start + size > end) end = start + size;
    return true;
}

}  // namespace

uint64_t ElfImageLength(std::FILE* file) {
    uint8_t h[64];
    if (!ReadAt(file, 0, h, sizeof h) || std::memcmp(h, "\177ELF", 4) != 0) return 0;
    const bool wide = h[4] == 2;
    const uint64_t ph = wide ? Load64Le(h + 32) : Load32Le(h + 28);
    const uint64_t sh = wide ? Load64Le(h + 40) : Load32Le(h + 32);
    const unsigned ph_size = Load16(h + (wide ? 54 : 42));
    const unsigned ph_count = Load16(h + (wide ? 56 : 44));
    const unsigned sh_size = Load16(h + (wide ? 58 : 46));
    const unsigned sh_count = Load16(h + (wide ? 60 : 48));
    uint64_t end = 0;
    if (!Reach(end, sh, static_cast<uint64_t>(sh_size) * sh_count)) return 0;
    for (unsigned i = 0; i < ph_count && i < 64; ++i) {
        uint8_t p[56];
        const uint64_t step = static_cast<uint64_t>(i) * ph_size;
        if (ph_size > sizeof p || ph > UINT64_MAX - step || !ReadAt(file, ph + step, p, ph_size)) return 0;
        const uint64_t off = wide ? Load64Le(p + 8) : Load32Le(p + 4);
        const uint64_t size = wide ? Load64Le(p + 32) : Load32Le(p + 16);
        if (!Reach(end, off, size)) return 0;
    }
    return end;
}

uint64_t PeImageLength(std::FILE* file) {
    uint8_t h[64];
    if (!ReadAt(file, 0, h, sizeof h) || h[0] != 'M' || h[1] != 'Z') return 0;
    const uint32_t pe = Load32Le(h + 60);
    uint8_t coff[24];
    if (!ReadAt(file, pe, coff, sizeof coff) || std::memcmp(coff, "PE\0\0", 4) != 0) return 0;
    const unsigned sections = Load16(coff + 6);
    const unsigned optional = Load16(coff + 20);
    uint64_t end = 0;
    for (unsigned i = 0; i < sections && i < 96; ++i) {
        uint8_t s[40];
        if (!ReadAt(file, uint64_t{pe} + 24 + optional + 40ull * i, s, sizeof s)) return 0;
        (void)Reach(end, Load32Le(s + 20), Load32Le(s + 16));  // 32-bit values: no overflow
    }
    return end;
}

SealCheck CheckSealedFile(std::FILE* file, uint64_t image, uint32_t* tail, uint32_t* files) {
    *tail = 0;
    const int64_t length = platform::Length(file);
    if (length < 0) return SealCheck::kUnreadable;
    const uint64_t end = static_cast<uint64_t>(length);
    uint8_t stored[kBlocksSize];
    uint8_t plain[kBlocksSize];
    if (image == 0 || image > end || end - image < kBlocksSize || !ReadAt(file, image, stored, sizeof stored)) {
        return SealCheck::kNoBlocks;
    }
    uint8_t* const block2 = plain + kBlock1Size;
    uint8_t* const block3 = block2 + kBlock2Size;
    if (!RevealSealedBlocks(stored, plain, tail)) return SealCheck::kForeignBlocks;
    if (end < *tail || end - *tail != GetField(block2, kLengthField) || end - image - kBlocksSize < *tail) {
        return SealCheck::kWrongLength;
    }
    const uint32_t expected = GetField(block2, kChecksumField);
    uint32_t checksum = 0;
    if (!SealChecksum(file, image, image + kBlocksSize + *tail, end, plain, block2, block3, &checksum) ||
        checksum != expected) {
        return SealCheck::kWrongChecksum;
    }
    *files = GetField(block2, kCountField);
    return SealCheck::kSound;
}

FoundBlocks FindSealedBlocks(std::FILE* file, uint64_t head, SealPlan* plan, uint32_t* count) {
    for (const uint32_t tail : {0u, static_cast<uint32_t>(kSpanTailSize)}) {
        if (head < kBlocksSize + tail) continue;
        uint8_t stored[kBlocksSize];
        if (!platform::SeekTo(file, head - tail - kBlocksSize) ||
            platform::ReadBytes(file, stored, kBlocksSize) != kBlocksSize) {
            return FoundBlocks::kUnreadable;
        }
        uint32_t recorded_tail = 0;
        if (!RevealSealedBlocks(stored, plan->blocks, &recorded_tail) || recorded_tail != tail) continue;
        plan->tail = tail;
        plan->length = head;
        *count = GetField(plan->blocks + kBlock1Size, kCountField);
        return FoundBlocks::kFound;
    }
    return FoundBlocks::kNone;
}

SealOutcome SealFile(std::FILE* out, const char* path, const SealPlan& plan, uint32_t files) {
    uint8_t plain[kBlocksSize];
    std::memcpy(plain, plan.blocks, kBlocksSize);
    uint8_t* const block1 = plain;
    uint8_t* const block2 = plain + kBlock1Size;
    uint8_t* const block3 = block2 + kBlock2Size;

    if (std::fflush(out) != 0) return SealOutcome::kWriteFailed;
    const int64_t end = platform::Length(out);
    if (end < 0 || static_cast<uint64_t>(end) < plan.length) return SealOutcome::kReadFailed;
    const auto file_end = static_cast<uint64_t>(end);
    // Lengths are 32-bit fields; a larger file cannot be described by its blocks.
    if (file_end - plan.tail > UINT32_MAX) return SealOutcome::kTooLarge;
    PutField(block2, kCountField, files);
    PutField(block2, kLengthField, static_cast<uint32_t>(file_end - plan.tail));

    uint32_t checksum = 0;
    {
        platform::File reader = platform::OpenFile(path, "rb");
        if (!reader) return SealOutcome::kReadFailed;
        if (!SealChecksum(reader.get(), plan.BlockOffset(), plan.length, file_end, block1, block2, block3, &checksum)) {
            return SealOutcome::kReadFailed;
        }
    }
    PutField(block2, kChecksumField, checksum);

    SfxKeyTables tables;
    FillKeyTables(tables);
    MixKeyTables(tables);
    uint8_t obscured[kBlocksSize];
    ObscureBlock(obscured, block1, kBlock1Size, tables);
    ObscureBlock(obscured + kBlock1Size, block2, kBlock2Size, tables);
    ObscureBlock(obscured + kBlock1Size + kBlock2Size, block3, kBlock3Size, tables);
    if (!platform::SeekTo(out, plan.BlockOffset()) || platform::WriteBytes(out, obscured, kBlocksSize) != kBlocksSize) {
        return SealOutcome::kWriteFailed;
    }
    return SealOutcome::kSealed;
}

}  // namespace hedgerow::sfxblocks
