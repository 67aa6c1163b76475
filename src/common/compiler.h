// compiler.h -- the few compiler intrinsics the hot loops use, each behind one function so
// that the code that calls them builds with any compiler: with g++ and clang the builtin,
// with MSVC its intrinsic, elsewhere plain code.
#pragma once

#include <bit>
#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#  include <intrin.h>
#  include <stdlib.h>
#endif

// Leaves a function out of a fuzzing build's coverage tracing: for straight arithmetic
// loops over whole blocks, whose comparisons tell the fuzzer nothing and, traced, cost
// more than all the rest of an input's run.
#if defined(__clang__)
#  define HEDGEROW_NO_COVERAGE __attribute__((no_sanitize("coverage")))
#else
#  define HEDGEROW_NO_COVERAGE
#endif

namespace hedgerow {

// The bytes of x in the opposite order.
inline uint64_t ByteSwap64(uint64_t x) {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_bswap64(x);
#elif defined(_MSC_VER)
    return _byteswap_uint64(x);
#else
    x = ((x & 0x00FF00FF00FF00FFull) << 8) | ((x >> 8) & 0x00FF00FF00FF00FFull);
    x = ((x & 0x0000FFFF0000FFFFull) << 16) | ((x >> 16) & 0x0000FFFF0000FFFFull);
    return (x << 32) | (x >> 32);
#endif
}

// A 64-bit word loaded as the next eight bytes of a big-endian bit stream would hold it.
inline uint64_t FromBigEndian64(uint64_t x) {
    if constexpr (std::endian::native == std::endian::little) return ByteSwap64(x);
    return x;
}

// A function that must be inlined into its callers (where a call would cost more than its
// code: hot loops, or small results that would otherwise go through memory).
#if defined(__GNUC__) || defined(__clang__)
#  define HEDGEROW_ALWAYS_INLINE inline __attribute__((always_inline))
#elif defined(_MSC_VER)
#  define HEDGEROW_ALWAYS_INLINE __forceinline
#else
#  define HEDGEROW_ALWAYS_INLINE inline
#endif

// Zero bits below the lowest one bit (x must not be 0).
inline int CountTrailingZeros64(uint64_t x) { return std::countr_zero(x); }

// Asks for the cache line at p ahead of its use; changes nothing else.
inline void Prefetch(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
    __builtin_prefetch(p);
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
    _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0);
#else
    (void)p;
#endif
}

}  // namespace hedgerow
