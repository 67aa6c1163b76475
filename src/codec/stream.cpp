// stream.cpp -- the buffered stream layer: packed output with enciphering and framing,
// packed and source input, unpacked output with the data CRC, progress, stored copies.
#include "codec/stream.h"

#include <algorithm>
#include <cstring>

#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "platform/platform.h"

namespace hedgerow::codec {

namespace {

// A read that returned fewer bytes than asked either met the end of the file or failed;
// only the end of the file sets the end flag.
bool ShortReadFailed(std::FILE* f, size_t got, size_t asked) {
    return got < asked && (f == nullptr || std::ferror(f) != 0 || std::feof(f) == 0);
}


int32_t PadToBlock(int32_t length) { return (length % 8) == 0 ? 0 : 8 - length % 8; }

// Reports progress; false (status kCancelled) when the host cancels.
bool ReportProgress(StreamState& s, int32_t percent, int32_t count) {
    if (s.stop != nullptr && s.stop->load(std::memory_order_relaxed)) return Fail(s, Status::kCancelled);
    if (s.progress == nullptr || s.progress->proc == nullptr) return true;
    if (s.progress->proc(s.progress->user, percent, count) == 0) return Fail(s, Status::kCancelled);
    return true;
}

// Packed input from the channel, or from packed_in without one.
size_t ReadPackedBytes(StreamState& s, uint8_t* buffer, size_t n) {
    if (n == 0) return 0;
    if (s.channel != nullptr) return s.channel->read(s.channel->context, buffer, n);
    return platform::ReadBytes(s.packed_in, buffer, n);
}

HeapBytes AllocCopyBuffer() {
    if (platform::FaultPoint(platform::FaultKind::kAlloc)) return nullptr;
    return AllocBytes(kCopyBufferSize);
}

}  // namespace

void BeginEntryCipher(StreamState& s, int32_t cipher_id, const char* password, Direction direction) {
    s.cipher_id = cipher_id;
    ArmChainBlock(s);
    if (direction == Direction::kEncipher) {
        crypto::SetEncipherKey(s.cipher, password, cipher_id);
    } else {
        crypto::SetDecipherKey(s.cipher, password, cipher_id);
    }
}

size_t WritePacked(StreamState& s, const uint8_t* bytes, size_t n) {
    if (n == 0) return 0;
    if (s.channel != nullptr) return s.channel->write(s.channel->context, bytes, n) ? n : 0;
    return platform::WriteBytes(s.output, bytes, n);
}

bool RestartPacked(StreamState& s, uint64_t start) {
    if (s.channel != nullptr) return s.channel->restart(s.channel->context);
    return platform::SeekTo(s.output, start);
}

int32_t Percent(int32_t done, int32_t total) {
    while (done >= kPercentHalvingLimit) {
        done >>= 1;
        total >>= 1;
    }
    if (total <= 0) return 100;
    return done * 100 / total;
}

bool AllocOutputBuffer(StreamState& s) {
    s.out_buffer.reset();
    if (!platform::FaultPoint(platform::FaultKind::kAlloc))
        s.out_buffer = AllocBytes(kOutBufferSize);
    if (!s.out_buffer) return Fail(s, Status::kNoMemory);
    s.out_fill = 0;
    s.progress_reported = 0;
    return true;
}

void FreeOutputBuffer(StreamState& s) {
    s.out_buffer.reset();
    s.out_fill = 0;
}

void ResetPackedOutput(StreamState& s) {
    s.out_fill = 0;
    s.progress_reported = 0;
    s.not_worth_it = false;
    s.unpacked_size = 0;
    s.packed_count = 0;
    s.chain_pending = false;
    s.cipher_id = 0;
}

void InitBitWriter(StreamState& s) {
    s.bit_buffer = 0;
    s.bit_count = 0;
}

void PutBits(StreamState& s, int count, uint32_t value) {
    s.bit_buffer = (s.bit_buffer << count) | (value & ((1u << count) - 1u));
    s.bit_count += count;
    while (s.bit_count >= 8) {
        s.bit_count -= 8;
        // packed_count only grows when a buffer is written, so this is the rule "keep a
        // byte only while the packed count is below the unpacked size".
        if (s.packed_count < s.unpacked_size) {
            PutByte(s, static_cast<uint8_t>(s.bit_buffer >> s.bit_count));
        } else {
            s.not_worth_it = true;
        }
    }
}

void PutByte(StreamState& s, uint8_t byte) {
    if (s.out_fill + 1 > static_cast<uint32_t>(kOutBufferSize)) {
        (void)FlushPackedBuffer(s, byte, 1);  // a failure stays in the status word
    } else {
        s.out_buffer[s.out_fill++] = byte;
    }
}

bool FlushPackedBuffer(StreamState& s, uint8_t byte, int count) {
    if (!StreamOk(s)) return false;
    if (s.chain_pending) {
        s.chain_pending = false;
        s.packed_count += kChainBlockSize;
        uint8_t block[kChainBlockSize];
        crypto::StartChain(s.cipher, block, s.cipher_id);
        // A lost chain block would shift every later byte of the entry: stop here.
        if (WritePacked(s, block, kChainBlockSize) != kChainBlockSize) return Fail(s, Status::kWriteError);
    }
    int32_t pad = 0;
    size_t written = 0;
    const auto fill = static_cast<int32_t>(s.out_fill);
    if (fill > 0) {
        if (s.cipher_id != crypto::kCipherNone) {
            if (fill < kOutBufferSize) pad = PadToBlock(fill);
            std::memset(s.out_buffer.get() + fill, 0, static_cast<size_t>(pad));
            EncipherPacked(s, s.out_buffer.get(), fill + pad);
        }
        written = WritePacked(s, s.out_buffer.get(), static_cast<size_t>(fill + pad));
    }
    if (!ReportProgress(s, Percent(s.progress_count, s.unpacked_size), s.progress_count - s.progress_reported))
        return false;
    s.progress_reported = s.progress_count;
    if (written != static_cast<size_t>(fill + pad)) return Fail(s, Status::kWriteError);
    s.packed_count += static_cast<int32_t>(written);
    if (s.packed_count >= s.unpacked_size) s.not_worth_it = true;
    if (count == 1) s.out_buffer[0] = byte;
    s.out_fill = static_cast<uint32_t>(count);
    return true;
}

bool FlushBitWriter(StreamState& s) {
    // Same as appending seven zero bits: a partly filled byte goes out padded with zeros,
    // a writer at a byte boundary adds nothing.
    if (s.bit_count % 8 != 0) PutBits(s, 8 - s.bit_count % 8, 0);
    s.bit_count = 0;
    s.bit_buffer = 0;
    return FlushPackedBuffer(s, 0, 0);
}

void EncipherPacked(StreamState& s, uint8_t* buffer, int32_t length) {
    if (s.cipher_id != crypto::kCipherNone)
        crypto::EncipherBuffer(s.cipher, buffer, length, s.cipher_id);
}

int32_t StoreSourceFile(StreamState& s) {
    ArmChainBlock(s);
    auto buffer = AllocCopyBuffer();
    if (!buffer) {
        Fail(s, Status::kNoMemory);
        return 0;
    }
    const int64_t length = platform::Length(s.source_file);
    const int64_t start = platform::Tell(s.source_file);
    if (length < 0 || start < 0) {
        Fail(s, Status::kIoError);
        return 0;
    }
    const int64_t expected = length - start;
    const auto total = static_cast<int32_t>(std::min<int64_t>(length, INT32_MAX));
    s.data_crc = 0xFFFFFFFFu;
    int32_t written = 0;
    int64_t read_total = 0;
    if (s.chain_pending) {
        s.chain_pending = false;
        uint8_t block[kChainBlockSize];
        crypto::StartChain(s.cipher, block, s.cipher_id);
        if (WritePacked(s, block, kChainBlockSize) != kChainBlockSize) {
            Fail(s, Status::kWriteError);
            return 0;
        }
        written = kChainBlockSize;
    }
    for (;;) {
        const size_t got_bytes = platform::ReadBytes(s.source_file, buffer.get(), kStoredPiece);
        if (ShortReadFailed(s.source_file, got_bytes, kStoredPiece)) {
            Fail(s, Status::kIoError);
            return 0;
        }
        const auto got = static_cast<int32_t>(got_bytes);
        read_total += got;
        if (got == 0) {
            // A source that yields fewer bytes than it had when the entry began would
            // leave a stored payload shorter than the recorded size.
            if (read_total < expected) {
                Fail(s, Status::kIoError);
                return 0;
            }
            return written;
        }
        const int32_t pad = got < kStoredPiece ? PadToBlock(got) : 0;
        s.data_crc = crypto::Crc32Update(s.data_crc, buffer.get(), static_cast<size_t>(got));
        std::memset(buffer.get() + got, 0, static_cast<size_t>(pad));
        EncipherPacked(s, buffer.get(), got + pad);
        const size_t out = WritePacked(s, buffer.get(), static_cast<size_t>(got + pad));
        if (out != static_cast<size_t>(got + pad)) Fail(s, Status::kWriteError);
        if (!StreamOk(s)) return 0;
        written += got + pad;
        (void)ReportProgress(s, Percent(written, total), 0);
    }
}

int32_t ReadSource(StreamState& s, uint8_t* buffer, int32_t count) {
    if (count <= 0) return 0;
    const size_t got = platform::ReadBytes(s.source_file, buffer, static_cast<size_t>(count));
    if (ShortReadFailed(s.source_file, got, static_cast<size_t>(count))) {
        Fail(s, Status::kIoError);
        return 0;
    }
    s.data_crc = crypto::Crc32Update(s.data_crc, buffer, got);
    return static_cast<int32_t>(got);
}

int32_t ReadPacked(StreamState& s, uint8_t* buffer, int32_t count) {
    if (s.chain_pending) {
        s.chain_pending = false;
        uint8_t block[kChainBlockSize] = {};
        // A damaged record may promise fewer packed bytes than a chain block.
        const size_t want = std::min<uint32_t>(kChainBlockSize, s.packed_left);
        const size_t got = ReadPackedBytes(s, block, want);
        s.packed_left -= static_cast<uint32_t>(got);
        if (s.channel == nullptr && ShortReadFailed(s.packed_in, got, want)) {
            Fail(s, Status::kIoError);
            return 0;
        }
        crypto::LoadChain(s.cipher, block);
    }
    if (count <= 0) return 0;
    const size_t want = std::min<uint32_t>(static_cast<uint32_t>(count), s.packed_left);
    const size_t got = ReadPackedBytes(s, buffer, want);
    s.packed_left -= static_cast<uint32_t>(got);
    if (s.channel == nullptr && ShortReadFailed(s.packed_in, got, want)) {
        Fail(s, Status::kIoError);
        return 0;
    }
    if (s.cipher_id != crypto::kCipherNone)
        crypto::DecipherBuffer(s.cipher, buffer, static_cast<int32_t>(got), s.cipher_id);
    return static_cast<int32_t>(got);
}

int32_t WriteUnpacked(StreamState& s, const uint8_t* buffer, int32_t count) {
    size_t written = 0;
    if (count > 0) {
        written = s.output == nullptr ? static_cast<size_t>(count)
                                      : platform::WriteBytes(s.output, buffer, static_cast<size_t>(count));
        if (written < static_cast<size_t>(count)) Fail(s, Status::kWriteError);
        s.data_crc = crypto::Crc32Update(s.data_crc, buffer, written);
    }
    (void)ReportProgress(s, Percent(s.progress_count, s.unpacked_size), static_cast<int32_t>(written));
    return static_cast<int32_t>(written);
}

bool CopyStoredEntry(StreamState& s) {
    ArmChainBlock(s);
    s.progress_count = 0;
    auto buffer = AllocCopyBuffer();
    if (!buffer) return Fail(s, Status::kNoMemory);
    s.data_crc = 0xFFFFFFFFu;
    for (;;) {
        const int32_t got = ReadPacked(s, buffer.get(), kStoredPiece);
        if (got == 0) return StreamOk(s);  // the end of the payload, or a failed read
        // A negative remaining count (a damaged record) writes nothing rather than
        // handing a negative length on.
        const int32_t n = std::max(0, std::min(s.unpacked_left, got));
        s.progress_count += n;
        (void)WriteUnpacked(s, buffer.get(), n);
        if (s.unpacked_left >= 0) s.unpacked_left -= n;
        if (!StreamOk(s)) return false;  // cancelled, or a write failed: the file goes
    }
}

}  // namespace hedgerow::codec
