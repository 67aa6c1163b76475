// des.h -- the Data Encryption Standard (FIPS 46) in the standard's bit order (bit 1 is
// the most significant bit of byte 0), and two-key triple DES (encipher, decipher,
// encipher). Table driven and therefore NOT constant-time: S-box lookups leak key- and
// data-dependent addresses through the cache.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hedgerow::crypto {

// A key schedule: 16 round keys of two words each. Each word holds four 6-bit groups of
// the 48-bit round key, one in the low six bits of each byte: groups 1, 3, 5, 7 (from the
// top byte down) in the first word, groups 2, 4, 6, 8 in the second.
inline constexpr int kDesScheduleWords = 32;

// Fills the schedule from an 8-byte key (parity bits ignored). decipher false: round
// keys in the order 1 ... 16; true: 16 ... 1, so that DesCipherBlock deciphers.
void DesKeySchedule(const uint8_t key[8], uint32_t schedule[kDesScheduleWords], bool decipher);

// The DES function with the round keys in schedule order; in and out may be the same.
void DesCipherBlock(const uint8_t in[8], uint8_t out[8], const uint32_t schedule[kDesScheduleWords]);

// One block in place through schedule a, then b, then a again. With a enciphering key 1
// and b deciphering key 2 this is two-key triple DES; with the directions swapped, its
// inverse.
void Des3Block(uint8_t block[8], const uint32_t a[kDesScheduleWords], const uint32_t b[kDesScheduleWords]);

// Every one of `blocks` 8-byte blocks through DesCipherBlock, in place (ECB mode; the
// schedule's direction decides enciphering or deciphering).
void DesEcbBuffer(uint8_t* data, size_t blocks, const uint32_t schedule[kDesScheduleWords]);

// Cipher block chaining over Des3Block, in place, carrying the chain register.
// Enciphering: P ^= V; P = Des3Block(P); V = P. Deciphering: V' = X; X = Des3Block(X) ^ V.
void Des3EncipherCbc(uint8_t* data, size_t blocks, const uint32_t a[kDesScheduleWords],
                     const uint32_t b[kDesScheduleWords], uint8_t chain[8]);
void Des3DecipherCbc(uint8_t* data, size_t blocks, const uint32_t a[kDesScheduleWords],
                     const uint32_t b[kDesScheduleWords], uint8_t chain[8]);

}  // namespace hedgerow::crypto
