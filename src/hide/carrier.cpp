// carrier.cpp -- bit pump, collector, chunk loop and the carrier copy (see carrier.h).
#include "hide/carrier.h"

#include <algorithm>
#include <cstring>

#include "common/byte_order.h"
#include "names/replace_query.h"
#include "hide/bmp_carrier.h"
#include "hide/wav_carrier.h"

namespace hedgerow::hide {

namespace {

// Large chunks (a WAV "data" chunk may hold the whole sound) go through in pieces of
// this many bytes, an even number so that 16-bit units never straddle two pieces.
constexpr size_t kPieceBytes = 64 * 1024;
constexpr size_t kCopyBytes = 64 * 1024;

uint32_t NextChunk(Session& s, CarrierState& c) {
    switch (c.kind) {
        case CarrierKind::kBmp: return NextBmpRow(c);
        case CarrierKind::kWav: return NextWavData(s, c);
        case CarrierKind::kNone: break;
    }
    return 0;
}

// Units are little-endian: the lowest bit of a unit is the lowest bit of its first byte,
// and the pump never changes another bit, so only the first byte of each unit is touched.
template <uint32_t kUnit>
void EmbedUnits(CarrierState& c, uint8_t* data, size_t units) {
    for (size_t i = 0; i < units; ++i) data[i * kUnit] = static_cast<uint8_t>(EmbedBit(c, data[i * kUnit]));
}

template <uint32_t kUnit>
void CollectUnits(CarrierState& c, const uint8_t* data, size_t units) {
    for (size_t i = 0; i < units; ++i) CollectBit(c, data[i * kUnit]);
}

bool ExtractionFull(const CarrierState& c) { return c.extracted.size() >= c.extract_capacity; }

// Reads the chunk piece by piece, passes every unit through the pump and writes each
// piece back where it came from.
bool EmbedChunk(Session& s, CarrierState& c, uint32_t n) {
    const uint64_t units = n / c.unit_size;
    uint64_t bytes_left = units * c.unit_size;  // an odd last byte of 16-bit sound carries nothing
    std::vector<uint8_t> piece(static_cast<size_t>(std::min<uint64_t>(bytes_left, kPieceBytes)));
    while (bytes_left > 0) {
        const size_t count = static_cast<size_t>(std::min<uint64_t>(bytes_left, kPieceBytes));
        const int64_t where = platform::Tell(c.file.get());
        if (where < 0) return Fail(s, Status::kIoError);
        if (!ReadExactly(s, c.file.get(), piece.data(), count, Status::kIoError)) return false;
        if (c.unit_size == 2) {
            EmbedUnits<2>(c, piece.data(), count / 2);
        } else {
            EmbedUnits<1>(c, piece.data(), count);
        }
        if (!platform::SeekTo(c.file.get(), static_cast<uint64_t>(where))) return Fail(s, Status::kIoError);
        if (!WriteExactly(s, c.file.get(), piece.data(), count)) return false;
        // A read may not follow a write on the same stream without a positioning call.
        if (!platform::SeekTo(c.file.get(), static_cast<uint64_t>(where) + count)) return Fail(s, Status::kIoError);
        bytes_left -= count;
    }
    return true;
}

// Collects the chunk's units; stops once the extraction buffer is full, since nothing
// after that point is kept.
bool ExtractChunk(Session& s, CarrierState& c, uint32_t n) {
    const uint64_t units = n / c.unit_size;
    uint64_t bytes_left = units * c.unit_size;
    std::vector<uint8_t> piece(static_cast<size_t>(std::min<uint64_t>(bytes_left, kPieceBytes)));
    while (bytes_left > 0 && !ExtractionFull(c)) {
        const size_t count = static_cast<size_t>(std::min<uint64_t>(bytes_left, kPieceBytes));
        const size_t got = platform::ReadBytes(c.file.get(), piece.data(), count);
        if (c.unit_size == 2) {
            CollectUnits<2>(c, piece.data(), got / 2);
        } else {
            CollectUnits<1>(c, piece.data(), got);
        }
        // A chunk that runs past the end of the file is only an error if the units that
        // are needed lie beyond it.
        if (got < count) return ExtractionFull(c) || Fail(s, Status::kIoError);
        bytes_left -= count;
    }
    return true;
}

// Reads the first byte and runs the matching header parser.
bool ParseCarrierHeader(Session& s, CarrierState& c) {
    uint8_t first = 0;
    if (platform::ReadBytes(c.file.get(), &first, 1) != 1) return Fail(s, Status::kBadFormat);
    switch (first) {
        case 'B':
            c.kind = CarrierKind::kBmp;
            return ParseBmpHeader(s, c);
        case 'R':
            c.kind = CarrierKind::kWav;
            return ParseWavHeader(s, c);
        default: {
            // Pictures of kinds that carry nothing are unsupported, not malformed.
            uint8_t next[3] = {};
            const size_t got = platform::ReadBytes(c.file.get(), next, sizeof next);
            const uint32_t magic = static_cast<uint32_t>(first) << 24 | static_cast<uint32_t>(next[0]) << 16 |
                                   static_cast<uint32_t>(next[1]) << 8 | next[2];
            const bool known = got == sizeof next &&
                               (magic == 0x89504E47u ||               // PNG
                                (magic >> 8) == 0xFFD8FFu ||          // JPEG
                                magic == 0x47494638u ||               // GIF ("GIF8")
                                magic == 0x49492A00u || magic == 0x4D4D002Au);  // TIFF
            return Fail(s, known ? Status::kUnsupportedCarrier : Status::kBadFormat);
        }
    }
}

}  // namespace

bool IsPreparedHeader(const uint8_t header[kPreparedHeaderSize]) {
    return (Load32Le(header) >> 16) == kPreparedTag &&
           (std::memcmp(header + 12, kPreparedMagic, 5) == 0 || IsStrongPreparedHeader(header));
}

bool IsStrongPreparedHeader(const uint8_t header[kPreparedHeaderSize]) {
    return (Load32Le(header) >> 16) == kPreparedTag && std::memcmp(header + 12, kStrongPreparedMagic, 5) == 0;
}

void ResetCarrierState(CarrierState& c) { c = CarrierState {}; }

uint32_t EmbedBit(CarrierState& c, uint32_t unit) {
    if (--c.bits_left < 0) {
        uint8_t byte = 0;
        if (c.payload_mode && c.stream_pos < c.stream.size()) {
            byte = c.stream[c.stream_pos++];
        } else {
            if (c.payload_mode) {
                c.payload_mode = false;
                c.random.Seed(platform::MillisecondsSinceStart());
            }
            byte = c.random.Byte();
        }
        c.bit_buffer = (c.bit_buffer << 8) | byte;
        c.bits_left += 8;
    }
    return (unit & ~1u) | ((c.bit_buffer >> c.bits_left) & 1u);
}

void CollectBit(CarrierState& c, uint32_t unit) {
    c.accumulator |= unit & 1u;
    if (++c.collected >= 8) {
        c.collected -= 8;
        if (c.extracted.size() < c.extract_capacity) {
            c.extracted.push_back(static_cast<uint8_t>(c.accumulator >> c.collected));
        }
    }
    c.accumulator <<= 1;
}

uint64_t PreparedBytesEmbedded(const CarrierState& c) {
    if (!c.payload_mode) return c.prepared_size;  // the pump has gone past the whole stream
    const uint64_t bits_done = 8 * static_cast<uint64_t>(c.stream_pos) - static_cast<uint64_t>(c.bits_left);
    return std::min<uint64_t>(bits_done / 8, c.prepared_size);
}

bool PreparedFileEmbedded(const CarrierState& c) { return PreparedBytesEmbedded(c) >= c.prepared_size; }

bool ReadExactly(Session& s, std::FILE* f, void* buffer, size_t count, Status on_short) {
    if (count == 0) return true;
    if (platform::ReadBytes(f, buffer, count) != count) return Fail(s, on_short);
    return true;
}

bool WriteExactly(Session& s, std::FILE* f, const void* buffer, size_t count) {
    if (count == 0) return true;
    if (platform::WriteBytes(f, buffer, count) != count) return Fail(s, Status::kWriteError);
    return true;
}

bool LoadEmbeddedStream(Session& s, CarrierState& c, const char* prepared_name) {
    platform::File f = platform::OpenFile(prepared_name, "rb");
    if (!f) return Fail(s, Status::kIoError);
    const int64_t size = platform::Length(f.get());
    if (size < 0) return Fail(s, Status::kIoError);
    if (size == 0) return Fail(s, Status::kEmptyFile);
    if (platform::FaultPoint(platform::FaultKind::kAlloc)) return Fail(s, Status::kNoMemory);
    c.stream.assign(static_cast<size_t>(size) + kFillerSize, 0);
    if (!ReadExactly(s, f.get(), c.stream.data(), static_cast<size_t>(size), Status::kIoError)) {
        c.stream = {};
        return false;
    }
    // The filler is noise like the bits after it, so the end of the hidden data does not
    // show in the carrier.
    RandomDraws filler;
    filler.Seed(platform::MillisecondsSinceStart() ^ 0x5A5A5A5Au);
    for (uint32_t i = 0; i < kFillerSize; ++i) c.stream[static_cast<size_t>(size) + i] = filler.Byte();
    c.stream_pos = 0;
    c.prepared_size = static_cast<size_t>(size);
    return true;
}

bool NewExtractionBuffer(Session& s, CarrierState& c, size_t capacity) {
    if (platform::FaultPoint(platform::FaultKind::kAlloc)) return Fail(s, Status::kNoMemory);
    c.extracted.clear();
    c.extracted.reserve(capacity);
    c.extract_capacity = capacity;
    return true;
}

bool ProbeCarrier(Session& s, CarrierState& c, const char* name, uint32_t* unit_size) {
    ResetCarrierState(c);
    const CarrierStateReset reset {c};
    c.file = platform::OpenFile(name, "r+b");
    if (!c.file) return Fail(s, Status::kIoError);
    if (!ParseCarrierHeader(s, c)) return false;
    *unit_size = c.unit_size;
    return true;
}

bool OpenCarrierForEmbedding(Session& s, CarrierState& c, const char* name) {
    c.hiding = true;
    c.embedding_pass = true;
    c.file = platform::OpenFile(name, "r+b");
    if (!c.file) return Fail(s, Status::kIoError);
    if (!ParseCarrierHeader(s, c)) {
        c.file.reset();
        return false;
    }
    return true;
}

bool OpenCarrierForExtraction(Session& s, CarrierState& c, const char* name) {
    c.hiding = false;
    c.embedding_pass = false;
    c.file = platform::OpenFile(name, "rb");
    if (!c.file) return Fail(s, Status::kIoError);
    if (!ParseCarrierHeader(s, c)) {
        c.file.reset();
        return false;
    }
    return true;
}

bool RunCarrier(Session& s, CarrierState& c) {
    for (;;) {
        const uint32_t n = NextChunk(s, c);
        if (!StatusIsOk(s)) return false;
        if (n == 0) return true;
        if (!(c.hiding ? EmbedChunk(s, c, n) : ExtractChunk(s, c, n))) return false;
        if (c.hiding ? c.stream_pos >= c.stream.size() : ExtractionFull(c)) return true;
    }
}

bool MakeCarrierCopy(Session& s, const char* carrier, archive::TempFile& copy, bool copy_content) {
    if (!copy.Claim(s, carrier)) return false;
    if (!copy_content) return true;
    platform::File from = platform::OpenFile(carrier, "rb");
    if (!from) return Fail(s, Status::kIoError);
    const int64_t length = platform::Length(from.get());
    if (length < 0) return Fail(s, Status::kIoError);
    std::vector<uint8_t> buffer(kCopyBytes);
    uint64_t left = static_cast<uint64_t>(length);
    while (left > 0) {
        const size_t count = static_cast<size_t>(std::min<uint64_t>(left, kCopyBytes));
        if (!ReadExactly(s, from.get(), buffer.data(), count, Status::kIoError)) return false;
        if (!WriteExactly(s, copy.file.get(), buffer.data(), count)) return false;
        left -= count;
    }
    if (!platform::Close(copy.file)) return Fail(s, Status::kWriteError);
    return true;
}

bool SaveCarrierStamp(const char* name, CarrierStamp* saved) {
    *saved = CarrierStamp {};
    saved->have_attributes = platform::GetAttributes(name, &saved->attributes) == 0;
    platform::NativeFile handle = platform::OpenNativeForReading(name);
    if (handle.IsOpen()) {
        saved->have_stamp = names::GetFileStamp(handle, &saved->stamp);
        platform::CloseNative(handle);
    }
    return saved->have_attributes || saved->have_stamp;
}

int32_t RestoreCarrierStamp(const char* name, const CarrierStamp& saved) {
    if (saved.have_attributes) (void)platform::SetAttributes(name, saved.attributes);
    platform::NativeFile handle = platform::OpenNativeForWriting(name);
    if (!handle.IsOpen()) return -1;
    if (saved.have_stamp) (void)names::SetFileStamp(handle, saved.stamp);
    return platform::CloseNative(handle) ? 1 : 0;
}

bool ReplaceCarrierWithCopy(Session& s, archive::TempFile& copy, platform::File& written, const char* carrier,
                            StampToKeep keep) {
    if (&written != &copy.file) copy.file = std::move(written);
    // Private until now: the new version gets the permissions (and, for root, the owner)
    // of the carrier it replaces.
    if (!platform::CopyAccessMode(carrier, copy.file.get())) return Fail(s, Status::kIoError);
    if (!copy.Finish(true)) return Fail(s, Status::kWriteError);
    // A rename keeps the file's time and attributes, so they are set before it.
    if (keep.stamp) {
        const int32_t restored = RestoreCarrierStamp(copy.name, *keep.stamp);
        if (keep.restored) *keep.restored = restored;
    }
    if (!copy.RenameTo(carrier)) return Fail(s, Status::kIoError);
    return true;
}

bool EmbedIntoCarrier(Session& s, CarrierState& c, const char* carrier, const char* prepared_name,
                      StampToKeep keep, HideFigures* short_of) {
    ResetCarrierState(c);
    archive::TempFile copy;
    const CarrierStateReset reset {c};  // closes the copy before `copy` may remove it
    bool done = MakeCarrierCopy(s, carrier, copy, true) && OpenCarrierForEmbedding(s, c, copy.name) &&
                LoadEmbeddedStream(s, c, prepared_name) && RunCarrier(s, c);
    if (done && !PreparedFileEmbedded(c)) {
        if (short_of) short_of->room = PreparedBytesEmbedded(c);
        done = Fail(s, Status::kCarrierTooSmall);
    }
    if (done) done = ReplaceCarrierWithCopy(s, copy, c.file, carrier, keep);
    return done;
}

size_t CheckCollectedHeader(Session& s, const CarrierState& c, uint64_t unit_bound,
                            uint8_t header[kPreparedHeaderSize]) {
    bool found = c.extracted.size() >= kPreparedHeaderSize;
    if (found) {
        std::memcpy(header, c.extracted.data(), kPreparedHeaderSize);
        found = IsPreparedHeader(header);
    }
    // What the header announces must fit into the carrier at one bit per unit.
    const uint64_t packed = found ? Load32Le(header + 8) : 0;
    if (!found || 8 * (packed + kPreparedHeaderSize) > unit_bound) {
        Fail(s, Status::kNothingHidden);
        return 0;
    }
    return static_cast<size_t>(packed + kPreparedHeaderSize);
}

bool WriteCollected(Session& s, const CarrierState& c, const uint8_t header[kPreparedHeaderSize],
                    const char* temp_name) {
    const size_t keep = static_cast<size_t>(Load32Le(header + 8)) + kPreparedHeaderSize;
    if (c.extracted.size() < keep) return Fail(s, Status::kNothingHidden);
    platform::File out = platform::OpenFile(temp_name, "wb");
    if (!out) return Fail(s, Status::kIoError);
    const bool written = platform::WriteBytes(out.get(), c.extracted.data(), keep) == keep;
    if (!platform::Close(out) || !written) {
        (void)platform::RemoveFile(temp_name);
        return Fail(s, Status::kWriteError);
    }
    return true;
}

bool ExtractFromCarrier(Session& s, CarrierState& c, const char* carrier, const char* temp_name,
                        uint8_t header[kPreparedHeaderSize]) {
    ResetCarrierState(c);
    const CarrierStateReset reset {c};
    bool ok = OpenCarrierForExtraction(s, c, carrier) && NewExtractionBuffer(s, c, kPreparedHeaderSize) && RunCarrier(s, c);
    const int64_t length = ok ? platform::Length(c.file.get()) : -1;
    c.file.reset();
    size_t capacity = 0;
    if (ok) {
        if (length < 0) {
            ok = Fail(s, Status::kIoError);
        } else {
            capacity = CheckCollectedHeader(s, c, static_cast<uint64_t>(length), header);
            ok = capacity != 0;
        }
    }
    if (ok) {
        ResetCarrierState(c);
        ok = OpenCarrierForExtraction(s, c, carrier) && NewExtractionBuffer(s, c, capacity) && RunCarrier(s, c);
        c.file.reset();
        if (ok) ok = WriteCollected(s, c, header, temp_name);
    }
    return ok;
}

}  // namespace hedgerow::hide
