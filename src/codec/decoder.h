// decoder.h -- expands the packed stream of one entry into exactly its unpacked size:
// canonical prefix codes sent per block, LZ copies over a 1 MiB circular window, and
// audio blocks whose bytes come from a per-channel predictor.
#pragma once

#include <cstdint>

#include "codec/format_tables.h"
#include "codec/stream.h"

namespace hedgerow::codec {

// Bits of the look-up table that resolves most codes in one step. Codes that are longer, or
// whose length is not settled by their first kFastBits bits, take the limit search.
inline constexpr int kFastBits = 10;
inline constexpr int kSmallFastBits = 8;   // for the length, distance and repeat codes
inline constexpr int kMaxAlphabet = kMainSymbols;

// A prefix code built from a list of code lengths. limit[n] is the first left-aligned
// 16-bit value past the codes of length n (at most 0xFFFF); symbols[] lists the coded
// symbols by length, then by value. fast[] maps the first fast_bits bits to
// (length << 9 | symbol), or 0 when the limit search must decide. Small alphabets use
// fewer bits, since the table is rebuilt with every block.
struct DecodeTable {
    uint32_t alphabet_size = 0;
    uint32_t limit[16] = {};
    uint32_t first_index[16] = {};
    uint16_t symbols[kMaxAlphabet] = {};
    int32_t fast_bits = kFastBits;
    uint16_t fast[1u << kFastBits] = {};
};

// Entries of DecodeTable::fast: the code's length (1 to kFastBits) in bits 9 to 12 and
// its symbol (below 512) in bits 0 to 8; 0 when the limit search must decide.
constexpr uint16_t MakeFastEntry(int length, uint32_t symbol) {
    return static_cast<uint16_t>((static_cast<uint32_t>(length) << 9) | symbol);
}
constexpr int FastEntryLength(uint16_t entry) { return entry >> 9; }
constexpr uint32_t FastEntrySymbol(uint16_t entry) { return entry & 511u; }
static_assert(kMaxAlphabet <= 512 && FastEntryLength(MakeFastEntry(kFastBits, 511)) == kFastBits);
// The entry for the 16-bit look-ahead word (next stream bit highest).
inline uint16_t FastEntry(const DecodeTable& table, uint32_t look_ahead) {
    return table.fast[look_ahead >> (16 - table.fast_bits)];
}

// Where the bit reader stands: the unread input bytes and the look-ahead bits taken from
// them (next stream bit in the top position). The decoder's fast loop works on a copy held
// in registers.
struct BitCursor {
    const uint8_t* next = nullptr;
    const uint8_t* end = nullptr;
    uint64_t buffer = 0;
    int32_t count = 0;             // valid bits in buffer
};

// Predictor state of one audio channel.
struct ChannelRecord {
    int32_t k[5] = {};         // weights K1..K5
    int32_t d[4] = {};         // differences D1..D4
    int32_t last_delta = 0;
    uint32_t dif[11] = {};     // error sums of the eleven candidate adjustments
    uint32_t byte_count = 0;
    uint8_t last_char = 0;
};

// Everything one entry's decoding needs besides the window; reset at the start of every
// entry. Lives on the heap (about 30 KB) for one operation.
struct DecoderWork {
    // Packed input: kInputSize bytes per ReadPacked, with room for a partial cipher block.
    static constexpr int32_t kInputSize = 8192;
    uint8_t input[kInputSize + 8] = {};
    BitCursor bits;                // the reader's place in input
    uint32_t phantom_bytes = 0;    // zero bytes fed in after the packed data ran out
    bool input_ended = false;      // ReadPacked gave nothing more (or failed)

    DecodeTable length_code, main_code, distance_code, repeat_code;
    DecodeTable channel_code[kMaxChannels];
    uint8_t previous_lengths[kMaxLengths] = {};

    bool audio = false;
    int32_t channels = 1;
    int32_t channel = 0;           // channel counter; survives across blocks
    ChannelRecord channel_record[kMaxChannels];
    int32_t channel_delta = 0;     // shared by all channels

    uint32_t ring[4] = {};         // recent distances
    uint32_t ring_pointer = 0;
    uint32_t last_length = 0;
    uint32_t last_distance = 0;
};

// The decoder's part of a call's context: the window and the work space, allocated once
// per operation (AllocDecoder) and released by FreeDecoder.
struct DecoderState {
    HeapBytes window;                    // kWindowSize bytes
    HeapPtr<DecoderWork> work;
};

// Allocates the window and work space; false with status kNoMemory (in the stream's
// status word) when memory is short.
[[nodiscard]] bool AllocDecoder(DecoderState& d, StreamState& s);
void FreeDecoder(DecoderState& d);

// Builds table from the first size entries of lengths (taken modulo 16). Any list is
// accepted: incomplete and over-full codes give a table that still never leaves its
// arrays (an index past the alphabet selects entry 0).
void BuildDecodeTable(const uint8_t* lengths, DecodeTable& table, uint32_t size);

// The symbol that the 16-bit look-ahead word (next stream bit highest) starts with, and
// the number of bits its code takes (1 to 15).
struct DecodedSymbol {
    uint32_t symbol;
    int32_t length;
};
DecodedSymbol DecodeSymbol(const DecodeTable& table, uint32_t look_ahead);

// Expands one entry's packed stream into window and out through WriteUnpacked. Before the
// call (see ExpandEntry for the whole order): packed_in is at the payload; packed_left,
// unpacked_left and unpacked_size hold the recorded sizes; data_crc is all ones; cipher_id
// and chain_pending are set and the deciphering key is in place. window holds kWindowSize
// bytes (if null, the one of AllocDecoder is used; the work space is allocated if need be,
// and one is made for this call when d has none).
// At most unpacked_left bytes are written, whatever the stream holds; a damaged stream
// stops where its packed data runs out. False with the status set on a read or write
// failure or a cancel; a wrong result shows in the data CRC and in unpacked_left.
[[nodiscard]] bool DecodeEntry(DecoderState& d, StreamState& s, uint8_t* window);

// Expands one entry, compressed or stored by the size rule (packed size smaller than
// unpacked size: compressed). Before the call: packed_in is at the payload; packed_left =
// the recorded packed size; unpacked_left = unpacked_size = the recorded unpacked size;
// cipher_id = the entry's cipher id with its deciphering key in place; output open.
// Sets data_crc and chain_pending itself.
// Afterwards ~data_crc is the CRC to compare with the record's. Uses the decoder of
// AllocDecoder when there is one, else allocates one for this call. False when the status
// word is set.
[[nodiscard]] bool ExpandEntry(DecoderState& d, StreamState& s);

}  // namespace hedgerow::codec
