// bmp_carrier.cpp -- BMP header check, row walk and palette step (see bmp_carrier.h).
#include "hide/bmp_carrier.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include "common/byte_order.h"

namespace hedgerow::hide {

namespace {

// Offsets in the file (the 14-byte file header comes first).
constexpr uint32_t kPixelOffsetField = 10;
constexpr uint32_t kHeaderSizeField = 14;
constexpr uint32_t kImageSizeField = 34;        // every header but the 12-byte one
constexpr uint32_t kXResolutionField = 38;
constexpr uint32_t kColoursUsedField = 46;
constexpr uint32_t kFileHeaderSize = 14;

// Reads every row (without padding), lets visit change it, and writes it back when it
// says so. The row walk of the chunk loop is not moved.
template <typename Visit>
bool ForEachBmpRow(Session& s, CarrierState& c, Visit&& visit) {
    const BmpState& walk = c.bmp;
    std::vector<uint8_t> row(walk.row_bytes);
    for (uint32_t r = 0; r < walk.rows_left; ++r) {
        const uint64_t where = walk.next_row + static_cast<uint64_t>(r) * walk.stride;
        if (!platform::SeekTo(c.file.get(), where)) return Fail(s, Status::kIoError);
        if (!ReadExactly(s, c.file.get(), row.data(), row.size(), Status::kIoError)) return false;
        if (!visit(row.data(), walk.row_bytes)) continue;
        if (!platform::SeekTo(c.file.get(), where)) return Fail(s, Status::kIoError);
        if (!WriteExactly(s, c.file.get(), row.data(), row.size())) return false;
    }
    return true;
}

// Clears a 32-bit field whose lowest byte is not 0.
bool ClearField(Session& s, CarrierState& c, uint32_t offset, const uint8_t* value) {
    if (value[0] == 0) return true;
    const uint8_t zero[4] = {};
    if (!platform::SeekTo(c.file.get(), offset)) return Fail(s, Status::kIoError);
    return WriteExactly(s, c.file.get(), zero, sizeof zero);
}

}  // namespace

bool ParseBmpHeader(Session& s, CarrierState& c) {
    // File header and the bitmap header up to its longest form, read in one go.
    uint8_t head[kFileHeaderSize + 124] = {};
    head[0] = 'B';
    if (!ReadExactly(s, c.file.get(), head + 1, kHeaderSizeField + 4 - 1, Status::kBadFormat)) return false;
    if (head[1] != 'M' && head[1] != 'A') return Fail(s, Status::kBadFormat);
    const uint32_t pixel_offset = Load32Le(head + kPixelOffsetField);
    const uint32_t header_size = Load16Le(head + kHeaderSizeField);
    // 12: the core header; 40: the common one; 64: its OS/2 form; 108 and 124: its
    // versions 4 and 5 (colour masks, colour space, profile), which begin as the 40-byte
    // one does and add nothing that carrying bits changes.
    if (header_size != 12 && header_size != 40 && header_size != 64 && header_size != 108 && header_size != 124) {
        return Fail(s, Status::kBadFormat);
    }
    if (!ReadExactly(s, c.file.get(), head + kHeaderSizeField + 4, header_size - 4, Status::kBadFormat)) return false;
    // Pixels that began inside the headers would carry hidden bits into the very fields
    // the reader needs to find them again.
    if (pixel_offset < kFileHeaderSize + header_size) return Fail(s, Status::kBadFormat);

    const bool core = header_size == 12;
    const uint16_t width = Load16Le(head + 18);
    const uint16_t height_field = Load16Le(head + (core ? 20 : 22));
    const uint16_t planes = Load16Le(head + (core ? 22 : 26));
    const uint16_t bits = Load16Le(head + (core ? 24 : 28));
    if (width == 0 || height_field == 0) return Fail(s, Status::kBadFormat);
    if (planes != 1) return Fail(s, Status::kBadFormat);
    if (bits != 8 && bits != 24) return Fail(s, Status::kUnsupportedCarrier);
    if (!core && Load32Le(head + 30) != 0) return Fail(s, Status::kCompressedCarrier);

    // A negative height marks rows stored top-down; either way the rows are used in file
    // order, and there are as many as the height's magnitude.
    const int16_t height = static_cast<int16_t>(height_field);
    c.bmp.rows_left = height < 0 ? static_cast<uint32_t>(-static_cast<int32_t>(height)) : static_cast<uint32_t>(height);
    c.bmp.row_bytes = bits == 8 ? width : 3u * width;
    c.bmp.stride = (c.bmp.row_bytes + 3) & ~3u;
    c.bmp.next_row = pixel_offset;
    c.unit_size = 1;

    if (!c.embedding_pass) return true;
    if (!core) {
        if (!ClearField(s, c, kImageSizeField, head + kImageSizeField)) return false;
        if (!ClearField(s, c, kXResolutionField, head + kXResolutionField)) return false;
    }
    if (bits != 8) return true;
    const uint32_t palette_offset = kFileHeaderSize + header_size;
    const uint32_t entry_size = core ? 3 : 4;
    uint32_t entries = pixel_offset > palette_offset ? (pixel_offset - palette_offset) / entry_size : 0;
    entries = std::min(entries, 256u);
    if (!core) {
        // Readers show only the entries the header counts (0 means all 256).
        const uint32_t used = Load32Le(head + kColoursUsedField);
        if (used != 0) entries = std::min(entries, used);
    }
    return PrepareBmpPalette(s, c, palette_offset, entry_size, entries);
}

uint32_t NextBmpRow(CarrierState& c) {
    if (c.bmp.rows_left == 0) return 0;
    --c.bmp.rows_left;
    if (!platform::SeekTo(c.file.get(), c.bmp.next_row)) return 0;
    c.bmp.next_row += c.bmp.stride;
    return c.bmp.row_bytes;
}

PaletteLayout LayOutPalette(const std::array<uint32_t, 256>& counts, uint32_t slots) {
    std::vector<uint32_t> order;
    for (uint32_t i = 0; i < 256; ++i) {
        if (counts[i] != 0) order.push_back(i);
    }
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) { return counts[a] > counts[b]; });
    const size_t n = order.size();
    std::vector<uint32_t> share(n, 1);
    uint32_t remaining = slots - static_cast<uint32_t>(n);
    // With a power of two of slots, pass k can always give 2^k to each index in turn
    // until nothing remains, so every share ends as 1 or a power of two.
    for (uint32_t extra = 1; remaining > 0; extra *= 2) {
        for (size_t i = 0; i < n && remaining >= extra; ++i) {
            share[i] += extra;
            remaining -= extra;
        }
    }
    PaletteLayout layout;
    uint32_t top = slots;
    for (size_t i = n; i-- > 0;) {
        top -= share[i];
        layout.moves_to[order[i]] = static_cast<uint8_t>(top);
        std::fill_n(layout.shown_in.begin() + top, share[i], static_cast<uint8_t>(order[i]));
    }
    return layout;
}

bool PrepareBmpPalette(Session& s, CarrierState& c, uint32_t palette_offset, uint32_t entry_size,
                       uint32_t entries_present) {
    if (platform::FaultPoint(platform::FaultKind::kAlloc)) return Fail(s, Status::kNoMemory);
    std::array<uint32_t, 256> counts {};
    if (!ForEachBmpRow(s, c, [&](uint8_t* row, uint32_t n) {
            for (uint32_t i = 0; i < n; ++i) ++counts[row[i]];
            return false;
        })) {
        return false;
    }
    const uint32_t used = static_cast<uint32_t>(std::count_if(counts.begin(), counts.end(), [](uint32_t k) { return k; }));
    uint32_t highest = 0;
    for (uint32_t i = 0; i < 256; ++i) {
        if (counts[i] != 0) highest = i;
    }
    // The largest power of two of slots among the entries that are there.
    uint32_t slots = 1;
    while (slots * 2 <= entries_present) slots *= 2;
    // Nothing to gain when every slot is taken, and nothing safe to do when the picture
    // uses entries the palette does not have or more colours than the slots hold.
    if (used == 0 || used >= slots || highest >= entries_present || slots < 2) return true;

    const PaletteLayout layout = LayOutPalette(counts, slots);
    // The colours come from anywhere in the palette; the new layout fills the first slots.
    std::vector<uint8_t> old_palette(static_cast<size_t>(entries_present) * entry_size);
    if (!platform::SeekTo(c.file.get(), palette_offset)) return Fail(s, Status::kIoError);
    if (!ReadExactly(s, c.file.get(), old_palette.data(), old_palette.size(), Status::kIoError)) return false;
    std::vector<uint8_t> new_palette(static_cast<size_t>(slots) * entry_size);
    for (uint32_t slot = 0; slot < slots; ++slot) {
        const uint8_t* from = old_palette.data() + static_cast<size_t>(layout.shown_in[slot]) * entry_size;
        uint8_t* to = new_palette.data() + static_cast<size_t>(slot) * entry_size;
        std::copy_n(from, 3, to);
        if (entry_size == 4) to[3] = 0;
    }
    if (!platform::SeekTo(c.file.get(), palette_offset)) return Fail(s, Status::kIoError);
    if (!WriteExactly(s, c.file.get(), new_palette.data(), new_palette.size())) return false;
    return ForEachBmpRow(s, c, [&](uint8_t* row, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) row[i] = layout.moves_to[row[i]];
        return true;
    });
}

}  // namespace hedgerow::hide
