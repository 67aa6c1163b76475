// primitives.cpp -- libgcrypt behind the primitives of strong archives (see primitives.h).
#include "strong/primitives.h"

#include <gcrypt.h>

#include <cstring>

#include "crypto/wipe.h"

namespace hedgerow::strong {

Key::~Key() { crypto::SecureWipe(bytes.data(), bytes.size()); }

bool InitCryptoLibrary() {
    // libgcrypt wants one initialisation per process before any use; a host that uses
    // libgcrypt itself may have done it already. Thread-safe by the rules of local statics.
    static const bool ready = [] {
        if (gcry_control(GCRYCTL_INITIALIZATION_FINISHED_P)) return gcry_check_version(GCRYPT_VERSION) != nullptr;
        if (gcry_check_version(GCRYPT_VERSION) == nullptr) return false;
        // Keys live in our own memory and are wiped by us; libgcrypt's secure heap would
        // need privileges to lock its pages.
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    return ready;
}

bool Argon2id(std::span<const uint8_t> password, std::span<const uint8_t> salt, const Argon2Parameters& p,
              std::span<uint8_t> out, std::span<const uint8_t> secret, std::span<const uint8_t> associated) {
    if (!InitCryptoLibrary() || p.memory_kib < 8 * p.lanes || p.passes == 0 || p.lanes == 0) return false;
    const unsigned long parameters[4] = {static_cast<unsigned long>(out.size()), p.passes, p.memory_kib, p.lanes};
    gcry_kdf_hd_t hd = nullptr;
    if (gcry_kdf_open(&hd, GCRY_KDF_ARGON2, GCRY_KDF_ARGON2ID, parameters, 4, password.data(), password.size(),
                      salt.data(), salt.size(), secret.empty() ? nullptr : secret.data(), secret.size(),
                      associated.empty() ? nullptr : associated.data(), associated.size()) != 0) {
        return false;
    }
    // Its work memory is freed by gcry_kdf_close.
    const bool ok = gcry_kdf_compute(hd, nullptr) == 0 && gcry_kdf_final(hd, out.size(), out.data()) == 0;
    gcry_kdf_close(hd);
    return ok;
}

bool HmacSha256(std::span<const uint8_t> key, std::span<const uint8_t> data, std::array<uint8_t, kMacSize>& out) {
    if (!InitCryptoLibrary()) return false;
    gcry_mac_hd_t hd = nullptr;
    if (gcry_mac_open(&hd, GCRY_MAC_HMAC_SHA256, 0, nullptr) != 0) return false;
    size_t length = out.size();
    const bool ok = gcry_mac_setkey(hd, key.data(), key.size()) == 0 && gcry_mac_write(hd, data.data(), data.size()) == 0 &&
                    gcry_mac_read(hd, out.data(), &length) == 0 && length == out.size();
    gcry_mac_close(hd);
    return ok;
}

bool HkdfSha256(std::span<const uint8_t> input_key, std::span<const uint8_t> salt, std::span<const uint8_t> info,
                std::span<uint8_t> out) {
    if (out.size() > 255 * kMacSize) return false;
    // Extract: PRK = HMAC(salt, IKM), with a salt of zeros when none is given.
    const std::array<uint8_t, kMacSize> zeros {};
    std::array<uint8_t, kMacSize> prk {};
    const crypto::WipeOnExit wipe_prk(prk);
    if (!HmacSha256(salt.empty() ? std::span<const uint8_t>(zeros) : salt, input_key, prk)) return false;
    // Expand: T(i) = HMAC(PRK, T(i - 1) | info | i).
    std::array<uint8_t, kMacSize> block {};
    const crypto::WipeOnExit wipe_block(block);
    size_t done = 0;
    for (uint8_t i = 1; done < out.size(); ++i) {
        uint8_t message[kMacSize + 1024 + 1];
        const crypto::WipeOnExit wipe_message(message);
        if (info.size() > 1024) return false;
        size_t n = 0;
        if (i > 1) {
            std::memcpy(message, block.data(), kMacSize);
            n = kMacSize;
        }
        if (!info.empty()) std::memcpy(message + n, info.data(), info.size());
        n += info.size();
        message[n++] = i;
        if (!HmacSha256(prk, std::span<const uint8_t>(message, n), block)) return false;
        const size_t take = std::min(kMacSize, out.size() - done);
        std::memcpy(out.data() + done, block.data(), take);
        done += take;
    }
    return true;
}

Aead::~Aead() {
    if (handle_ != nullptr) gcry_cipher_close(static_cast<gcry_cipher_hd_t>(handle_));  // wipes the key
}

bool Aead::SetKey(const Key& key) {
    if (!InitCryptoLibrary()) return false;
    if (handle_ == nullptr) {
        gcry_cipher_hd_t hd = nullptr;
        if (gcry_cipher_open(&hd, GCRY_CIPHER_CHACHA20, GCRY_CIPHER_MODE_POLY1305, 0) != 0) return false;
        handle_ = hd;
    }
    return gcry_cipher_setkey(static_cast<gcry_cipher_hd_t>(handle_), key.bytes.data(), key.bytes.size()) == 0;
}

bool Aead::Seal(const uint8_t nonce[kNonceSize], std::span<const uint8_t> associated, std::span<const uint8_t> plaintext,
                std::span<uint8_t> out, uint8_t tag[kTagSize]) {
    auto hd = static_cast<gcry_cipher_hd_t>(handle_);
    if (hd == nullptr || out.size() != plaintext.size()) return false;
    if (gcry_cipher_setiv(hd, nonce, kNonceSize) != 0) return false;
    if (!associated.empty() && gcry_cipher_authenticate(hd, associated.data(), associated.size()) != 0) return false;
    if (gcry_cipher_final(hd) != 0) return false;
    const bool in_place = out.data() == plaintext.data();
    if (!plaintext.empty() &&
        gcry_cipher_encrypt(hd, out.data(), out.size(), in_place ? nullptr : plaintext.data(), in_place ? 0 : plaintext.size()) !=
            0) {
        return false;
    }
    return gcry_cipher_gettag(hd, tag, kTagSize) == 0;
}

bool Aead::Open(const uint8_t nonce[kNonceSize], std::span<const uint8_t> associated, std::span<const uint8_t> ciphertext,
                std::span<uint8_t> out, const uint8_t tag[kTagSize]) {
    auto hd = static_cast<gcry_cipher_hd_t>(handle_);
    if (hd == nullptr || out.size() != ciphertext.size()) return false;
    if (gcry_cipher_setiv(hd, nonce, kNonceSize) != 0) return false;
    if (!associated.empty() && gcry_cipher_authenticate(hd, associated.data(), associated.size()) != 0) return false;
    if (gcry_cipher_final(hd) != 0) return false;
    const bool in_place = out.data() == ciphertext.data();
    if (!ciphertext.empty() &&
        gcry_cipher_decrypt(hd, out.data(), out.size(), in_place ? nullptr : ciphertext.data(),
                            in_place ? 0 : ciphertext.size()) != 0) {
        return false;
    }
    return gcry_cipher_checktag(hd, tag, kTagSize) == 0;
}

bool SameBytes(std::span<const uint8_t> a, std::span<const uint8_t> b) {
    if (a.size() != b.size()) return false;
    uint8_t difference = 0;
    for (size_t i = 0; i < a.size(); ++i) difference |= static_cast<uint8_t>(a[i] ^ b[i]);
    return difference == 0;
}

}  // namespace hedgerow::strong
