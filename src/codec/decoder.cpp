// decoder.cpp -- turns the packed bit stream back into bytes: table-driven prefix decoding
// (one look-up for short codes, the limit search for the rest), LZ copies in a 1 MiB
// circular window, audio blocks through the channel predictor.
#include "codec/decoder.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "codec/stream.h"
#include "common/compiler.h"
#include "crypto/cipher.h"
#include "platform/platform.h"

namespace hedgerow::codec {

namespace {

// Bit reader. The look-ahead word is the top 16 bits of the cursor's buffer. After the packed data
// runs out, zero bytes are fed in and counted, so that a damaged stream can be told by the
// bits it took from nowhere.
bool FillInput(StreamState& s, DecoderWork& w) {
    if (w.input_ended) return false;
    const int32_t got = ReadPacked(s, w.input, DecoderWork::kInputSize);
    if (got <= 0) {
        w.input_ended = true;
        return false;
    }
    w.bits.next = w.input;
    w.bits.end = w.input + got;
    return true;
}

void RefillSlow(StreamState& s, DecoderWork& w) {
    BitCursor& b = w.bits;
    while (b.count <= 56) {
        if (b.next == b.end && !FillInput(s, w)) {
            b.count += 8;
            ++w.phantom_bytes;
            continue;
        }
        b.buffer |= static_cast<uint64_t>(*b.next++) << (56 - b.count);
        b.count += 8;
    }
}

// RefillFast leaves at least kRefillBits bits in the buffer and needs kRefillBytes input
// bytes in front of it.
inline constexpr int kRefillBits = 56;
inline constexpr int kRefillBytes = 8;

// The wide load may also set bits below count; they are the stream's own next bits, so
// loading them again later changes nothing. Taking whole bytes up to 63 bits makes the
// count 56 or more: (63 - count) / 8 bytes, and count | 56.
inline void RefillFast(BitCursor& b) {
    static_assert(kRefillBits == 56 && kRefillBytes == 8);
    uint64_t word;
    std::memcpy(&word, b.next, kRefillBytes);
    b.buffer |= FromBigEndian64(word) >> b.count;
    b.next += (63 - b.count) >> 3;
    b.count |= kRefillBits;
}

inline void Refill(StreamState& s, DecoderWork& w) {
    if (w.bits.end - w.bits.next >= kRefillBytes) {
        RefillFast(w.bits);
    } else {
        RefillSlow(s, w);
    }
}

inline uint32_t Peek16(const BitCursor& b) { return static_cast<uint32_t>(b.buffer >> 48); }

inline void Consume(BitCursor& b, int n) {
    b.buffer <<= n;
    b.count -= n;
}

inline uint32_t TakeBits(BitCursor& b, int n) {
    if (n == 0) return 0;
    const auto v = static_cast<uint32_t>(b.buffer >> (64 - n));
    Consume(b, n);
    return v;
}

inline uint32_t TakeSymbol(BitCursor& b, const DecodeTable& table) {
    const uint32_t look = Peek16(b);
    const uint16_t entry = FastEntry(table, look);
    if (entry != 0) {
        Consume(b, FastEntryLength(entry));
        return FastEntrySymbol(entry);
    }
    const DecodedSymbol d = DecodeSymbol(table, look);
    Consume(b, d.length);
    return d.symbol;
}

// True once the reader has taken bits that were never in the packed data.
inline bool PastEnd(const DecoderWork& w) {
    return static_cast<uint64_t>(w.phantom_bytes) * 8 > static_cast<uint64_t>(w.bits.count);
}

int LengthFor(const DecodeTable& t, uint32_t v) {
    for (int n = 1; n <= 14; ++n)
        if (v < t.limit[n]) return n;
    return 15;
}

// A table header: block kind, keep bit, channel count, the length code and the code
// lengths it sends.
void ReadCodeTables(StreamState& s, DecoderWork& w) {
    RefillSlow(s, w);
    const uint32_t head = Peek16(w.bits);
    if ((head & 0x4000u) == 0) std::memset(w.previous_lengths, 0, sizeof(w.previous_lengths));
    w.audio = (head & 0x8000u) != 0;
    Consume(w.bits, 2);
    int32_t count = kLzLengths;
    if (w.audio) {
        w.channels = static_cast<int32_t>((head >> 12) & 3u) + 1;
        if (w.channel >= w.channels) w.channel = 0;
        Consume(w.bits, 2);
        count = kAudioSymbols * w.channels;
    }
    uint8_t length_lengths[kLengthCodeSymbols];
    for (auto& l : length_lengths) {
        if (w.bits.count < 32) RefillSlow(s, w);
        l = static_cast<uint8_t>(TakeBits(w.bits, 4));
    }
    BuildDecodeTable(length_lengths, w.length_code, kLengthCodeSymbols);

    uint8_t* lengths = w.previous_lengths;  // new lengths are built on top of the old ones
    int32_t i = 0;
    while (i < count) {
        if (w.bits.count < 32) RefillSlow(s, w);
        const uint32_t symbol = TakeSymbol(w.bits, w.length_code);
        if (symbol < 16) {
            lengths[i] = static_cast<uint8_t>((lengths[i] + symbol) & 15u);
            ++i;
            continue;
        }
        int32_t run = 0;
        uint8_t value = 0;
        if (symbol == kRepeatPrevious) {
            run = static_cast<int32_t>(TakeBits(w.bits, 2)) + 3;
            // Nothing precedes position 0: repeat a length of 0 there.
            value = i > 0 ? lengths[i - 1] : 0;
        } else if (symbol == kZeros3To10) {
            run = static_cast<int32_t>(TakeBits(w.bits, 3)) + 3;
        } else {
            run = static_cast<int32_t>(TakeBits(w.bits, 7)) + 11;
        }
        const int32_t end = std::min(count, i + run);
        for (; i < end; ++i) lengths[i] = value;
    }
    if (w.audio) {
        for (int32_t c = 0; c < w.channels; ++c)
            BuildDecodeTable(lengths + kAudioSymbols * c, w.channel_code[c], kAudioSymbols);
    } else {
        BuildDecodeTable(lengths, w.main_code, kMainSymbols);
        BuildDecodeTable(lengths + kMainSymbols, w.distance_code, kDistanceSymbols);
        BuildDecodeTable(lengths + kMainSymbols + kDistanceSymbols, w.repeat_code, kRepeatSymbols);
    }
}

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

// Copies n bytes from distance bytes back, byte after byte in effect (an overlapping copy
// repeats the pattern), with positions taken modulo the window size. Until the window has
// wrapped once (wrapped false), slots at or past pos were never written and read as zero;
// the window is not cleared between entries.
inline void CopyInWindow(uint8_t* window, uint32_t& pos, bool& wrapped, uint32_t distance, uint32_t n) {
    if ((wrapped || (distance != 0 && distance <= pos)) && distance != 0) {
        const uint32_t src = (pos - distance) & kWindowMask;
        if (pos + n <= kWindowSize && src + n <= kWindowSize) {
            uint8_t* d = window + pos;
            const uint8_t* s = window + src;
            if (distance == 1) {
                std::memset(d, *s, n);
            } else if (src >= pos || pos - src >= 8) {
                // Eight bytes are loaded before any of them is stored: the same as a
                // forward byte copy when the source is ahead or at least eight behind.
                uint32_t i = 0;
                for (; i + 8 <= n; i += 8) Store64(d + i, Load64(s + i));
                for (; i < n; ++i) d[i] = s[i];
            } else {
                for (uint32_t i = 0; i < n; ++i) d[i] = s[i];
            }
            pos += n;
            if (pos == kWindowSize) {
                pos = 0;
                wrapped = true;
            }
            return;
        }
    }
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t src = (pos - distance) & kWindowMask;
        window[pos] = (!wrapped && src >= pos) ? 0 : window[src];
        if (++pos == kWindowSize) {
            pos = 0;
            wrapped = true;
        }
    }
}

// Where decoded bytes go: the window, the next position, whether the window has been
// filled once, the position up to which it has been written out, and the bytes still due.
struct Output {
    uint8_t* window;
    uint32_t pos;
    bool wrapped;
    uint32_t flushed;
    int64_t left;
};

inline void EmitByte(Output& o, uint8_t b) {
    o.window[o.pos] = b;
    if (++o.pos == kWindowSize) {
        o.pos = 0;
        o.wrapped = true;
    }
    --o.left;
}

// Reads the length and distance of the copy that main symbol sym (256..268, 270..297)
// starts, updates the copy state and copies. Returns the bytes copied.
inline uint32_t DecodeCopy(DecoderWork& w, BitCursor& b, uint32_t sym, Output& o) {
    uint32_t length = 0;
    uint32_t distance = 0;
    if (sym == kSymCopyAgain) {
        length = w.last_length;
        distance = w.last_distance;
    } else if (sym < kSymShortFirst) {
        distance = w.ring[(w.ring_pointer - (sym - kSymCopyAgain)) & 3u];
        const uint32_t r = TakeSymbol(b, w.repeat_code);
        length = kLengthBase[r] + 2 + TakeBits(b, kLengthExtra[r]);
        length += (distance >= kRecentBonusDistance) + (distance >= kBonusDistance1) + (distance >= kBonusDistance2);
    } else if (sym < kSymEndOfBlock) {
        const uint32_t k = sym - kSymShortFirst;
        distance = kShortBase[k] + 1 + TakeBits(b, kShortExtra[k]);
        length = 2;
    } else {
        const uint32_t l = sym - kSymLongFirst;
        length = kLengthBase[l] + 3 + TakeBits(b, kLengthExtra[l]);
        const uint32_t d = TakeSymbol(b, w.distance_code);
        distance = kDistanceBase[d] + 1 + TakeBits(b, kDistanceExtra[d]);
        length += (distance >= kBonusDistance1) + (distance >= kBonusDistance2);
    }
    w.last_distance = distance;
    w.ring[w.ring_pointer & 3u] = distance;
    ++w.ring_pointer;
    w.last_length = length;
    const auto n = static_cast<uint32_t>(std::min<int64_t>(length, o.left));
    o.left -= n;
    CopyInWindow(o.window, o.pos, o.wrapped, distance, n);
    return n;
}

// ---- The fast loop ---------------------------------------------------------------------
//
// LZ blocks decode in two loops. The fast loop takes whole steps (a literal, two literals
// or one copy) without checking the input, the window's end, the entry's end or the next
// flush point, because it stops short of all of them by the margins below; the careful
// loop takes one step at a time with every check, and flushes the window.

// The longest copy one symbol makes: the longest length slot with all its extra bits, and
// every bonus its kind of copy can earn (a long copy two far-distance bonuses, a recent-
// distance copy those and one more, on a base one shorter).
constexpr uint32_t LongestCopy() {
    const uint32_t last_slot = kLengthBase[kRepeatSymbols - 1] + (1u << kLengthExtra[kRepeatSymbols - 1]) - 1;
    const uint32_t long_copy = last_slot + 3 + 2;
    const uint32_t recent_copy = last_slot + 2 + 3;
    return long_copy > recent_copy ? long_copy : recent_copy;
}
inline constexpr uint32_t kLongestCopy = LongestCopy();
// At most this many bytes come out of one step: one copy, or two literals.
inline constexpr uint32_t kMostBytesOfAStep = kLongestCopy > 2 ? kLongestCopy : 2;
// The fast loop begins a step only this far from the entry's end and from the window's
// end, so that a step never reaches either: the careful loop writes the last byte.
inline constexpr int64_t kEndMargin = kMostBytesOfAStep + 1;
// The careful loop writes the window out when the write position has come within
// kFlushMargin - 1 bytes behind the flushed position, so that no copy overwrites bytes
// that have not gone out; the fast loop stops kFlushMargin bytes short of it.
inline constexpr uint32_t kFlushMargin = kLongestCopy + 10;
static_assert(kLongestCopy == 260 && kEndMargin == 261 && kFlushMargin == 270);

// True when the write position has come within kFlushMargin - 1 bytes (a whole copy and
// then some) behind the flushed position: the bytes there must go out before they are
// overwritten.
inline bool NearFlush(const Output& o) { return ((o.flushed - o.pos) & kWindowMask) - 1u < kFlushMargin - 1; }

// The most bits one step takes: the main code, then for a long copy its length extra
// bits, the distance code and its extra bits (a recent-distance copy takes fewer: the
// repeat code and its extra bits). RefillFast leaves kRefillBits, which covers a step.
inline constexpr int kMostBitsOfAStep = kMaxCodeLength + kLengthExtra[kRepeatSymbols - 1] + kMaxCodeLength +
                                        kDistanceExtra[kDistanceSymbols - 1];
static_assert(kMostBitsOfAStep <= kRefillBits);
// After one code there are still kRefillBits - kMaxCodeLength bits: enough for a second
// literal whose code the look-up table settles (at most kFastBits long).
static_assert(kRefillBits - kMaxCodeLength >= kFastBits);

// Fast steps while the input holds a whole refill and the output stays clear of every
// margin. The cursor, the output and the count of bytes produced live in registers here
// (window stores could alias them in memory) and go back when the loop ends. A table
// header met on the way is read; an audio block ends the loop.
inline void FastSteps(StreamState& s, DecoderWork& w, Output& o) {
    BitCursor b = w.bits;
    Output fast = o;
    uint32_t to_flush = (fast.flushed - fast.pos) & kWindowMask;
    if (to_flush == 0) to_flush = kWindowSize;
    const int64_t budget = std::min({static_cast<int64_t>(to_flush) - kFlushMargin, fast.left - kEndMargin,
                                     static_cast<int64_t>(kWindowSize) - fast.pos - kEndMargin});
    const int64_t last = static_cast<int64_t>(fast.pos) + budget;
    while (fast.pos <= last && b.end - b.next >= kRefillBytes) {
        RefillFast(b);
        const uint32_t sym = TakeSymbol(b, w.main_code);
        if (sym < 256) {
            fast.window[fast.pos++] = static_cast<uint8_t>(sym);
            const uint16_t entry = FastEntry(w.main_code, Peek16(b));
            if (entry != 0 && FastEntrySymbol(entry) < 256) {
                Consume(b, FastEntryLength(entry));
                fast.window[fast.pos++] = static_cast<uint8_t>(FastEntrySymbol(entry));
            }
        } else if (sym == kSymEndOfBlock) {
            w.bits = b;
            ReadCodeTables(s, w);
            b = w.bits;
            if (w.audio) break;
        } else {
            DecodeCopy(w, b, sym, fast);
        }
    }
    // Literals were not counted off one by one.
    const int64_t produced = static_cast<int64_t>(fast.pos) - o.pos;
    s.progress_count += static_cast<int32_t>(produced);
    fast.left = o.left - produced;
    w.bits = b;
    o = fast;
}

// Start-up state of an entry. The code tables need no clearing: each is built by a table
// header before it is used.
void ResetWork(DecoderWork& w) {
    w.bits = BitCursor{w.input, w.input, 0, 0};
    w.phantom_bytes = 0;
    w.input_ended = false;
    std::memset(w.previous_lengths, 0, sizeof(w.previous_lengths));
    w.audio = false;
    w.channels = 1;
    w.channel = 0;
    for (auto& r : w.channel_record) r = ChannelRecord{};
    w.channel_delta = 0;
    std::fill(std::begin(w.ring), std::end(w.ring), 0u);
    w.ring_pointer = 0;
    w.last_length = 0;
    w.last_distance = 0;
}

void FlushWindow(StreamState& s, const uint8_t* window, uint32_t pos, uint32_t& flushed) {
    if (pos < flushed) {
        (void)WriteUnpacked(s, window + flushed, static_cast<int32_t>(kWindowSize - flushed));
        (void)WriteUnpacked(s, window, static_cast<int32_t>(pos));
    } else {
        (void)WriteUnpacked(s, window + flushed, static_cast<int32_t>(pos - flushed));
    }
    flushed = pos;
}

uint8_t Predict(ChannelRecord& r, int32_t& channel_delta, uint32_t delta) {
    r.byte_count += 1;
    r.d[3] = r.d[2];
    r.d[2] = r.d[1];
    r.d[1] = r.last_delta - r.d[0];
    r.d[0] = r.last_delta;
    const int32_t sum = 8 * r.last_char + r.k[0] * r.d[0] + r.k[1] * r.d[1] + r.k[2] * r.d[2] +
                        r.k[3] * r.d[3] + r.k[4] * channel_delta;
    const int32_t predicted = (sum >> 3) & 0xFF;
    const auto ch = static_cast<uint8_t>(predicted - static_cast<int32_t>(delta));
    const int32_t t = static_cast<int8_t>(delta) * 8;
    const int32_t dd[5] = {r.d[0], r.d[1], r.d[2], r.d[3], channel_delta};
    r.dif[0] += static_cast<uint32_t>(std::abs(t));
    for (int j = 0; j < 5; ++j) {
        r.dif[1 + 2 * j] += static_cast<uint32_t>(std::abs(t - dd[j]));
        r.dif[2 + 2 * j] += static_cast<uint32_t>(std::abs(t + dd[j]));
    }
    r.last_delta = channel_delta = static_cast<int8_t>(ch - r.last_char);
    r.last_char = ch;
    if (r.byte_count % 32 == 0) {
        int best = 0;
        for (int j = 1; j < 11; ++j)
            if (r.dif[j] < r.dif[best]) best = j;
        std::memset(r.dif, 0, sizeof(r.dif));
        if (best > 0) {
            int32_t& k = r.k[(best - 1) / 2];
            if (best % 2 == 1) {
                if (k >= -16) --k;
            } else {
                if (k < 16) ++k;
            }
        }
    }
    return ch;
}

bool EnsureWork(DecoderState& d, StreamState& s) {
    if (d.work) return true;
    if (!platform::FaultPoint(platform::FaultKind::kAlloc)) d.work = AllocObject<DecoderWork>();
    return d.work ? true : Fail(s, Status::kNoMemory);
}


}  // namespace

bool AllocDecoder(DecoderState& d, StreamState& s) {
    if (!d.window && !platform::FaultPoint(platform::FaultKind::kAlloc))
        d.window = AllocBytes(kWindowSize);
    if (!d.window || !EnsureWork(d, s)) {
        FreeDecoder(d);
        return Fail(s, Status::kNoMemory);
    }
    return true;
}

void FreeDecoder(DecoderState& d) {
    d.window.reset();
    d.work.reset();
}

void BuildDecodeTable(const uint8_t* lengths, DecodeTable& table, uint32_t size) {
    uint32_t count[16] = {};
    for (uint32_t s = 0; s < size; ++s) ++count[lengths[s] & 15u];
    count[0] = 0;
    uint32_t code = 0;
    table.limit[0] = 0;
    table.first_index[0] = 0;
    for (int n = 1; n <= 15; ++n) {
        code = 2 * (code + count[n]);
        table.limit[n] = std::min<uint32_t>(code << (15 - n), 0xFFFFu);
        table.first_index[n] = table.first_index[n - 1] + count[n - 1];
    }
    uint32_t next[16];
    std::memcpy(next, table.first_index, sizeof(next));
    std::memset(table.symbols, 0, sizeof(table.symbols));
    for (uint32_t s = 0; s < size; ++s) {
        const uint32_t n = lengths[s] & 15u;
        if (n != 0) table.symbols[next[n]++] = static_cast<uint16_t>(s);
    }
    table.alphabet_size = size;

    // A prefix of fast_bits bits is settled when all look-ahead values that start with it
    // have the same length n <= fast_bits. Limits up to that length are multiples of the
    // prefix step (a limit cut to 0xFFFF ends the last prefix alike), so the prefixes of
    // length n are exactly those between limit[n - 1] and limit[n]; each code of length n
    // fills 2^(fast_bits - n) of them.
    const int bits = size > 64 ? kFastBits : kSmallFastBits;
    table.fast_bits = bits;
    const uint32_t entries = 1u << bits;
    uint32_t p = 0;
    for (int n = 1; n <= bits; ++n) {
        const uint32_t upper = table.limit[n] == 0xFFFFu ? 0x10000u : table.limit[n];
        const uint32_t end = std::min(upper >> (16 - bits), entries);
        const uint32_t run = 1u << (bits - n);
        for (uint32_t i = table.first_index[n]; p < end; ++i) {
            const uint16_t entry = MakeFastEntry(n, table.symbols[i < size ? i : 0]);
            for (uint32_t k = 0; k < run && p < end; ++k) table.fast[p++] = entry;
        }
    }
    for (; p < entries; ++p) table.fast[p] = 0;
}

DecodedSymbol DecodeSymbol(const DecodeTable& table, uint32_t look_ahead) {
    const uint32_t v = look_ahead & 0xFFFEu;
    const int n = LengthFor(table, v);
    uint32_t i = table.first_index[n] + ((v - table.limit[n - 1]) >> (16 - n));
    if (i >= table.alphabet_size) i = 0;
    return {table.symbols[i], n};
}

bool DecodeEntry(DecoderState& d, StreamState& s, uint8_t* window) {
    HeapBytes own_window;
    if (window == nullptr) window = d.window.get();
    if (window == nullptr) {
        if (!platform::FaultPoint(platform::FaultKind::kAlloc)) own_window = AllocBytes(kWindowSize);
        if (!own_window) return Fail(s, Status::kNoMemory);
        window = own_window.get();
    }
    if (!EnsureWork(d, s)) return false;
    DecoderWork& w = *d.work;
    ResetWork(w);
    s.progress_count = 0;

    // Output never goes past the entry's unpacked size: a last copy that reaches beyond it
    // is cut short.
    Output o{window, 0, false, 0, s.unpacked_left};
    if (o.left > 0) {
        ReadCodeTables(s, w);
        while (o.left > 0) {
#ifndef HEDGEROW_COMPACT
            // (the compact build, the self-extractor program, takes careful steps only:
            // slower, and the fast loop's bytes stay out of a program that must be small)
            if (!w.audio) {
                FastSteps(s, w, o);
                if (o.left <= 0) break;
            }
#endif
            // One careful step.
            Refill(s, w);
            if (PastEnd(w)) break;  // damaged: the packed data has run out
            if (NearFlush(o)) {
                FlushWindow(s, window, o.pos, o.flushed);
                if (!StreamOk(s)) {
                    s.unpacked_left = static_cast<int32_t>(o.left);
                    return false;
                }
            }
            if (w.audio) {
                const uint32_t sym = TakeSymbol(w.bits, w.channel_code[w.channel]);
                if (sym == kAudioEndOfBlock) {
                    ReadCodeTables(s, w);
                    continue;
                }
                EmitByte(o, Predict(w.channel_record[w.channel], w.channel_delta, sym));
                s.progress_count += 1;
                w.channel = (w.channel + 1) % w.channels;
                continue;
            }
            const uint32_t sym = TakeSymbol(w.bits, w.main_code);
            if (sym < 256) {
                EmitByte(o, static_cast<uint8_t>(sym));
                s.progress_count += 1;
            } else if (sym == kSymEndOfBlock) {
                ReadCodeTables(s, w);
            } else {
                s.progress_count += static_cast<int32_t>(DecodeCopy(w, w.bits, sym, o));
            }
        }
    }
    FlushWindow(s, window, o.pos, o.flushed);
    s.unpacked_left = static_cast<int32_t>(o.left);
    return StreamOk(s);
}

bool ExpandEntry(DecoderState& d, StreamState& s) {
    s.data_crc = 0xFFFFFFFFu;
    ArmChainBlock(s);
    const bool compressed = static_cast<uint64_t>(s.packed_left) < static_cast<uint64_t>(static_cast<uint32_t>(s.unpacked_size));
    if (!compressed) return CopyStoredEntry(s);
    if (d.window) return DecodeEntry(d, s, d.window.get());
    if (!AllocDecoder(d, s)) return false;
    const bool decoded = DecodeEntry(d, s, d.window.get());
    FreeDecoder(d);
    return decoded;
}

}  // namespace hedgerow::codec
