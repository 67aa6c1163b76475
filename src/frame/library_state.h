// library_state.h -- the one process-wide state the C interface needs. The exports fetch
// it with State() and hand it down; code below the exports takes it as a parameter, so a
// test can build an instance of its own.
#pragma once

#include "archive/archive_state.h"
#include "codec/decoder.h"
#include "codec/encoder.h"
#include "codec/stream.h"
#include "crypto/cipher.h"
#include "frame/session.h"
#include "hide/hide_state.h"

namespace hedgerow {

struct LibraryState {
    Session session;                // status, options, paths, callbacks
    archive::ArchiveState archive;  // the named archive, passwords, cipher, offsets
    crypto::CipherState cipher;     // key schedules and chain register
    codec::StreamState stream;      // the one stream of entry data
    codec::EncoderState encoder;    // encoder tables, allocated per operation
    codec::DecoderState decoder;    // decoder window and work space, allocated per operation
    hide::HideState hide;           // carriers while a file is hidden or recovered
};

// The instance behind the exported functions.
LibraryState& State();

}  // namespace hedgerow
