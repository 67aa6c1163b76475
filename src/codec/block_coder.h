// block_coder.h -- the symbol side of every encoder level: pending symbols of one block,
// the copy state that decides how a copy is sent (again, recent distance, short or long),
// and the block writer (length-limited canonical prefix codes, code-length runs, output).
// The match finders of the levels differ; what they hand over here is the same stream.
#pragma once

#include <bit>
#include <cstdint>

#include "codec/format_tables.h"
#include "codec/stream.h"

namespace hedgerow::codec {

inline constexpr uint32_t kBlockSymbols = 12288;     // pending symbols that make a block
inline constexpr uint32_t kSymbolCapacity = 14336;
inline constexpr int kHeapSize = 2 * kMainSymbols + 1;  // 597 nodes of the largest tree

// Longest copy any encoder sends: a recent-distance copy of a near distance can say 257 at
// most, a long copy 258 (each more with the far-distance bonuses).
inline constexpr uint32_t kLongestSentCopy = 257;

// Shortest copy a long-copy symbol can send at a distance: each far-distance bonus adds
// one to the three its length slots start from. A recent-distance copy of the same
// distance is never longer than this (its slots start at two, and it earns one bonus more).
constexpr uint32_t ShortestLongCopy(uint32_t distance) {
    return 3 + (distance >= kBonusDistance1) + (distance >= kBonusDistance2);
}

// Slot of a repeat-length or long-copy length value (0..255): four per power of two from 8.
inline uint32_t LengthSlotOf(uint32_t v) {
    if (v < 8) return v;
    const uint32_t n = static_cast<uint32_t>(std::bit_width(v)) - 1;
    return 4 * n - 4 + ((v >> (n - 2)) & 3u);
}

// Slot of a long copy's distance - 1: two per power of two from 4, then one per 64 KiB.
inline uint32_t DistanceSlotOf(uint32_t d) {
    if (d < 4) return d;
    if (d >= kDistanceBase[36]) return 36 + ((d - kDistanceBase[36]) >> 16);
    const uint32_t n = static_cast<uint32_t>(std::bit_width(d)) - 1;
    return 2 * n + ((d >> (n - 1)) & 1u);
}
static_assert(kDistanceBase[36] == 262144 && kDistanceExtra[36] == 16 && kDistanceBase[4] == 4 && kLengthBase[8] == 8);

// One node of a code tree: a leaf (index below the alphabet size) or an internal node.
struct TreeNode {
    uint16_t freq;    // frequency while the tree is built
    uint16_t parent;  // node above, while the tree is built
    uint16_t length;  // code length (0 = no code)
    uint16_t code;    // canonical code, most significant bit first
};

enum class CodeKind : int { kMain, kDistance, kRepeat, kLength };

struct TreeDescriptor {
    TreeNode* nodes;
    int alphabet_size;
    int length_limit;
    int largest_symbol;   // largest symbol with a non-zero frequency, after the padding
};

// Pending symbols, as they are buffered until a block is written:
//   0..255   a literal
//   256      copy again (last length at last distance)
//   257..260 copy at the k-th most recent distance; value = length - 2 - its bonuses
//   261..268 two bytes at a near distance (short slot sym - 261); value = distance
//   270 + L  long copy, L = length less the far-distance bonuses (3..258); value = distance
// The layout is trivial: the tables live inside zero-filled allocations.
struct BlockCoder {
    uint32_t symbols[kSymbolCapacity];    // pending main symbols (270 + L for long copies)
    uint32_t values[kSymbolCapacity];     // repeat-length value, or distance of a copy

    // Code building (one block at a time).
    TreeNode main_nodes[kHeapSize];                     // literals, copies, end of block
    TreeNode distance_nodes[2 * kDistanceSymbols + 1];  // distance slots of long copies
    TreeNode repeat_nodes[2 * kRepeatSymbols + 1];      // length slots of recent-distance copies
    TreeNode length_nodes[2 * kLengthCodeSymbols + 1];  // the code of the code lengths
    TreeDescriptor trees[4];                            // the four codes, by CodeKind
    int32_t heap[kHeapSize];              // node heap while a tree is built; then nodes by frequency
    int32_t heap_len;                     // nodes in the heap (heap[1] is its smallest)
    int32_t heap_max;                     // start of the sorted nodes at the heap's top end
    uint8_t depth[kHeapSize];             // subtree depth, to break ties between equal frequencies
    uint16_t length_count[kMaxCodeLength + 1];  // codes of each length while lengths are limited

    // Copy state (last_length holds the length less the far-distance bonus).
    uint32_t ring[4];                     // the four most recent distances
    uint32_t ring_pointer;                // where the next distance goes in ring (mod 4)
    uint32_t last_length;                 // length of the last copy, for "copy again"
    uint32_t last_distance;               // distance of the last copy
    uint32_t pending;                     // symbols waiting in symbols/values

    // Codes by sorting (any level but 5, whose output is fixed and keeps the heap's codes).
    bool quick_codes;
    // Long copies of the block, by length less three: their main code and length extra
    // bits as one value, and its bit count. Filled once the block's codes are built.
    uint32_t long_value[256];
    uint8_t long_bits[256];
};

// Points the tree descriptors at the node arrays; once, after the zero-filled allocation.
void InitBlockCoder(BlockCoder& c);

// Clears the copy state, the pending symbols and their counts: at the start of every file.
void ResetCopyState(BlockCoder& c);

// Codes and writes the pending symbols as one block; more: other blocks follow.
void FlushBlock(BlockCoder& c, StreamState& s, bool more);

// Gives every symbol of one code its length (at most the code's limit) and canonical code
// from the frequencies in its nodes, through a heap of nodes (the codes of level 5).
void BuildTree(BlockCoder& c, CodeKind code);

// The same by sorting the symbols and pairing them in place: other lengths than the heap's
// where frequencies tie, but the same total size before the length limit.
void BuildQuickTree(BlockCoder& c, CodeKind code);

inline void AddSymbol(StreamState& s, BlockCoder& c, uint32_t symbol, uint32_t value) {
    if (c.pending == kBlockSymbols) {
        FlushBlock(c, s, true);
        c.pending = 0;
    }
    c.symbols[c.pending] = symbol;
    c.values[c.pending] = value;
    ++c.pending;
}

// Symbols are counted as they are added (after a flush the new block's counts start at zero).
// A literal has no value: the block writer reads values of copies only.
inline void AddLiteral(StreamState& s, BlockCoder& c, uint8_t byte) {
    if (c.pending == kBlockSymbols) {
        FlushBlock(c, s, true);
        c.pending = 0;
    }
    c.symbols[c.pending++] = byte;
    ++c.main_nodes[byte].freq;
}

// Sends a copy of length bytes from distance back, in the cheapest form the copy state
// allows: again, recent distance or long. Needs ShortestLongCopy(distance) <= length <=
// kLongestSentCopy and 1 <= distance <= kWindowSize.
void EmitCopy(StreamState& s, BlockCoder& c, uint32_t length, uint32_t distance);

// Sends a two-byte copy from a distance of at most 256 as a short-copy symbol (or as copy
// again / a recent distance when those say the same).
void EmitShortCopy(StreamState& s, BlockCoder& c, uint32_t distance);

}  // namespace hedgerow::codec
