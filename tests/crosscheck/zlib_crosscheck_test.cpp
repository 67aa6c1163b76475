// zlib_crosscheck_test.cpp -- CRC-32 against zlib's crc32 on random data of every small
// length and alignment and on long buffers fed in random pieces.

#include <gtest/gtest.h>
#include <zlib.h>

#include "crosscheck/random_input.h"
#include "crypto/crc32.h"

namespace hedgerow::crypto {
namespace {

using testing::RandomInput;

uint32_t ZlibCrc(const uint8_t* p, size_t n) {
    return static_cast<uint32_t>(crc32(0L, p, static_cast<uInt>(n)));
}

TEST(ZlibCrosscheck, Crc32) {
    RandomInput input(802);
    const auto data = input.Bytes(1 << 20);
    for (size_t offset = 0; offset < 16; ++offset) {
        for (size_t length = 0; length < 300; ++length) {
            ASSERT_EQ(Crc32(data.data() + offset, length), ZlibCrc(data.data() + offset, length))
                << offset << "+" << length;
        }
    }
    for (int trial = 0; trial < 50; ++trial) {
        SCOPED_TRACE(trial);
        const size_t start = input.Below(64), length = input.Below(static_cast<uint32_t>(data.size() - 64));
        uint32_t crc = 0xFFFFFFFFu;
        for (size_t at = 0; at < length;) {
            const size_t piece = std::min<size_t>(length - at, input.Below(20000));
            crc = Crc32Update(crc, data.data() + start + at, piece);
            at += piece;
        }
        ASSERT_EQ(~crc, ZlibCrc(data.data() + start, length));
    }
}

}  // namespace
}  // namespace hedgerow::crypto
