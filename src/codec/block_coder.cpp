// block_coder.cpp -- the block writer that every encoder level shares: copy forms, prefix
// code construction with a length limit, code-length runs, and the coded symbols.
#include "codec/block_coder.h"

#include <algorithm>
#include <iterator>

#include "codec/stream.h"
#include "common/byte_order.h"

namespace hedgerow::codec {

namespace {

TreeDescriptor& Tree(BlockCoder& t, CodeKind code) { return t.trees[static_cast<int>(code)]; }

inline void PushDistance(BlockCoder& t, uint32_t distance) {
    t.ring[t.ring_pointer & 3u] = distance;
    ++t.ring_pointer;
}

// ---- Code construction ----------------------------------------------------------------

// Smaller frequency first; on equal frequency the shallower subtree first.
inline bool Smaller(const TreeNode* nodes, const uint8_t* depth, int a, int b) {
    return nodes[a].freq < nodes[b].freq || (nodes[a].freq == nodes[b].freq && depth[a] <= depth[b]);
}

void SiftDown(BlockCoder& t, const TreeNode* nodes, int k) {
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
void AssignLengths(BlockCoder& t, TreeDescriptor& d) {
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

void AssignCodes(const BlockCoder& t, TreeDescriptor& d) {
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

void ScanLengths(BlockCoder& t, const TreeDescriptor& d) {
    WalkRuns(d.nodes, d.alphabet_size, [&](int symbol, int, int) { ++t.length_nodes[symbol].freq; });
}

void SendLengths(StreamState& s, const BlockCoder& t, const TreeDescriptor& d) {
    WalkRuns(d.nodes, d.alphabet_size, [&](int symbol, int extra_bits, int extra) {
        const TreeNode& node = t.length_nodes[symbol];
        PutBits(s, node.length, node.code);
        if (extra_bits != 0) PutBits(s, extra_bits, static_cast<uint32_t>(extra));
    });
}

// The stream layer's bit writer with its state in registers, for the symbols of a block:
// whole 32-bit words go into the output buffer while there is room and the packed count is
// below the unpacked size; everything else takes the stream layer's byte path, so the
// bytes and the buffer flushes are the same as with PutBits. The packed count only changes
// when the buffer is written, so the words that fit are counted once per run of them, and
// the output position is held here (the byte stores would make the compiler reload the
// stream's fields after each one).
class BitSink {
public:
    explicit BitSink(StreamState& s) : s_(s), acc_(s.bit_buffer), count_(s.bit_count) { Open(); }
    ~BitSink() {
        Close();
        Drain();
        s_.bit_buffer = acc_;
        s_.bit_count = count_;
    }
    BitSink(const BitSink&) = delete;
    BitSink& operator=(const BitSink&) = delete;

    // n is at most 31 and value below 2^n: codes, extra bits and the two together.
    void Put(int n, uint32_t value) {
        acc_ = (acc_ << n) | value;
        count_ += n;
        if (count_ >= 32) Word();
    }
    void Code(const TreeNode& node) { Put(node.length, node.code); }
    void Extra(int bits, uint32_t value) {
        if (bits != 0) Put(bits, value);
    }

private:
    void Open() {
        out_ = s_.out_buffer.get() + s_.out_fill;
        words_ = s_.packed_count < s_.unpacked_size ? (static_cast<uint32_t>(kOutBufferSize) - s_.out_fill) / 4 : 0;
    }
    void Close() { s_.out_fill = static_cast<uint32_t>(out_ - s_.out_buffer.get()); }
    void Word() {
        if (words_ != 0) {
            --words_;
            count_ -= 32;
            Store32Be(out_, static_cast<uint32_t>(acc_ >> count_));
            out_ += 4;
        } else {
            Close();
            Drain();
            Open();
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
    uint8_t* out_ = nullptr;  // where the next word goes
    uint32_t words_ = 0;      // words that still fit in this run
};

// Slot of a short copy's distance - 1 (0..255).
inline uint32_t ShortSlot(uint32_t d) {
    uint32_t k = 7;
    while (kShortBase[k] > d) --k;
    return k;
}

// Zero counts for the next block; code building leaves counts in the padding symbols and
// the inner nodes.
void ClearCounts(BlockCoder& t) {
    for (auto& node : t.main_nodes) node.freq = 0;
    for (auto& node : t.distance_nodes) node.freq = 0;
    for (auto& node : t.repeat_nodes) node.freq = 0;
}

// Code lengths of n weights sorted ascending, in place (minimum-redundancy codes computed
// by pairing in place: parents, then inner depths, then leaf depths); a[i] becomes the
// length of the i-th weight, so lengths come out non-increasing. Needs n >= 2.
void PairInPlace(int32_t* a, int n) {
    a[0] += a[1];
    int root = 0;
    int leaf = 2;
    for (int next = 1; next < n - 1; ++next) {
        if (leaf >= n || a[root] < a[leaf]) {
            a[next] = a[root];
            a[root++] = next;
        } else {
            a[next] = a[leaf++];
        }
        if (leaf >= n || (root < next && a[root] < a[leaf])) {
            a[next] += a[root];
            a[root++] = next;
        } else {
            a[next] += a[leaf++];
        }
    }
    a[n - 2] = 0;
    for (int next = n - 3; next >= 0; --next) a[next] = a[a[next]] + 1;
    int available = 1;
    int used = 0;
    int depth = 0;
    int root_at = n - 2;
    int next = n - 1;
    while (available > 0) {
        while (root_at >= 0 && a[root_at] == depth) {
            ++used;
            --root_at;
        }
        while (available > used) {
            a[next--] = depth;
            --available;
        }
        available = 2 * used;
        ++depth;
        used = 0;
    }
}

}  // namespace

void InitBlockCoder(BlockCoder& t) {
    t.trees[0] = {t.main_nodes, kMainSymbols, kMaxCodeLength, 0};
    t.trees[1] = {t.distance_nodes, kDistanceSymbols, kMaxCodeLength, 0};
    t.trees[2] = {t.repeat_nodes, kRepeatSymbols, kMaxCodeLength, 0};
    t.trees[3] = {t.length_nodes, kLengthCodeSymbols, kLengthCodeLimit, 0};
}

void ResetCopyState(BlockCoder& t) {
    std::fill(std::begin(t.ring), std::end(t.ring), 0u);
    t.ring_pointer = 0;
    t.last_length = 0;
    t.last_distance = 0;
    t.pending = 0;
    ClearCounts(t);
}

void EmitCopy(StreamState& s, BlockCoder& t, uint32_t length, uint32_t distance) {
    const uint32_t adjusted = length - (distance >= kBonusDistance1) - (distance >= kBonusDistance2);
    if (adjusted == t.last_length && distance == t.last_distance) {
        AddSymbol(s, t, kSymCopyAgain, 0);
        ++t.main_nodes[kSymCopyAgain].freq;
        PushDistance(t, distance);
        return;
    }
    uint32_t k = 1;
    while (k <= 4 && t.ring[(t.ring_pointer - k) & 3u] != distance) ++k;
    if (k <= 4) {
        const uint32_t value = adjusted - 2 - (distance >= kRecentBonusDistance);
        AddSymbol(s, t, kSymCopyAgain + k, value);
        ++t.main_nodes[kSymCopyAgain + k].freq;
        ++t.repeat_nodes[LengthSlotOf(value)].freq;
    } else {
        AddSymbol(s, t, kSymLongFirst + adjusted, distance);
        ++t.main_nodes[kSymLongFirst + LengthSlotOf(adjusted - 3)].freq;
        ++t.distance_nodes[DistanceSlotOf(distance - 1)].freq;
    }
    t.last_length = adjusted;
    t.last_distance = distance;
    PushDistance(t, distance);
}

void EmitShortCopy(StreamState& s, BlockCoder& t, uint32_t distance) {
    if (t.last_length == 2 && distance == t.last_distance) {
        AddSymbol(s, t, kSymCopyAgain, 0);
        ++t.main_nodes[kSymCopyAgain].freq;
    } else {
        const uint32_t sym = kSymShortFirst + ShortSlot(distance - 1);
        AddSymbol(s, t, sym, distance);
        ++t.main_nodes[sym].freq;
        t.last_length = 2;
        t.last_distance = distance;
    }
    PushDistance(t, distance);
}

void BuildTree(BlockCoder& t, CodeKind code) {
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

void BuildQuickTree(BlockCoder& t, CodeKind code) {
    TreeDescriptor& d = Tree(t, code);
    TreeNode* nodes = d.nodes;
    uint32_t items[kMainSymbols];  // frequency << 16 | symbol
    int n = 0;
    int largest = -1;
    for (int k = 0; k < d.alphabet_size; ++k) {
        nodes[k].length = 0;
        if (nodes[k].freq != 0) {
            items[n++] = static_cast<uint32_t>(nodes[k].freq) << 16 | static_cast<uint32_t>(k);
            largest = k;
        }
    }
    // The heap builder's padding: symbol largest + 1 while that is below 2, else 0.
    while (n < 2) {
        const int node = largest < 2 ? ++largest : 0;
        nodes[node].freq = 1;
        items[n++] = 1u << 16 | static_cast<uint32_t>(node);
    }
    d.largest_symbol = largest;
    std::sort(items, items + n);
    int32_t lengths[kMainSymbols];
    for (int k = 0; k < n; ++k) lengths[k] = static_cast<int32_t>(items[k] >> 16);
    PairInPlace(lengths, n);
    // Over the limit: clamp, then split shorter codes until the code is complete again
    // (each step takes one code of the limit's length away), and hand the lengths out
    // again, longest to the least frequent.
    const int limit = d.length_limit;
    std::fill(std::begin(t.length_count), std::end(t.length_count), uint16_t{0});
    for (int k = 0; k < n; ++k) ++t.length_count[std::min<int32_t>(lengths[k], limit)];
    if (lengths[0] > limit) {
        uint32_t total = 0;
        for (int bits = 1; bits <= limit; ++bits) total += static_cast<uint32_t>(t.length_count[bits]) << (limit - bits);
        for (; total > (1u << limit); --total) {
            --t.length_count[limit];
            for (int bits = limit - 1; bits > 0; --bits) {
                if (t.length_count[bits] != 0) {
                    --t.length_count[bits];
                    t.length_count[bits + 1] += 2;
                    break;
                }
            }
        }
        int k = 0;
        for (int bits = limit; bits > 0; --bits)
            for (int c = t.length_count[bits]; c != 0; --c) lengths[k++] = bits;
    }
    for (int k = 0; k < n; ++k) nodes[items[k] & 0xFFFFu].length = static_cast<uint16_t>(lengths[k]);
    AssignCodes(t, d);
}

void FlushBlock(BlockCoder& t, StreamState& s, bool more) {
    for (auto& node : t.length_nodes) node.freq = 0;
    const uint32_t last_symbol = more ? kSymEndOfBlock : 0;
    ++t.main_nodes[last_symbol].freq;
    auto build = t.quick_codes ? BuildQuickTree : BuildTree;
    build(t, CodeKind::kMain);
    build(t, CodeKind::kDistance);
    build(t, CodeKind::kRepeat);
    ScanLengths(t, Tree(t, CodeKind::kMain));
    ScanLengths(t, Tree(t, CodeKind::kDistance));
    ScanLengths(t, Tree(t, CodeKind::kRepeat));
    build(t, CodeKind::kLength);
    for (uint32_t v = 0; v < 256; ++v) {
        const uint32_t slot = LengthSlotOf(v);
        const TreeNode& node = t.main_nodes[kSymLongFirst + slot];
        t.long_value[v] = static_cast<uint32_t>(node.code) << kLengthExtra[slot] | (v - kLengthBase[slot]);
        t.long_bits[v] = static_cast<uint8_t>(node.length + kLengthExtra[slot]);
    }

    PutBits(s, 2, 0);  // LZ block, lengths not kept
    for (int i = 0; i < kLengthCodeSymbols; ++i) PutBits(s, 4, t.length_nodes[i].length);
    SendLengths(s, t, Tree(t, CodeKind::kMain));
    SendLengths(s, t, Tree(t, CodeKind::kDistance));
    SendLengths(s, t, Tree(t, CodeKind::kRepeat));

    BitSink out(s);
    const uint32_t pending = t.pending;  // a local: the output's byte stores may alias the tables
    for (uint32_t i = 0; i < pending; ++i) {
        const uint32_t sym = t.symbols[i];
        if (sym <= kSymCopyAgain) {
            out.Code(t.main_nodes[sym]);
            continue;
        }
        const uint32_t value = t.values[i];
        if (sym >= kSymLongFirst) {
            const uint32_t length = sym - kSymLongFirst - 3;
            out.Put(t.long_bits[length], t.long_value[length]);
            const uint32_t d = value - 1;
            const uint32_t dslot = DistanceSlotOf(d);
            const TreeNode& node = t.distance_nodes[dslot];
            const int extra = kDistanceExtra[dslot];
            out.Put(node.length + extra, static_cast<uint32_t>(node.code) << extra | (d - kDistanceBase[dslot]));
        } else if (sym < kSymShortFirst) {
            out.Code(t.main_nodes[sym]);
            const uint32_t slot = LengthSlotOf(value);
            out.Code(t.repeat_nodes[slot]);
            out.Extra(kLengthExtra[slot], value - kLengthBase[slot]);
        } else {
            out.Code(t.main_nodes[sym]);
            const uint32_t k = sym - kSymShortFirst;
            out.Extra(kShortExtra[k], value - 1 - kShortBase[k]);
        }
    }
    out.Code(t.main_nodes[last_symbol]);
    ClearCounts(t);
}

}  // namespace hedgerow::codec
