// pcx_carrier.h -- PCX pictures of 256 or more colours as carriers. Unlike BMP and WAV
// carriers they are read whole, their run-length coded pixels decoded, the bits embedded
// in every byte of the decoded scan lines, and the picture written anew (into a new file
// that then replaces the carrier): header, newly coded pixels, palette block.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "hide/carrier.h"

namespace hedgerow::hide {

inline constexpr uint32_t kPcxHeaderSize = 128;
inline constexpr uint32_t kPcxPaletteBlockSize = 769;  // marker byte and 256 RGB entries
inline constexpr uint8_t kPcxManufacturer = 10;
inline constexpr int kPcxMaxRun = 63;

// Cleared at the start of every PCX test and every read.
struct PcxState {
    std::array<uint8_t, kPcxHeaderSize> header {};  // written back unchanged
    bool encoded = false;            // run-length coded pixels (header byte 2 not 0)
    bool has_palette = false;        // exactly 256 colours: a palette block ends the file
    uint32_t line_length = 0;        // planes x bytes per plane line
    uint32_t rows = 0;               // y max - y min + 1
    std::vector<uint8_t> decoded;    // line_length x rows bytes
    std::array<uint8_t, kPcxPaletteBlockSize> palette {};  // written back unchanged
};

void ResetPcxState(PcxState& p);

// True for a PCX carrier: first byte 10, version at least 5 (else kBadFormat) and at
// least 256 colours (else kUnsupportedCarrier). False without a status for a file of
// another kind or shorter than a PCX header; kIoError when it cannot be opened.
[[nodiscard]] bool IsPcxCarrier(Session& s, PcxState& p, const char* name);

// Reads the open carrier whole: header (checked again), pixels decoded, palette block.
// kBadFormat for a bad header or pixel data or palette block that end early,
// kUnsupportedCarrier, kNoMemory.
[[nodiscard]] bool ReadPcx(Session& s, PcxState& p, std::FILE* f);

// Expands packed bytes into out until it is full; a byte with both top bits set is a
// count (its low six bits) for the byte after it, any other byte stands for itself.
// Surplus packed bytes are ignored; a count with no byte after it yields nothing.
// Returns the bytes stored.
size_t DecodePcxRle(std::span<const uint8_t> packed, std::span<uint8_t> out);
// Bytes that packed would expand to, without a limit.
uint64_t PcxDecodedLength(std::span<const uint8_t> packed);
// Appends one run: a single byte below 0xC0 as itself, any other run as 0xC0 + count and
// the value. count is 1 to 63.
void EmitPcxRun(uint8_t value, int count, std::vector<uint8_t>& out);
// Appends the code of one scan line: runs of equal bytes of at most 63, none crossing
// the end of the line.
void EncodePcxLine(std::span<const uint8_t> line, std::vector<uint8_t>& out);

// Writes the picture to the open file: header, pixels (coded line by line when the
// header says so, else as they are), palette block. kNoMemory, kWriteError.
[[nodiscard]] bool WritePcx(Session& s, const PcxState& p, std::FILE* f);

// The bit loops over the decoded bytes in order. Embedding stops when the stream has
// been written (later bytes keep their bits); extraction when the buffer is full.
void EmbedPcx(CarrierState& c, PcxState& p);
void ExtractPcx(CarrierState& c, const PcxState& p);

// Hides the prepared file in a PCX carrier, through a new file that replaces the
// carrier only when it is complete. kCarrierTooSmall when the decoded bytes run out
// (*short_of then has the bytes they took).
[[nodiscard]] bool HidePcx(Session& s, CarrierState& c, PcxState& p, const char* carrier, const char* prepared_name,
                           StampToKeep keep = {}, HideFigures* short_of = nullptr);
// Recovers the prepared file into temp_name and hands back its header.
[[nodiscard]] bool UnhidePcx(Session& s, CarrierState& c, PcxState& p, const char* carrier, const char* temp_name,
                             uint8_t header[kPreparedHeaderSize]);

}  // namespace hedgerow::hide
