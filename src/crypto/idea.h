// idea.h -- the IDEA block cipher (64-bit block, 128-bit key, eight rounds and an output
// transformation) with this library's word order: every 16-bit word of key and block is
// stored little-endian (byte 0 is the low byte of word 1). Uses no tables, but is NOT
// constant-time: the scalar multiplication branches when a factor is 0 (the batched
// AVX2 path does not).
#pragma once

#include <cstddef>
#include <cstdint>

namespace hedgerow::crypto {

inline constexpr int kIdeaScheduleWords = 52;

// Multiplication modulo 65537 in which the word 0 stands for 65536.
uint16_t IdeaMul(uint16_t a, uint16_t b);
// The inverse under IdeaMul: IdeaMul(a, IdeaMulInverse(a)) == 1; 0 and 1 are their own.
uint16_t IdeaMulInverse(uint16_t a);

// The eight key words of a 16-byte key, word i = byte 2i + 256 * byte 2i+1.
void IdeaKeyWords(const uint8_t key[16], uint16_t words[8]);
// The 52 enciphering subkeys of eight key words (the key rotated left by 25 bits for each
// further group of eight).
void IdeaExpandKey(const uint16_t key[8], uint16_t schedule[kIdeaScheduleWords]);
// The deciphering subkeys of an enciphering schedule.
void IdeaInvertKey(const uint16_t encipher[kIdeaScheduleWords], uint16_t decipher[kIdeaScheduleWords]);

// The IDEA function on four words with the given schedule; in and out may be the same.
void IdeaCipherBlock(const uint16_t in[4], uint16_t out[4], const uint16_t schedule[kIdeaScheduleWords]);

// One 8-byte block (four little-endian words) through IdeaCipherBlock, in place.
void IdeaBlock(uint8_t block[8], const uint16_t schedule[kIdeaScheduleWords]);

// Cipher block chaining in place over `blocks` 8-byte blocks, carrying the chain register.
// Enciphering takes the enciphering schedule, deciphering the deciphering one.
void IdeaEncipherCbc(uint8_t* data, size_t blocks, const uint16_t schedule[kIdeaScheduleWords], uint8_t chain[8]);
void IdeaDecipherCbc(uint8_t* data, size_t blocks, const uint16_t schedule[kIdeaScheduleWords], uint8_t chain[8]);

}  // namespace hedgerow::crypto
