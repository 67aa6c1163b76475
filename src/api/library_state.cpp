// library_state.cpp -- the process-wide instance, at its load-time values.
#include "api/library_state.h"

#include <new>

namespace hedgerow {

LibraryState& State() {
    // Built on first use in zeroed storage and never torn down: a constant-initialised
    // instance would take its whole size in the data section of every program that
    // links the library statically (the self-extractor's among them).
    alignas(LibraryState) static unsigned char storage[sizeof(LibraryState)];
    static LibraryState* const state = new (storage) LibraryState();
    return *state;
}

}  // namespace hedgerow
