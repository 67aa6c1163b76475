// data_key.h -- the data password of an operation and the host's part in it: the key an
// entry's data is enciphered or deciphered with, and the questions to CryptKeyProc,
// before an entry is read and again after its data failed its check. Every operation
// that touches entry data takes its key from here.
#pragma once

#include "hedgerow.h"
#include "ops/context.h"

namespace hedgerow::ops {

// Begins enciphering an entry with the archive's cipher and data password.
void BeginEnciphering(Context& cx);

// Begins deciphering an entry of the given cipher: with the data password, or, when it is
// empty, with the host's answer from CryptKeyProc, which becomes the data password for the
// entries that follow. False when no key could be had (status kBadPassword, or none when
// the host answered something other than 0 or 1).
[[nodiscard]] bool BeginDeciphering(Context& cx, int32_t cipher_id, const char* entry_name);

// What to do with an entry whose data failed its check.
enum class BadData {
    kRetry,   // the host gave another data password: try the entry again with it
    kAccept,  // the host accepts the file as it came out
    kStop,    // stop the operation (status set: kCrcError or kBadPassword)
    kNoOther, // the host has no other password (AskAgainOrHearNoOther only; no status set)
};
// Asks the host for another data password after an enciphered entry failed its check; a
// plain entry (cipher -1) that fails is damaged (kCrcError), without a question. When the
// host has no other password: kStop with kBadPassword.
BadData AskAgainAfterBadData(Context& cx, const HidFileEntry& entry);
// The same, but a host without another password is an answer: kNoOther, and the caller
// goes on and decides later whether the password was wrong.
BadData AskAgainOrHearNoOther(Context& cx, const HidFileEntry& entry);

}  // namespace hedgerow::ops
