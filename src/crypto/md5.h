// md5.h -- the MD5 message digest of RFC 1321, used only to turn passwords into key
// material. Incremental: Md5Init, any number of Md5Update calls, Md5Final.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hedgerow::crypto {

inline constexpr size_t kMd5DigestSize = 16;
inline constexpr size_t kMd5BlockSize = 64;

struct Md5Context {
    uint32_t state[4];              // A, B, C, D
    uint64_t length;                // bytes hashed so far
    uint8_t pending[kMd5BlockSize]; // start of an unfinished block (length % 64 bytes)
};

void Md5Init(Md5Context& context);
void Md5Update(Md5Context& context, const void* data, size_t n);
// Pads, writes the 16-byte digest (A, B, C, D little-endian) and wipes the context.
void Md5Final(Md5Context& context, uint8_t digest[kMd5DigestSize]);

// One-shot digest of n bytes.
void Md5(const void* data, size_t n, uint8_t digest[kMd5DigestSize]);

}  // namespace hedgerow::crypto
