// library_state.cpp -- the process-wide instance, at its load-time values.
#include "frame/library_state.h"

namespace hedgerow {

LibraryState& State() {
    static LibraryState state;
    return state;
}

}  // namespace hedgerow
