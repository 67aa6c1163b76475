// carrier_kind.cpp -- what a file that is no usable carrier is, told by its first bytes
// (see carrier_kind.h).
#include "carrier_kind.h"

#include <cstring>

namespace hedgerow::cli {

namespace {

uint32_t Le16(std::span<const uint8_t> b, size_t at) {
    return at + 2 <= b.size() ? static_cast<uint32_t>(b[at] | (b[at + 1] << 8)) : 0;
}

uint32_t Le32(std::span<const uint8_t> b, size_t at) {
    return at + 4 <= b.size() ? Le16(b, at) | (Le16(b, at + 2) << 16) : 0;
}

bool StartsWith(std::span<const uint8_t> b, const char* magic, size_t n) {
    return b.size() >= n && std::memcmp(b.data(), magic, n) == 0;
}

std::string BmpKind(std::span<const uint8_t> b) {
    const uint32_t header_size = Le32(b, 14);
    const bool core = header_size == 12;
    const uint32_t bits = Le16(b, core ? 24 : 28);
    const uint32_t compression = core ? 0 : Le32(b, 30);
    if (bits != 8 && bits != 24) return "BMP picture of " + std::to_string(bits) + (bits == 1 ? " bit" : " bits");
    if (compression != 0) return "compressed BMP picture";
    return "";
}

// The "fmt " chunk of a RIFF WAVE file, looked for among the chunks in `b`.
std::string WavKind(std::span<const uint8_t> b) {
    for (size_t at = 12; at + 8 + 16 <= b.size();) {
        const uint32_t size = Le32(b, at + 4);
        if (std::memcmp(b.data() + at, "fmt ", 4) == 0) {
            uint32_t format = Le16(b, at + 8);
            const uint32_t bits = Le16(b, at + 8 + 14);
            // WAVE_FORMAT_EXTENSIBLE names its format in the first bytes of its sub-format.
            if (format == 0xFFFE && at + 8 + 26 <= b.size()) format = Le16(b, at + 8 + 24);
            if (format == 3) return "WAV sound of " + std::to_string(bits) + "-bit floating-point samples";
            if (format != 1) return "WAV sound in a compressed format";
            if (bits != 8 && bits != 16) return "WAV sound of " + std::to_string(bits) + "-bit samples";
            return "";
        }
        at += 8 + static_cast<size_t>(size) + (size & 1);
    }
    return "";
}

}  // namespace

std::string UnsupportedCarrierKind(std::span<const uint8_t> b) {
    if (StartsWith(b, "\x89PNG", 4)) return "PNG picture";
    if (StartsWith(b, "\xFF\xD8\xFF", 3)) return "JPEG picture";
    if (StartsWith(b, "GIF8", 4)) return "GIF picture";
    if (StartsWith(b, "II*\0", 4) || StartsWith(b, "MM\0*", 4)) return "TIFF picture";
    if (StartsWith(b, "RIFF", 4) && b.size() >= 12 && std::memcmp(b.data() + 8, "WEBP", 4) == 0) return "WebP picture";
    if (StartsWith(b, "RIFF", 4) && b.size() >= 12 && std::memcmp(b.data() + 8, "WAVE", 4) == 0) return WavKind(b);
    if (StartsWith(b, "BM", 2) && b.size() >= 30) return BmpKind(b);
    return "";
}

}  // namespace hedgerow::cli
