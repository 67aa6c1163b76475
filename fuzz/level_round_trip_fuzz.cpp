// level_round_trip_fuzz.cpp -- the encoder of every level on arbitrary bytes: each level's
// payload must expand to the input, with the input's CRC, through the one decoder.
//
// Input: byte 0 picks the cipher id (-1, 0, 1, 2), the rest (up to 256 KiB, so that each
// input takes bounded time at every level) is the file to compress.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "support/codec_harness.h"

namespace {

constexpr size_t kLargestInput = 256 * 1024;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    using namespace hedgerow;
    const int32_t cipher = static_cast<int32_t>(data[0] % 4) - 1;
    const std::vector<uint8_t> input(data + 1, data + 1 + std::min(size - 1, kLargestInput));
    const auto unpacked = static_cast<int32_t>(input.size());
    for (int level = codec::kStoreLevel; level <= codec::kBestLevel; ++level) {
        auto st = testing::NewState(cipher);
        st->encoder.level = level;
        const testing::PackedEntry packed = testing::Compress(*st, input);
        if (!packed.ok || packed.crc != crypto::Crc32(input.data(), input.size())) __builtin_trap();
        // Stored exactly when the packed stream would not be smaller: the size rule the reader goes by.
        if (level == codec::kStoreLevel && packed.packed_size < unpacked) __builtin_trap();
        const testing::ExpandedEntry expanded = testing::Expand(*st, packed.payload, unpacked);
        if (!expanded.ok || expanded.crc != packed.crc || expanded.bytes != input) __builtin_trap();
    }
    return 0;
}
