// wipe.cpp -- the zeroing must survive dead-store elimination and inlining. With GNU
// compilers an empty asm statement that claims to read memory through the pointer
// follows an ordinary memset; elsewhere the bytes are written through a volatile pointer.

#include "crypto/wipe.h"

#include <cstring>

namespace hedgerow::crypto {

void SecureWipe(void* p, size_t n) {
#if defined(__GNUC__)
    std::memset(p, 0, n);
    __asm__ __volatile__("" : : "r"(p) : "memory");
#else
    volatile unsigned char* bytes = static_cast<volatile unsigned char*>(p);
    for (size_t i = 0; i < n; ++i) bytes[i] = 0;
#endif
}

}  // namespace hedgerow::crypto
