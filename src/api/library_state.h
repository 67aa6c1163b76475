// library_state.h -- the one process-wide state the C interface needs: what lives from
// one call to the next (options, paths, callbacks, status word; the named archive and its
// passwords). What lives for one call only is in the call's context (ops::Context,
// hide::Context), which the export builds and which goes when the call returns. The
// exports fetch the state with State() and hand its parts down; nothing below this layer
// includes this header.
#pragma once

#include "archive/archive_state.h"
#include "common/session.h"
#include "hedgerow.h"

namespace hedgerow {

struct LibraryState {
    Session session;                // status, options, paths, callbacks
    archive::ArchiveState archive;  // the named archive, passwords, cipher, offsets
    HideRoom hide_room {};          // how the last hiding fell short of room, if it did
};

// The instance behind the exported functions.
LibraryState& State();

}  // namespace hedgerow
