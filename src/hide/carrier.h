// carrier.h -- what BMP, WAV and PCX carriers share: the carrier state, the bit pump that
// spreads the embedded stream over the lowest bits of the carrier's units, the collector
// that reads it back, the chunk loop over BMP rows and WAV "data" chunks, and the copy of
// the carrier that hiding works on, so that the carrier is replaced only by a finished one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "archive/temp_names.h"
#include "common/session.h"
#include "platform/platform.h"

namespace hedgerow::hide {

// The prepared file: a 17-byte header, then the packed data.
inline constexpr uint32_t kPreparedHeaderSize = 17;
inline constexpr uint16_t kPreparedTag = 0x0838;          // upper half of the word at offset 0
inline constexpr char kPreparedMagic[5] = {'B', 'r', 'i', 'a', 'r'};  // at offset 12
inline constexpr char kStrongPreparedMagic[5] = {'T', 'h', 'o', 'r', 'n'};  // its strong form's
// Bytes written after the prepared file. The reader never needs them, and does not
// collect them: it takes the header first and then the header and the packed data, so
// that it reads no unit that hiding did not have to write.
inline constexpr uint32_t kFillerSize = 64;

// True for the header of a prepared file of either form: tag and magic; bytes 0 and 1 are
// not looked at.
bool IsPreparedHeader(const uint8_t header[kPreparedHeaderSize]);
// True for the header of a prepared file of the strong form.
bool IsStrongPreparedHeader(const uint8_t header[kPreparedHeaderSize]);

enum class CarrierKind : uint8_t { kNone, kBmp, kWav };

// Row walk of a BMP picture (see bmp_carrier.h).
struct BmpState {
    uint32_t row_bytes = 0;      // pixel bytes of a row, without its padding
    uint32_t stride = 0;         // row bytes rounded up to a multiple of 4
    uint32_t rows_left = 0;      // rows not yet handed to the chunk loop
    uint64_t next_row = 0;       // file offset of the next row
};

// Chunk walk of a WAV sound (see wav_carrier.h).
struct WavState {
    uint64_t riff_end = 0;       // RIFF size + 8: chunks at or past it are not used
    uint64_t scan = 0;           // offset of the next chunk header
};

// The runtime's linear congruential generator: draws are bits 16 to 30 of the state.
struct RandomDraws {
    uint32_t state = 0;
    void Seed(uint32_t seed) { state = seed; }
    uint32_t Draw() {
        state = state * 214013u + 2531011u;
        return (state >> 16) & 0x7FFF;
    }
    // Bits 7 to 14 of a draw: the generator's low bits are the least random ones.
    uint8_t Byte() { return static_cast<uint8_t>((Draw() & 0x7F80) >> 7); }
};

// One instance in the library state, reset at the start of every probe, embedding and
// extraction. Buffers are released before each operation returns.
struct CarrierState {
    platform::File file;                 // the carrier (its copy while embedding)
    bool hiding = true;                  // mode: hiding or recovering
    bool embedding_pass = false;         // the pass that writes: header rewrites, palette step
    CarrierKind kind = CarrierKind::kNone;
    uint32_t unit_size = 1;              // 1 byte, or 2 for 16-bit sound
    // Hiding: the prepared file followed by the filler, and how far it has been fetched.
    std::vector<uint8_t> stream;
    size_t stream_pos = 0;
    size_t prepared_size = 0;            // the part of the stream that must reach the carrier
    // Bit pump: bits of fetched bytes wait in bit_buffer, bits_left of them unused.
    uint32_t bit_buffer = 0;
    int32_t bits_left = 0;
    bool payload_mode = true;            // off: bytes come from the generator
    RandomDraws random;
    // Recovering: the bytes collected so far, up to extract_capacity, and the collector.
    std::vector<uint8_t> extracted;
    size_t extract_capacity = 0;
    uint32_t accumulator = 0;
    int32_t collected = 0;
    BmpState bmp;
    WavState wav;
};

// Fresh state: hiding mode, no palette step, pump in payload mode with an empty buffer.
void ResetCarrierState(CarrierState& c);

// Resets the carrier state however an operation ends (an allocation that throws
// included), so that no file stays open and no buffer stays allocated behind it.
struct CarrierStateReset {
    CarrierState& c;
    explicit CarrierStateReset(CarrierState& state) : c(state) {}
    CarrierStateReset(const CarrierStateReset&) = delete;
    CarrierStateReset& operator=(const CarrierStateReset&) = delete;
    ~CarrierStateReset() { ResetCarrierState(c); }
};

// The bit pump: returns unit with its lowest bit replaced by the next bit of the stream,
// most significant bit of each byte first. After the stream come generator bytes.
uint32_t EmbedBit(CarrierState& c, uint32_t unit);
// The collector: the lowest bit of unit is the next bit; every eighth one completes a
// byte, kept while the extraction buffer has room.
void CollectBit(CarrierState& c, uint32_t unit);

// True once every bit of the prepared file has gone into a unit.
bool PreparedFileEmbedded(const CarrierState& c);
// Whole bytes of the prepared file that have gone into units so far.
uint64_t PreparedBytesEmbedded(const CarrierState& c);

// How a carrier fell short: the bytes to hide (the prepared file) and the bytes it takes.
struct HideFigures {
    uint64_t needed = 0;
    uint64_t room = 0;
};

// Reads the prepared file and puts the filler behind it. Status kIoError (cannot read),
// kEmptyFile (empty), kNoMemory.
[[nodiscard]] bool LoadEmbeddedStream(Session& s, CarrierState& c, const char* prepared_name);
// An empty extraction buffer for capacity bytes.
[[nodiscard]] bool NewExtractionBuffer(Session& s, CarrierState& c, size_t capacity);

// Recognises a BMP or WAV carrier by its first byte and parses its header without
// writing anything (also in hiding mode); reports the unit size. The carrier is opened
// for reading and writing, so that one that cannot be written is refused here (kIoError).
// kBadFormat for an unknown kind, and the statuses of the header parsers.
[[nodiscard]] bool ProbeCarrier(Session& s, CarrierState& c, const char* name, uint32_t* unit_size);
// Opens name (the copy being embedded into) for the embedding pass: the header rewrites
// and, for 8-bit pictures, the palette step are written. The file stays open.
[[nodiscard]] bool OpenCarrierForEmbedding(Session& s, CarrierState& c, const char* name);
// Opens name for reading and parses its header in recovering mode. The file stays open.
[[nodiscard]] bool OpenCarrierForExtraction(Session& s, CarrierState& c, const char* name);

// The chunk loop: hands chunk after chunk to the pump (hiding) or the collector
// (recovering) until the stream is used up, the extraction buffer is full or the
// chunks end. A hiding pass finishes the chunk the stream ends in with generator bits.
// False with the status set when a chunk cannot be read or written whole.
[[nodiscard]] bool RunCarrier(Session& s, CarrierState& c);

// The carrier's attribute word and time stamp before hiding, as far as they can be read.
struct CarrierStamp {
    uint32_t attributes = 0;
    uint32_t stamp = 0;
    bool have_attributes = false;
    bool have_stamp = false;
};
// False when neither can be read.
[[nodiscard]] bool SaveCarrierStamp(const char* name, CarrierStamp* saved);
// Sets the attribute word, then the time stamp, as far as they were saved: -1 when the
// file cannot be opened for writing, else the result of closing it (nonzero on success).
int32_t RestoreCarrierStamp(const char* name, const CarrierStamp& saved);

// Hiding never writes into the carrier itself: it writes a new version of it under a
// temporary name beside it (archive::TempFile), which takes the carrier's place only when
// it is complete, so that a failure at any point leaves the carrier as it was.
// Claims the name; with copy_content the carrier's bytes are copied into the new file
// and it is closed, else it stays open and empty. kIoError, kWriteError.
[[nodiscard]] bool MakeCarrierCopy(Session& s, const char* carrier, archive::TempFile& copy, bool copy_content);
// Puts the new version on disk through written, its open handle (flushed, synced and
// closed), gives it the carrier's old stamp when one is given (*restored: the result of
// RestoreCarrierStamp), and renames it over the carrier, the last step, so that nothing
// can fail once the carrier has changed. kWriteError when the data did not reach the
// disk, kIoError when the rename fails; the new version is removed then.
struct StampToKeep {
    const CarrierStamp* stamp = nullptr;  // null: leave the new version's own
    int32_t* restored = nullptr;
};
[[nodiscard]] bool ReplaceCarrierWithCopy(Session& s, archive::TempFile& copy, platform::File& written,
                                          const char* carrier, StampToKeep keep = {});

// Hides the prepared file in a BMP or WAV carrier. The work is done on a copy beside the
// carrier that replaces it only when everything has been written, so that on any failure
// the carrier stays as it was. kCarrierTooSmall when the units run out before the
// prepared file has been written (*short_of then has the bytes it took).
[[nodiscard]] bool EmbedIntoCarrier(Session& s, CarrierState& c, const char* carrier, const char* prepared_name,
                                    StampToKeep keep = {}, HideFigures* short_of = nullptr);
// Recovers the prepared file from a BMP or WAV carrier into temp_name and hands back its
// header: collects the header first, then the header and the packed data it announces.
// kNothingHidden when no prepared file is found or the carrier's units end before the
// data its header announces.
[[nodiscard]] bool ExtractFromCarrier(Session& s, CarrierState& c, const char* carrier, const char* temp_name,
                                      uint8_t header[kPreparedHeaderSize]);

// After the first collection: copies and checks the header, returns the capacity for
// the second collection (header + packed size), or 0 with kNothingHidden set.
// unit_bound (the carrier's length will do) bounds the units the header may announce.
size_t CheckCollectedHeader(Session& s, const CarrierState& c, uint64_t unit_bound,
                            uint8_t header[kPreparedHeaderSize]);
// After the second collection: writes the prepared file to temp_name (kIoError when it
// cannot be created, kWriteError when written short, and the file is then removed).
// kNothingHidden when the carrier ended before the whole of it was collected.
[[nodiscard]] bool WriteCollected(Session& s, const CarrierState& c, const uint8_t header[kPreparedHeaderSize],
                                  const char* temp_name);

// Reads count bytes or fails with the given status.
[[nodiscard]] bool ReadExactly(Session& s, std::FILE* f, void* buffer, size_t count, Status on_short);
// Writes count bytes or fails with kWriteError.
[[nodiscard]] bool WriteExactly(Session& s, std::FILE* f, const void* buffer, size_t count);

}  // namespace hedgerow::hide
