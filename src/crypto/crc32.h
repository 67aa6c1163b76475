// crc32.h -- the CRC-32 of IEEE 802.3 (reflected polynomial 0xEDB88320), used for entry
// records and entry data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hedgerow::crypto {

// Advances a running register (preset to 0xFFFFFFFF by the caller, complemented by the
// caller at the end) over n bytes.
uint32_t Crc32Update(uint32_t crc, const void* data, size_t n);

// The same with portable code only (slicing by eight tables), whatever the processor
// offers; Crc32Update picks faster instructions where it can.
uint32_t Crc32UpdatePortable(uint32_t crc, const void* data, size_t n);

// The finished CRC-32 of n bytes: preset all ones, result complemented.
inline uint32_t Crc32(const void* data, size_t n) { return ~Crc32Update(0xFFFFFFFFu, data, n); }

}  // namespace hedgerow::crypto
