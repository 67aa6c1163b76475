// encoder_chains.h -- the match finders of every level but 5, over a window of up to the
// decoder's 1 MiB: level 1 probes one position per step (the newest with the same five
// bytes, after the last distance) and keeps no chains; the others search hash chains,
// greedily (level 2) or lazily over one or two steps (3, 4, 6 and 7), with the recent
// distances tried first. Levels 1 and 2 also skip ahead through data that does not match.
// Levels 8 and 9 parse optimally: every position's matches from a binary tree per hash,
// then the cheapest path through a piece under prices from the symbols already chosen.
// Their symbols go to the shared block coder, so the stream is the one the decoder reads;
// the limits per level are in kChainLevels.
#pragma once

#include <array>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

#include "codec/block_coder.h"
#include "codec/stream.h"

namespace hedgerow::codec {

inline constexpr int kStoreLevel = 0;     // no compression: every file stored
inline constexpr int kFastestLevel = 1;
inline constexpr int kDefaultLevel = 5;   // the encoder of encoder.h
inline constexpr int kBestLevel = 9;

// Search limits of one level (in the manner of a deflate configuration table).
struct ChainParameters {
    uint8_t hash_bits;        // head table of 2^hash_bits positions
    uint8_t hash_bytes;       // bytes hashed: 3 (every copy can be found), 4 (faster), up to 8 without chains
    uint8_t lazy;             // 0 greedy, 1 or 2: a copy waits while the next step finds a better one
    uint8_t skip_shift;       // greedy: after 2^skip_shift misses in a row, step over more bytes (0: never)
    uint8_t recent;           // lazy: recent distances tried before the chain (1 to 4, newest first)
    uint32_t chain_limit;     // candidates tried per search; 0: one, and no chains are kept
    uint32_t nice_length;     // a copy this long ends the search
    uint32_t good_length;     // lazy: a copy this long already held walks a quarter of the chain
    uint32_t lazy_limit;      // lazy: a copy this long is sent without looking further
    uint32_t insert_limit;    // positions inside copies longer than this are not hashed (0: all are)
    uint32_t window_bits;     // farthest distance searched: 2^window_bits (at most 20)
    uint8_t optimal;          // 0: parse as above; 1 or 2: optimal parse over a binary tree, priced
                              // passes per piece (chain_limit then caps the tree's depth)
};

// Rows 0..9 by level; rows 0 and 5 are not searched with (store, and encoder.h).
//                              hash bytes lazy skip recent chain nice good lazy-limit insert window optimal
inline constexpr std::array<ChainParameters, 10> kChainLevels = {{
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {15, 5, 0, 5, 0, 0, 0, 0, 0, 0, 18, 0},
    {16, 4, 0, 6, 0, 4, 64, 0, 0, 32, 18, 0},
    {16, 4, 1, 0, 1, 8, 64, 16, 32, 0, 18, 0},
    {17, 4, 1, 0, 4, 24, 128, 258, 128, 0, 19, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {17, 3, 1, 0, 4, 48, 128, 258, 128, 0, 20, 0},
    {18, 3, 2, 0, 4, 96, 160, 258, 160, 0, 20, 0},
    {18, 3, 0, 0, 4, 12, 32, 0, 0, 0, 20, 1},
    {18, 3, 0, 0, 4, 24, 64, 0, 0, 0, 20, 1},
}};

inline constexpr uint32_t kChainMaxWindowBits = 20;
inline constexpr uint32_t kChainMaxHashBits = 18;
// The window holds the farthest distance and a read piece of the same size.
inline constexpr uint32_t kChainWindow = 2u << kChainMaxWindowBits;
inline constexpr uint32_t kChainSlack = 64;  // zero bytes behind the data: hashes and wide loads
inline constexpr uint32_t kChainMinLookahead = 262 + 8;

// The optimal parse works on pieces of this many positions: the matches of every position
// are found first (at most kMostMatches per position, of growing length), then the cheapest
// path of literals and copies through the piece is chosen under prices from symbol counts.
inline constexpr uint32_t kParsePiece = 16384;
inline constexpr uint32_t kMostMatches = 16;

// One step of a path: cost from the piece's start (1/16 bits), the step that reached it
// (length 1 with distance 0: a literal; kShortCopy in the distance: a short copy), and the
// copy state after it (recent distances
// newest first, the last copy's length less its bonuses and its distance), the same as
// the block coder's would be after sending the path.
inline constexpr uint32_t kShortCopy = 0x80000000u;

struct ParseNode {
    uint32_t cost;
    uint32_t length;
    uint32_t distance;
    uint32_t ring[4];
    uint32_t last_length;
    uint32_t last_distance;
};

struct FoundMatch {
    uint32_t length;
    uint32_t distance;
};

// Prices in 1/16 bits of the main symbols, of every repeat-length value and long-copy
// length (code and extra bits together) and of the distance slots (with their extra bits).
struct ParsePrices {
    uint32_t main[kMainSymbols];
    uint32_t repeat[256];
    uint32_t long_length[256];
    uint32_t distance[kDistanceSymbols];
};

// Symbol counts of a path, the source of the next prices.
struct ParseCounts {
    uint32_t main[kMainSymbols];
    uint32_t repeat[kRepeatSymbols];
    uint32_t distance[kDistanceSymbols];
};

struct ParseTables {
    ParseNode nodes[kParsePiece + 1];
    uint32_t first[kParsePiece + 1];                  // matches of position j: first[j] .. first[j + 1]
    uint16_t near_pair[kParsePiece];                  // distance of the nearest same two bytes within 256, or 0
    uint32_t pairs[1u << 16];                         // newest position of every two bytes
    FoundMatch found[kParsePiece * kMostMatches];
    uint32_t steps[kParsePiece];                      // the chosen path, back to front (node indexes)
    ParsePrices prices;
    ParseCounts counts;
};

// One level's match finder state. Positions in head and prev are counted from the first
// byte this state ever saw (plus one), across files, and only grow: anything below the
// current file's start is not part of it, so the tables need no clearing between files,
// and a file's output never depends on the files before it. After 2 GiB the count starts
// again on cleared tables.
struct ChainTables {
    uint8_t window[kChainWindow + kChainSlack];  // source bytes from `origin` on
    uint32_t head[1u << kChainMaxHashBits];      // newest position per hash
    uint32_t prev[1u << kChainMaxWindowBits];    // previous position with the same hash, by position mod size
                                                 // (the binary tree's smaller child at the optimal levels)
    uint32_t larger[1u << kChainMaxWindowBits];  // the binary tree's larger child, by position mod size
    ParseTables parse;                           // the optimal levels' piece
    BlockCoder coder;                            // pending symbols, copy state and block writer
    uint32_t origin;                             // position of window[0]
    uint32_t next_start;                         // where the next file's positions begin
};
static_assert(std::is_trivially_default_constructible_v<ChainTables> && std::is_trivially_destructible_v<ChainTables>,
              "the tables are made by zero-filled allocation and released with std::free");

struct FreeChainTablesMemory {
    void operator()(ChainTables* tables) const noexcept { std::free(tables); }
};

// Compresses source_file into the pending symbols and the stream's packed output as one
// payload (without the decision to store, which CompressSource makes); level is 1..4 or
// 6..9. Stops early once the packed output has reached the source's size (not_worth_it),
// and at a failure or a cancel kept in the status word. False when the status word is set.
[[nodiscard]] bool EncodeWithChains(ChainTables& t, StreamState& s, int level);

// Bytes of the tables a level touches (window, head, prev and the block coder): what one
// worker's encoder costs at that level.
size_t ChainTablesFootprint(int level);

}  // namespace hedgerow::codec
