// strong_prepared.h -- the strong form of the prepared file that hiding puts into a
// carrier: the legacy form's 17-byte header with its own magic (and no size in plain),
// then the Argon2id salt and parameters, a sealed block with the file's sizes and the data
// key, a CRC, and the file's data in sealed chunks as in a strong archive. A wrong password
// fails the sealed block's tag: it is known for certain, not by a one-byte CRC; the CRC
// tells damage apart from it. docs/strong-format.md describes it byte by byte.
//
//   header    0  1  0      2  2 tag 0x0838     4  4  0     8  4  length L of what follows
//            12  5  "Thorn" (kStrongPreparedMagic)
//   payload   0 16  salt    16 4 memory (KiB)  20  4 passes   24  4 lanes
//            28 12  nonce of the info block
//            40 64  info block, sealed: file size (8), stream size (8), flags (1: the
//                   codec's stream), 15 zero, data key (32)
//           104 16  its tag (associated data: header and payload bytes 0 to 39)
//           120  4  CRC-32 of header and payload bytes 0 to 119
//           124     the data in sealed chunks of 65536 bytes, as in a strong archive
//   info key = HKDF-SHA-256(Argon2id(password, salt), salt, "hedgerow strong v1 hidden")
#pragma once

#include <cstddef>
#include <cstdint>

#include "hide/hide_state.h"

namespace hedgerow::hide {

inline constexpr size_t kStrongPayloadHead = 124;  // payload bytes before the data

// Builds the strong prepared file of file_name under password in a new temporary file,
// whose name goes to temp_name (kTempNameCapacity bytes). The Argon2id parameters are the
// archive state's where it has any, the defaults otherwise. On failure nothing is left
// behind.
[[nodiscard]] bool PackStrongForHiding(Context& cx, const char* file_name, const char* password, char* temp_name);

// Expands the strong prepared file temp_name into the output file built from output_name.
// kBadPassword when the password is wrong (the info block does not open), kCrcError when
// the prepared file is damaged; no output file then.
[[nodiscard]] bool UnpackStrongHidden(Context& cx, const char* temp_name, const char* output_name,
                                      const char* password);

}  // namespace hedgerow::hide
