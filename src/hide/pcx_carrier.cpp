// pcx_carrier.cpp -- PCX header check, run-length code, whole-file read and write, and
// the bit loops over the decoded scan lines (see pcx_carrier.h).
#include "hide/pcx_carrier.h"

#include <algorithm>

#include "common/byte_order.h"

namespace hedgerow::hide {

namespace {

constexpr uint8_t kRunMark = 0xC0;   // both top bits set: a count in the low six bits

struct PcxGeometry {
    bool enough_colours = false;
    bool exactly_256 = false;
    int32_t line_length = 0;
    int32_t rows = 0;
};

PcxGeometry ReadGeometry(const uint8_t* h) {
    PcxGeometry g;
    // Colours: 2 to the power of (bits per pixel x planes), the exponent taken mod 32.
    const uint32_t exponent = (static_cast<uint32_t>(h[3]) * h[65]) % 32;
    const uint64_t colours = uint64_t {1} << exponent;
    g.enough_colours = colours >= 256;
    g.exactly_256 = colours == 256;
    const auto y_min = static_cast<int16_t>(Load16Le(h + 6));
    const auto y_max = static_cast<int16_t>(Load16Le(h + 10));
    const auto line_bytes = static_cast<int16_t>(Load16Le(h + 66));
    g.line_length = static_cast<int32_t>(h[65]) * line_bytes;
    g.rows = static_cast<int32_t>(y_max) - y_min + 1;
    return g;
}

bool VersionOk(const uint8_t* h) { return static_cast<int8_t>(h[1]) >= 5; }

// Clears the PCX state however an operation ends.
struct PcxStateReset {
    PcxState& p;
    explicit PcxStateReset(PcxState& state) : p(state) {}
    PcxStateReset(const PcxStateReset&) = delete;
    PcxStateReset& operator=(const PcxStateReset&) = delete;
    ~PcxStateReset() { p = PcxState {}; }
};

}  // namespace

void ResetPcxState(PcxState& p) { p = PcxState {}; }

bool IsPcxCarrier(Session& s, PcxState& p, const char* name) {
    ResetPcxState(p);
    platform::File f = platform::OpenFile(name, "rb");
    if (!f) return Fail(s, Status::kIoError);
    if (platform::ReadBytes(f.get(), p.header.data(), kPcxHeaderSize) != kPcxHeaderSize) return false;
    if (p.header[0] != kPcxManufacturer) return false;
    if (!VersionOk(p.header.data())) return Fail(s, Status::kBadFormat);
    if (!ReadGeometry(p.header.data()).enough_colours) return Fail(s, Status::kUnsupportedCarrier);
    return true;
}

size_t DecodePcxRle(std::span<const uint8_t> packed, std::span<uint8_t> out) {
    size_t stored = 0;
    for (size_t i = 0; i < packed.size() && stored < out.size(); ++i) {
        size_t count = 1;
        uint8_t value = packed[i];
        if ((value & kRunMark) == kRunMark) {
            if (i + 1 == packed.size()) break;
            count = value & 0x3F;
            value = packed[++i];
        }
        count = std::min(count, out.size() - stored);
        std::fill_n(out.begin() + static_cast<std::ptrdiff_t>(stored), count, value);
        stored += count;
    }
    return stored;
}

uint64_t PcxDecodedLength(std::span<const uint8_t> packed) {
    uint64_t total = 0;
    for (size_t i = 0; i < packed.size(); ++i) {
        if ((packed[i] & kRunMark) == kRunMark) {
            if (i + 1 == packed.size()) break;
            total += packed[i++] & 0x3F;
        } else {
            ++total;
        }
    }
    return total;
}

void EmitPcxRun(uint8_t value, int count, std::vector<uint8_t>& out) {
    if (count == 1 && (value & kRunMark) != kRunMark) {
        out.push_back(value);
        return;
    }
    out.push_back(static_cast<uint8_t>(kRunMark + count));
    out.push_back(value);
}

void EncodePcxLine(std::span<const uint8_t> line, std::vector<uint8_t>& out) {
    size_t i = 0;
    while (i < line.size()) {
        const uint8_t value = line[i];
        size_t run = 1;
        while (i + run < line.size() && line[i + run] == value && run < kPcxMaxRun) ++run;
        EmitPcxRun(value, static_cast<int>(run), out);
        i += run;
    }
}

bool ReadPcx(Session& s, PcxState& p, std::FILE* f) {
    ResetPcxState(p);
    const int64_t length = platform::Length(f);
    if (length < 0 || !platform::SeekTo(f, 0)) return Fail(s, Status::kIoError);
    if (!ReadExactly(s, f, p.header.data(), kPcxHeaderSize, Status::kBadFormat)) return false;
    const uint8_t* h = p.header.data();
    if (h[0] != kPcxManufacturer || !VersionOk(h)) return Fail(s, Status::kBadFormat);
    const PcxGeometry g = ReadGeometry(h);
    if (!g.enough_colours) return Fail(s, Status::kUnsupportedCarrier);
    if (g.line_length <= 0 || g.rows <= 0) return Fail(s, Status::kBadFormat);
    p.encoded = h[2] != 0;
    p.has_palette = g.exactly_256;
    p.line_length = static_cast<uint32_t>(g.line_length);
    p.rows = static_cast<uint32_t>(g.rows);
    const uint64_t decoded_size = static_cast<uint64_t>(p.line_length) * p.rows;
    const int64_t palette_size = p.has_palette ? kPcxPaletteBlockSize : 0;
    const int64_t packed_size = length - kPcxHeaderSize - palette_size;
    if (packed_size < 0) return Fail(s, Status::kBadFormat);

    if (p.encoded) {
        if (platform::FaultPoint(platform::FaultKind::kAlloc)) return Fail(s, Status::kNoMemory);
        std::vector<uint8_t> packed(static_cast<size_t>(packed_size));
        if (!ReadExactly(s, f, packed.data(), packed.size(), Status::kBadFormat)) return false;
        // Pixel data that end before the picture does are a damaged file, not something
        // to fill in: writing it back would add pixels the carrier never had.
        if (PcxDecodedLength(packed) < decoded_size) return Fail(s, Status::kBadFormat);
        p.decoded.resize(static_cast<size_t>(decoded_size));
        (void)DecodePcxRle(packed, p.decoded);
    } else {
        if (decoded_size > static_cast<uint64_t>(packed_size)) return Fail(s, Status::kBadFormat);
        if (platform::FaultPoint(platform::FaultKind::kAlloc)) return Fail(s, Status::kNoMemory);
        p.decoded.resize(static_cast<size_t>(decoded_size));
        if (!ReadExactly(s, f, p.decoded.data(), p.decoded.size(), Status::kBadFormat)) return false;
    }
    if (p.has_palette) {
        if (!platform::SeekTo(f, static_cast<uint64_t>(length - palette_size))) return Fail(s, Status::kIoError);
        if (!ReadExactly(s, f, p.palette.data(), kPcxPaletteBlockSize, Status::kBadFormat)) return false;
    }
    return true;
}

bool WritePcx(Session& s, const PcxState& p, std::FILE* f) {
    if (!WriteExactly(s, f, p.header.data(), kPcxHeaderSize)) return false;
    if (p.encoded) {
        if (platform::FaultPoint(platform::FaultKind::kAlloc)) return Fail(s, Status::kNoMemory);
        std::vector<uint8_t> packed;
        packed.reserve(2 * p.decoded.size());  // a line never codes to more than twice its length
        for (uint32_t r = 0; r < p.rows; ++r) {
            EncodePcxLine(std::span<const uint8_t>(p.decoded).subspan(static_cast<size_t>(r) * p.line_length,
                                                                      p.line_length),
                          packed);
        }
        if (!WriteExactly(s, f, packed.data(), packed.size())) return false;
    } else if (!WriteExactly(s, f, p.decoded.data(), p.decoded.size())) {
        return false;
    }
    return !p.has_palette || WriteExactly(s, f, p.palette.data(), kPcxPaletteBlockSize);
}

void EmbedPcx(CarrierState& c, PcxState& p) {
    for (uint8_t& byte : p.decoded) {
        if (c.stream_pos >= c.stream.size() && c.bits_left == 0) break;
        byte = static_cast<uint8_t>(EmbedBit(c, byte));
    }
}

void ExtractPcx(CarrierState& c, const PcxState& p) {
    for (const uint8_t byte : p.decoded) {
        if (c.extracted.size() >= c.extract_capacity) break;
        CollectBit(c, byte);
    }
}

bool HidePcx(Session& s, CarrierState& c, PcxState& p, const char* carrier, const char* prepared_name,
             StampToKeep keep, HideFigures* short_of) {
    ResetCarrierState(c);
    const CarrierStateReset reset_carrier {c};
    const PcxStateReset reset_pcx {p};
    // Opened for writing as well, so that a carrier that cannot be written is refused
    // before any work; the new picture goes into a copy all the same.
    platform::File f = platform::OpenFile(carrier, "r+b");
    if (!f) return Fail(s, Status::kIoError);
    bool ok = ReadPcx(s, p, f.get());
    f.reset();
    if (ok) ok = LoadEmbeddedStream(s, c, prepared_name);
    if (ok) {
        EmbedPcx(c, p);
        if (!PreparedFileEmbedded(c)) {
            if (short_of) short_of->room = PreparedBytesEmbedded(c);
            ok = Fail(s, Status::kCarrierTooSmall);
        }
    }
    if (ok) {
        archive::TempFile copy;
        ok = MakeCarrierCopy(s, carrier, copy, false) && WritePcx(s, p, copy.file.get()) &&
             ReplaceCarrierWithCopy(s, copy, copy.file, carrier, keep);
    }
    return ok;
}

bool UnhidePcx(Session& s, CarrierState& c, PcxState& p, const char* carrier, const char* temp_name,
               uint8_t header[kPreparedHeaderSize]) {
    ResetCarrierState(c);
    const CarrierStateReset reset_carrier {c};
    const PcxStateReset reset_pcx {p};
    c.hiding = false;
    platform::File f = platform::OpenFile(carrier, "rb");
    if (!f) return Fail(s, Status::kIoError);
    bool ok = ReadPcx(s, p, f.get());
    f.reset();
    // Both collections walk the same decoded bytes, so the picture is read once.
    size_t capacity = 0;
    if (ok && NewExtractionBuffer(s, c, kPreparedHeaderSize)) {
        ExtractPcx(c, p);
        capacity = CheckCollectedHeader(s, c, p.decoded.size(), header);
    }
    ok = capacity != 0;
    if (ok) {
        ResetCarrierState(c);
        c.hiding = false;
        ok = NewExtractionBuffer(s, c, capacity);
        if (ok) {
            ExtractPcx(c, p);
            ok = WriteCollected(s, c, header, temp_name);
        }
    }
    return ok;
}

}  // namespace hedgerow::hide
