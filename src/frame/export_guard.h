// export_guard.h -- runs the body of an exported function so that no C++ exception can
// cross the C interface: running out of memory becomes the out-of-memory status.
#pragma once

#include <new>

#include "frame/library_state.h"

namespace hedgerow {

template <typename Result, typename Body>
Result Guarded(Result on_failure, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        SetStatus(State().session, Status::kNoMemory);
    } catch (...) {
        SetStatus(State().session, Status::kIoError);
    }
    return on_failure;
}

template <typename Body>
void GuardedVoid(Body&& body) noexcept {
    try {
        body();
    } catch (const std::bad_alloc&) {
        SetStatus(State().session, Status::kNoMemory);
    } catch (...) {
        SetStatus(State().session, Status::kIoError);
    }
}

}  // namespace hedgerow
