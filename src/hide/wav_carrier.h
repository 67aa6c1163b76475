// wav_carrier.h -- RIFF WAVE sounds of uncompressed 8- or 16-bit samples as carriers: the
// header check and the walk over the "data" chunks that follow the format chunk. Every
// sample is a unit, in stored order, channels not told apart.
#pragma once

#include <cstdint>
#include <string_view>

#include "hide/carrier.h"

namespace hedgerow::hide {

// Reads as many bytes as the tag has and compares them; all are read even after a
// difference. False with kIoError when the file ends first; *matched tells the result.
[[nodiscard]] bool MatchTag(Session& s, CarrierState& c, std::string_view tag, bool* matched);

// Walks the chunk headers from the scan position up to the end of the RIFF data and
// returns the data size of the first chunk with this tag, the file positioned at its
// data; 0 when there is none (or it is empty). Sets kIoError when a header runs into the
// end of the file.
uint32_t FindRiffChunk(Session& s, CarrierState& c, std::string_view tag);

// Parses the header of the open carrier (its first byte, "R", already read): "RIFF",
// "WAVE" (kBadFormat), a format chunk (kIoError when missing) with format tag 1 and 8 or
// 16 bits per sample (kBadFormat). When hiding, 12 bits count as 16, and the embedding
// pass writes 16 into the field. Sets the unit size.
[[nodiscard]] bool ParseWavHeader(Session& s, CarrierState& c);

// Byte count of the next "data" chunk, the file positioned at its data; 0 at the end.
uint32_t NextWavData(Session& s, CarrierState& c);

}  // namespace hedgerow::hide
