// stream.h -- the buffered stream layer every byte of entry data passes through: packed
// output (bit writer, 8192-byte buffer, enciphering, chain block, pad bytes), packed input
// (deciphering), unpacked output (data CRC), progress and cancel, the two copy loops of
// stored entries, and obtaining the data key before an entry is read.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

namespace hedgerow {
struct LibraryState;
}

namespace hedgerow::codec {

inline constexpr int32_t kOutBufferSize = 8192;      // packed output piece
inline constexpr int32_t kStoredPiece = 32512;       // stored payload piece (a multiple of 8)
inline constexpr int32_t kCopyBufferSize = 32768;    // buffer of the stored copy loops
inline constexpr int32_t kChainBlockSize = 8;
inline constexpr int32_t kPercentHalvingLimit = 0x1400000;  // keeps done * 100 within 32 bits
inline constexpr int32_t kKeyBufferSize = 250;       // the host's password buffer

// The one stream of the library: one source, one packed stream and one output at a time.
// File handles belong to the caller, who opens, positions and closes them.
struct StreamState {
    std::FILE* source_file = nullptr;   // file being compressed
    std::FILE* packed_in = nullptr;     // archive (or temp file) the packed data is read from
    std::FILE* output = nullptr;        // packed data when compressing, unpacked when extracting
    uint32_t data_crc = 0;              // running CRC-32 register of the unpacked data
    std::unique_ptr<uint8_t[]> out_buffer;  // kOutBufferSize bytes; null until allocated
    uint32_t out_fill = 0;              // bytes held in out_buffer
    uint64_t bit_buffer = 0;            // pending bits of the bit writer, newest lowest
    int32_t bit_count = 0;              // number of pending bits (0 to 47)
    int32_t packed_count = 0;           // packed bytes written: chain block and pad included
    int32_t unpacked_size = 0;          // entry's unpacked size; divisor of the progress
    bool not_worth_it = false;          // packed_count reached unpacked_size: store instead
    int32_t cipher_id = 0;              // -1 none, 0 DES, 1 triple DES, 2 IDEA
    bool chain_pending = false;         // the chain block is still to be written or read
    uint32_t packed_left = 0;           // packed bytes of the entry not yet read
    int32_t unpacked_left = 0;          // unpacked bytes still to produce (signed)
    int32_t progress_count = 0;         // work done: source bytes stepped over or bytes produced
    int32_t progress_reported = 0;      // progress_count at the last accepted report
};

// Share of done in total as a percentage, in 32-bit signed arithmetic: both operands are
// halved while done is at least kPercentHalvingLimit. A total of 0 or less counts as done
// (100), so that an empty source can be reported.
int32_t Percent(int32_t done, int32_t total);

// ---- Packed output ------------------------------------------------------------------

// Allocates the zero-filled output buffer and clears out_fill and progress_reported.
// False (status kNoMemory) when memory is short. Lives until FreeOutputBuffer, across all
// files of one operation.
[[nodiscard]] bool AllocOutputBuffer(LibraryState& st);
void FreeOutputBuffer(LibraryState& st);

// Clears out_fill, progress_reported, not_worth_it, unpacked_size, packed_count,
// chain_pending and cipher_id. The caller sets unpacked_size and the cipher fields after.
void ResetPackedOutput(LibraryState& st);

// Empties the bit writer.
void InitBitWriter(LibraryState& st);

// Appends the low count bits of value (1 <= count <= 16), most significant first. Bytes
// are only kept while packed_count is below unpacked_size; after that they are dropped
// and not_worth_it is set, since the caller will store the entry anyway.
void PutBits(LibraryState& st, int count, uint32_t value);

// Appends one byte to the output buffer, writing the buffer out first when it is full.
void PutByte(LibraryState& st, uint8_t byte);

// Writes the buffer out: the chain block first if it is pending, then the buffered bytes,
// enciphered and padded to a multiple of 8 when a cipher is in use; reports progress and
// counts the bytes in packed_count. Afterwards the buffer holds count (0 or 1) bytes, the
// value byte. Writes nothing once the status word is set.
void FlushPackedBuffer(LibraryState& st, uint8_t byte, int count);

// Pushes out a partly filled byte (zero bits behind the data) and writes the buffer.
void FlushBitWriter(LibraryState& st);

// Enciphers length bytes in place with the entry's cipher (nothing for cipher -1). The
// buffer must reach the next multiple of 8.
void EncipherPacked(LibraryState& st, uint8_t* buffer, int32_t length);

// Writes source_file (from its current position) to output as a stored payload: the chain
// block for ciphers 1 and 2, then pieces of kStoredPiece bytes, a short last piece padded
// to a multiple of 8. Before: source_file and output positioned; st.archive.cipher_id and
// data_password set. Sets cipher_id and chain_pending and recomputes data_crc over the
// source. Returns the packed byte count, or 0 with the status set.
int32_t StoreSourceFile(LibraryState& st);

// ---- Source and unpacked side ---------------------------------------------------------

// Reads up to count bytes of source_file and adds them to data_crc. Returns the bytes
// read; 0 also when the read failed (status kIoError).
int32_t ReadSource(LibraryState& st, uint8_t* buffer, int32_t count);

// Reads up to count bytes of packed data (never more than packed_left), taking the chain
// block first when it is pending, and deciphers them. The buffer must have room up to the
// next multiple of 8 past count. Returns the bytes read, or -1 when the read failed
// (status kIoError).
int32_t ReadPacked(LibraryState& st, uint8_t* buffer, int32_t count);

// Writes count unpacked bytes to output, adds them to data_crc and reports progress.
// Returns the bytes written (status kWriteError when fewer, kCancelled on a cancel).
int32_t WriteUnpacked(LibraryState& st, const uint8_t* buffer, int32_t count);

// Copies a stored payload from packed_in to output: before the call packed_in is at the
// payload, packed_left and unpacked_left/unpacked_size hold the recorded sizes, and
// st.archive.cipher_id is the entry's cipher; the key comes from data_password. Writes at
// most unpacked_left bytes (pad bytes are dropped) and leaves the data CRC register in
// data_crc. Runs to the end of the payload even after a cancel or a short write; the
// status tells.
void CopyStoredEntry(LibraryState& st);

// Sets the deciphering key of cipher_id before an entry is read: from the data password,
// or, when it is empty, from the host's CryptKeyProc, whose answer becomes the data
// password for the entries that follow. False when no key could be had (status
// kBadPassword, or no status when the host answered something other than 0 or 1).
[[nodiscard]] bool ObtainDataKey(LibraryState& st, const char* entry_name);

}  // namespace hedgerow::codec
