// cipher.cpp -- the password digest and the dispatch by cipher id to DES, triple DES
// and IDEA, with the chain register that links the buffers of one stream.

#include "crypto/cipher.h"

#include <cstring>

#include "crypto/des.h"
#include "crypto/idea.h"
#include "crypto/md5.h"
#include "crypto/wipe.h"
#include "common/byte_order.h"
#include "platform/platform.h"

namespace hedgerow::crypto {
namespace {

// Blocks touched by a buffer operation of `length` bytes: whole blocks at offsets below it.
size_t BlockCount(int32_t length) {
    return length <= 0 ? 0 : (static_cast<size_t>(length) + 7) / 8;
}

void SetKey(CipherState& state, const char* password, int32_t cipher_id, bool decipher) {
    if (cipher_id != kCipherDes && cipher_id != kCipherTripleDes && cipher_id != kCipherIdea) return;
    uint8_t digest[16];
    WipeOnExit wipe_digest(digest);
    PasswordDigest(password, digest);
    switch (cipher_id) {
        case kCipherDes:
            if (decipher) {
                DesSetDecipherKey(state, digest);
            } else {
                DesSetEncipherKey(state, digest);
            }
            break;
        case kCipherTripleDes:
            if (decipher) {
                Des3SetDecipherKey(state, digest);
            } else {
                Des3SetEncipherKey(state, digest);
            }
            break;
        case kCipherIdea:
            if (decipher) {
                IdeaSetDecipherKey(state, digest);
            } else {
                IdeaSetEncipherKey(state, digest);
            }
            break;
        default: break;
    }
}

}  // namespace

void PasswordDigest(const char* password, uint8_t digest[16]) {
    // At most kPasswordMaxLength bytes are read, even when no terminator follows them.
    char work[kPasswordMaxLength + 1] = {};
    WipeOnExit wipe_work(work);
    size_t n = 0;
    if (password != nullptr) {
        while (n < static_cast<size_t>(kPasswordMaxLength) && password[n] != '\0') {
            work[n] = password[n];
            ++n;
        }
    }
    Md5(work, n, digest);
}

void DesSetEncipherKey(CipherState& state, const uint8_t digest[16]) { DesKeySchedule(digest, state.des_a, false); }
void DesSetDecipherKey(CipherState& state, const uint8_t digest[16]) { DesKeySchedule(digest, state.des_a, true); }

void Des3SetEncipherKey(CipherState& state, const uint8_t digest[16]) {
    DesKeySchedule(digest, state.des_a, false);
    DesKeySchedule(digest + 8, state.des_b, true);
}

void Des3SetDecipherKey(CipherState& state, const uint8_t digest[16]) {
    DesKeySchedule(digest, state.des_a, true);
    DesKeySchedule(digest + 8, state.des_b, false);
}

void IdeaSetEncipherKey(CipherState& state, const uint8_t digest[16]) {
    uint16_t words[8];
    WipeOnExit wipe_words(words);
    IdeaKeyWords(digest, words);
    IdeaExpandKey(words, state.idea_encipher);
}

void IdeaSetDecipherKey(CipherState& state, const uint8_t digest[16]) {
    IdeaSetEncipherKey(state, digest);
    IdeaInvertKey(state.idea_encipher, state.idea_decipher);
}

void SetEncipherKey(CipherState& state, const char* password, int32_t cipher_id) {
    SetKey(state, password, cipher_id, false);
}

void SetDecipherKey(CipherState& state, const char* password, int32_t cipher_id) {
    SetKey(state, password, cipher_id, true);
}

void StartChain(CipherState& state, uint8_t block[8], int32_t cipher_id) {
    MakeRandomBlock(block);
    if (cipher_id == kCipherTripleDes) {
        Des3Block(block, state.des_a, state.des_b);
    } else if (cipher_id == kCipherIdea) {
        IdeaBlock(block, state.idea_encipher);
    } else {
        return;
    }
    std::memcpy(state.chain, block, 8);
}

void LoadChain(CipherState& state, const uint8_t block[8]) { std::memcpy(state.chain, block, 8); }

void EncipherBuffer(CipherState& state, uint8_t* buffer, int32_t length, int32_t cipher_id) {
    const size_t blocks = BlockCount(length);
    if (blocks == 0) return;
    switch (cipher_id) {
        case kCipherDes: DesEcbBuffer(buffer, blocks, state.des_a); break;
        case kCipherTripleDes: Des3EncipherCbc(buffer, blocks, state.des_a, state.des_b, state.chain); break;
        case kCipherIdea: IdeaEncipherCbc(buffer, blocks, state.idea_encipher, state.chain); break;
        default: break;
    }
}

void DecipherBuffer(CipherState& state, uint8_t* buffer, int32_t length, int32_t cipher_id) {
    const size_t blocks = BlockCount(length);
    if (blocks == 0) return;
    switch (cipher_id) {
        case kCipherDes: DesEcbBuffer(buffer, blocks, state.des_a); break;
        case kCipherTripleDes: Des3DecipherCbc(buffer, blocks, state.des_a, state.des_b, state.chain); break;
        case kCipherIdea: IdeaDecipherCbc(buffer, blocks, state.idea_decipher, state.chain); break;
        default: break;
    }
}

uint16_t LcgFirstDraw(uint32_t seed) {
    const uint32_t next = seed * 214013u + 2531011u;
    return static_cast<uint16_t>((next >> 16) & 0x7FFF);
}

void MakeRandomBlock(uint8_t block[8]) {
    // The generator is seeded three times from the clock, read anew each time; the
    // second draw only perturbs the third seed.
    const uint32_t word0 = LcgFirstDraw(platform::CalendarSeconds());
    const uint32_t r = LcgFirstDraw(platform::CalendarSeconds());
    const uint32_t word1 = LcgFirstDraw(platform::CalendarSeconds() ^ r);
    Store32Le(block, word0);
    Store32Le(block + 4, word1);
}

void WipeCipherState(CipherState& state) {
    SecureWipe(state.des_a, sizeof state.des_a);
    SecureWipe(state.des_b, sizeof state.des_b);
    SecureWipe(state.idea_encipher, sizeof state.idea_encipher);
    SecureWipe(state.idea_decipher, sizeof state.idea_decipher);
    SecureWipe(state.chain, sizeof state.chain);
}

CipherState::~CipherState() { WipeCipherState(*this); }

}  // namespace hedgerow::crypto
