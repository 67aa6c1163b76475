// export_guard.h -- runs the body of an exported function so that no C++ exception can
// cross the C interface (running out of memory becomes the out-of-memory status), and so
// that no key schedule outlives the call that needed it.
#pragma once

#include <new>

#include "crypto/cipher.h"
#include "frame/library_state.h"

namespace hedgerow {

// Wipes the key schedules and the chain register when an exported call ends, however it
// ends: every operation sets up the keys it needs afresh.
struct WipeKeysOnExit {
    ~WipeKeysOnExit() { crypto::WipeCipherState(State().cipher); }
};

template <typename Result, typename Body>
Result Guarded(Result on_failure, Body&& body) noexcept {
    const WipeKeysOnExit wipe;
#if defined(__cpp_exceptions)
    try {
        return body();
    } catch (const std::bad_alloc&) {
        SetStatus(State().session, Status::kNoMemory);
    } catch (...) {
        SetStatus(State().session, Status::kIoError);
    }
    return on_failure;
#else
    // Built without exceptions (the compact self-extractor program): running out of
    // memory ends the process.
    (void)on_failure;
    return body();
#endif
}

template <typename Body>
void GuardedVoid(Body&& body) noexcept {
    const WipeKeysOnExit wipe;
#if defined(__cpp_exceptions)
    try {
        body();
    } catch (const std::bad_alloc&) {
        SetStatus(State().session, Status::kNoMemory);
    } catch (...) {
        SetStatus(State().session, Status::kIoError);
    }
#else
    body();
#endif
}

}  // namespace hedgerow
