// encoder.cpp -- the encoder of level 5: the LZ77 match finder (hash chains over 256 KiB,
// lazy evaluation) as the format describes it; its symbols go to the shared block coder.
#include "codec/encoder.h"

#include <algorithm>
#include <cstring>

#include "codec/stream.h"
#include "common/compiler.h"
#include "crypto/cipher.h"
#include "platform/platform.h"

namespace hedgerow::codec {

namespace {

// ---- Match finder -------------------------------------------------------------------

inline uint32_t InsertString(EncoderTables& t, uint32_t p) {
    t.hash = ((t.hash << kHashShift) ^ t.window[p + 2]) & kHashMask;
    const uint32_t h = t.head[t.hash];
    t.prev[p & kHashMask] = h;
    t.head[t.hash] = p;
    return h;
}

// Equal bytes at a and b, at most kSearch.longest_compare.
inline uint32_t CompareStrings(const uint8_t* a, const uint8_t* b) {
    uint32_t n = 0;
    while (n + 8 <= kSearch.longest_compare) {
        uint64_t x;
        uint64_t y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y) return n + static_cast<uint32_t>(CountTrailingZeros64(x ^ y) >> 3);
        n += 8;
    }
    while (n < kSearch.longest_compare && a[n] == b[n]) ++n;
    return n;
}

inline uint16_t Load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

uint32_t LongestMatch(EncoderTables& t, uint32_t candidate) {
    uint32_t best = t.prev_length;
    uint32_t chain = t.prev_length >= kSearch.good_length ? kSearch.chain_limit / 4 : kSearch.chain_limit;
    const uint32_t limit = t.pos > kSearch.max_distance ? t.pos - kSearch.max_distance : 0;
    const uint8_t* const window = t.window;
    const uint32_t* const prev = t.prev;
    const uint8_t* const scan = window + t.pos;
    // A candidate can only do better if it agrees at positions best - 1 and best, and it
    // must agree at the first two: two 16-bit compares before the full one.
    const uint16_t scan_start = Load16(scan);
    uint16_t scan_end = Load16(scan + best - 1);
    uint32_t match_start = t.match_start;
    for (;;) {
        const uint8_t* match = window + candidate;
        if (Load16(match + best - 1) == scan_end && Load16(match) == scan_start) {
            const uint32_t length = CompareStrings(match, scan);
            if (length > best) {
                best = length;
                match_start = candidate;
                if (length >= kSearch.longest_compare) break;
                scan_end = Load16(scan + best - 1);
            }
        }
        if (--chain == 0) break;
        candidate = prev[candidate & kHashMask];
        if (candidate <= limit) break;
    }
    t.match_start = match_start;
    return best;
}

void FillWindow(StreamState& s, EncoderTables& t) {
    uint32_t free = kEncoderWindow - t.lookahead - t.pos;
    if (t.pos >= kShiftAt) {
        std::memmove(t.window, t.window + kHalfWindow, kHalfWindow);
        t.shifted = true;
        t.pos -= kHalfWindow;
        t.match_start -= kHalfWindow;
        for (auto& h : t.head) h = h >= kHalfWindow ? h - kHalfWindow : 0;
        for (auto& p : t.prev) p = p >= kHalfWindow ? p - kHalfWindow : 0;
        free += kHalfWindow;
    }
    if (t.at_end) return;
    uint8_t* to = t.window + t.pos + t.lookahead;
    const int32_t got = ReadSource(s, to, static_cast<int32_t>(free));
    t.lookahead += static_cast<uint32_t>(got);
    t.dirty_end = std::max(t.dirty_end, t.pos + t.lookahead);
    if (got <= 0 || static_cast<uint32_t>(got) < free) t.at_end = true;
}

}  // namespace

bool AllocEncoderTables(EncoderState& e, StreamState& s) {
    FreeEncoderTables(e);
    if (e.level == kStoreLevel) return true;
    if (e.level != kDefaultLevel) {
        if (!platform::FaultPoint(platform::FaultKind::kAlloc))
            e.chains.reset(static_cast<ChainTables*>(std::calloc(1, sizeof(ChainTables))));
        if (!e.chains) return Fail(s, Status::kNoMemory);
        InitBlockCoder(e.chains->coder);
        e.chains->coder.quick_codes = true;
        return true;
    }
    if (!platform::FaultPoint(platform::FaultKind::kAlloc))
        e.tables.reset(static_cast<EncoderTables*>(std::calloc(1, sizeof(EncoderTables))));
    if (!e.tables) return Fail(s, Status::kNoMemory);
    EncoderTables& t = *e.tables;
    InitBlockCoder(t.coder);
    t.dirty_end = 0;  // the whole window is zero
    return true;
}

void FreeEncoderTables(EncoderState& e) {
    e.tables.reset();
    e.chains.reset();
}

void InitMatchState(EncoderTables& t) {
    t.hash = 0;
    t.prev_length = 1;
    t.match_length = 1;
    t.match_start = 0;
    t.prev_match = 0;
    t.match_available = false;
    t.at_end = false;
}

void StartEncoder(EncoderTables& t, StreamState& s) {
    // A file that never shifted its window left its entries only at the hashes of its
    // positions, and its bytes are still in the window: clearing those costs less than
    // clearing 2 MB for every small file.
    if (t.shifted || t.inserted_end > kHalfWindow / 2) {
        std::memset(t.head, 0, sizeof(t.head));
        std::memset(t.prev, 0, sizeof(t.prev));
    } else if (t.inserted_end > 0) {
        uint32_t hash = t.window[0];
        hash = ((hash << kHashShift) ^ t.window[1]) & kHashMask;
        for (uint32_t p = 0; p < t.inserted_end; ++p) {
            hash = ((hash << kHashShift) ^ t.window[p + 2]) & kHashMask;
            t.head[hash] = 0;
        }
        std::memset(t.prev, 0, t.inserted_end * sizeof(t.prev[0]));
    }
    t.shifted = false;
    t.inserted_end = 0;
    t.pos = 0;
    const int32_t got = ReadSource(s, t.window, static_cast<int32_t>(kHalfWindow));
    t.lookahead = got > 0 ? static_cast<uint32_t>(got) : 0;
    if (got <= 0) t.at_end = true;
    // Every file starts from a zero-filled window: bytes behind the end of the source take
    // part in match comparisons, so they must not depend on earlier files.
    if (t.dirty_end > t.lookahead) std::memset(t.window + t.lookahead, 0, t.dirty_end - t.lookahead);
    t.dirty_end = t.lookahead;
    t.hash = t.window[0];
    t.hash = ((t.hash << kHashShift) ^ t.window[1]) & kHashMask;
}

void Encode(EncoderTables& t, StreamState& s) {
    s.progress_count = 0;
    while (t.lookahead > 0) {
        const uint32_t head = InsertString(t, t.pos);
        // The next position's chain head: its hash is known already.
        Prefetch(&t.head[((t.hash << kHashShift) ^ t.window[t.pos + 3]) & kHashMask]);
        if (head != 0) {
            Prefetch(t.window + head + t.match_length);
            Prefetch(&t.prev[head & kHashMask]);
        }
        t.prev_length = t.match_length;
        t.prev_match = t.match_start;
        t.match_length = 1;
        if (head != 0 && t.prev_length < kSearch.lazy_limit && t.pos - head <= kSearch.max_distance) {
            uint32_t length = LongestMatch(t, head);
            length = std::min(length, t.lookahead);
            length = std::min(length, kSearch.longest_copy);
            if (length < kSearch.shortest_copy) length = 1;
            if (length == kSearch.shortest_copy && t.pos - t.match_start >= kBonusDistance1) length = 1;
            t.match_length = length;
        }
        if (t.prev_length >= 2 && t.match_length <= t.prev_length) {
            const uint32_t length = t.prev_length;
            EmitCopy(s, t.coder, length, t.pos - 1 - t.prev_match);
            s.progress_count += static_cast<int32_t>(length);
            t.lookahead -= length - 1;
            const uint32_t last = t.pos + length - 2;
            for (uint32_t p = t.pos + 1; p <= last; ++p) (void)InsertString(t, p);
            t.pos += length - 1;
            t.match_available = false;
            t.match_length = 1;
        } else {
            if (t.match_available) {
                AddLiteral(s, t.coder, t.window[t.pos - 1]);
            } else {
                t.match_available = true;
            }
            ++t.pos;
            --t.lookahead;
            s.progress_count += 1;
        }
        while (t.lookahead < kSearch.min_lookahead && !t.at_end) {
            // A host that cancelled, or a failed write, ends the file here: what would
            // follow is thrown away, and a large file would keep the host waiting.
            if (!KeepGoing(s)) {
                t.inserted_end = t.pos;  // as at the end: the next file clears these
                return;
            }
            FillWindow(s, t);
        }
    }
    if (t.match_available) AddLiteral(s, t.coder, t.window[t.pos - 1]);
    t.inserted_end = t.pos;  // every position below pos has been inserted
}

bool FinishEncoding(EncoderTables& t, StreamState& s) {
    FlushBlock(t.coder, s, false);
    return FlushBitWriter(s);
}

bool CompressSource(EncoderState& e, StreamState& s, int32_t* packed_size) {
    *packed_size = 0;
    const bool tables_ready = e.level == kStoreLevel || (e.level == kDefaultLevel ? e.tables != nullptr : e.chains != nullptr);
    if (!tables_ready || !s.out_buffer) return Fail(s, Status::kNoMemory);
    const int64_t payload_start = s.channel != nullptr ? 0 : platform::Tell(s.output);
    const int64_t length = platform::Length(s.source_file);
    if (payload_start < 0 || length < 0) return Fail(s, Status::kIoError);
    if (length > INT32_MAX) return Fail(s, Status::kUnsupported);

    const int32_t cipher_id = s.cipher_id;
    s.data_crc = 0xFFFFFFFFu;
    ResetPackedOutput(s);
    s.unpacked_size = static_cast<int32_t>(length);
    s.cipher_id = cipher_id;
    ArmChainBlock(s);

    if (e.level == kDefaultLevel) {
        EncoderTables& t = *e.tables;
        InitMatchState(t);
        StartEncoder(t, s);
        ResetCopyState(t.coder);
        InitBitWriter(s);
        Encode(t, s);
        if (!FinishEncoding(t, s)) return false;
    } else if (e.level == kStoreLevel) {
        s.not_worth_it = true;
    } else if (!EncodeWithChains(*e.chains, s, e.level)) {
        return false;
    }
    if (s.not_worth_it) {
        if (!platform::SeekTo(s.source_file, 0) || !RestartPacked(s, static_cast<uint64_t>(payload_start)))
            return Fail(s, Status::kIoError);
        const int32_t stored = StoreSourceFile(s);
        if (!StreamOk(s)) return false;
        s.packed_count = stored;
    }
    *packed_size = s.packed_count;
    return true;
}

}  // namespace hedgerow::codec
