// entry_data.h -- one file's data in sealed form, both ways: through the codec when the
// codec can take the file and it comes out smaller, as it is otherwise. Strong archives
// and the strong prepared file of hiding keep their data this way.
#pragma once

#include <cstdint>
#include <cstdio>

#include "codec/decoder.h"
#include "codec/encoder.h"
#include "codec/stream.h"
#include "common/session.h"
#include "strong/format.h"

namespace hedgerow::strong {

// Seals the size bytes of source into out at its position under a new data key (sealer.key
// afterwards); the encoder's tables must be allocated. Sets record's stream_size and the
// compressed flag. The codec's stored form pads its last piece, which sealed data has no
// use for, so a file the codec does not shrink is sealed as it is. status (the stream's
// own status word: a session's, or a worker's) is set on failure.
[[nodiscard]] bool SealFileData(uint16_t& status, codec::EncoderState& encoder, codec::StreamState& stream,
                                std::FILE* source, uint64_t size, std::FILE* out, DataSealer& sealer, Record* record);

enum class Unsealed {
    kWhole,    // every chunk opened and the file written whole
    kDamaged,  // a chunk failed, was missing or out of place; what was written is not the file
    kStop,     // the status is set: a write failed, the host cancelled, memory ran out
};

// Writes the data that opener opens (begun on record) to out (nowhere when it is null: a
// check); the decoder must be
// allocated when the record is compressed. Every chunk is opened, also the ones behind
// the last the decoder needed, so that whole means whole. status and progress are the
// stream's own (a session's, or a worker's with no procedure).
Unsealed UnsealFileData(uint16_t& status, const CallbackSlot<ProgressProc>& progress, codec::DecoderState& decoder,
                        codec::StreamState& stream, DataOpener& opener, const Record& record, std::FILE* out);

}  // namespace hedgerow::strong
