// codec_harness.h -- drives the codec the way the archive operations do, on anonymous
// temporary files: compress a byte vector into one entry's payload and expand a payload
// back. Also a small MSB-first bit writer with canonical codes, for hand-built streams.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <vector>

#include "codec/decoder.h"
#include "codec/encoder.h"
#include "codec/stream.h"
#include "crypto/cipher.h"
#include "crypto/crc32.h"
#include "support/test_call.h"

namespace hedgerow::testing {

inline constexpr const char* kTestPassword = "hedge and ditch";

// A scratch file that goes when it is closed. The C run-time's tmpfile can fail while
// test processes run side by side (on Windows it draws its names in one directory shared
// by all of them): it is tried again, and a failure that stays is reported here, where it
// happens, rather than as a crash on a null file later. (No allocation: the stream tests
// make these inside their allocation-failure plans.)
inline std::FILE* OpenTmpFile() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (std::FILE* f = std::tmpfile()) return f;
    }
    std::fputs("codec_harness: no scratch file could be made (tmpfile failed 100 times)\n", stderr);
    std::abort();
}

struct TmpFile {
    std::FILE* f = OpenTmpFile();
    ~TmpFile() {
        if (f) std::fclose(f);
    }
    TmpFile() = default;
    TmpFile(const TmpFile&) = delete;
    TmpFile& operator=(const TmpFile&) = delete;
};

inline std::vector<uint8_t> Contents(std::FILE* f) {
    std::fflush(f);
    std::fseek(f, 0, SEEK_END);
    const long n = std::ftell(f);
    std::vector<uint8_t> out(static_cast<size_t>(n));
    std::fseek(f, 0, SEEK_SET);
    if (n > 0 && std::fread(out.data(), 1, out.size(), f) != out.size()) out.clear();
    return out;
}

inline std::unique_ptr<TestCall> NewState(int32_t cipher_id) {
    auto st = std::make_unique<TestCall>();
    st->archive.cipher_id = cipher_id;
    std::strcpy(st->archive.data_password, kTestPassword);
    return st;
}

struct PackedEntry {
    std::vector<uint8_t> payload;   // exactly packed_size bytes
    int32_t packed_size = 0;
    uint32_t crc = 0;               // the finished data CRC
    bool ok = false;
};

// Compresses input as one entry with the state's cipher and password; the encoder tables
// and output buffer are allocated here unless the state has them.
inline PackedEntry Compress(TestCall& st, const std::vector<uint8_t>& input) {
    PackedEntry out;
    TmpFile src;
    TmpFile dst;
    if (!input.empty()) std::fwrite(input.data(), 1, input.size(), src.f);
    std::fflush(src.f);
    std::rewind(src.f);
    if (!st.stream.out_buffer && !codec::AllocOutputBuffer(st.stream)) return out;
    if (!st.encoder.tables && !codec::AllocEncoderTables(st.encoder, st.stream)) return out;
    st.stream.source_file = src.f;
    st.stream.output = dst.f;
    codec::BeginEntryCipher(st.stream, st.archive.cipher_id, st.archive.data_password, codec::Direction::kEncipher);
    out.ok = codec::CompressSource(st.encoder, st.stream, &out.packed_size);
    out.crc = ~st.stream.data_crc;
    out.payload = Contents(dst.f);
    if (out.payload.size() > static_cast<size_t>(out.packed_size)) out.payload.resize(static_cast<size_t>(out.packed_size));
    st.stream.source_file = nullptr;
    st.stream.output = nullptr;
    return out;
}

struct ExpandedEntry {
    std::vector<uint8_t> bytes;
    uint32_t crc = 0;
    bool ok = false;
};

// Expands a payload with the stream fields set as extraction sets them.
inline ExpandedEntry Expand(TestCall& st, const std::vector<uint8_t>& payload, int32_t unpacked_size) {
    ExpandedEntry out;
    TmpFile in;
    TmpFile dst;
    if (!payload.empty()) std::fwrite(payload.data(), 1, payload.size(), in.f);
    std::fflush(in.f);
    std::rewind(in.f);
    st.stream.packed_in = in.f;
    st.stream.output = dst.f;
    st.stream.packed_left = static_cast<uint32_t>(payload.size());
    st.stream.unpacked_left = unpacked_size;
    st.stream.unpacked_size = unpacked_size;
    codec::BeginEntryCipher(st.stream, st.archive.cipher_id, st.archive.data_password, codec::Direction::kDecipher);
    out.ok = codec::ExpandEntry(st.decoder, st.stream);
    out.crc = ~st.stream.data_crc;
    out.bytes = Contents(dst.f);
    st.stream.packed_in = nullptr;
    st.stream.output = nullptr;
    return out;
}

// Bits most significant first, as the packed stream carries them.
class BitWriter {
public:
    void Put(int count, uint32_t value) {
        for (int i = count - 1; i >= 0; --i) {
            acc_ = static_cast<uint8_t>((acc_ << 1) | ((value >> i) & 1u));
            if (++n_ == 8) {
                bytes_.push_back(acc_);
                acc_ = 0;
                n_ = 0;
            }
        }
    }
    std::vector<uint8_t> Finish() {
        std::vector<uint8_t> out = bytes_;
        if (n_ > 0) out.push_back(static_cast<uint8_t>(acc_ << (8 - n_)));
        return out;
    }

private:
    std::vector<uint8_t> bytes_;
    uint8_t acc_ = 0;
    int n_ = 0;
};

// Canonical codes of a length list: shorter codes first, equal lengths by symbol.
inline std::vector<uint32_t> CanonicalCodes(const std::vector<int>& lengths) {
    std::vector<uint32_t> codes(lengths.size());
    uint32_t code = 0;
    for (int len = 1; len <= 15; ++len) {
        for (size_t s = 0; s < lengths.size(); ++s)
            if (lengths[s] == len) codes[s] = code++;
        code <<= 1;
    }
    return codes;
}

// A code of fixed-length codes for the given symbols (the shortest length that holds them).
inline std::vector<int> FlatLengths(size_t alphabet, const std::vector<int>& used) {
    int len = 1;
    while ((size_t{1} << len) < used.size()) ++len;
    std::vector<int> lengths(alphabet, 0);
    for (int s : used) lengths[static_cast<size_t>(s)] = len;
    return lengths;
}

// The length code every hand-built header here uses: 16 -> 00, 17 -> 010, 18 -> 011,
// lengths 0..15 -> 1 followed by the length in 4 bits.
inline const std::vector<int>& TestLengthCode() {
    static const std::vector<int> lengths = {5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 2, 3, 3};
    return lengths;
}

// One item of a code-length list: a length-code symbol and its extra bits.
struct LengthItem {
    int symbol;
    int extra = 0;
};

inline void PutLengthItems(BitWriter& w, const std::vector<LengthItem>& items) {
    static const std::vector<uint32_t> codes = CanonicalCodes(TestLengthCode());
    static const int extra_bits[19] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
    for (const auto& item : items) {
        w.Put(TestLengthCode()[static_cast<size_t>(item.symbol)], codes[static_cast<size_t>(item.symbol)]);
        if (extra_bits[item.symbol] != 0) w.Put(extra_bits[item.symbol], static_cast<uint32_t>(item.extra));
    }
}

// Table header: kind, keep bit, channels (audio), the test length code, then the items.
inline void PutHeader(BitWriter& w, bool audio, bool keep, int channels, const std::vector<LengthItem>& items) {
    w.Put(1, audio ? 1 : 0);
    w.Put(1, keep ? 1 : 0);
    if (audio) w.Put(2, static_cast<uint32_t>(channels - 1));
    for (int len : TestLengthCode()) w.Put(4, static_cast<uint32_t>(len));
    PutLengthItems(w, items);
}

inline std::vector<int> Concat(std::vector<int> a, const std::vector<int>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Lengths as items, zero runs folded into symbols 17 and 18 (keep = 0).
inline std::vector<LengthItem> PlainItems(const std::vector<int>& lengths) {
    std::vector<LengthItem> items;
    size_t i = 0;
    while (i < lengths.size()) {
        size_t run = 0;
        while (i + run < lengths.size() && lengths[i + run] == 0 && run < 138) ++run;
        if (run >= 11) {
            items.push_back({18, static_cast<int>(run - 11)});
        } else if (run >= 3) {
            items.push_back({17, static_cast<int>(run - 3)});
        } else {
            items.push_back({lengths[i]});
            run = 1;
        }
        i += run;
    }
    return items;
}

// Runs the decoder on a hand-built stream without cipher, whatever its size, with a state
// of its own or the one given (whose decoder may hold an earlier entry's window).
inline ExpandedEntry DecodePlain(const std::vector<uint8_t>& stream, int32_t unpacked_size,
                                 TestCall* state = nullptr) {
    auto own = state ? nullptr : NewState(crypto::kCipherNone);
    TestCall* st = state ? state : own.get();
    ExpandedEntry out;
    TmpFile in;
    TmpFile dst;
    if (!stream.empty()) std::fwrite(stream.data(), 1, stream.size(), in.f);
    std::fflush(in.f);
    std::rewind(in.f);
    st->stream.packed_in = in.f;
    st->stream.output = dst.f;
    st->stream.packed_left = static_cast<uint32_t>(stream.size());
    st->stream.unpacked_left = unpacked_size;
    st->stream.unpacked_size = unpacked_size;
    st->stream.cipher_id = crypto::kCipherNone;
    st->stream.data_crc = 0xFFFFFFFFu;
    out.ok = codec::DecodeEntry(st->decoder, st->stream, nullptr);
    st->stream.packed_in = nullptr;
    st->stream.output = nullptr;
    out.crc = ~st->stream.data_crc;
    out.bytes = Contents(dst.f);
    return out;
}

}  // namespace hedgerow::testing
