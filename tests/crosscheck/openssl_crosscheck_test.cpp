// openssl_crosscheck_test.cpp -- the password digest, DES-ECB (cipher id 0) and two-key
// triple DES in CBC mode (cipher id 1) against OpenSSL's libcrypto, with random passwords
// and buffers. Single DES lives in OpenSSL's legacy provider.

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstring>
#include <vector>

#include "crosscheck/random_input.h"
#include "crypto/cipher.h"
#include "crypto/md5.h"

namespace hedgerow::crypto {
namespace {

using testing::RandomInput;
using testing::UsedPassword;

// The legacy provider (single DES) next to the default one, for the scope of a test.
struct Providers {
    OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
    OSSL_PROVIDER* standard = OSSL_PROVIDER_load(nullptr, "default");
    Providers() = default;
    Providers(const Providers&) = delete;
    Providers& operator=(const Providers&) = delete;
    ~Providers() {
        if (legacy != nullptr) OSSL_PROVIDER_unload(legacy);
        if (standard != nullptr) OSSL_PROVIDER_unload(standard);
    }
    bool Loaded() const { return legacy != nullptr && standard != nullptr; }
};

std::vector<uint8_t> OpensslMd5(const std::string& data) {
    std::vector<uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int n = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), digest.data(), &n, EVP_md5(), nullptr), 1);
    digest.resize(n);
    return digest;
}

// One pass of an OpenSSL cipher without padding over whole blocks.
std::vector<uint8_t> OpensslCrypt(const char* name, const uint8_t* key, const uint8_t* iv,
                                  const std::vector<uint8_t>& in, bool encipher) {
    EVP_CIPHER* cipher = EVP_CIPHER_fetch(nullptr, name, nullptr);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    std::vector<uint8_t> out(in.size() + 16);
    int n = 0, tail = 0;
    bool ok = cipher != nullptr && ctx != nullptr &&
              EVP_CipherInit_ex2(ctx, cipher, key, iv, encipher ? 1 : 0, nullptr) == 1 &&
              EVP_CIPHER_CTX_set_padding(ctx, 0) == 1 &&
              EVP_CipherUpdate(ctx, out.data(), &n, in.data(), static_cast<int>(in.size())) == 1 &&
              EVP_CipherFinal_ex(ctx, out.data() + n, &tail) == 1;
    EVP_CIPHER_CTX_free(ctx);
    EVP_CIPHER_free(cipher);
    EXPECT_TRUE(ok) << name;
    out.resize(static_cast<size_t>(n + tail));
    return out;
}

TEST(OpensslCrosscheck, Md5AndPasswordDigest) {
    RandomInput input(1321);
    for (int trial = 0; trial < 300; ++trial) {
        SCOPED_TRACE(trial);
        const std::string password = input.Password();
        uint8_t digest[16];
        PasswordDigest(password.c_str(), digest);
        ASSERT_EQ(std::vector<uint8_t>(digest, digest + 16), OpensslMd5(UsedPassword(password)));

        const auto data = input.Bytes(input.Below(3000));
        const std::string text(data.begin(), data.end());
        Md5Context context;
        Md5Init(context);
        const size_t split = data.empty() ? 0 : input.Below(static_cast<uint32_t>(data.size()));
        Md5Update(context, data.data(), split);
        Md5Update(context, data.data() + split, data.size() - split);
        Md5Final(context, digest);
        ASSERT_EQ(std::vector<uint8_t>(digest, digest + 16), OpensslMd5(text));
    }
}

TEST(OpensslCrosscheck, DesEcb) {
    const Providers providers;
    ASSERT_TRUE(providers.Loaded());
    RandomInput input(46);
    for (int trial = 0; trial < 200; ++trial) {
        SCOPED_TRACE(trial);
        const std::string password = input.Password();
        const auto plain = input.Bytes(8 * input.Blocks());
        const auto key = OpensslMd5(UsedPassword(password));

        CipherState state;
        SetEncipherKey(state, password.c_str(), kCipherDes);
        std::vector<uint8_t> ours = plain;
        EncipherBuffer(state, ours.data(), static_cast<int32_t>(ours.size()), kCipherDes);
        const auto theirs = OpensslCrypt("DES-ECB", key.data(), nullptr, plain, true);
        ASSERT_EQ(ours, theirs);

        SetDecipherKey(state, password.c_str(), kCipherDes);
        DecipherBuffer(state, ours.data(), static_cast<int32_t>(ours.size()), kCipherDes);
        ASSERT_EQ(ours, plain);
    }
}

TEST(OpensslCrosscheck, TripleDesEdeCbc) {
    const Providers providers;
    ASSERT_TRUE(providers.Loaded());
    RandomInput input(3);
    for (int trial = 0; trial < 200; ++trial) {
        SCOPED_TRACE(trial);
        const std::string password = input.Password();
        const auto plain = input.Bytes(8 * input.Blocks());
        const auto key = OpensslMd5(UsedPassword(password));  // K1 = bytes 0-7, K2 = bytes 8-15

        CipherState state;
        SetEncipherKey(state, password.c_str(), kCipherTripleDes);
        uint8_t chain_block[8];
        StartChain(state, chain_block, kCipherTripleDes);
        // The chain block is the generator's block enciphered once without chaining.
        const auto random_block = OpensslCrypt("DES-EDE-ECB", key.data(), nullptr,
                                               std::vector<uint8_t>(chain_block, chain_block + 8), false);
        ASSERT_EQ(random_block[2] | random_block[3] | random_block[6] | random_block[7], 0);

        // Enciphered in two calls: the chain register carries over.
        std::vector<uint8_t> ours = plain;
        const size_t first = 8 * input.Below(static_cast<uint32_t>(plain.size() / 8 + 1));
        EncipherBuffer(state, ours.data(), static_cast<int32_t>(first), kCipherTripleDes);
        EncipherBuffer(state, ours.data() + first, static_cast<int32_t>(plain.size() - first), kCipherTripleDes);
        const auto theirs = OpensslCrypt("DES-EDE-CBC", key.data(), chain_block, plain, true);
        ASSERT_EQ(ours, theirs);

        SetDecipherKey(state, password.c_str(), kCipherTripleDes);
        LoadChain(state, chain_block);
        DecipherBuffer(state, ours.data(), static_cast<int32_t>(ours.size()), kCipherTripleDes);
        ASSERT_EQ(ours, plain);
    }
}

}  // namespace
}  // namespace hedgerow::crypto
