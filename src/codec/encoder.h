// encoder.h -- turns one source file into the packed stream: lazy-matching LZ77 over a
// 256 KiB history with hash chains, then per block of at most 12,288 symbols canonical
// prefix codes limited to 15 bits, sent as code lengths at the start of the block.
// Its output for a given input is fixed: any change that alters a bit is a format change.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <type_traits>

#include "codec/format_tables.h"
#include "codec/stream.h"

namespace hedgerow::codec {

// Match finder limits (one set, not tunable).
struct SearchParameters {
    uint32_t good_length;     // a match this long cuts the chain to a quarter
    uint32_t lazy_limit;      // no search at all once the previous match is this long
    uint32_t chain_limit;     // candidates tried per search
    uint32_t longest_compare; // a compare stops here, and so does the search
    uint32_t longest_copy;    // longest copy written
    uint32_t shortest_copy;
    uint32_t max_distance;    // farthest match source
    uint32_t min_lookahead;   // look-ahead kept while the source lasts
};
inline constexpr SearchParameters kSearch = {8, 16, 128, 258, 256, 3, 262144 - 262, 262};

inline constexpr uint32_t kEncoderWindow = 524288;   // source bytes held
inline constexpr uint32_t kHalfWindow = 262144;      // shifted out when the window is full
inline constexpr uint32_t kShiftAt = kHalfWindow + kHalfWindow - kSearch.min_lookahead;  // 524,026
inline constexpr uint32_t kWindowSlack = 512;        // compares may run past the last byte
inline constexpr uint32_t kHashBits = 18;
inline constexpr uint32_t kHashSize = 1u << kHashBits;
inline constexpr uint32_t kHashMask = kHashSize - 1;
inline constexpr uint32_t kHashShift = 6;            // three bytes fill the 18 bits
inline constexpr uint32_t kBlockSymbols = 12288;     // pending symbols that make a block
inline constexpr uint32_t kSymbolCapacity = 14336;
inline constexpr int kHeapSize = 2 * kMainSymbols + 1;  // 597 nodes of the largest tree

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

// All encoder tables and state: about 2.7 MB, allocated once per operation. Positions are
// offsets into window; the hash of a position is that of its three bytes.
struct EncoderTables {
    uint8_t window[kEncoderWindow + kWindowSlack];  // source bytes; compares may run into the slack
    uint32_t head[kHashSize];             // newest position per hash; 0 = none
    uint32_t prev[kHalfWindow];           // previous position with the same hash; 0 = end of chain
    uint32_t symbols[kSymbolCapacity];    // pending main symbols (270 + L for long copies)
    uint32_t values[kSymbolCapacity];     // repeat-length value, or distance of a long copy

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

    // Match finder.
    uint32_t hash;                        // running hash of the bytes at pos, pos + 1, pos + 2
    uint32_t pos;                         // the position being coded
    uint32_t lookahead;                   // source bytes in the window at and after pos
    bool at_end;                          // the source has no more bytes to read
    uint32_t match_length, match_start;   // the best match found at pos (length 1: none)
    uint32_t prev_length, prev_match;     // the best match at pos - 1, which a longer one at pos defers
    bool match_available;                 // the byte at pos - 1 is still to be coded (as a literal)
    uint32_t dirty_end;                   // window bytes past this are still zero since allocation
    uint32_t inserted_end;                // positions below this are in the hash tables (no shift since)
    bool shifted;                         // the window was shifted: the tables are cleared in full

    // Copy state (last_length holds the length less the far-distance bonus).
    uint32_t ring[4];                     // the four most recent distances
    uint32_t ring_pointer;                // where the next distance goes in ring (mod 4)
    uint32_t last_length;                 // length of the last long copy, for "copy again"
    uint32_t last_distance;               // distance of the last long copy
    uint32_t pending;                     // symbols waiting in symbols/values
};
static_assert(std::is_trivially_default_constructible_v<EncoderTables> && std::is_trivially_destructible_v<EncoderTables>,
              "the tables are made by zero-filled allocation and released with std::free");

// The tables come from std::calloc: fresh pages read as zero without being written, so a
// run of small files touches only the pages it uses instead of clearing all 2.7 MB.
struct FreeEncoderTablesMemory {
    void operator()(EncoderTables* tables) const noexcept { std::free(tables); }
};

struct EncoderState {
    std::unique_ptr<EncoderTables, FreeEncoderTablesMemory> tables;
};

// Allocates the tables, zero-filled; false with status kNoMemory in the stream's status
// word (nothing left allocated) when memory is short. Allocate the output buffer
// (AllocOutputBuffer) first; free both after the run of files.
[[nodiscard]] bool AllocEncoderTables(EncoderState& e, StreamState& s);
void FreeEncoderTables(EncoderState& e);

// Per file, in this order, once the stream fields are set (see CompressSource):
// InitMatchState, StartEncoder (reads the first 256 KiB of the source), ResetCopyState,
// InitBitWriter, Encode, FinishEncoding. A failure on the way (a read, a write, a cancel)
// is kept in the stream's status word; Encode stops at it, and FinishEncoding returns
// false when it is set.
void InitMatchState(EncoderTables& t);
void StartEncoder(EncoderTables& t, StreamState& s);
void ResetCopyState(EncoderTables& t);
void Encode(EncoderTables& t, StreamState& s);
[[nodiscard]] bool FinishEncoding(EncoderTables& t, StreamState& s);

// Codes and writes the pending symbols as one block; more: other blocks follow.
void FlushBlock(EncoderTables& t, StreamState& s, bool more);

// Gives every symbol of one code its length (at most the code's limit) and canonical code
// from the frequencies in its nodes.
void BuildTree(EncoderTables& t, CodeKind code);

// Compresses the source into the output as one entry's payload. Before the call: the
// encoder tables and output buffer are allocated; source_file is open at its start and
// output is positioned where the payload begins; the stream's cipher_id is set and its
// enciphering key in place. Sets data_crc, chain_pending and unpacked_size (the source
// length). When the packed result would not be smaller than the source, the source is
// written stored instead. Afterwards ~data_crc is the data CRC and *packed_size the
// payload size; the caller cuts the output behind the payload (a discarded packed attempt
// may have written further). False when the stream's status word is set.
[[nodiscard]] bool CompressSource(EncoderState& e, StreamState& s, int32_t* packed_size);

}  // namespace hedgerow::codec
