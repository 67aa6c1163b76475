// carrier_kind.h -- naming what a file is when it cannot carry a hidden file: the
// library says only that a carrier is unsupported or malformed; the command reads the
// file's first bytes and names the kind, so that the user learns what to use instead.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace hedgerow::cli {

// The carriers hide and unhide take, as the command names them.
inline constexpr const char* kSupportedCarriers = "BMP 8 and 24 bits, WAV 8 and 16 bits PCM, PCX";

// What the file whose first bytes (up to 4 KiB are enough) are `head` is, when it is a
// known kind that carries nothing: "PNG picture", "BMP picture of 32 bits", "WAV sound of
// 24-bit samples", ... Empty for a supported carrier and for anything unrecognised.
std::string UnsupportedCarrierKind(std::span<const uint8_t> head);

}  // namespace hedgerow::cli
