// encoder.h -- turns one source file into the packed stream. Level 5, the default, is the
// encoder described here: lazy-matching LZ77 over a 256 KiB history with hash chains,
// then per block of at most 12,288 symbols canonical prefix codes limited to 15 bits, sent
// as code lengths at the start of the block (block_coder.h). Its output for a given input
// is fixed: any change that alters a bit is a format change. The other levels search
// differently (encoder_chains.h) and write the same stream.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <type_traits>

#include "codec/block_coder.h"
#include "codec/encoder_chains.h"
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
// All encoder tables and state: about 2.7 MB, allocated once per operation. Positions are
// offsets into window; the hash of a position is that of its three bytes.
struct EncoderTables {
    uint8_t window[kEncoderWindow + kWindowSlack];  // source bytes; compares may run into the slack
    uint32_t head[kHashSize];             // newest position per hash; 0 = none
    uint32_t prev[kHalfWindow];           // previous position with the same hash; 0 = end of chain
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

    BlockCoder coder;                     // pending symbols, copy state and block writer
};
static_assert(std::is_trivially_default_constructible_v<EncoderTables> && std::is_trivially_destructible_v<EncoderTables>,
              "the tables are made by zero-filled allocation and released with std::free");

// The tables come from std::calloc: fresh pages read as zero without being written, so a
// run of small files touches only the pages it uses instead of clearing all 2.7 MB.
struct FreeEncoderTablesMemory {
    void operator()(EncoderTables* tables) const noexcept { std::free(tables); }
};

// The encoder of one stream: the level chosen for the operation and its tables (level 5's
// own, or the hash chains of the others; none for level 0, which stores every file).
struct EncoderState {
    int level = kDefaultLevel;                                         // 0..9
    std::unique_ptr<EncoderTables, FreeEncoderTablesMemory> tables;    // level 5
    std::unique_ptr<ChainTables, FreeChainTablesMemory> chains;       // levels 1..4, 6..9
};

// Allocates the tables of e.level, zero-filled; false with status kNoMemory in the
// stream's status word (nothing left allocated) when memory is short. Allocate the output
// buffer (AllocOutputBuffer) first; free both after the run of files.
[[nodiscard]] bool AllocEncoderTables(EncoderState& e, StreamState& s);
void FreeEncoderTables(EncoderState& e);

// Per file, in this order, once the stream fields are set (see CompressSource):
// InitMatchState, StartEncoder (reads the first 256 KiB of the source), ResetCopyState(coder),
// InitBitWriter, Encode, FinishEncoding. A failure on the way (a read, a write, a cancel)
// is kept in the stream's status word; Encode stops at it, and FinishEncoding returns
// false when it is set.
void InitMatchState(EncoderTables& t);
void StartEncoder(EncoderTables& t, StreamState& s);
void Encode(EncoderTables& t, StreamState& s);
[[nodiscard]] bool FinishEncoding(EncoderTables& t, StreamState& s);

// Compresses the source into the output as one entry's payload at the encoder's level
// (level 5 with the encoder above, 0 stored, the others with EncodeWithChains). Before the call: the
// encoder tables and output buffer are allocated; source_file is open at its start and
// output is positioned where the payload begins; the stream's cipher_id is set and its
// enciphering key in place. Sets data_crc, chain_pending and unpacked_size (the source
// length). When the packed result would not be smaller than the source, the source is
// written stored instead. Afterwards ~data_crc is the data CRC and *packed_size the
// payload size; the caller cuts the output behind the payload (a discarded packed attempt
// may have written further). False when the stream's status word is set.
[[nodiscard]] bool CompressSource(EncoderState& e, StreamState& s, int32_t* packed_size);

}  // namespace hedgerow::codec
