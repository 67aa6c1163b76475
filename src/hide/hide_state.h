// hide_state.h -- what one call of HideFile or UnhideFile works with: the session and the
// archive state, by reference, and this call's scratch: the stream, encoder and decoder
// that pack and unpack the prepared file, the carrier machinery, the PCX picture and the
// header of the prepared file recovered.
#pragma once

#include <cstdint>

#include "archive/archive_state.h"
#include "codec/decoder.h"
#include "codec/encoder.h"
#include "codec/stream.h"
#include "common/session.h"
#include "hide/carrier.h"
#include "hide/pcx_carrier.h"

namespace hedgerow::hide {

struct HideState {
    CarrierState carrier;                          // BMP and WAV walk, bit pump, collector
    PcxState pcx;                                  // the PCX picture while it is worked on
    uint8_t header[kPreparedHeaderSize] = {};      // header of the recovered prepared file
    HideFigures short_of;                          // hiding ended with kCarrierTooSmall: why
};

struct Context {
    Session& session;                // status word, options, output path, callbacks
    archive::ArchiveState& archive;  // where hiding leaves its key behind (see hide_file.h)
    codec::StreamState stream;       // the prepared file's data, reporting to session
    codec::EncoderState encoder;
    codec::DecoderState decoder;
    HideState hide;

    Context(Session& s, archive::ArchiveState& a) : session(s), archive(a) {
        codec::AttachStream(stream, s.status, s.callbacks.progress);
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
};

}  // namespace hedgerow::hide
