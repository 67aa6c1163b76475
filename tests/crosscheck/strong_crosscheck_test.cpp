// strong_crosscheck_test.cpp -- the primitives of strong archives against independent
// implementations on random inputs: ChaCha20-Poly1305 and Argon2id against libsodium,
// HKDF-SHA-256 against OpenSSL.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <sodium.h>

#include <vector>

#include "crosscheck/random_input.h"
#include "strong/primitives.h"

namespace hedgerow::strong {
namespace {

using testing::RandomInput;
using Bytes = std::vector<uint8_t>;

TEST(StrongCrosscheck, ChaCha20Poly1305AgainstLibsodium) {
    ASSERT_GE(sodium_init(), 0);
    RandomInput input(8439);
    Aead aead;
    for (int trial = 0; trial < 200; ++trial) {
        SCOPED_TRACE(trial);
        Key key;
        const Bytes key_bytes = input.Bytes(kKeySize);
        std::copy(key_bytes.begin(), key_bytes.end(), key.bytes.begin());
        const Bytes nonce = input.Bytes(kNonceSize);
        const Bytes ad = input.Bytes(input.Below(4) == 0 ? 0 : input.Below(100));
        const Bytes plain = input.Bytes(input.Below(3) == 0 ? input.Below(70000) : input.Below(300));
        ASSERT_TRUE(aead.SetKey(key));
        Bytes ours(plain.size());
        uint8_t tag[kTagSize];
        ASSERT_TRUE(aead.Seal(nonce.data(), ad, plain, ours, tag));
        Bytes theirs(plain.size() + crypto_aead_chacha20poly1305_ietf_ABYTES);
        unsigned long long length = 0;
        crypto_aead_chacha20poly1305_ietf_encrypt(theirs.data(), &length, plain.data(), plain.size(), ad.data(), ad.size(),
                                                  nullptr, nonce.data(), key.bytes.data());
        ASSERT_EQ(length, theirs.size());
        ours.insert(ours.end(), tag, tag + kTagSize);
        EXPECT_EQ(ours, theirs);
    }
}

TEST(StrongCrosscheck, Argon2idAgainstLibsodium) {
    ASSERT_GE(sodium_init(), 0);
    RandomInput input(9106);
    for (int trial = 0; trial < 12; ++trial) {
        SCOPED_TRACE(trial);
        const std::string password = input.Password();
        const Bytes salt = input.Bytes(crypto_pwhash_SALTBYTES);
        // libsodium's Argon2id has one lane; memory from 8 KiB up, passes from 1 up.
        const uint32_t memory_kib = 8 + input.Below(2048);
        const uint32_t passes = 1 + input.Below(4);
        Bytes ours(16 + input.Below(48));
        ASSERT_TRUE(Argon2id({reinterpret_cast<const uint8_t*>(password.data()), password.size()}, salt,
                             {memory_kib, passes, 1}, ours));
        Bytes theirs(ours.size());
        ASSERT_EQ(crypto_pwhash(theirs.data(), theirs.size(), password.data(), password.size(), salt.data(), passes,
                                static_cast<size_t>(memory_kib) * 1024, crypto_pwhash_ALG_ARGON2ID13),
                  0);
        EXPECT_EQ(ours, theirs);
    }
}

TEST(StrongCrosscheck, HkdfAgainstOpenssl) {
    RandomInput input(5869);
    for (int trial = 0; trial < 200; ++trial) {
        SCOPED_TRACE(trial);
        const Bytes ikm = input.Bytes(1 + input.Below(80));
        const Bytes salt = input.Bytes(input.Below(64));
        const Bytes info = input.Bytes(input.Below(100));
        Bytes ours(1 + input.Below(255));
        ASSERT_TRUE(HkdfSha256(ikm, salt, info, ours));

        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_id(EVP_PKEY_HKDF, nullptr);
        ASSERT_NE(ctx, nullptr);
        ASSERT_EQ(EVP_PKEY_derive_init(ctx), 1);
        ASSERT_EQ(EVP_PKEY_CTX_set_hkdf_md(ctx, EVP_sha256()), 1);
        // (no salt: OpenSSL's empty one and the RFC's zeros give the same key)
        if (!salt.empty()) {
            ASSERT_EQ(EVP_PKEY_CTX_set1_hkdf_salt(ctx, salt.data(), static_cast<int>(salt.size())), 1);
        }
        ASSERT_EQ(EVP_PKEY_CTX_set1_hkdf_key(ctx, ikm.data(), static_cast<int>(ikm.size())), 1);
        if (!info.empty()) {
            ASSERT_EQ(EVP_PKEY_CTX_add1_hkdf_info(ctx, info.data(), static_cast<int>(info.size())), 1);
        }
        Bytes theirs(ours.size());
        size_t length = theirs.size();
        ASSERT_EQ(EVP_PKEY_derive(ctx, theirs.data(), &length), 1);
        EVP_PKEY_CTX_free(ctx);
        EXPECT_EQ(ours, theirs);
    }
}

}  // namespace
}  // namespace hedgerow::strong
