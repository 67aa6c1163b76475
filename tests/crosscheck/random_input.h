// random_input.h -- seeded random passwords and buffers for the cross-checks, so that a
// failure reproduces from its trial number.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace hedgerow::testing {

struct RandomInput {
    std::mt19937 rng;
    explicit RandomInput(uint32_t seed) : rng(seed) {}

    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(rng() % n); }

    // Passwords of 0 to 300 bytes without a zero byte; longer than 255 now and then.
    std::string Password() {
        std::string p(Below(8) == 0 ? 256 + Below(45) : Below(40), ' ');
        for (auto& c : p) c = static_cast<char>(1 + Below(255));
        return p;
    }

    std::vector<uint8_t> Bytes(size_t n) {
        std::vector<uint8_t> v(n);
        for (auto& b : v) b = static_cast<uint8_t>(rng());
        return v;
    }

    // A block count that is small most of the time and up to a few 8 KiB buffers now and then.
    size_t Blocks() { return Below(4) == 0 ? 1 + Below(4096) : 1 + Below(40); }
};

// The password bytes that the library digests: at most the first 255.
inline std::string UsedPassword(const std::string& p) { return p.substr(0, 255); }

}  // namespace hedgerow::testing
