// grouping.h -- keeps the compiler from regrouping a sum or an XOR tree. In serial code
// (MD5's steps, DES rounds in CBC enciphering) the grouping chosen decides how many
// dependent instructions lie on the critical path, and compilers regroup associative
// operations freely, often into a longer chain.
#pragma once

#include <cstdint>

namespace hedgerow::crypto {

// Makes x opaque at this point: emits no instruction, but the value must be computed
// as written before it is used.
inline void KeepGrouping([[maybe_unused]] uint32_t& x) {
#if defined(__GNUC__)
    __asm__("" : "+r"(x));
#endif
}

}  // namespace hedgerow::crypto
