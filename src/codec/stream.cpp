// stream.cpp -- the buffered stream layer: packed output with enciphering and framing,
// packed and source input, unpacked output with the data CRC, progress, stored copies.
#include "codec/stream.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "frame/library_state.h"
#include "platform/platform.h"

namespace hedgerow::codec {

namespace {

// The status word keeps the first failure: a cancel after a short write must not hide it.
void FailOnce(LibraryState& st, Status code) {
    if (StatusIsOk(st.session)) SetStatus(st.session, code);
}

// A read that returned fewer bytes than asked either met the end of the file or failed;
// only the end of the file sets the end flag.
bool ShortReadFailed(std::FILE* f, size_t got, size_t asked) {
    return got < asked && (f == nullptr || std::ferror(f) != 0 || std::feof(f) == 0);
}

bool UsesChain(int32_t cipher_id) {
    return cipher_id == crypto::kCipherTripleDes || cipher_id == crypto::kCipherIdea;
}

int32_t PadToBlock(int32_t length) { return (length % 8) == 0 ? 0 : 8 - length % 8; }

// Reports progress; false (status kCancelled) when the host cancels.
bool ReportProgress(LibraryState& st, int32_t percent, int32_t count) {
    const auto& slot = st.session.callbacks.progress;
    if (slot.proc == nullptr) return true;
    if (slot.proc(slot.user, percent, count) == 0) {
        FailOnce(st, Status::kCancelled);
        return false;
    }
    return true;
}

std::unique_ptr<uint8_t[]> AllocCopyBuffer() {
    if (platform::FaultPoint(platform::FaultKind::kAlloc)) return nullptr;
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[kCopyBufferSize]());
}

}  // namespace

int32_t Percent(int32_t done, int32_t total) {
    while (done >= kPercentHalvingLimit) {
        done >>= 1;
        total >>= 1;
    }
    if (total <= 0) return 100;
    return done * 100 / total;
}

bool AllocOutputBuffer(LibraryState& st) {
    StreamState& s = st.stream;
    s.out_buffer.reset();
    if (!platform::FaultPoint(platform::FaultKind::kAlloc))
        s.out_buffer.reset(new (std::nothrow) uint8_t[kOutBufferSize]());
    if (!s.out_buffer) return Fail(st.session, Status::kNoMemory);
    s.out_fill = 0;
    s.progress_reported = 0;
    return true;
}

void FreeOutputBuffer(LibraryState& st) {
    st.stream.out_buffer.reset();
    st.stream.out_fill = 0;
}

void ResetPackedOutput(LibraryState& st) {
    StreamState& s = st.stream;
    s.out_fill = 0;
    s.progress_reported = 0;
    s.not_worth_it = false;
    s.unpacked_size = 0;
    s.packed_count = 0;
    s.chain_pending = false;
    s.cipher_id = 0;
}

void InitBitWriter(LibraryState& st) {
    st.stream.bit_buffer = 0;
    st.stream.bit_count = 0;
}

void PutBits(LibraryState& st, int count, uint32_t value) {
    StreamState& s = st.stream;
    s.bit_buffer = (s.bit_buffer << count) | (value & ((1u << count) - 1u));
    s.bit_count += count;
    while (s.bit_count >= 8) {
        s.bit_count -= 8;
        // packed_count only grows when a buffer is written, so this is the rule "keep a
        // byte only while the packed count is below the unpacked size".
        if (s.packed_count < s.unpacked_size) {
            PutByte(st, static_cast<uint8_t>(s.bit_buffer >> s.bit_count));
        } else {
            s.not_worth_it = true;
        }
    }
}

void PutByte(LibraryState& st, uint8_t byte) {
    StreamState& s = st.stream;
    if (s.out_fill + 1 > static_cast<uint32_t>(kOutBufferSize)) {
        FlushPackedBuffer(st, byte, 1);
    } else {
        s.out_buffer[s.out_fill++] = byte;
    }
}

void FlushPackedBuffer(LibraryState& st, uint8_t byte, int count) {
    StreamState& s = st.stream;
    if (!StatusIsOk(st.session)) return;
    if (s.chain_pending) {
        s.chain_pending = false;
        s.packed_count += kChainBlockSize;
        uint8_t block[kChainBlockSize];
        crypto::StartChain(st.cipher, block, s.cipher_id);
        // A lost chain block would shift every later byte of the entry: stop here.
        if (platform::WriteBytes(s.output, block, kChainBlockSize) != kChainBlockSize) {
            Fail(st.session, Status::kWriteError);
            return;
        }
    }
    int32_t pad = 0;
    size_t written = 0;
    const auto fill = static_cast<int32_t>(s.out_fill);
    if (fill > 0) {
        if (s.cipher_id != crypto::kCipherNone) {
            if (fill < kOutBufferSize) pad = PadToBlock(fill);
            std::memset(s.out_buffer.get() + fill, 0, static_cast<size_t>(pad));
            EncipherPacked(st, s.out_buffer.get(), fill + pad);
        }
        written = platform::WriteBytes(s.output, s.out_buffer.get(), static_cast<size_t>(fill + pad));
    }
    if (!ReportProgress(st, Percent(s.progress_count, s.unpacked_size), s.progress_count - s.progress_reported))
        return;
    s.progress_reported = s.progress_count;
    if (written != static_cast<size_t>(fill + pad)) {
        FailOnce(st, Status::kWriteError);
        return;
    }
    s.packed_count += static_cast<int32_t>(written);
    if (s.packed_count >= s.unpacked_size) s.not_worth_it = true;
    if (count == 1) s.out_buffer[0] = byte;
    s.out_fill = static_cast<uint32_t>(count);
}

void FlushBitWriter(LibraryState& st) {
    StreamState& s = st.stream;
    // Same as appending seven zero bits: a partly filled byte goes out padded with zeros,
    // a writer at a byte boundary adds nothing.
    if (s.bit_count % 8 != 0) PutBits(st, 8 - s.bit_count % 8, 0);
    s.bit_count = 0;
    s.bit_buffer = 0;
    FlushPackedBuffer(st, 0, 0);
}

void EncipherPacked(LibraryState& st, uint8_t* buffer, int32_t length) {
    if (st.stream.cipher_id != crypto::kCipherNone)
        crypto::EncipherBuffer(st.cipher, buffer, length, st.stream.cipher_id);
}

int32_t StoreSourceFile(LibraryState& st) {
    StreamState& s = st.stream;
    s.cipher_id = st.archive.cipher_id;
    s.chain_pending = UsesChain(s.cipher_id);
    crypto::SetEncipherKey(st.cipher, st.archive.data_password, s.cipher_id);
    auto buffer = AllocCopyBuffer();
    if (!buffer) {
        Fail(st.session, Status::kNoMemory);
        return 0;
    }
    const int64_t length = platform::Length(s.source_file);
    const int64_t start = platform::Tell(s.source_file);
    if (length < 0 || start < 0) {
        FailOnce(st, Status::kIoError);
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
        crypto::StartChain(st.cipher, block, s.cipher_id);
        if (platform::WriteBytes(s.output, block, kChainBlockSize) != kChainBlockSize) {
            Fail(st.session, Status::kWriteError);
            return 0;
        }
        written = kChainBlockSize;
    }
    for (;;) {
        const size_t got_bytes = platform::ReadBytes(s.source_file, buffer.get(), kStoredPiece);
        if (ShortReadFailed(s.source_file, got_bytes, kStoredPiece)) {
            FailOnce(st, Status::kIoError);
            return 0;
        }
        const auto got = static_cast<int32_t>(got_bytes);
        read_total += got;
        if (got == 0) {
            // A source that yields fewer bytes than it had when the entry began would
            // leave a stored payload shorter than the recorded size.
            if (read_total < expected) {
                FailOnce(st, Status::kIoError);
                return 0;
            }
            return written;
        }
        const int32_t pad = got < kStoredPiece ? PadToBlock(got) : 0;
        s.data_crc = crypto::Crc32Update(s.data_crc, buffer.get(), static_cast<size_t>(got));
        std::memset(buffer.get() + got, 0, static_cast<size_t>(pad));
        EncipherPacked(st, buffer.get(), got + pad);
        const size_t out = platform::WriteBytes(s.output, buffer.get(), static_cast<size_t>(got + pad));
        if (out != static_cast<size_t>(got + pad)) FailOnce(st, Status::kWriteError);
        if (!StatusIsOk(st.session)) return 0;
        written += got + pad;
        (void)ReportProgress(st, Percent(written, total), 0);
    }
}

int32_t ReadSource(LibraryState& st, uint8_t* buffer, int32_t count) {
    StreamState& s = st.stream;
    if (count <= 0) return 0;
    const size_t got = platform::ReadBytes(s.source_file, buffer, static_cast<size_t>(count));
    if (ShortReadFailed(s.source_file, got, static_cast<size_t>(count))) {
        FailOnce(st, Status::kIoError);
        return 0;
    }
    s.data_crc = crypto::Crc32Update(s.data_crc, buffer, got);
    return static_cast<int32_t>(got);
}

int32_t ReadPacked(LibraryState& st, uint8_t* buffer, int32_t count) {
    StreamState& s = st.stream;
    if (s.chain_pending) {
        s.chain_pending = false;
        uint8_t block[kChainBlockSize] = {};
        // A damaged record may promise fewer packed bytes than a chain block.
        const size_t want = std::min<uint32_t>(kChainBlockSize, s.packed_left);
        const size_t got = platform::ReadBytes(s.packed_in, block, want);
        s.packed_left -= static_cast<uint32_t>(got);
        if (ShortReadFailed(s.packed_in, got, want)) {
            FailOnce(st, Status::kIoError);
            return -1;
        }
        crypto::LoadChain(st.cipher, block);
    }
    if (count <= 0) return 0;
    const size_t want = std::min<uint32_t>(static_cast<uint32_t>(count), s.packed_left);
    const size_t got = platform::ReadBytes(s.packed_in, buffer, want);
    s.packed_left -= static_cast<uint32_t>(got);
    if (ShortReadFailed(s.packed_in, got, want)) {
        FailOnce(st, Status::kIoError);
        return -1;
    }
    if (s.cipher_id != crypto::kCipherNone)
        crypto::DecipherBuffer(st.cipher, buffer, static_cast<int32_t>(got), s.cipher_id);
    return static_cast<int32_t>(got);
}

int32_t WriteUnpacked(LibraryState& st, const uint8_t* buffer, int32_t count) {
    StreamState& s = st.stream;
    size_t written = 0;
    if (count > 0) {
        written = platform::WriteBytes(s.output, buffer, static_cast<size_t>(count));
        if (written < static_cast<size_t>(count)) FailOnce(st, Status::kWriteError);
        s.data_crc = crypto::Crc32Update(s.data_crc, buffer, written);
    }
    (void)ReportProgress(st, Percent(s.progress_count, s.unpacked_size), static_cast<int32_t>(written));
    return static_cast<int32_t>(written);
}

void CopyStoredEntry(LibraryState& st) {
    StreamState& s = st.stream;
    s.cipher_id = st.archive.cipher_id;
    s.chain_pending = UsesChain(s.cipher_id);
    crypto::SetDecipherKey(st.cipher, st.archive.data_password, s.cipher_id);
    s.progress_count = 0;
    auto buffer = AllocCopyBuffer();
    if (!buffer) {
        Fail(st.session, Status::kNoMemory);
        return;
    }
    s.data_crc = 0xFFFFFFFFu;
    for (;;) {
        const int32_t got = ReadPacked(st, buffer.get(), kStoredPiece);
        if (got <= 0) return;  // -1 has set kIoError
        // A negative remaining count (a damaged record) writes nothing rather than
        // handing a negative length on.
        const int32_t n = std::max(0, std::min(s.unpacked_left, got));
        s.progress_count += n;
        (void)WriteUnpacked(st, buffer.get(), n);
        if (s.unpacked_left >= 0) s.unpacked_left -= n;
        if (!StatusIsOk(st.session)) return;  // cancelled, or a write failed: the file goes
    }
}

bool ObtainDataKey(LibraryState& st, const char* entry_name) {
    auto& password = st.archive.data_password;
    const int32_t cipher_id = st.stream.cipher_id;
    if (password[0] != '\0') {
        crypto::SetDecipherKey(st.cipher, password, cipher_id);
        return true;
    }
    const auto& slot = st.session.callbacks.crypt_key;
    if (slot.proc == nullptr) return Fail(st.session, Status::kBadPassword);
    // One byte more than the host is told about, so that the answer always ends.
    char answer[kKeyBufferSize + 1] = {};
    char name[256] = {};
    if (entry_name != nullptr) std::strncpy(name, entry_name, sizeof(name) - 1);
    const int32_t result = slot.proc(slot.user, answer, name);
    if (result == 0) return Fail(st.session, Status::kBadPassword);
    if (result != 1) return false;
    answer[kKeyBufferSize] = '\0';
    std::strncpy(password, answer, sizeof(password) - 1);
    password[sizeof(password) - 1] = '\0';
    crypto::SetDecipherKey(st.cipher, password, cipher_id);
    return true;
}

}  // namespace hedgerow::codec
