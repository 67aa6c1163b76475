// encoder_chains.cpp -- the match finders of levels 1 to 4 and 6 to 9: a sliding window of
// up to 2 MiB, greedy or lazy parsing over hash chains with the recent distances tried
// first, an optimal parse over binary trees, and the symbols handed to the block coder.
#include "codec/encoder_chains.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <iterator>
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
    uint32_t recent = 0;    // 1: the distance is one of the four recent ones (a word: a lone byte in the
                            // returned pair made its callers reload it through memory)
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
// then the hash chain, where only copies longer than `beat` count (the copy a lazy step
// already holds; at good_length or more, a quarter of the chain is walked). Inserts every
// index up to i. Inlined into the parsers: returned through memory, the pair cost a stall.
HEDGEROW_ALWAYS_INLINE Match Search(Pass& f, uint32_t i, uint32_t beat = 0) {
    ChainTables& t = f.t;
    const ChainParameters& p = f.p;
    // Locals: for the compiler, the table stores below could change the state's fields.
    const uint32_t origin = t.origin;
    const uint32_t prev_mask = f.prev_mask;
    // This position's head is asked for first: the copy's positions go in meanwhile.
    const uint32_t h = Hash(p, t.window + i);
    Prefetch(&t.head[h]);
    for (uint32_t k = f.inserted; k < i; ++k) {
        const uint32_t hk = Hash(p, t.window + k);
        t.prev[(origin + k) & prev_mask] = t.head[hk];
        t.head[hk] = origin + k;
    }
    const uint32_t position = origin + i;
    uint32_t candidate = t.head[h];
    t.prev[position & prev_mask] = candidate;
    t.head[h] = position;
    f.inserted = i + 1;
    const uint32_t limit = std::min(kLongestSentCopy, f.end - i);
    Match best;
    if (limit < 3) return best;
    const uint8_t* const here = t.window + i;
    const uint32_t first = Load32Le(here);
    const uint32_t reach = std::min(f.max_distance, position - f.file_start);
    if (p.lazy != 0) {
        const BlockCoder& c = t.coder;
        for (uint32_t k = 1; k <= p.recent; ++k) {
            const uint32_t d = c.ring[(c.ring_pointer - k) & 3u];
            if (d - 1 >= reach || ((Load32Le(here - d) ^ first) & 0xFFFFFFu) != 0) continue;
            const uint32_t length = 3 + MatchLength(here - d + 3, here + 3, limit - 3);
            if (length > best.length && Sendable(length, d)) best = {length, d, 1};
        }
        if (best.length >= p.nice_length) return best;
    }
    // A candidate shares the hashed bytes and the four that end at the byte past the
    // length to beat: two word compares before the full one.
    const uint32_t hashed = p.hash_bytes == 3 ? 3 : 4;
    const uint32_t hashed_mask = p.hash_bytes == 3 ? 0xFFFFFFu : 0xFFFFFFFFu;
    const uint32_t nice = std::min(p.nice_length, limit);
    uint32_t chain = beat != 0 && beat >= p.good_length ? p.chain_limit / 4 : p.chain_limit;
    uint32_t longest = std::max(best.length, beat);  // the length to beat
    if (longest >= limit || limit < hashed) return best;
    uint32_t tail = longest < 3 ? 0 : longest - 3;
    uint32_t tail_mask = longest < 3 ? hashed_mask : 0xFFFFFFFFu;
    uint32_t tail_word = Load32Le(here + tail) & tail_mask;
    while (chain-- != 0) {
        const uint32_t distance = position - candidate;
        if (distance - 1 >= reach) break;
        const uint8_t* match = here - distance;
        if ((Load32Le(match + tail) & tail_mask) == tail_word && ((Load32Le(match) ^ first) & hashed_mask) == 0) {
            const uint32_t length = hashed + MatchLength(match + hashed, here + hashed, limit - hashed);
            if (length > longest && Sendable(length, distance)) {
                const Match found{length, distance, 0};
                // A recent distance found earlier stays unless the chain's copy gains more.
                if (!best.recent || Gain(found) > Gain(best)) best = found;
                longest = length;
                if (length >= nice) break;
                tail = longest - 3;
                tail_mask = 0xFFFFFFFFu;
                tail_word = Load32Le(here + tail);
            }
        }
        candidate = t.prev[candidate & prev_mask];
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
        while (m.length < f.p.lazy_limit && i + 1 < f.end) {
            const Match next = Search(f, i + 1, m.length);
            if (next.length != 0 && Gain(next) > Gain(m) + 4) {
                AddLiteral(f.s, f.t.coder, f.t.window[i]);
                ++i;
                m = next;
                continue;
            }
            if (f.p.lazy < 2 || i + 2 >= f.end) break;
            const Match after = Search(f, i + 2, m.length);
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


// ---- Optimal parse ----------------------------------------------------------------------
//
// Levels with `optimal` set find the matches of every position of a piece through a binary
// tree per hash (bounded work per position: at most chain_limit nodes walked, copies of
// nice_length or more end the walk and pass the positions inside them), then choose the
// cheapest path of literals and copies through the piece by dynamic programming over
// prices in 1/16 bits. The prices come from the symbols of the previous piece's path (the
// file's first piece: from its bytes, then from a first path through it), and each step
// is priced in the form the block coder will send it: copy again, a recent distance or a
// long copy, after the copy state the path has reached.

inline constexpr uint32_t kUnreached = 0xFFFFFFFFu;
inline constexpr uint32_t kBit = 16;  // price units per bit

inline uint32_t Bonuses(uint32_t distance) { return (distance >= kBonusDistance1) + (distance >= kBonusDistance2); }

// Price of a symbol seen count times among total: its share in bits, between 1 and the
// longest code.
inline uint32_t Share(uint32_t count, uint32_t total) {
    const double bits = std::log2((static_cast<double>(total) + 1.0) / (static_cast<double>(count) + 0.5));
    return static_cast<uint32_t>(std::clamp(bits, 1.0, static_cast<double>(kMaxCodeLength)) * kBit + 0.5);
}

void FillLengthPrices(ParsePrices& pr, const uint32_t* repeat_slot) {
    for (uint32_t v = 0; v < 256; ++v) {
        const uint32_t slot = LengthSlotOf(v);
        pr.repeat[v] = repeat_slot[slot] + kBit * kLengthExtra[slot];
        pr.long_length[v] = pr.main[kSymLongFirst + slot] + kBit * kLengthExtra[slot];
    }
}

// Prices before any path of the file: literals by their share of the piece's bytes, copies
// by rough guesses (shorter lengths, nearer distances and newer recent ones cheaper).
void StartPrices(ParsePrices& pr, const uint8_t* bytes, uint32_t count) {
    uint32_t seen[256] = {};
    for (uint32_t j = 0; j < count; ++j) ++seen[bytes[j]];
    for (uint32_t b = 0; b < 256; ++b) pr.main[b] = Share(seen[b], count);
    pr.main[kSymCopyAgain] = 6 * kBit;
    for (uint32_t k = 0; k < 4; ++k) pr.main[kSymRecentFirst + k] = (4 + k) * kBit;
    for (uint32_t k = kSymShortFirst; k <= kSymEndOfBlock; ++k) pr.main[k] = 8 * kBit;
    uint32_t repeat_slot[kRepeatSymbols];
    for (uint32_t slot = 0; slot < kRepeatSymbols; ++slot) {
        pr.main[kSymLongFirst + slot] = (5 + slot / 4) * kBit;
        repeat_slot[slot] = (3 + slot / 4) * kBit;
    }
    for (uint32_t slot = 0; slot < kDistanceSymbols; ++slot) pr.distance[slot] = 6 * kBit + kBit * kDistanceExtra[slot];
    FillLengthPrices(pr, repeat_slot);
}

void PricesFromCounts(ParsePrices& pr, const ParseCounts& c) {
    uint32_t total = 0;
    for (uint32_t n : c.main) total += n;
    for (int k = 0; k < kMainSymbols; ++k) pr.main[k] = Share(c.main[k], total);
    total = 0;
    for (uint32_t n : c.repeat) total += n;
    uint32_t repeat_slot[kRepeatSymbols];
    for (int k = 0; k < kRepeatSymbols; ++k) repeat_slot[k] = Share(c.repeat[k], total);
    FillLengthPrices(pr, repeat_slot);
    total = 0;
    for (uint32_t n : c.distance) total += n;
    for (int k = 0; k < kDistanceSymbols; ++k) pr.distance[k] = Share(c.distance[k], total) + kBit * kDistanceExtra[k];
}

// Finds the matches at window index j (record) and puts j at the root of its hash's
// binary tree, which orders the earlier positions by the bytes that follow them up to
// nice_length (positions equal that far count as one: the older leaves the tree). Writes
// matches of growing length to out and returns their number.
uint32_t TreeStep(Pass& f, uint32_t j, FoundMatch* out, bool record) {
    ChainTables& t = f.t;
    const uint32_t position = t.origin + j;
    const uint8_t* const here = t.window + j;
    const uint32_t h = Hash(f.p, here);
    uint32_t candidate = t.head[h];
    t.head[h] = position;
    uint32_t* smaller = &t.prev[position & f.prev_mask];  // where the next smaller position goes
    uint32_t* larger = &t.larger[position & f.prev_mask];
    const uint32_t limit = std::min(f.p.nice_length, f.end - j);
    const uint32_t longest = std::min(kLongestSentCopy, f.end - j);
    // Distances stay below the tree's size, so a candidate's node is still its own.
    const uint32_t reach = std::min(f.max_distance - 1, position - f.file_start);
    uint32_t smaller_length = 0;  // bytes every position on each side shares with here
    uint32_t larger_length = 0;
    uint32_t best = 0;
    uint32_t n = 0;
    for (uint32_t depth = f.p.chain_limit; depth != 0; --depth) {
        const uint32_t distance = position - candidate;
        if (distance - 1 >= reach) break;
        const uint8_t* const match = here - distance;
        uint32_t length = std::min(smaller_length, larger_length);
        length += MatchLength(match + length, here + length, limit - length);
        const uint32_t slot = candidate & f.prev_mask;
        if (record && length > best && Sendable(length, distance)) {
            best = length;
            const uint32_t full = length < limit ? length : length + MatchLength(match + length, here + length, longest - std::min(longest, length));
            if (n == kMostMatches) --n;  // the longest are kept
            out[n++] = {std::min(full, longest), distance};
        }
        if (length >= limit) {
            *smaller = t.prev[slot];
            *larger = t.larger[slot];
            return n;
        }
        if (match[length] < here[length]) {
            *smaller = candidate;
            smaller = &t.larger[slot];
            smaller_length = length;
            candidate = *smaller;
        } else {
            *larger = candidate;
            larger = &t.prev[slot];
            larger_length = length;
            candidate = *larger;
        }
    }
    *smaller = 0;
    *larger = 0;
    return n;
}

// The copy state after node `from` and a step of length bytes from distance back.
inline void StateAfter(ParseNode& to, const ParseNode& from) {
    if (to.length == 1) {
        std::copy(std::begin(from.ring), std::end(from.ring), std::begin(to.ring));
        to.last_length = from.last_length;
        to.last_distance = from.last_distance;
        return;
    }
    const uint32_t distance = to.distance & ~kShortCopy;
    to.ring[0] = distance;
    to.ring[1] = from.ring[0];
    to.ring[2] = from.ring[1];
    to.ring[3] = from.ring[2];
    to.last_length = to.length - Bonuses(distance);
    to.last_distance = distance;
}

// Short-copy slot of distance - 1 (below 256).
inline uint32_t ShortSlotOf(uint32_t d) {
    uint32_t k = 7;
    while (kShortBase[k] > d) --k;
    return k;
}

// Index of distance among the recent distances after node at (0 newest), 4 when absent.
inline uint32_t RecentIndex(const ParseNode& at, uint32_t distance) {
    uint32_t k = 0;
    while (k < 4 && at.ring[k] != distance) ++k;
    return k;
}

// Relaxes the nodes a copy from distance back reaches with lengths first..last (and only
// `last` past the level's nice length), priced in the form the block coder chooses.
inline void RelaxCopy(ParseTables& q, uint32_t j, uint32_t first, uint32_t last, uint32_t distance, uint32_t nice) {
    const ParseNode& at = q.nodes[j];
    const ParsePrices& pr = q.prices;
    const uint32_t k = RecentIndex(at, distance);
    const uint32_t bonus = Bonuses(distance);
    uint32_t base;
    const uint32_t* by_length;
    uint32_t offset;
    if (k < 4) {
        base = pr.main[kSymRecentFirst + k];
        by_length = pr.repeat;
        offset = bonus + 2 + (distance >= kRecentBonusDistance);
    } else {
        base = pr.distance[DistanceSlotOf(distance - 1)];
        by_length = pr.long_length;
        offset = bonus + 3;
    }
    base += at.cost;
    const uint32_t again = distance == at.last_distance ? at.last_length + bonus : 0;
    const auto relax = [&](uint32_t length) {
        const uint32_t cost = length == again ? at.cost + pr.main[kSymCopyAgain] : base + by_length[length - offset];
        ParseNode& to = q.nodes[j + length];
        if (cost < to.cost) {
            to.cost = cost;
            to.length = length;
            to.distance = distance;
        }
    };
    const uint32_t stop = std::min(last, nice);
    for (uint32_t length = first; length <= stop; ++length) relax(length);
    if (last > stop) relax(last);
}

// The cheapest path through the count positions at window index start, back to front in
// q.steps; returns the number of steps.
uint32_t CheapestPath(Pass& f, uint32_t start, uint32_t count) {
    ChainTables& t = f.t;
    ParseTables& q = t.parse;
    const uint32_t nice = f.p.nice_length;
    for (uint32_t j = 1; j <= count; ++j) q.nodes[j].cost = kUnreached;
    for (uint32_t j = 0; j < count; ++j) {
        ParseNode& at = q.nodes[j];
        if (j != 0) StateAfter(at, q.nodes[j - at.length]);
        const uint8_t* const here = t.window + start + j;
        ParseNode& next = q.nodes[j + 1];
        const uint32_t literal = at.cost + q.prices.main[*here];
        if (literal < next.cost) {
            next.cost = literal;
            next.length = 1;
            next.distance = 0;
        }
        const uint32_t room = std::min(kLongestSentCopy, count - j);
        if (room < 2) continue;
        uint32_t reached = 0;  // longest copy relaxed from here
        const uint32_t position = t.origin + start + j;
        const uint32_t reach = std::min(f.max_distance, position - f.file_start);
        for (uint32_t k = 0; k < 4; ++k) {
            const uint32_t d = at.ring[k];
            if (d == 0 || d > reach) continue;
            if ((k > 0 && d == at.ring[0]) || (k > 1 && d == at.ring[1]) || (k > 2 && d == at.ring[2])) continue;
            const uint32_t shortest = 2 + (d >= kRecentBonusDistance) + Bonuses(d);
            if (shortest > room || Load16Le(here - d) != Load16Le(here)) continue;
            const uint32_t length = MatchLength(here - d, here, room);
            if (length >= shortest) RelaxCopy(q, j, shortest, length, d, nice);
            reached = std::max(reached, length);
        }
        if (const uint32_t d = q.near_pair[j]; d != 0 && d <= reach) {
            const uint32_t slot = ShortSlotOf(d - 1);
            const uint32_t cost = at.cost + (d == at.last_distance && at.last_length == 2
                                                 ? q.prices.main[kSymCopyAgain]
                                                 : q.prices.main[kSymShortFirst + slot] + kBit * kShortExtra[slot]);
            ParseNode& to = q.nodes[j + 2];
            if (cost < to.cost) {
                to.cost = cost;
                to.length = 2;
                to.distance = d | kShortCopy;
            }
        }
        uint32_t covered = 0;  // lengths up to this have a nearer match
        for (uint32_t m = q.first[j]; m < q.first[j + 1]; ++m) {
            const FoundMatch& found = q.found[m];
            const uint32_t length = std::min(found.length, room);
            const uint32_t shortest = std::max(covered + 1, ShortestLongCopy(found.distance));
            if (length >= shortest) RelaxCopy(q, j, shortest, length, found.distance, nice);
            covered = std::max(covered, length);
        }
        // A copy of the nice length or more is taken: the positions inside it are passed
        // (the finder gave them no matches either).
        reached = std::max(reached, covered);
        if (reached >= nice) j += reached - 1;
    }
    uint32_t n = 0;
    for (uint32_t j = count; j != 0; j -= q.nodes[j].length) q.steps[n++] = j;
    return n;
}

// Counts the symbols of the path in q.steps (n steps) as the block coder will send them.
void CountPath(ParseTables& q, const uint8_t* bytes, uint32_t n) {
    ParseCounts& c = q.counts;
    std::fill(std::begin(c.main), std::end(c.main), 0u);
    std::fill(std::begin(c.repeat), std::end(c.repeat), 0u);
    std::fill(std::begin(c.distance), std::end(c.distance), 0u);
    for (uint32_t s = n; s != 0; --s) {
        const ParseNode& to = q.nodes[q.steps[s - 1]];
        const uint32_t j = q.steps[s - 1] - to.length;
        if (to.length == 1) {
            ++c.main[bytes[j]];
            continue;
        }
        const ParseNode& at = q.nodes[j];
        const uint32_t d = to.distance & ~kShortCopy;
        const uint32_t adjusted = to.length - Bonuses(d);
        if (d == at.last_distance && adjusted == at.last_length) {
            ++c.main[kSymCopyAgain];
        } else if (to.distance != d) {
            ++c.main[kSymShortFirst + ShortSlotOf(d - 1)];
        } else if (const uint32_t k = RecentIndex(at, d); k < 4) {
            ++c.main[kSymRecentFirst + k];
            ++c.repeat[LengthSlotOf(adjusted - 2 - (d >= kRecentBonusDistance))];
        } else {
            ++c.main[kSymLongFirst + LengthSlotOf(adjusted - 3)];
            ++c.distance[DistanceSlotOf(d - 1)];
        }
    }
}

void ParseOptimal(Pass& f) {
    ChainTables& t = f.t;
    ParseTables& q = t.parse;
    BlockCoder& c = t.coder;
    bool priced = false;  // prices from a path of this file
    uint32_t i = 0;
    while (i < f.end) {
        if (f.end - i < kParsePiece + kChainMinLookahead && !f.at_end) {
            if (!Refill(f, i)) return;
        } else {
            if (!KeepGoing(f.s) || f.s.not_worth_it) return;
            f.s.progress_count = static_cast<int32_t>(t.origin + i - f.file_start);
        }
        const uint32_t count = std::min(kParsePiece, f.end - i);
        // Matches of every position; positions inside a copy of the nice length or more
        // only go into the tree.
        for (uint32_t j = 0; j < count; ++j) {
            const uint32_t position = t.origin + i + j;
            uint32_t& newest = q.pairs[Load16Le(t.window + i + j)];
            const uint32_t distance = position - newest;
            q.near_pair[j] = static_cast<uint16_t>(distance <= 256 && newest >= f.file_start && j + 2 <= count ? distance : 0);
            newest = position;
        }
        uint32_t n = 0;
        for (uint32_t j = 0; j < count;) {
            q.first[j] = n;
            if (f.end - (i + j) < 4) {
                ++j;
                continue;
            }
            const uint32_t m = TreeStep(f, i + j, q.found + n, true);
            n += m;
            ++j;
            if (m == 0 || q.found[n - 1].length < f.p.nice_length) continue;
            const uint32_t stop = std::min(count, j - 1 + q.found[n - 1].length);
            for (; j < stop; ++j) {
                q.first[j] = n;
                (void)TreeStep(f, i + j, nullptr, false);
            }
        }
        q.first[count] = n;

        ParseNode& origin = q.nodes[0];
        origin.cost = 0;
        for (uint32_t k = 0; k < 4; ++k) origin.ring[k] = c.ring[(c.ring_pointer - 1 - k) & 3u];
        origin.last_length = c.last_length;
        origin.last_distance = c.last_distance;
        const uint8_t* const bytes = t.window + i;
        uint32_t passes = f.p.optimal;
        if (!priced) {
            StartPrices(q.prices, bytes, count);
            passes = std::max(passes, 2u);
            priced = true;
        }
        uint32_t steps = 0;
        for (uint32_t pass = 0; pass < passes; ++pass) {
            if (pass != 0) PricesFromCounts(q.prices, q.counts);
            steps = CheapestPath(f, i, count);
            CountPath(q, bytes, steps);
        }
        for (uint32_t s = steps; s != 0; --s) {
            const ParseNode& to = q.nodes[q.steps[s - 1]];
            if (to.length == 1) {
                AddLiteral(f.s, c, bytes[q.steps[s - 1] - 1]);
            } else if ((to.distance & kShortCopy) != 0) {
                EmitShortCopy(f.s, c, to.distance & ~kShortCopy);
            } else {
                EmitCopy(f.s, c, to.length, to.distance);
            }
        }
        PricesFromCounts(q.prices, q.counts);
        i += count;
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
    if (p.optimal != 0) {
        ParseOptimal(f);
    } else if (p.chain_limit == 0) {
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
    const size_t tree = p.optimal == 0 ? 0 : (sizeof(uint32_t) << p.window_bits) + sizeof(ParseTables);
    return sizeof(ChainTables::window) + (sizeof(uint32_t) << p.hash_bits) + chains + tree + sizeof(BlockCoder);
}

}  // namespace hedgerow::codec
