// archive_builder.h -- builds archive files byte by byte for tests, independently of the
// library's own record writer (its own bitwise CRC-32, its own field layout), so that a
// fault shared by the library's writer and reader cannot hide.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "crypto/cipher.h"

namespace hedgerow::testing {

// Bit-by-bit CRC-32 (reflected 0xEDB88320, preset and final complement).
inline uint32_t ReferenceCrc32(const uint8_t* data, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

inline void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

inline uint32_t Get32(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | bytes[at + i];
    return value;
}

struct TestEntry {
    std::string name;            // stored name, OEM bytes
    std::vector<uint8_t> data;   // the packed data that follows the record
    int32_t cipher_id = -1;
    uint32_t unpacked_size = 0;  // 0: the data's size
    uint32_t data_crc = 0;
    uint32_t stamp = 0x2C210A00;  // 1 January 2002, 01:16:00
    uint32_t attributes = 0x20;
    uint32_t tag = 77;
    uint32_t packed_size_override = 0;  // nonzero: written instead of data.size()
    bool unterminated_name = false;     // fill the whole 256-byte name field
    bool corrupt_crc = false;
};

// A 432-byte entry record, plain.
inline std::vector<uint8_t> MakeRecord(const TestEntry& e) {
    std::vector<uint8_t> r(432, 0);
    Put32(r, 0, static_cast<uint32_t>(e.cipher_id));
    Put32(r, 8, e.tag);
    if (e.unterminated_name) {
        std::memset(r.data() + 76, 'N', 256);
    } else {
        std::memcpy(r.data() + 76, e.name.data(), std::min<size_t>(e.name.size(), 255));
    }
    Put32(r, 336, 432);
    Put32(r, 344, e.data_crc);
    Put32(r, 348, e.packed_size_override ? e.packed_size_override : static_cast<uint32_t>(e.data.size()));
    Put32(r, 352, e.unpacked_size ? e.unpacked_size : static_cast<uint32_t>(e.data.size()));
    Put32(r, 356, e.stamp);
    Put32(r, 360, e.attributes);
    Put32(r, 364, 30);
    Put32(r, 4, ReferenceCrc32(r.data() + 8, 424) ^ (e.corrupt_crc ? 1u : 0u));
    return r;
}

inline std::vector<uint8_t> MakeMarker(bool locked) {
    std::vector<uint8_t> m(34, 0);
    std::memcpy(m.data(), "Overgrown!", 10);
    Put32(m, 10, 0x1541524E);
    Put32(m, 14, 77);
    Put32(m, 18, locked ? 1 : 0);
    Put32(m, 22, 24);
    return m;
}

// prefix + marker + records and data; records enciphered with DES under
// header_password when it is given.
inline std::vector<uint8_t> MakeArchive(const std::vector<TestEntry>& entries, const std::string& header_password = "",
                                        size_t prefix = 0) {
    std::vector<uint8_t> out(prefix, 0x5A);
    const bool locked = !header_password.empty();
    const std::vector<uint8_t> marker = MakeMarker(locked);
    out.insert(out.end(), marker.begin(), marker.end());
    for (const TestEntry& e : entries) {
        std::vector<uint8_t> record = MakeRecord(e);
        if (locked) {
            crypto::CipherState cipher;
            crypto::SetEncipherKey(cipher, header_password.c_str(), crypto::kCipherDes);
            crypto::EncipherBuffer(cipher, record.data(), 432, crypto::kCipherDes);
        }
        out.insert(out.end(), record.begin(), record.end());
        out.insert(out.end(), e.data.begin(), e.data.end());
    }
    return out;
}

}  // namespace hedgerow::testing
