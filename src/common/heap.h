// heap.h -- blocks from the C library's heap, each owned by a unique_ptr that frees it.
// The library allocates through these rather than through operator new, so that the
// parts the self-extractor program links need nothing of the C++ run-time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>

namespace hedgerow {

struct FreeBlockDeleter {
    void operator()(void* block) const noexcept { std::free(block); }
};

template <typename T>
using HeapPtr = std::unique_ptr<T, FreeBlockDeleter>;
using HeapBytes = HeapPtr<uint8_t[]>;

// count zero bytes (at least one), or null when memory is short.
inline HeapBytes AllocBytes(size_t count) {
    return HeapBytes(static_cast<uint8_t*>(std::calloc(count ? count : 1, 1)));
}

// One value-initialised T, or null when memory is short. T must need no destructor: the
// block is freed, never destroyed.
template <typename T>
HeapPtr<T> AllocObject() {
    static_assert(std::is_trivially_destructible_v<T>);
    void* block = std::calloc(1, sizeof(T));
    return HeapPtr<T>(block ? new (block) T() : nullptr);
}

}  // namespace hedgerow
