// data_key.cpp -- data passwords and keys (see data_key.h).
#include "ops/data_key.h"

#include <algorithm>
#include <cstring>

namespace hedgerow::ops {

namespace {

// Takes the host's answer (at most kKeyBufferSize bytes, whatever it wrote) as the data
// password.
void TakeDataPassword(archive::ArchiveState& a, const char* answer) {
    const size_t n = strnlen(answer, std::min<size_t>(codec::kKeyBufferSize, sizeof a.data_password - 1));
    std::memset(a.data_password, 0, sizeof a.data_password);
    std::memcpy(a.data_password, answer, n);
}

}  // namespace

void BeginEnciphering(Context& cx) {
    codec::BeginEntryCipher(cx.stream, cx.archive.cipher_id, cx.archive.data_password, codec::Direction::kEncipher);
}

bool BeginDeciphering(Context& cx, int32_t cipher_id, const char* entry_name) {
    if (cx.archive.data_password[0] == '\0') {
        const auto& slot = cx.session.callbacks.crypt_key;
        if (slot.proc == nullptr) return Fail(cx.session, Status::kBadPassword);
        // One byte more than the host is told about, so that the answer always ends.
        char answer[codec::kKeyBufferSize + 1] = {};
        char name[256] = {};
        if (entry_name != nullptr) std::strncpy(name, entry_name, sizeof(name) - 1);
        const int32_t result = slot.proc(slot.user, answer, name);
        if (result == 0) return Fail(cx.session, Status::kBadPassword);
        if (result != 1) return false;
        TakeDataPassword(cx.archive, answer);
    }
    codec::BeginEntryCipher(cx.stream, cipher_id, cx.archive.data_password, codec::Direction::kDecipher);
    return true;
}

namespace {

// AskAgainAfterBadData and AskAgainOrHearNoOther, apart so that a program that needs
// only the first (the self-extractor's) links nothing of the second.
template <bool kNoOtherIsAnswer>
BadData AskAgain(Context& cx, const HidFileEntry& entry) {
    if (entry.cipher_id == crypto::kCipherNone) {
        Fail(cx.session, Status::kCrcError);
        return BadData::kStop;
    }
    const auto& slot = cx.session.callbacks.crypt_key;
    if (slot.proc == nullptr) {
        if constexpr (kNoOtherIsAnswer) return BadData::kNoOther;
        Fail(cx.session, Status::kBadPassword);
        return BadData::kStop;
    }
    char password[codec::kKeyBufferSize + 1] = {};
    char name[sizeof entry.name] = {};
    std::memcpy(name, entry.name, sizeof name - 1);
    const int32_t answer = slot.proc(slot.user, password, name);
    if (answer == 0) {
        if constexpr (kNoOtherIsAnswer) return BadData::kNoOther;
        Fail(cx.session, Status::kBadPassword);
        return BadData::kStop;
    }
    if (answer == 1) {
        TakeDataPassword(cx.archive, password);
        return BadData::kRetry;
    }
    return BadData::kAccept;
}

}  // namespace

BadData AskAgainAfterBadData(Context& cx, const HidFileEntry& entry) { return AskAgain<false>(cx, entry); }

BadData AskAgainOrHearNoOther(Context& cx, const HidFileEntry& entry) { return AskAgain<true>(cx, entry); }

}  // namespace hedgerow::ops
