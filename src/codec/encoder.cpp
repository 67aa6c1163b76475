// encoder.cpp -- the LZ77 match finder (hash chains, lazy evaluation), symbol buffering,
// and the block coder: length-limited prefix code construction, code-length runs, output.
#include "codec/encoder.h"

#include <algorithm>
#include <cstring>

#include "codec/stream.h"
#include "common/compiler.h"
#include "crypto/cipher.h"
#include "platform/platform.h"

namespace hedgerow::codec {

namespace {

TreeDescriptor& Tree(EncoderTables& t, CodeKind code) { return t.trees[static_cast<int>(code)]; }

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

// ---- Symbol buffer ------------------------------------------------------------------

inline void AddSymbol(StreamState& s, EncoderTables& t, uint32_t symbol, uint32_t value) {
    if (t.pending == kBlockSymbols) {
        FlushBlock(t, s, true);
        t.pending = 0;
    }
    t.symbols[t.pending] = symbol;
    t.values[t.pending] = value;
    ++t.pending;
}

inline void PushDistance(EncoderTables& t, uint32_t distance) {
    t.ring[t.ring_pointer & 3u] = distance;
    ++t.ring_pointer;
}

void EmitCopy(StreamState& s, EncoderTables& t, uint32_t length, uint32_t distance) {
    const uint32_t adjusted = length - (distance >= kBonusDistance1) - (distance >= kBonusDistance2);
    if (adjusted == t.last_length && distance == t.last_distance) {
        AddSymbol(s, t, kSymCopyAgain, 0);
        PushDistance(t, distance);
        return;
    }
    uint32_t k = 1;
    while (k <= 4 && t.ring[(t.ring_pointer - k) & 3u] != distance) ++k;
    if (k <= 4) {
        AddSymbol(s, t, kSymCopyAgain + k, adjusted - 2 - (distance >= kRecentBonusDistance));
    } else {
        AddSymbol(s, t, kSymLongFirst + adjusted, distance);
    }
    t.last_length = adjusted;
    t.last_distance = distance;
    PushDistance(t, distance);
}

// ---- Code construction ----------------------------------------------------------------

// Smaller frequency first; on equal frequency the shallower subtree first.
inline bool Smaller(const TreeNode* nodes, const uint8_t* depth, int a, int b) {
    return nodes[a].freq < nodes[b].freq || (nodes[a].freq == nodes[b].freq && depth[a] <= depth[b]);
}

void SiftDown(EncoderTables& t, const TreeNode* nodes, int k) {
    const int v = t.heap[k];
    int j = k << 1;
    while (j <= t.heap_len) {
        if (j < t.heap_len && Smaller(nodes, t.depth, t.heap[j + 1], t.heap[j])) ++j;
        if (Smaller(nodes, t.depth, v, t.heap[j])) break;
        t.heap[k] = t.heap[j];
        k = j;
        j <<= 1;
    }
    t.heap[k] = v;
}

// Lengths from the finished tree. Nodes deeper than the limit are counted as overflow
// (internal ones too: each pair of overflows costs one repair step), then leaves are moved
// until the code fits, and the lengths are handed out again, longest to least frequent.
void AssignLengths(EncoderTables& t, TreeDescriptor& d) {
    TreeNode* nodes = d.nodes;
    const int limit = d.length_limit;
    std::fill(std::begin(t.length_count), std::end(t.length_count), uint16_t{0});
    nodes[t.heap[t.heap_max]].length = 0;
    int overflow = 0;
    for (int h = t.heap_max + 1; h < kHeapSize; ++h) {
        const int n = t.heap[h];
        int bits = nodes[nodes[n].parent].length + 1;
        if (bits > limit) {
            bits = limit;
            ++overflow;
        }
        nodes[n].length = static_cast<uint16_t>(bits);
        if (n > d.largest_symbol) continue;
        ++t.length_count[bits];
    }
    if (overflow == 0) return;
    do {
        int bits = limit - 1;
        while (t.length_count[bits] == 0) --bits;
        --t.length_count[bits];
        t.length_count[bits + 1] += 2;
        --t.length_count[limit];
        overflow -= 2;
    } while (overflow > 0);
    int h = kHeapSize;
    for (int bits = limit; bits != 0; --bits) {
        int n = t.length_count[bits];
        while (n != 0) {
            const int m = t.heap[--h];
            if (m > d.largest_symbol) continue;
            nodes[m].length = static_cast<uint16_t>(bits);
            --n;
        }
    }
}

void AssignCodes(const EncoderTables& t, TreeDescriptor& d) {
    uint32_t next[kMaxCodeLength + 2] = {};
    uint32_t code = 0;
    for (int bits = 1; bits <= kMaxCodeLength; ++bits) {
        code = (code + t.length_count[bits - 1]) << 1;
        next[bits] = code;
    }
    for (int n = 0; n <= d.largest_symbol; ++n) {
        const int len = d.nodes[n].length;
        if (len != 0) d.nodes[n].code = static_cast<uint16_t>(next[len]++);
    }
}

// ---- Code-length lists ------------------------------------------------------------------

// Cuts a list of code lengths into runs and hands each length-code symbol to emit(symbol,
// extra bits, extra value).
template <typename Emit>
void WalkRuns(const TreeNode* nodes, int size, Emit&& emit) {
    int previous = -1;
    int max_count = nodes[0].length == 0 ? 138 : 7;
    int min_count = nodes[0].length == 0 ? 3 : 4;
    int n = 0;
    while (n < size) {
        const int current = nodes[n].length;
        int count = 1;
        while (n + count < size && count < max_count && nodes[n + count].length == current) ++count;
        n += count;
        if (count < min_count) {
            for (int i = 0; i < count; ++i) emit(current, 0, 0);
        } else if (current != 0) {
            if (current != previous) {
                emit(current, 0, 0);
                --count;
            }
            emit(kRepeatPrevious, 2, count - 3);
        } else if (count <= 10) {
            emit(kZeros3To10, 3, count - 3);
        } else {
            emit(kZeros11To138, 7, count - 11);
        }
        previous = current;
        if (n < size) {
            const int next = nodes[n].length;
            if (next == 0) {
                max_count = 138;
                min_count = 3;
            } else if (next == current) {
                max_count = 6;
                min_count = 3;
            } else {
                max_count = 7;
                min_count = 4;
            }
        }
    }
}

void ScanLengths(EncoderTables& t, const TreeDescriptor& d) {
    WalkRuns(d.nodes, d.alphabet_size, [&](int symbol, int, int) { ++t.length_nodes[symbol].freq; });
}

void SendLengths(StreamState& s, const EncoderTables& t, const TreeDescriptor& d) {
    WalkRuns(d.nodes, d.alphabet_size, [&](int symbol, int extra_bits, int extra) {
        const TreeNode& node = t.length_nodes[symbol];
        PutBits(s, node.length, node.code);
        if (extra_bits != 0) PutBits(s, extra_bits, static_cast<uint32_t>(extra));
    });
}

// The stream layer's bit writer with its state in registers, for the symbols of a block:
// whole 32-bit words go into the output buffer while there is room and the packed count is
// below the unpacked size; everything else takes the stream layer's byte path, so the
// bytes and the buffer flushes are the same as with PutBits.
class BitSink {
public:
    explicit BitSink(StreamState& s) : s_(s), acc_(s.bit_buffer), count_(s.bit_count) {}
    ~BitSink() {
        Drain();
        s_.bit_buffer = acc_;
        s_.bit_count = count_;
    }
    BitSink(const BitSink&) = delete;
    BitSink& operator=(const BitSink&) = delete;

    void Put(int n, uint32_t value) {
        acc_ = (acc_ << n) | (value & ((1u << n) - 1u));
        count_ += n;
        if (count_ >= 32) Word();
    }
    void Code(const TreeNode& node) { Put(node.length, node.code); }
    void Extra(int bits, uint32_t value) {
        if (bits != 0) Put(bits, value);
    }

private:
    void Word() {
        StreamState& s = s_;
        if (s.out_fill + 4 <= static_cast<uint32_t>(kOutBufferSize) && s.packed_count < s.unpacked_size) {
            count_ -= 32;
            const auto w = static_cast<uint32_t>(acc_ >> count_);
            uint8_t* out = s.out_buffer.get() + s.out_fill;
            out[0] = static_cast<uint8_t>(w >> 24);
            out[1] = static_cast<uint8_t>(w >> 16);
            out[2] = static_cast<uint8_t>(w >> 8);
            out[3] = static_cast<uint8_t>(w);
            s.out_fill += 4;
        } else {
            Drain();
        }
    }
    void Drain() {
        StreamState& s = s_;
        while (count_ >= 8) {
            count_ -= 8;
            if (s.packed_count < s.unpacked_size) {
                PutByte(s_, static_cast<uint8_t>(acc_ >> count_));
            } else {
                s.not_worth_it = true;
            }
        }
    }

    StreamState& s_;
    uint64_t acc_;
    int32_t count_;
};

// Slot of every length value and of every distance, the same for every archive: filled once
// per process rather than for each operation's tables.
struct SlotTables {
    uint8_t distance[kHalfWindow];  // distance - 1 -> distance slot (0..35)
    uint8_t length[256];            // length value -> length slot

    SlotTables() {
        uint32_t v = 0;
        for (int r = 0; r < kRepeatSymbols; ++r)
            for (uint32_t i = 0; i < (1u << kLengthExtra[r]); ++i) length[v++] = static_cast<uint8_t>(r);
        v = 0;
        for (int d = 0; d < 36; ++d)
            for (uint32_t i = 0; i < (1u << kDistanceExtra[d]); ++i) distance[v++] = static_cast<uint8_t>(d);
    }
};

const SlotTables& Slots() {
    static const SlotTables slots;
    return slots;
}


}  // namespace

bool AllocEncoderTables(EncoderState& e, StreamState& s) {
    e.tables.reset();
    if (!platform::FaultPoint(platform::FaultKind::kAlloc))
        e.tables.reset(static_cast<EncoderTables*>(std::calloc(1, sizeof(EncoderTables))));
    if (!e.tables) return Fail(s, Status::kNoMemory);
    EncoderTables& t = *e.tables;
    t.trees[0] = {t.main_nodes, kMainSymbols, kMaxCodeLength, 0};
    t.trees[1] = {t.distance_nodes, kDistanceSymbols, kMaxCodeLength, 0};
    t.trees[2] = {t.repeat_nodes, kRepeatSymbols, kMaxCodeLength, 0};
    t.trees[3] = {t.length_nodes, kLengthCodeSymbols, kLengthCodeLimit, 0};
    t.dirty_end = 0;  // the whole window is zero
    return true;
}

void FreeEncoderTables(EncoderState& e) { e.tables.reset(); }

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

void ResetCopyState(EncoderTables& t) {
    std::fill(std::begin(t.ring), std::end(t.ring), 0u);
    t.ring_pointer = 0;
    t.last_length = 0;
    t.last_distance = 0;
    t.pending = 0;
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
            EmitCopy(s, t, length, t.pos - 1 - t.prev_match);
            s.progress_count += static_cast<int32_t>(length);
            t.lookahead -= length - 1;
            const uint32_t last = t.pos + length - 2;
            for (uint32_t p = t.pos + 1; p <= last; ++p) (void)InsertString(t, p);
            t.pos += length - 1;
            t.match_available = false;
            t.match_length = 1;
        } else {
            if (t.match_available) {
                AddSymbol(s, t, t.window[t.pos - 1], 0);
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
            if (!StreamOk(s)) {
                t.inserted_end = t.pos;  // as at the end: the next file clears these
                return;
            }
            FillWindow(s, t);
        }
    }
    if (t.match_available) AddSymbol(s, t, t.window[t.pos - 1], 0);
    t.inserted_end = t.pos;  // every position below pos has been inserted
}

bool FinishEncoding(EncoderTables& t, StreamState& s) {
    FlushBlock(t, s, false);
    return FlushBitWriter(s);
}

void BuildTree(EncoderTables& t, CodeKind code) {
    TreeDescriptor& d = Tree(t, code);
    TreeNode* nodes = d.nodes;
    t.heap_len = 0;
    t.heap_max = kHeapSize;
    int largest = -1;
    for (int n = 0; n < d.alphabet_size; ++n) {
        if (nodes[n].freq != 0) {
            t.heap[++t.heap_len] = n;
            largest = n;
            t.depth[n] = 0;
        } else {
            nodes[n].length = 0;
        }
    }
    // A code needs two symbols: pad with symbol largest + 1 (while that is below 2) or 0.
    while (t.heap_len < 2) {
        const int node = largest < 2 ? ++largest : 0;
        t.heap[++t.heap_len] = node;
        nodes[node].freq = 1;
        t.depth[node] = 0;
    }
    d.largest_symbol = largest;
    for (int k = t.heap_len / 2; k >= 1; --k) SiftDown(t, nodes, k);
    int node = d.alphabet_size;
    do {
        const int n = t.heap[1];
        t.heap[1] = t.heap[t.heap_len--];
        SiftDown(t, nodes, 1);
        const int m = t.heap[1];
        t.heap[--t.heap_max] = n;
        t.heap[--t.heap_max] = m;
        nodes[node].freq = static_cast<uint16_t>(nodes[n].freq + nodes[m].freq);
        t.depth[node] = static_cast<uint8_t>(std::max(t.depth[n], t.depth[m]) + 1);
        nodes[n].parent = nodes[m].parent = static_cast<uint16_t>(node);
        t.heap[1] = node++;
        SiftDown(t, nodes, 1);
    } while (t.heap_len >= 2);
    t.heap[--t.heap_max] = t.heap[1];
    AssignLengths(t, d);
    AssignCodes(t, d);
}

void FlushBlock(EncoderTables& t, StreamState& s, bool more) {
    const SlotTables& slots = Slots();
    for (auto& node : t.main_nodes) node.freq = 0;
    for (auto& node : t.distance_nodes) node.freq = 0;
    for (auto& node : t.repeat_nodes) node.freq = 0;
    for (auto& node : t.length_nodes) node.freq = 0;
    const uint32_t last_symbol = more ? kSymEndOfBlock : 0;
    ++t.main_nodes[last_symbol].freq;
    for (uint32_t i = 0; i < t.pending; ++i) {
        const uint32_t sym = t.symbols[i];
        if (sym <= kSymCopyAgain) {
            ++t.main_nodes[sym].freq;
        } else if (sym < kSymShortFirst) {
            ++t.main_nodes[sym].freq;
            ++t.repeat_nodes[slots.length[t.values[i]]].freq;
        } else {
            ++t.main_nodes[kSymLongFirst + slots.length[sym - kSymLongFirst - 3]].freq;
            ++t.distance_nodes[slots.distance[t.values[i] - 1]].freq;
        }
    }
    BuildTree(t, CodeKind::kMain);
    BuildTree(t, CodeKind::kDistance);
    BuildTree(t, CodeKind::kRepeat);
    ScanLengths(t, Tree(t, CodeKind::kMain));
    ScanLengths(t, Tree(t, CodeKind::kDistance));
    ScanLengths(t, Tree(t, CodeKind::kRepeat));
    BuildTree(t, CodeKind::kLength);

    PutBits(s, 2, 0);  // LZ block, lengths not kept
    for (int i = 0; i < kLengthCodeSymbols; ++i) PutBits(s, 4, t.length_nodes[i].length);
    SendLengths(s, t, Tree(t, CodeKind::kMain));
    SendLengths(s, t, Tree(t, CodeKind::kDistance));
    SendLengths(s, t, Tree(t, CodeKind::kRepeat));

    BitSink out(s);
    for (uint32_t i = 0; i < t.pending; ++i) {
        const uint32_t sym = t.symbols[i];
        const uint32_t value = t.values[i];
        if (sym <= kSymCopyAgain) {
            out.Code(t.main_nodes[sym]);
        } else if (sym < kSymShortFirst) {
            out.Code(t.main_nodes[sym]);
            const uint32_t slot = slots.length[value];
            out.Code(t.repeat_nodes[slot]);
            out.Extra(kLengthExtra[slot], value - kLengthBase[slot]);
        } else {
            const uint32_t length = sym - kSymLongFirst - 3;
            const uint32_t slot = slots.length[length];
            out.Code(t.main_nodes[kSymLongFirst + slot]);
            out.Extra(kLengthExtra[slot], length - kLengthBase[slot]);
            const uint32_t d = value - 1;
            const uint32_t dslot = slots.distance[d];
            out.Code(t.distance_nodes[dslot]);
            out.Extra(kDistanceExtra[dslot], d - kDistanceBase[dslot]);
        }
    }
    out.Code(t.main_nodes[last_symbol]);
}

bool CompressSource(EncoderState& e, StreamState& s, int32_t* packed_size) {
    *packed_size = 0;
    if (!e.tables || !s.out_buffer) return Fail(s, Status::kNoMemory);
    EncoderTables& t = *e.tables;
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

    InitMatchState(t);
    StartEncoder(t, s);
    ResetCopyState(t);
    InitBitWriter(s);
    Encode(t, s);
    if (!FinishEncoding(t, s)) return false;
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
