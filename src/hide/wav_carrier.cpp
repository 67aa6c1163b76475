// wav_carrier.cpp -- RIFF chunk walk and WAVE format check (see wav_carrier.h).
#include "hide/wav_carrier.h"

#include "common/byte_order.h"

namespace hedgerow::hide {

namespace {

constexpr uint16_t kFormatPcm = 1;
// Offset of the bits-per-sample field in the format chunk's data.
constexpr uint32_t kBitsField = 14;

}  // namespace

bool MatchTag(Session& s, CarrierState& c, std::string_view tag, bool* matched) {
    uint8_t bytes[8] = {};
    if (tag.size() > sizeof bytes) return Fail(s, Status::kBadFormat);
    if (!ReadExactly(s, c.file.get(), bytes, tag.size(), Status::kIoError)) return false;
    *matched = true;
    for (size_t i = 0; i < tag.size(); ++i) {
        if (bytes[i] != static_cast<uint8_t>(tag[i])) *matched = false;
    }
    return true;
}

uint32_t FindRiffChunk(Session& s, CarrierState& c, std::string_view tag) {
    while (c.wav.scan < c.wav.riff_end) {
        if (!platform::SeekTo(c.file.get(), c.wav.scan)) return 0;
        bool matched = false;
        uint8_t size_bytes[4];
        if (!MatchTag(s, c, tag, &matched)) return 0;
        if (!ReadExactly(s, c.file.get(), size_bytes, 4, Status::kIoError)) return 0;
        const uint32_t size = Load32Le(size_bytes);
        // Chunk data are padded to an even length.
        c.wav.scan += (static_cast<uint64_t>(size) + 9) & ~uint64_t {1};
        if (matched) return size;
    }
    return 0;
}

bool ParseWavHeader(Session& s, CarrierState& c) {
    bool matched = false;
    if (!MatchTag(s, c, "IFF", &matched)) return false;
    if (!matched) return Fail(s, Status::kBadFormat);
    uint8_t word[4];
    if (!ReadExactly(s, c.file.get(), word, 4, Status::kIoError)) return false;
    c.wav.riff_end = static_cast<uint64_t>(Load32Le(word)) + 8;
    if (!MatchTag(s, c, "WAVE", &matched)) return false;
    if (!matched) return Fail(s, Status::kBadFormat);
    c.wav.scan = 12;
    if (FindRiffChunk(s, c, "fmt ") == 0) return StatusIsOk(s) ? Fail(s, Status::kIoError) : false;

    const int64_t format_start = platform::Tell(c.file.get());
    uint8_t format[16];
    if (format_start < 0) return Fail(s, Status::kIoError);
    if (!ReadExactly(s, c.file.get(), format, sizeof format, Status::kIoError)) return false;
    // A sound in another sample format (floating point, compressed, extensible) is a
    // well-formed file that cannot carry.
    if (Load16Le(format) != kFormatPcm) return Fail(s, Status::kUnsupportedCarrier);
    uint16_t bits = Load16Le(format + kBitsField);
    // 12-bit samples are stored in 16-bit words, so they carry like 16-bit sound; the
    // field is rewritten so that the carrier reads as 16-bit from then on.
    if (bits == 12 && c.hiding) {
        bits = 16;
        if (c.embedding_pass) {
            uint8_t sixteen[2];
            Store16Le(sixteen, 16);
            if (!platform::SeekTo(c.file.get(), static_cast<uint64_t>(format_start) + kBitsField)) {
                return Fail(s, Status::kIoError);
            }
            if (!WriteExactly(s, c.file.get(), sixteen, 2)) return false;
        }
    }
    if (bits == 8) {
        c.unit_size = 1;
    } else if (bits == 16) {
        c.unit_size = 2;
    } else {
        return Fail(s, Status::kUnsupportedCarrier);
    }
    return true;
}

uint32_t NextWavData(Session& s, CarrierState& c) { return FindRiffChunk(s, c, "data"); }

}  // namespace hedgerow::hide
