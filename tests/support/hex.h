// hex.h -- hex strings to bytes and back, for known-answer tables in tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hedgerow::testing {

// "01 23ab" -> {0x01, 0x23, 0xab}; spaces are skipped.
inline std::vector<uint8_t> FromHex(std::string_view hex) {
    std::vector<uint8_t> out;
    int high = -1;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return out;
}

inline std::string ToHex(const uint8_t* p, size_t n) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s += kDigits[p[i] >> 4];
        s += kDigits[p[i] & 15];
    }
    return s;
}

template <typename Container>
std::string ToHex(const Container& c) {
    return ToHex(reinterpret_cast<const uint8_t*>(c.data()), c.size());
}

}  // namespace hedgerow::testing
