// context.h -- what one call of an archive operation works with: the state that lives
// from call to call (the host's session and the named archive), by reference, and the
// scratch of this call (stream with its key schedules, encoder and decoder tables),
// owned. The export builds one for the call; its key schedules are wiped and its tables
// freed when it goes. Nothing below the exports keeps state anywhere else, so any number
// of contexts can exist at once.
#pragma once

#include "archive/archive_state.h"
#include "codec/decoder.h"
#include "codec/encoder.h"
#include "codec/stream.h"
#include "common/session.h"

namespace hedgerow::ops {

struct Context {
    Session& session;                // status word, options, paths, callbacks
    archive::ArchiveState& archive;  // the named archive, its passwords, cipher and offsets
    codec::StreamState stream;       // entry data of this call, reporting to session
    codec::EncoderState encoder;     // encoder tables, while files are compressed
    codec::DecoderState decoder;     // decoder window and work space, while entries expand

    Context(Session& s, archive::ArchiveState& a) : session(s), archive(a) {
        codec::AttachStream(stream, s.status, s.callbacks.progress);
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
};

}  // namespace hedgerow::ops
