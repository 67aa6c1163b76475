// wipe.cpp -- the wipe goes through a volatile pointer, byte by byte, and ends with a
// compiler barrier, so neither dead-store elimination nor inlining can remove it.

#include "crypto/wipe.h"

namespace hedgerow::crypto {

void SecureWipe(void* p, size_t n) {
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(p);
    for (size_t i = 0; i < n; ++i) bytes[i] = 0;
#if defined(__GNUC__) || defined(__clang__)
    __asm__ __volatile__("" : : "r"(p) : "memory");
#endif
}

}  // namespace hedgerow::crypto
