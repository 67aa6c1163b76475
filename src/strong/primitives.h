// primitives.h -- the modern primitives of strong archives, all from libgcrypt (none is
// written here): Argon2id for the password, ChaCha20-Poly1305 (RFC 8439) for records and
// data, HMAC-SHA-256 and HKDF-SHA-256 (RFC 5869, built from libgcrypt's HMAC) for derived
// keys. Random bytes come from the operating system (platform::RandomBytes). Secrets live
// in Key objects, which are wiped when they go.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace hedgerow::strong {

inline constexpr size_t kKeySize = 32;    // ChaCha20 and every derived key
inline constexpr size_t kNonceSize = 12;  // ChaCha20-Poly1305 (IETF)
inline constexpr size_t kTagSize = 16;    // Poly1305
inline constexpr size_t kMacSize = 32;    // HMAC-SHA-256

// A 32-byte key, wiped when it goes.
struct Key {
    std::array<uint8_t, kKeySize> bytes {};
    Key() = default;
    Key(const Key& other) = default;
    Key& operator=(const Key& other) = default;
    ~Key();
};

// Makes libgcrypt ready for use (once per process; later calls return at once). False when
// the library is older than the one this was built with.
[[nodiscard]] bool InitCryptoLibrary();

// Argon2id (RFC 9106) of password with salt into out: memory in KiB, passes, lanes; the
// optional secret and associated data of the RFC's test vectors. The work memory is
// released before it returns. False on failure (parameters out of range, no memory).
struct Argon2Parameters {
    uint32_t memory_kib = 0;
    uint32_t passes = 0;
    uint32_t lanes = 0;
};
[[nodiscard]] bool Argon2id(std::span<const uint8_t> password, std::span<const uint8_t> salt, const Argon2Parameters& p,
                            std::span<uint8_t> out, std::span<const uint8_t> secret = {},
                            std::span<const uint8_t> associated = {});

// HMAC-SHA-256 of data under key.
[[nodiscard]] bool HmacSha256(std::span<const uint8_t> key, std::span<const uint8_t> data,
                              std::array<uint8_t, kMacSize>& out);

// HKDF-SHA-256 (RFC 5869): extract with salt, expand with info into out (at most 255 * 32
// bytes).
[[nodiscard]] bool HkdfSha256(std::span<const uint8_t> input_key, std::span<const uint8_t> salt,
                              std::span<const uint8_t> info, std::span<uint8_t> out);

// ChaCha20-Poly1305 under one key, for many messages: Seal writes the ciphertext of
// plaintext (out.size() == plaintext.size(); may be the same memory) and its tag; Open
// checks the tag and writes the plaintext, false when the tag does not hold (the output
// is then not to be used). The handle is reused from message to message.
class Aead {
public:
    Aead() = default;
    ~Aead();
    Aead(const Aead&) = delete;
    Aead& operator=(const Aead&) = delete;

    [[nodiscard]] bool SetKey(const Key& key);
    [[nodiscard]] bool Seal(const uint8_t nonce[kNonceSize], std::span<const uint8_t> associated,
                            std::span<const uint8_t> plaintext, std::span<uint8_t> out, uint8_t tag[kTagSize]);
    [[nodiscard]] bool Open(const uint8_t nonce[kNonceSize], std::span<const uint8_t> associated,
                            std::span<const uint8_t> ciphertext, std::span<uint8_t> out, const uint8_t tag[kTagSize]);

private:
    void* handle_ = nullptr;  // gcry_cipher_hd_t
};

// Compares two byte strings in time that does not depend on where they differ.
bool SameBytes(std::span<const uint8_t> a, std::span<const uint8_t> b);

}  // namespace hedgerow::strong
