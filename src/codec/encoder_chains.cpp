// encoder_chains.cpp -- the hash-chain match finders of levels 1 to 4 and 6 to 9: a
// sliding window of up to 2 MiB, greedy or lazy parsing with the recent distances tried
// first, and the symbols handed to the block coder.
#include "codec/encoder_chains.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/byte_order.h"
#include "common/compiler.h"

namespace hedgerow::codec {

namespace {

// Positions restart on cleared tables before a file's positions could pass 2^32.
inline constexpr uint64_t kRestartPositions = 0xFFFFFFFFu;

struct Match {
    uint32_t length = 0;    // 0: none
    uint32_t distance = 0;
    bool recent = false;    // the distance is one of the four recent ones
};

// One file's pass over the window.
struct Pass {
    ChainTables& t;
    StreamState& s;
    const ChainParameters& p;
    uint32_t max_distance;
    uint32_t prev_mask;
    uint32_t file_start;    // position of the file's first byte
    uint32_t end = 0;       // window bytes held
    bool at_end = false;    // the source has no more bytes
    uint32_t inserted = 0;  // window indexes below this are in the tables
};

inline uint32_t Hash(const ChainParameters& p, const uint8_t* q) {
    uint32_t v = Load32Le(q);
    if (p.hash_bytes == 3) v <<= 8;
    return (v * 2654435761u) >> (32 - p.hash_bits);
}

// Hash of the first `bytes` (4 to 8) bytes of a little-endian word, for the single-probe
// levels: longer keys find fewer but longer copies.
inline uint32_t HashWord(uint64_t word, uint32_t bytes, uint32_t bits) {
    return static_cast<uint32_t>(((word << (64 - 8 * bytes)) * 0xCF1BBCDCB7A56463ull) >> (64 - bits));
}

// Equal bytes at a and b, at most limit.
inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t n = 0;
    while (n + 8 <= limit) {
        const uint64_t x = Load64Le(a + n) ^ Load64Le(b + n);
        if (x != 0) return n + static_cast<uint32_t>(CountTrailingZeros64(x) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

// Inserts window index i and returns the position that was at the head of its hash.
inline uint32_t Insert(Pass& f, uint32_t i) {
    const uint32_t h = Hash(f.p, f.t.window + i);
    const uint32_t position = f.t.origin + i;
    const uint32_t head = f.t.head[h];
    f.t.prev[position & f.prev_mask] = head;
    f.t.head[h] = position;
    return head;
}

inline void InsertUpTo(Pass& f, uint32_t i) {
    for (; f.inserted < i; ++f.inserted) (void)Insert(f, f.inserted);
}

// Moves the last max_distance bytes before i to the front when the window is nearly full,
// then reads as much of the source as fits and zeroes the slack behind it.
void Fill(Pass& f, uint32_t& i) {
    ChainTables& t = f.t;
    if (f.at_end) return;
    if (kChainWindow - f.end < kChainWindow / 4 && i > f.max_distance) {
        const uint32_t shift = i - f.max_distance;
        std::memmove(t.window, t.window + shift, f.end - shift);
        t.origin += shift;
        f.end -= shift;
        f.inserted = std::max(f.inserted, shift) - shift;
        i -= shift;
    }
    const int32_t got = ReadSource(f.s, t.window + f.end, static_cast<int32_t>(kChainWindow - f.end));
    if (got <= 0 || static_cast<uint32_t>(got) < kChainWindow - f.end) f.at_end = true;
    if (got > 0) f.end += static_cast<uint32_t>(got);
    std::memset(t.window + f.end, 0, kChainSlack);
}

// The shortest copy worth sending: three bytes (and the far-distance bonuses).
inline bool Sendable(uint32_t length, uint32_t distance) { return length >= ShortestLongCopy(distance); }

// Rough cost in bits saved by a copy, to compare candidates of different length and
// distance: four per byte, less the distance's extra bits (a recent distance costs
// almost none).
inline int32_t Gain(const Match& m) {
    if (m.length == 0) return 0;
    const int32_t distance_bits = m.recent ? 1 : static_cast<int32_t>(std::bit_width(m.distance));
    return static_cast<int32_t>(4 * m.length) - distance_bits;
}

// The best copy at window index i: the recent distances first (levels that parse lazily),
// then the hash chain. Inserts every index up to i.
Match Search(Pass& f, uint32_t i) {
    ChainTables& t = f.t;
    InsertUpTo(f, i);
    const uint32_t position = t.origin + i;
    uint32_t candidate = Insert(f, i);
    f.inserted = i + 1;
    const uint32_t limit = std::min(kLongestSentCopy, f.end - i);
    Match best;
    if (limit < 3) return best;
    const uint8_t* const here = t.window + i;
    const uint32_t reach = std::min(f.max_distance, position - f.file_start);
    if (f.p.lazy != 0) {
        const BlockCoder& c = t.coder;
        for (uint32_t k = 1; k <= f.p.recent; ++k) {
            const uint32_t d = c.ring[(c.ring_pointer - k) & 3u];
            if (d == 0 || d > reach) continue;
            const uint32_t length = MatchLength(here - d, here, limit);
            if (length > best.length && Sendable(length, d)) best = {length, d, true};
        }
        if (best.length >= f.p.nice_length) return best;
    }
    uint32_t chain = f.p.chain_limit;
    uint32_t longest = best.length;  // the length to beat
    while (chain-- != 0) {
        const uint32_t distance = position - candidate;
        if (distance == 0 || distance > reach) break;
        const uint8_t* match = here - distance;
        if (longest < limit && match[longest] == here[longest] && Load16Le(match) == Load16Le(here)) {
            const uint32_t length = MatchLength(match, here, limit);
            if (length > longest && Sendable(length, distance)) {
                const Match found{length, distance, false};
                // A recent distance found earlier stays unless the chain's copy gains more.
                if (!best.recent || Gain(found) > Gain(best)) best = found;
                longest = length;
                if (length >= f.p.nice_length || length >= limit) break;
            }
        }
        candidate = t.prev[candidate & f.prev_mask];
    }
    return best;
}

void Send(Pass& f, const Match& m) {
    if (m.length == 2) {
        EmitShortCopy(f.s, f.t.coder, m.distance);
    } else {
        EmitCopy(f.s, f.t.coder, m.length, m.distance);
    }
}

// After a copy of length bytes at i: hash its inner positions (or skip them when the copy
// is longer than the level hashes through).
inline void PassCopy(Pass& f, uint32_t i, uint32_t length) {
    if (f.p.insert_limit != 0 && length > f.p.insert_limit) f.inserted = i + length;
}

// Keeps the look-ahead filled before the step at i. False when the pass should end: a
// failure or a stop, or a payload that has reached the source's size (it will be stored).
bool Refill(Pass& f, uint32_t& i) {
    if (!KeepGoing(f.s)) return false;
    Fill(f, i);
    f.s.progress_count = static_cast<int32_t>(f.t.origin + i - f.file_start);
    return !f.s.not_worth_it;
}

inline bool Ahead(Pass& f, uint32_t& i) {
    if (f.end - i < kChainMinLookahead && !f.at_end) [[unlikely]]
        return Refill(f, i);
    return !f.s.not_worth_it;
}

// Greedy parsing with a single search per position and growing steps through data that
// does not match: a literal run of 2^skip_shift misses makes each next step one longer.
void ParseGreedy(Pass& f) {
    uint32_t i = 0;
    uint32_t misses = 0;
    while (i < f.end) {
        if (!Ahead(f, i)) return;
        const Match m = Search(f, i);
        if (m.length != 0) {
            Send(f, m);
            PassCopy(f, i, m.length);
            i += m.length;
            misses = 0;
            continue;
        }
        const uint32_t step = f.p.skip_shift == 0 ? 1 : 1 + (misses++ >> f.p.skip_shift);
        const uint32_t stop = std::min(f.end, i + step);
        for (; i < stop; ++i) AddLiteral(f.s, f.t.coder, f.t.window[i]);
        f.inserted = std::max(f.inserted, i);
    }
}

// The fastest levels: one candidate per position, the newest with the same hash (no chains
// are kept), after the most recent distance; greedy, with the first and last positions of
// each copy hashed, and growing steps through data that does not match.
void ParseSingleProbe(Pass& f) {
    ChainTables& t = f.t;
    BlockCoder& c = t.coder;
    const uint32_t bytes = f.p.hash_bytes;
    const uint32_t bits = f.p.hash_bits;
    uint32_t i = 0;
    uint32_t misses = 0;
    while (i < f.end) {
        if (!Ahead(f, i)) return;
        const uint32_t limit = std::min(kLongestSentCopy, f.end - i);
        if (limit < 4) {
            AddLiteral(f.s, c, t.window[i]);
            ++i;
            continue;
        }
        const uint8_t* const here = t.window + i;
        const uint32_t position = t.origin + i;
        const uint32_t reach = std::min(f.max_distance, position - f.file_start);
        const uint64_t word = Load64Le(here);
        const uint32_t h = HashWord(word, bytes, bits);
        const uint32_t candidate = t.head[h];
        t.head[h] = position;
        uint32_t length = 0;
        uint32_t distance = c.ring[(c.ring_pointer - 1) & 3u];
        if (distance - 1 < reach && Load32Le(here - distance) == static_cast<uint32_t>(word)) {
            length = 4 + MatchLength(here - distance + 4, here + 4, limit - 4);
            if (!Sendable(length, distance)) length = 0;
        } else {
            distance = position - candidate;
            if (distance - 1 < reach && Load32Le(here - distance) == static_cast<uint32_t>(word)) {
                length = 4 + MatchLength(here - distance + 4, here + 4, limit - 4);
                if (!Sendable(length, distance)) length = 0;
            }
        }
        if (length != 0) {
            EmitCopy(f.s, c, length, distance);
            // The copy's second and next-to-last positions, for the copies that follow.
            const uint32_t late = i + length - 2;
            t.head[HashWord(Load64Le(here + 1), bytes, bits)] = position + 1;
            t.head[HashWord(Load64Le(t.window + late), bytes, bits)] = t.origin + late;
            i += length;
            misses = 0;
            continue;
        }
        const uint32_t step = 1 + (misses++ >> f.p.skip_shift);
        const uint32_t stop = std::min(f.end, i + step);
        for (; i < stop; ++i) AddLiteral(f.s, c, t.window[i]);
    }
}

// Lazy parsing: a copy found at i is sent only when the next position (and, at depth 2,
// the one after) finds none that gains more; otherwise a literal goes out and the better
// copy becomes the candidate.
void ParseLazy(Pass& f) {
    uint32_t i = 0;
    while (i < f.end) {
        if (!Ahead(f, i)) return;
        Match m = Search(f, i);
        if (m.length == 0) {
            AddLiteral(f.s, f.t.coder, f.t.window[i]);
            ++i;
            continue;
        }
        while (m.length < f.p.nice_length && i + 1 < f.end) {
            const Match next = Search(f, i + 1);
            if (next.length != 0 && Gain(next) > Gain(m) + 4) {
                AddLiteral(f.s, f.t.coder, f.t.window[i]);
                ++i;
                m = next;
                continue;
            }
            if (f.p.lazy < 2 || i + 2 >= f.end) break;
            const Match after = Search(f, i + 2);
            if (after.length != 0 && Gain(after) > Gain(m) + 7) {
                AddLiteral(f.s, f.t.coder, f.t.window[i]);
                AddLiteral(f.s, f.t.coder, f.t.window[i + 1]);
                i += 2;
                m = after;
                continue;
            }
            break;
        }
        Send(f, m);
        PassCopy(f, i, m.length);
        i += m.length;
    }
}

}  // namespace

bool EncodeWithChains(ChainTables& t, StreamState& s, int level) {
    const ChainParameters& p = kChainLevels[static_cast<size_t>(level)];
    const uint64_t last_position = uint64_t{t.next_start} + static_cast<uint32_t>(s.unpacked_size) + kChainWindow;
    if (t.next_start == 0) {
        t.next_start = 1;  // fresh tables: zero from their allocation
    } else if (last_position >= kRestartPositions) {
        std::memset(t.head, 0, sizeof t.head);
        std::memset(t.prev, 0, sizeof t.prev);
        t.next_start = 1;
    }
    Pass f{t, s, p, 1u << p.window_bits, (1u << p.window_bits) - 1u, t.next_start};
    t.origin = f.file_start;
    ResetCopyState(t.coder);
    InitBitWriter(s);
    s.progress_count = 0;
    uint32_t i = 0;
    Fill(f, i);
    if (p.chain_limit == 0) {
        ParseSingleProbe(f);
    } else if (p.lazy == 0) {
        ParseGreedy(f);
    } else {
        ParseLazy(f);
    }
    // The next file's positions begin past everything this one put in the tables.
    t.next_start = t.origin + f.end + 1;
    if (!StreamOk(s)) return false;
    s.progress_count = s.unpacked_size;
    FlushBlock(t.coder, s, false);
    return FlushBitWriter(s);
}

size_t ChainTablesFootprint(int level) {
    const ChainParameters& p = kChainLevels[static_cast<size_t>(level)];
    const size_t chains = p.chain_limit == 0 ? 0 : sizeof(uint32_t) << p.window_bits;
    return sizeof(ChainTables::window) + (sizeof(uint32_t) << p.hash_bits) + chains + sizeof(BlockCoder);
}

}  // namespace hedgerow::codec
