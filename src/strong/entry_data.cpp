// entry_data.cpp -- one file's data in sealed form (see entry_data.h).
#include "strong/entry_data.h"

#include <vector>

#include "crypto/cipher.h"
#include "platform/platform.h"

namespace hedgerow::strong {

namespace {

// The encoder's packed output goes through the sealer of the entry's data.
bool WriteSealed(void* context, const uint8_t* bytes, size_t n) {
    return static_cast<DataSealer*>(context)->Write(bytes, n);
}
bool RestartSealed(void* context) { return static_cast<DataSealer*>(context)->Restart(); }

// The decoder's packed input comes from the opener of the entry's sealed data.
size_t ReadOpened(void* context, uint8_t* buffer, size_t n) {
    return static_cast<DataOpener*>(context)->Read(buffer, n);
}

// Leaves the stream's files and channel as they were found (empty).
struct StreamFiles {
    codec::StreamState& stream;
    ~StreamFiles() {
        stream.source_file = nullptr;
        stream.packed_in = nullptr;
        stream.output = nullptr;
        stream.channel = nullptr;
    }
};

// Writes the opened data of a stored entry to out, reporting progress per piece.
Unsealed CopyStored(uint16_t& status, const CallbackSlot<ProgressProc>& progress, DataOpener& opener,
                    const Record& record, std::FILE* out) {
    std::vector<uint8_t> piece(1u << 20);
    uint64_t done = 0;
    for (;;) {
        const size_t got = opener.Read(piece.data(), piece.size());
        if (got == 0) break;
        if (out != nullptr && platform::WriteBytes(out, piece.data(), got) != got) {
            Fail(status, Status::kWriteError);
            return Unsealed::kStop;
        }
        done += got;
        if (progress.proc != nullptr) {
            const auto percent = static_cast<int32_t>(record.unpacked_size ? done * 100 / record.unpacked_size : 100);
            if (progress.proc(progress.user, percent, static_cast<int32_t>(got)) == 0) {
                Fail(status, Status::kCancelled);
                return Unsealed::kStop;
            }
        }
    }
    if (opener.read_failed) {
        Fail(status, Status::kIoError);
        return Unsealed::kStop;
    }
    return opener.AllRead() && done == record.unpacked_size ? Unsealed::kWhole : Unsealed::kDamaged;
}

// Expands the opened codec stream of a compressed entry into out.
Unsealed Expand(uint16_t& status, codec::DecoderState& decoder, codec::StreamState& stream, DataOpener& opener,
                const Record& record, std::FILE* out) {
    if (record.unpacked_size > static_cast<uint64_t>(INT32_MAX) || record.stream_size >= record.unpacked_size) {
        return Unsealed::kDamaged;  // our writers compress only what the codec holds, and only when it pays
    }
    const codec::PackedChannel channel {&opener, nullptr, nullptr, ReadOpened};
    StreamFiles release {stream};
    stream.channel = &channel;
    stream.output = out;
    stream.packed_left = static_cast<uint32_t>(record.stream_size);
    stream.unpacked_left = static_cast<int32_t>(record.unpacked_size);
    stream.unpacked_size = static_cast<int32_t>(record.unpacked_size);
    codec::BeginEntryCipher(stream, crypto::kCipherNone, "", codec::Direction::kDecipher);
    if (!codec::ExpandEntry(decoder, stream)) return Unsealed::kStop;
    if (opener.read_failed) {
        Fail(status, Status::kIoError);
        return Unsealed::kStop;
    }
    // Every chunk must prove itself, the ones behind the last the decoder needed too.
    uint8_t rest[4096];
    while (opener.Read(rest, sizeof rest) > 0) {
    }
    return stream.unpacked_left == 0 && opener.AllRead() ? Unsealed::kWhole : Unsealed::kDamaged;
}

}  // namespace

bool SealFileData(uint16_t& status, codec::EncoderState& encoder, codec::StreamState& stream, std::FILE* source,
                  uint64_t size, std::FILE* out, DataSealer& sealer, Record* record) {
    const int64_t data_start = platform::Tell(out);
    if (data_start < 0) return Fail(status, Status::kIoError);
    record->flags &= static_cast<uint8_t>(~kFlagCompressed);
    const auto seal_as_it_is = [&] {
        // (over whatever a compressed attempt left: the caller cuts it off behind the data)
        if (!platform::SeekTo(source, 0) || !platform::SeekTo(out, static_cast<uint64_t>(data_start)) ||
            !SealFile(source, size, out, kChunkSize, sealer)) {
            return Fail(status, Status::kWriteError);
        }
        record->stream_size = size;
        return true;
    };
    if (size == 0 || size > static_cast<uint64_t>(INT32_MAX)) return seal_as_it_is();
    if (!sealer.Begin(out, kChunkSize)) return Fail(status, Status::kNoMemory);
    const codec::PackedChannel channel {&sealer, WriteSealed, RestartSealed, nullptr};
    StreamFiles release {stream};
    stream.source_file = source;
    stream.output = out;
    stream.channel = &channel;
    codec::BeginEntryCipher(stream, crypto::kCipherNone, "", codec::Direction::kEncipher);
    int32_t packed = 0;
    if (!codec::CompressSource(encoder, stream, &packed)) return false;
    if (static_cast<uint64_t>(packed) >= size) return seal_as_it_is();  // SealFile begins anew, with a new key
    if (!sealer.Finish()) return Fail(status, Status::kWriteError);
    record->stream_size = sealer.plain_bytes;
    record->flags |= kFlagCompressed;
    return true;
}

Unsealed UnsealFileData(uint16_t& status, const CallbackSlot<ProgressProc>& progress, codec::DecoderState& decoder,
                        codec::StreamState& stream, DataOpener& opener, const Record& record, std::FILE* out) {
    return record.Compressed() ? Expand(status, decoder, stream, opener, record, out)
                               : CopyStored(status, progress, opener, record, out);
}

}  // namespace hedgerow::strong
