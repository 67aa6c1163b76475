// cipher.h -- password digest, cipher ids and their dispatch, the chain register.
// Cipher ids: -1 none, 0 DES in ECB mode, 1 two-key triple DES (EDE) in CBC mode,
// 2 IDEA in CBC mode. Key material is always the MD5 digest of the password.
#pragma once

#include <cstdint>

namespace hedgerow::crypto {

inline constexpr int32_t kCipherNone = -1;
inline constexpr int32_t kCipherDes = 0;
inline constexpr int32_t kCipherTripleDes = 1;
inline constexpr int32_t kCipherIdea = 2;
inline constexpr int kPasswordMaxLength = 255;  // bytes of a password that are used

// Key schedules and the chain register: one instance per stream (and a short-lived one
// for each record enciphered with the header password); the next key setup or chain
// start overwrites them, and they are wiped when the instance goes.
struct CipherState {
    uint32_t des_a[32] = {};          // DES schedule A: 16 round keys, two words each
    uint32_t des_b[32] = {};          // DES schedule B (second key of triple DES)
    uint16_t idea_encipher[52] = {};  // IDEA encipher subkeys
    uint16_t idea_decipher[52] = {};  // IDEA decipher subkeys
    uint8_t chain[8] = {};            // the CBC register, carried from buffer to buffer
    ~CipherState();
};

// Whether an id names one of the ciphers above. Any other id in a record is damage: taken
// as it is, it would leave data unenciphered under a label that promises otherwise.
constexpr bool IsKnownCipher(int32_t cipher_id) { return cipher_id >= kCipherNone && cipher_id <= kCipherIdea; }

// Whether the cipher chains its blocks, so that its data opens with a chain block.
constexpr bool UsesChain(int32_t cipher_id) { return cipher_id == kCipherTripleDes || cipher_id == kCipherIdea; }

// MD5 of the password's bytes (at most kPasswordMaxLength of them, no terminator).
void PasswordDigest(const char* password, uint8_t digest[16]);

// Prepare the schedules of cipher_id for enciphering or deciphering; other ids: nothing.
void SetEncipherKey(CipherState& state, const char* password, int32_t cipher_id);
void SetDecipherKey(CipherState& state, const char* password, int32_t cipher_id);

// The key setups behind SetEncipherKey and SetDecipherKey, from a 16-byte password digest.
// DES: schedule A from bytes 0-7 (schedule B untouched). Triple DES: schedule A from
// key 1 = bytes 0-7 in the given direction, schedule B from key 2 = bytes 8-15 in the
// other. IDEA: eight little-endian key words; deciphering builds both schedules.
void DesSetEncipherKey(CipherState& state, const uint8_t digest[16]);
void DesSetDecipherKey(CipherState& state, const uint8_t digest[16]);
void Des3SetEncipherKey(CipherState& state, const uint8_t digest[16]);
void Des3SetDecipherKey(CipherState& state, const uint8_t digest[16]);
void IdeaSetEncipherKey(CipherState& state, const uint8_t digest[16]);
void IdeaSetDecipherKey(CipherState& state, const uint8_t digest[16]);

// Fills block with a random chain block; for ids 1 and 2 enciphers it once with the
// stream's key (no chaining) and loads the result into the chain register.
void StartChain(CipherState& state, uint8_t block[8], int32_t cipher_id);
// Loads the 8 bytes that open an enciphered stream into the chain register.
void LoadChain(CipherState& state, const uint8_t block[8]);

// Process the buffer in place in 8-byte blocks at offsets 0, 8, ... below length; the
// last block may run up to 7 bytes past length, so the buffer must reach the next
// multiple of 8. A length of 0 or less does nothing; an unknown id leaves the data.
void EncipherBuffer(CipherState& state, uint8_t* buffer, int32_t length, int32_t cipher_id);
void DecipherBuffer(CipherState& state, uint8_t* buffer, int32_t length, int32_t cipher_id);

// The first draw of the linear congruential generator after seeding it with seed:
// bits 16 to 30 of seed * 214013 + 2531011 (mod 2^32).
uint16_t LcgFirstDraw(uint32_t seed);

// Two 15-bit draws of the seeded linear congruential generator, stored little-endian
// at offsets 0 and 4.
void MakeRandomBlock(uint8_t block[8]);

// Overwrites the schedules and the chain register in a way the compiler keeps.
void WipeCipherState(CipherState& state);

}  // namespace hedgerow::crypto
