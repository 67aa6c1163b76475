// botan_crosscheck_test.cpp -- IDEA in CBC mode (cipher id 2) against Botan. Botan reads
// IDEA words big-endian and this library little-endian, so the two bytes of every
// 16-bit word of key, chain block, plaintext and ciphertext are swapped on the way.

#include <botan/block_cipher.h>
#include <botan/cipher_mode.h>
#include <gtest/gtest.h>

#include <vector>

#include "crosscheck/random_input.h"
#include "crypto/cipher.h"
#include "crypto/md5.h"

namespace hedgerow::crypto {
namespace {

using testing::RandomInput;
using testing::UsedPassword;

template <typename Bytes>
std::vector<uint8_t> SwapWordBytes(const Bytes& in) {
    std::vector<uint8_t> out(in.begin(), in.end());
    for (size_t i = 0; i + 1 < out.size(); i += 2) std::swap(out[i], out[i + 1]);
    return out;
}

std::vector<uint8_t> BotanIdeaCbc(const std::vector<uint8_t>& key, const std::vector<uint8_t>& iv,
                                  const std::vector<uint8_t>& in, Botan::Cipher_Dir direction) {
    auto mode = Botan::Cipher_Mode::create_or_throw("IDEA/CBC/NoPadding", direction);
    mode->set_key(key);
    mode->start(iv);
    Botan::secure_vector<uint8_t> buffer(in.begin(), in.end());
    mode->finish(buffer);
    return std::vector<uint8_t>(buffer.begin(), buffer.end());
}

TEST(BotanCrosscheck, IdeaCbcWithSwappedWords) {
    auto block_cipher = Botan::BlockCipher::create_or_throw("IDEA");
    RandomInput input(1991);
    for (int trial = 0; trial < 200; ++trial) {
        SCOPED_TRACE(trial);
        const std::string password = input.Password();
        const auto plain = input.Bytes(8 * input.Blocks());
        const std::string used = UsedPassword(password);
        uint8_t digest[16];
        Md5(used.data(), used.size(), digest);
        const auto botan_key = SwapWordBytes(std::vector<uint8_t>(digest, digest + 16));

        CipherState state;
        SetEncipherKey(state, password.c_str(), kCipherIdea);
        uint8_t chain_block[8];
        StartChain(state, chain_block, kCipherIdea);
        // The chain block is the generator's block enciphered once without chaining.
        block_cipher->set_key(botan_key);
        auto random_block = SwapWordBytes(std::vector<uint8_t>(chain_block, chain_block + 8));
        block_cipher->decrypt(random_block.data());
        random_block = SwapWordBytes(random_block);
        ASSERT_EQ(random_block[2] | random_block[3] | random_block[6] | random_block[7], 0);

        std::vector<uint8_t> ours = plain;
        const size_t first = 8 * input.Below(static_cast<uint32_t>(plain.size() / 8 + 1));
        EncipherBuffer(state, ours.data(), static_cast<int32_t>(first), kCipherIdea);
        EncipherBuffer(state, ours.data() + first, static_cast<int32_t>(plain.size() - first), kCipherIdea);
        const auto chain_swapped = SwapWordBytes(std::vector<uint8_t>(chain_block, chain_block + 8));
        const auto theirs = SwapWordBytes(
            BotanIdeaCbc(botan_key, chain_swapped, SwapWordBytes(plain), Botan::Cipher_Dir::ENCRYPTION));
        ASSERT_EQ(ours, theirs);

        // Deciphering Botan's ciphertext of other data, so both directions meet a peer.
        const auto other = input.Bytes(plain.size());
        auto theirs_other = SwapWordBytes(
            BotanIdeaCbc(botan_key, chain_swapped, SwapWordBytes(other), Botan::Cipher_Dir::ENCRYPTION));
        SetDecipherKey(state, password.c_str(), kCipherIdea);
        LoadChain(state, chain_block);
        DecipherBuffer(state, theirs_other.data(), static_cast<int32_t>(theirs_other.size()), kCipherIdea);
        ASSERT_EQ(theirs_other, other);
    }
}

}  // namespace
}  // namespace hedgerow::crypto
