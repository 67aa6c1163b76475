// export_guard.h -- runs the body of an exported function so that no C++ exception can
// cross the C interface (running out of memory becomes the out-of-memory status). The
// body builds the call's context (ops::Context, hide::Context) itself, so its key
// schedules are wiped and its tables freed however the call ends.
#pragma once

#include <new>

#include "api/library_state.h"

namespace hedgerow {

template <typename Result, typename Body>
Result Guarded(Result on_failure, Body&& body) noexcept {
#if defined(__cpp_exceptions)
    try {
        return body();
    } catch (const std::bad_alloc&) {
        Fail(State().session, Status::kNoMemory);
    } catch (...) {
        Fail(State().session, Status::kIoError);
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
#if defined(__cpp_exceptions)
    try {
        body();
    } catch (const std::bad_alloc&) {
        Fail(State().session, Status::kNoMemory);
    } catch (...) {
        Fail(State().session, Status::kIoError);
    }
#else
    body();
#endif
}

}  // namespace hedgerow
