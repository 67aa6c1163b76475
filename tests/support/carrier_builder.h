// carrier_builder.h -- small BMP, WAV and PCX carriers built byte by byte for tests, each
// with the list of its unit positions (the byte that holds a unit's lowest bit), and a
// prepared file made by hand, so that the carrier code can be tested without the codec.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace hedgerow::testing {

inline void PutLe(std::vector<uint8_t>& bytes, size_t at, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline void AppendLe(std::vector<uint8_t>& bytes, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

inline void AppendText(std::vector<uint8_t>& bytes, const std::string& text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
}

// A seeded xorshift, so that failures reproduce.
struct TestRandom {
    uint32_t state;
    explicit TestRandom(uint32_t seed) : state(seed ? seed : 1) {}
    uint32_t Next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    std::vector<uint8_t> Bytes(size_t n) {
        std::vector<uint8_t> out(n);
        for (auto& b : out) b = static_cast<uint8_t>(Next());
        return out;
    }
};

struct Carrier {
    std::vector<uint8_t> bytes;
    std::vector<size_t> units;   // offset of each unit's low byte, in the order they carry bits
};

struct BmpShape {
    char second = 'M';
    uint32_t header_size = 40;      // 12, 40, 64, 108 (version 4) or 124 (version 5)
    int32_t width = 8;
    int32_t height = 8;             // negative: rows stored top-down
    uint16_t planes = 1;
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t image_size = 0x1234;   // a value whose lowest byte is not 0
    uint32_t x_resolution = 0x0B13; // 2835 pixels per metre
    uint32_t palette_entries = 256; // entries stored before the pixels (8-bit pictures)
    uint32_t colours_used = 0;      // header's colour count field
    uint32_t colours = 256;         // 8-bit: pixels are indices from first_index on, this many
    uint32_t first_index = 0;
    uint32_t seed = 7;
};

// Palette entry i is blue = i, green = 255 - i, red = i * 7, so that every index has
// its own colour.
inline Carrier MakeBmp(const BmpShape& shape) {
    Carrier c;
    auto& b = c.bytes;
    const bool core = shape.header_size == 12;
    const uint32_t entry_size = core ? 3 : 4;
    const uint32_t palette_bytes = shape.bits == 8 ? shape.palette_entries * entry_size : 0;
    const uint32_t pixel_offset = 14 + shape.header_size + palette_bytes;
    const uint32_t row_bytes = static_cast<uint32_t>(shape.width) * (shape.bits / 8);
    const uint32_t stride = (row_bytes + 3) & ~3u;
    const uint32_t rows = static_cast<uint32_t>(std::abs(shape.height));
    b.assign(pixel_offset, 0);
    b[0] = 'B';
    b[1] = static_cast<uint8_t>(shape.second);
    PutLe(b, 2, pixel_offset + stride * rows, 4);
    PutLe(b, 10, pixel_offset, 4);
    PutLe(b, 14, shape.header_size, 4);
    if (core) {
        PutLe(b, 18, static_cast<uint32_t>(shape.width), 2);
        PutLe(b, 20, static_cast<uint32_t>(shape.height), 2);
        PutLe(b, 22, shape.planes, 2);
        PutLe(b, 24, shape.bits, 2);
    } else {
        PutLe(b, 18, static_cast<uint32_t>(shape.width), 4);
        PutLe(b, 22, static_cast<uint32_t>(shape.height), 4);
        PutLe(b, 26, shape.planes, 2);
        PutLe(b, 28, shape.bits, 2);
        PutLe(b, 30, shape.compression, 4);
        PutLe(b, 34, shape.image_size, 4);
        PutLe(b, 38, shape.x_resolution, 4);
        PutLe(b, 42, shape.x_resolution, 4);
        PutLe(b, 46, shape.colours_used, 4);
    }
    // Versions 4 and 5 as a common image tool writes them: colour masks (zero for
    // uncompressed pixels), the sRGB colour space, and version 5's rendering intent
    // (pictures) with no profile.
    if (shape.header_size >= 108) PutLe(b, 14 + 56, 0x73524742u, 4);  // 'sRGB'
    if (shape.header_size >= 124) PutLe(b, 14 + 108, 4, 4);
    for (uint32_t i = 0; i < palette_bytes / entry_size; ++i) {
        uint8_t* e = b.data() + 14 + shape.header_size + i * entry_size;
        e[0] = static_cast<uint8_t>(i);
        e[1] = static_cast<uint8_t>(255 - i);
        e[2] = static_cast<uint8_t>(i * 7);
    }
    TestRandom random(shape.seed);
    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t i = 0; i < stride; ++i) {
            uint8_t v = static_cast<uint8_t>(random.Next());
            if (i >= row_bytes) {
                v = 0xEE;  // padding, which must never change
            } else {
                if (shape.bits == 8) v = static_cast<uint8_t>(shape.first_index + v % shape.colours);
                c.units.push_back(b.size());
            }
            b.push_back(v);
        }
    }
    return c;
}

// The colours an 8-bit picture shows, row by row, as blue-green-red triples.
inline std::vector<uint8_t> RenderBmp8(const std::vector<uint8_t>& b) {
    const uint32_t header_size = b[14] | (b[15] << 8);
    const bool core = header_size == 12;
    const uint32_t entry_size = core ? 3 : 4;
    const uint32_t pixel_offset = b[10] | (b[11] << 8) | (b[12] << 16);
    const uint32_t width = b[18] | (b[19] << 8);
    const int16_t height = static_cast<int16_t>(b[core ? 20 : 22] | (b[core ? 21 : 23] << 8));
    const uint32_t rows = static_cast<uint32_t>(std::abs(height));
    const uint32_t stride = (width + 3) & ~3u;
    std::vector<uint8_t> out;
    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t x = 0; x < width; ++x) {
            const uint8_t index = b[pixel_offset + r * stride + x];
            const size_t entry = 14 + header_size + static_cast<size_t>(index) * entry_size;
            out.insert(out.end(), b.begin() + static_cast<long>(entry), b.begin() + static_cast<long>(entry) + 3);
        }
    }
    return out;
}

inline std::vector<uint8_t> RiffChunk(const std::string& tag, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out;
    AppendText(out, tag);
    AppendLe(out, static_cast<uint32_t>(data.size()), 4);
    out.insert(out.end(), data.begin(), data.end());
    if (data.size() % 2) out.push_back(0xAB);  // pad byte
    return out;
}

inline std::vector<uint8_t> FormatChunk(uint16_t bits, uint16_t channels = 1, uint16_t tag = 1) {
    std::vector<uint8_t> fmt;
    AppendLe(fmt, tag, 2);
    AppendLe(fmt, channels, 2);
    AppendLe(fmt, 8000, 4);
    AppendLe(fmt, 8000u * channels * ((bits + 7) / 8), 4);
    AppendLe(fmt, static_cast<uint32_t>(channels * ((bits + 7) / 8)), 2);
    AppendLe(fmt, bits, 2);
    return RiffChunk("fmt ", fmt);
}

struct WavPart {
    std::vector<uint8_t> chunk;  // a whole chunk, header included
    bool carries = false;        // a "data" chunk whose samples are units
};

// RIFF WAVE file from whole chunks; riff_size 0 means the true size.
inline Carrier MakeWav(const std::vector<WavPart>& parts, uint32_t unit_size = 1, uint32_t riff_size = 0) {
    Carrier c;
    AppendText(c.bytes, "RIFF");
    AppendLe(c.bytes, 0, 4);
    AppendText(c.bytes, "WAVE");
    for (const auto& part : parts) {
        if (part.carries) {
            const size_t data_size = part.chunk[4] | (part.chunk[5] << 8) | (part.chunk[6] << 16);
            for (size_t i = 0; i + unit_size <= data_size; i += unit_size) c.units.push_back(c.bytes.size() + 8 + i);
        }
        c.bytes.insert(c.bytes.end(), part.chunk.begin(), part.chunk.end());
    }
    PutLe(c.bytes, 4, riff_size ? riff_size : static_cast<uint32_t>(c.bytes.size() - 8), 4);
    return c;
}

struct PcxShape {
    uint8_t version = 5;
    bool encoded = true;
    uint8_t bits = 8;
    uint8_t planes = 1;
    int width = 10;
    int height = 6;
    int line_bytes = 10;            // bytes per plane line (width rounded up to even, as is usual)
    bool runs_cross_lines = false;  // code the whole picture as one run sequence
    uint32_t seed = 3;
};

// A PCX picture whose decoded bytes are runs of random lengths; the bytes of the
// decoded picture are the units, in order.
inline Carrier MakePcx(const PcxShape& shape, std::vector<uint8_t>* decoded_out = nullptr) {
    Carrier c;
    auto& b = c.bytes;
    b.assign(128, 0);
    b[0] = 10;
    b[1] = shape.version;
    b[2] = shape.encoded ? 1 : 0;
    b[3] = shape.bits;
    PutLe(b, 8, static_cast<uint32_t>(shape.width - 1), 2);
    PutLe(b, 10, static_cast<uint32_t>(shape.height - 1), 2);
    PutLe(b, 12, 72, 2);
    PutLe(b, 14, 72, 2);
    b[65] = shape.planes;
    PutLe(b, 66, static_cast<uint32_t>(shape.line_bytes), 2);
    PutLe(b, 68, 1, 2);
    const size_t line = static_cast<size_t>(shape.planes) * shape.line_bytes;
    const size_t total = line * shape.height;
    std::vector<uint8_t> decoded;
    TestRandom random(shape.seed);
    while (decoded.size() < total) {
        const uint8_t v = static_cast<uint8_t>(random.Next());
        const size_t run = 1 + random.Next() % 5;
        for (size_t i = 0; i < run && decoded.size() < total; ++i) decoded.push_back(v);
    }
    auto code = [&](size_t from, size_t to) {
        size_t i = from;
        while (i < to) {
            size_t run = 1;
            while (i + run < to && decoded[i + run] == decoded[i] && run < 63) ++run;
            if (run > 1 || decoded[i] >= 0xC0) b.push_back(static_cast<uint8_t>(0xC0 + run));
            b.push_back(decoded[i]);
            i += run;
        }
    };
    if (!shape.encoded) {
        b.insert(b.end(), decoded.begin(), decoded.end());
    } else if (shape.runs_cross_lines) {
        code(0, total);
    } else {
        for (size_t r = 0; r < static_cast<size_t>(shape.height); ++r) code(r * line, (r + 1) * line);
    }
    if (shape.bits * shape.planes == 8) {
        b.push_back(12);
        for (int i = 0; i < 768; ++i) b.push_back(static_cast<uint8_t>(i * 5));
    }
    for (size_t i = 0; i < total; ++i) c.units.push_back(i);  // positions in the decoded bytes
    if (decoded_out) *decoded_out = decoded;
    return c;
}

// A prepared file made by hand: header (CRC byte, 0, tag, size, packed size, magic) and
// the packed bytes; the carriers never look into the packed bytes.
inline std::vector<uint8_t> MakePrepared(const std::vector<uint8_t>& packed, uint32_t file_size = 0) {
    std::vector<uint8_t> p = {0x5C, 0x00, 0x38, 0x08};
    AppendLe(p, file_size ? file_size : static_cast<uint32_t>(packed.size()), 4);
    AppendLe(p, static_cast<uint32_t>(packed.size()), 4);
    AppendText(p, "Briar");
    p.insert(p.end(), packed.begin(), packed.end());
    return p;
}

}  // namespace hedgerow::testing
