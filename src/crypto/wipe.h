// wipe.h -- overwriting secrets (passwords, digests, key schedules) with zeros in a way
// the optimiser cannot drop as a dead store.
#pragma once

#include <cstddef>

namespace hedgerow::crypto {

// Sets n bytes at p to zero. Kept even when the memory is never read again.
void SecureWipe(void* p, size_t n);

// RAII: wipes an object (a password buffer, a digest) when the scope ends.
template <typename T>
struct WipeOnExit {
    T& object;
    explicit WipeOnExit(T& o) : object(o) {}
    WipeOnExit(const WipeOnExit&) = delete;
    WipeOnExit& operator=(const WipeOnExit&) = delete;
    ~WipeOnExit() { SecureWipe(&object, sizeof object); }
};
template <typename T>
WipeOnExit(T&) -> WipeOnExit<T>;

}  // namespace hedgerow::crypto
