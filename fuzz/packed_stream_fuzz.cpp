// packed_stream_fuzz.cpp -- the decoder on arbitrary bytes: any packed stream, any unpacked
// size (up to 4 MiB, so that each input takes bounded time), each cipher id. It must not
// crash, must not trip a sanitizer, and must never write more than the unpacked size.
//
// Input: byte 0 picks the cipher id (-1, 0, 1, 2), bytes 1-3 the unpacked size (little
// endian, 24 bits), the rest is the payload as it lies in the archive.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "codec/decoder.h"
#include "codec/stream.h"
#include "crypto/cipher.h"
#include "support/test_call.h"

namespace {

constexpr size_t kSinkSlack = 4096;  // room past the size, so that an overrun shows

hedgerow::testing::TestCall& FuzzState() {
    static auto* st = [] {
        auto* s = new hedgerow::testing::TestCall();
        std::strcpy(s->archive.data_password, "fuzz");
        if (!hedgerow::codec::AllocDecoder(s->decoder, s->stream)) std::abort();
        return s;
    }();
    return *st;
}

#ifdef _WIN32
// No memory streams on Windows: the replay build there goes through temporary files.
std::FILE* ReadStream(uint8_t* bytes, size_t size) {
    std::FILE* f = std::tmpfile();
    if (f && (std::fwrite(bytes, 1, size, f) != size || std::fseek(f, 0, SEEK_SET) != 0)) {
        std::fclose(f);
        return nullptr;
    }
    return f;
}
std::FILE* WriteStream(uint8_t*, size_t) { return std::tmpfile(); }
#else
std::FILE* ReadStream(uint8_t* bytes, size_t size) { return fmemopen(bytes, size, "rb"); }
std::FILE* WriteStream(uint8_t* bytes, size_t size) { return fmemopen(bytes, size, "wb"); }
#endif

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    using namespace hedgerow;
    testing::TestCall& st = FuzzState();
    const int32_t cipher = static_cast<int32_t>(data[0] % 4) - 1;
    const auto unpacked = static_cast<int32_t>(data[1] | data[2] << 8 | data[3] << 16) % (4 << 20);
    std::vector<uint8_t> payload(data + 4, data + size);
    payload.resize(payload.size() + 8);  // fmemopen wants a non-empty buffer
    // One output area for every input: clearing megabytes per input would cost more than
    // the decoding itself.
    static std::vector<uint8_t> sink(static_cast<size_t>(4 << 20) + kSinkSlack);

    // An empty payload still opens one byte, which is never read.
    std::FILE* in = ReadStream(payload.data(), size == 4 ? 1 : size - 4);
    std::FILE* out = WriteStream(sink.data(), static_cast<size_t>(unpacked) + kSinkSlack);
    if (!in || !out) std::abort();

    st.session.status = 0;
    st.archive.cipher_id = cipher;
    auto& s = st.stream;
    s.packed_in = in;
    s.output = out;
    s.packed_left = static_cast<uint32_t>(size - 4);
    s.unpacked_left = unpacked;
    s.unpacked_size = unpacked;
    s.data_crc = 0xFFFFFFFFu;
    codec::BeginEntryCipher(s, cipher, st.archive.data_password, codec::Direction::kDecipher);
    (void)codec::DecodeEntry(st.decoder, st.stream, st.decoder.window.get());  // damage is expected

    std::fflush(out);
    const long written = std::ftell(out);
    if (written < 0 || written > unpacked) __builtin_trap();
    std::fclose(in);
    std::fclose(out);
    return 0;
}
