// bmp_carrier.h -- Windows and OS/2 bitmap pictures as carriers: the header check, the
// walk over the pixel rows (each row without its padding is one chunk of one-byte units),
// and the palette step that makes an 8-bit picture look the same after hiding.
#pragma once

#include <array>
#include <cstdint>

#include "hide/carrier.h"

namespace hedgerow::hide {

// Parses the header of the open carrier (its first byte, "B", already read): second
// signature byte "M" or "A", header size 12, 40 or 64, pixel data that begin after the
// headers, non-zero width and height, one plane (all kBadFormat), 8 or 24 bits per pixel
// (kUnsupportedCarrier), no compression (kCompressedCarrier). Sets up the row walk in file order; a negative height (top-down
// rows) counts its magnitude. In the embedding pass it also clears the image-size and
// horizontal-resolution fields whose lowest byte is not 0, and runs the palette step of
// an 8-bit picture. Unit size 1.
[[nodiscard]] bool ParseBmpHeader(Session& s, CarrierState& c);

// The next row's byte count, the file positioned at it; 0 when no rows are left or the
// seek fails.
uint32_t NextBmpRow(CarrierState& c);

// The palette layout for the slots of a palette step, from the pixel counts per index:
// result[i] is the slot index i moves to, for every index that occurs; layout[s] is the
// old index shown in slot s. slots is a power of two from 2 to 256 and at least the
// number of indices that occur. The indices that occur, most frequent first (ties in
// ascending order), receive one slot each and then, in passes, 1, 2, 4 ... more slots
// each until the slots are used up; they are laid out from the last slot downwards, least
// frequent first. Every pair of slots (2j, 2j + 1) then shows one colour, except where an
// index received a single slot.
struct PaletteLayout {
    std::array<uint8_t, 256> moves_to {};   // old index -> lowest slot laid out for it
    std::array<uint8_t, 256> shown_in {};   // slot -> old index whose colour it shows
};
PaletteLayout LayOutPalette(const std::array<uint32_t, 256>& counts, uint32_t slots);

// The palette step of the embedding pass. The step only works within the palette entries
// that lie before the pixel data (and that the colour count of the header admits): with
// 256 of them all 256 slots are used; with fewer, the largest power of two of slots that
// fits, provided the picture's indices lie below the entry count and fit into those
// slots. Otherwise the palette and the pixels stay as they are. Pixel data is never
// overwritten by palette entries.
[[nodiscard]] bool PrepareBmpPalette(Session& s, CarrierState& c, uint32_t palette_offset, uint32_t entry_size,
                                     uint32_t entries_present);

}  // namespace hedgerow::hide
