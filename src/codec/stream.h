// stream.h -- the buffered stream layer every byte of entry data passes through: packed
// output (bit writer, 8192-byte buffer, enciphering, chain block, pad bytes), packed input
// (deciphering), unpacked output (data CRC), progress and cancel, and the two copy loops
// of stored entries. A stream is a piece of one call's context: it carries its own key
// schedules and reports to the status word and progress procedure it is given.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include "common/heap.h"
#include "common/session.h"
#include "crypto/cipher.h"

namespace hedgerow::codec {

inline constexpr int32_t kOutBufferSize = 8192;      // packed output piece
inline constexpr int32_t kStoredPiece = 32512;       // stored payload piece (a multiple of 8)
inline constexpr int32_t kCopyBufferSize = 32768;    // buffer of the stored copy loops
inline constexpr int32_t kChainBlockSize = 8;
inline constexpr int32_t kPercentHalvingLimit = 0x1400000;  // keeps done * 100 within 32 bits
inline constexpr int32_t kKeyBufferSize = 250;       // the host's password buffer

// Where packed bytes go and come from when they do not go straight to the output file and
// come straight from packed_in: the sealing writer and the opening reader of strong
// archives. Called once per buffer, never per byte.
struct PackedChannel {
    void* context = nullptr;
    // Takes n packed bytes; false when they could not be written.
    bool (*write)(void* context, const uint8_t* bytes, size_t n) = nullptr;
    // Throws away what was written so far (the encoder goes back to store the source).
    bool (*restart)(void* context) = nullptr;
    // Gives up to n packed bytes; 0 at the end of the packed data, or when the channel
    // cannot give more (it knows why).
    size_t (*read)(void* context, uint8_t* buffer, size_t n) = nullptr;
};

// One stream: one source, one packed stream and one output at a time. File handles belong
// to the caller, who opens, positions and closes them. The key is set by the caller
// (crypto::SetEncipherKey or SetDecipherKey on `cipher`) before data passes.
struct StreamState {
    uint16_t* status = nullptr;         // the status word failures go to (first one kept)
    const CallbackSlot<ProgressProc>* progress = nullptr;  // reported per buffer; null: no reports
    const std::atomic<bool>* stop = nullptr;  // set by another thread: cancel at the next report (null: none)
    crypto::CipherState cipher;         // key schedules and chain register of the entry data
    const PackedChannel* channel = nullptr;  // packed bytes through this instead of the files
    std::FILE* source_file = nullptr;   // file being compressed
    std::FILE* packed_in = nullptr;     // archive (or temp file) the packed data is read from
    std::FILE* output = nullptr;        // packed data when compressing, unpacked when extracting;
                                        // null while extracting: the bytes are checked, written nowhere
    uint32_t data_crc = 0;              // running CRC-32 register of the unpacked data
    HeapBytes out_buffer;                // kOutBufferSize bytes; null until allocated
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

// Begins an entry's cipher on the stream: the cipher id, whether a chain block opens the
// data, and the key schedules from the password (no schedules for cipher -1). The one
// place where entry data gets its key; the password is the caller's to choose.
enum class Direction { kEncipher, kDecipher };
void BeginEntryCipher(StreamState& s, int32_t cipher_id, const char* password, Direction direction);

// A payload of a chaining cipher opens with a chain block: due at the start of every
// payload written or read (a stored second attempt gets a chain block of its own).
inline void ArmChainBlock(StreamState& s) { s.chain_pending = crypto::UsesChain(s.cipher_id); }

// Writes packed bytes to the channel or, without one, to output; the bytes written.
size_t WritePacked(StreamState& s, const uint8_t* bytes, size_t n);
// Goes back to where the packed data began (a channel restarts, a file is positioned at
// start). False when that fails.
[[nodiscard]] bool RestartPacked(StreamState& s, uint64_t start);

// Binds a stream to the status word and the progress procedure it reports to.
inline void AttachStream(StreamState& s, uint16_t& status, const CallbackSlot<ProgressProc>& progress) {
    s.status = &status;
    s.progress = &progress;
}

// Records a failure in the stream's status word (the first one stays) and returns false.
inline bool Fail(StreamState& s, Status code) { return hedgerow::Fail(*s.status, code); }
inline bool StreamOk(const StreamState& s) { return *s.status == 0; }

// StreamOk, after turning a stop asked for by another thread into kCancelled: the check
// of the places where work can stop (each report, each refill of an encoder's window).
inline bool KeepGoing(StreamState& s) {
    if (s.stop != nullptr && s.stop->load(std::memory_order_relaxed)) return Fail(s, Status::kCancelled);
    return StreamOk(s);
}

// Share of done in total as a percentage, in 32-bit signed arithmetic: both operands are
// halved while done is at least kPercentHalvingLimit. A total of 0 or less counts as done
// (100), so that an empty source can be reported.
int32_t Percent(int32_t done, int32_t total);

// ---- Packed output ------------------------------------------------------------------

// Allocates the zero-filled output buffer and clears out_fill and progress_reported.
// False (status kNoMemory) when memory is short. Lives until FreeOutputBuffer, across all
// files of one operation.
[[nodiscard]] bool AllocOutputBuffer(StreamState& s);
void FreeOutputBuffer(StreamState& s);

// Clears out_fill, progress_reported, not_worth_it, unpacked_size, packed_count,
// chain_pending and cipher_id. The caller sets unpacked_size and the cipher fields after.
void ResetPackedOutput(StreamState& s);

// Empties the bit writer.
void InitBitWriter(StreamState& s);

// Appends the low count bits of value (1 <= count <= 16), most significant first. Bytes
// are only kept while packed_count is below unpacked_size; after that they are dropped
// and not_worth_it is set, since the caller will store the entry anyway.
void PutBits(StreamState& s, int count, uint32_t value);

// Appends one byte to the output buffer, writing the buffer out first when it is full.
// PutBits and PutByte run per symbol: a failed write is kept in the status word, which
// the encoder looks at as each block and the stream end.
void PutByte(StreamState& s, uint8_t byte);

// Writes the buffer out: the chain block first if it is pending, then the buffered bytes,
// enciphered and padded to a multiple of 8 when a cipher is in use; reports progress and
// counts the bytes in packed_count. Afterwards the buffer holds count (0 or 1) bytes, the
// value byte. Writes nothing once the status word is set. False when the status word is
// set (now or before).
[[nodiscard]] bool FlushPackedBuffer(StreamState& s, uint8_t byte, int count);

// Pushes out a partly filled byte (zero bits behind the data) and writes the buffer.
// False when the status word is set.
[[nodiscard]] bool FlushBitWriter(StreamState& s);

// Enciphers length bytes in place with the entry's cipher (nothing for cipher -1). The
// buffer must reach the next multiple of 8.
void EncipherPacked(StreamState& s, uint8_t* buffer, int32_t length);

// Writes source_file (from its current position) to output as a stored payload: the chain
// block for ciphers 1 and 2, then pieces of kStoredPiece bytes, a short last piece padded
// to a multiple of 8. Before: source_file and output positioned; cipher_id set and the
// enciphering key in place. Sets chain_pending and recomputes data_crc over the source.
// Returns the packed byte count, or 0 with the status set.
int32_t StoreSourceFile(StreamState& s);

// ---- Source and unpacked side ---------------------------------------------------------

// Reads up to count bytes of source_file and adds them to data_crc. Returns the bytes
// read; 0 also when the read failed (status kIoError).
int32_t ReadSource(StreamState& s, uint8_t* buffer, int32_t count);

// Reads up to count bytes of packed data (never more than packed_left), taking the chain
// block first when it is pending, and deciphers them. The buffer must have room up to the
// next multiple of 8 past count. Returns the bytes read: 0 at the end of the packed data,
// and also when the read failed (status kIoError).
int32_t ReadPacked(StreamState& s, uint8_t* buffer, int32_t count);

// Writes count unpacked bytes to output, adds them to data_crc and reports progress.
// Returns the bytes written (status kWriteError when fewer, kCancelled on a cancel).
int32_t WriteUnpacked(StreamState& s, const uint8_t* buffer, int32_t count);

// Copies a stored payload from packed_in to output: before the call packed_in is at the
// payload, packed_left and unpacked_left/unpacked_size hold the recorded sizes, and
// cipher_id is the entry's cipher with its deciphering key in place. Writes at most
// unpacked_left bytes (pad bytes are dropped) and leaves the data CRC register in
// data_crc. Stops at a cancel or a failed read or write: false with the status set.
[[nodiscard]] bool CopyStoredEntry(StreamState& s);

}  // namespace hedgerow::codec
