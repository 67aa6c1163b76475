// format_tables.h -- the constants of the packed stream that the encoder and the decoder
// share: alphabet sizes, special symbols, and the base/extra-bit tables that turn length
// and distance slots into values. Nothing else is shared between the two sides.
#pragma once

#include <array>
#include <cstdint>

namespace hedgerow::codec {

inline constexpr uint32_t kWindowSize = 1u << 20;        // decoder history, bytes
inline constexpr uint32_t kWindowMask = kWindowSize - 1;
inline constexpr int kMaxCodeLength = 15;                // longest prefix code, bits
inline constexpr int kLengthCodeLimit = 7;               // longest code of the length code

inline constexpr int kLengthCodeSymbols = 19;            // code-length alphabet
inline constexpr int kMainSymbols = 298;                 // literals, copies, end of block
inline constexpr int kDistanceSymbols = 48;
inline constexpr int kRepeatSymbols = 28;                // lengths of recent-distance copies
inline constexpr int kLzLengths = kMainSymbols + kDistanceSymbols + kRepeatSymbols;  // 374
inline constexpr int kAudioSymbols = 257;                // per channel: 256 deltas + end
inline constexpr int kMaxChannels = 4;
inline constexpr int kMaxLengths = kAudioSymbols * kMaxChannels;  // 1028

// Main-alphabet symbols that are not literals.
inline constexpr int kSymCopyAgain = 256;     // last length at last distance
inline constexpr int kSymRecentFirst = 257;   // 257..260: k-th most recent distance
inline constexpr int kSymShortFirst = 261;    // 261..268: two bytes at a near distance
inline constexpr int kSymEndOfBlock = 269;    // a table header follows
inline constexpr int kSymLongFirst = 270;     // 270..297: length slot, then a distance
inline constexpr int kAudioEndOfBlock = 256;

// Code-length alphabet: 0..15 are lengths, then three run symbols.
inline constexpr int kRepeatPrevious = 16;    // 2 extra bits: 3..6 copies of the last length
inline constexpr int kZeros3To10 = 17;        // 3 extra bits
inline constexpr int kZeros11To138 = 18;      // 7 extra bits

// Length slots, shared by the long-copy symbols and the repeat-length code:
// value = base + extra bits read. Each base is the previous one plus 2^(its extra bits).
inline constexpr std::array<uint8_t, kRepeatSymbols> kLengthBase = {
    0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 12, 14, 16, 20, 24, 28,
    32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
inline constexpr std::array<uint8_t, kRepeatSymbols> kLengthExtra = {
    0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2,
    3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};

// Distance slots of long copies: distance - 1 = base + extra bits read.
inline constexpr std::array<uint32_t, kDistanceSymbols> kDistanceBase = {
    0, 1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 48, 64, 96, 128, 192,
    256, 384, 512, 768, 1024, 1536, 2048, 3072, 4096, 6144, 8192, 12288, 16384, 24576, 32768, 49152,
    65536, 98304, 131072, 196608, 262144, 327680, 393216, 458752, 524288, 589824, 655360, 720896,
    786432, 851968, 917504, 983040};
inline constexpr std::array<uint8_t, kDistanceSymbols> kDistanceExtra = {
    0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6,
    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14,
    15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};

// Short copies (symbols 261..268, length 2): distance - 1 = base + extra bits read.
inline constexpr std::array<uint8_t, 8> kShortBase = {0, 4, 8, 16, 32, 64, 128, 192};
inline constexpr std::array<uint8_t, 8> kShortExtra = {2, 2, 3, 4, 5, 6, 6, 6};

// Copy lengths grow by one at each of these distances: far copies must be longer to pay.
inline constexpr uint32_t kBonusDistance1 = 8192;
inline constexpr uint32_t kBonusDistance2 = 262144;
inline constexpr uint32_t kRecentBonusDistance = 257;  // recent-distance copies only

// The tables must chain: each base is the previous base plus the span of its extra bits.
constexpr bool TablesChain() {
    for (int i = 0; i + 1 < kRepeatSymbols; ++i)
        if (kLengthBase[i + 1] != kLengthBase[i] + (1u << kLengthExtra[i])) return false;
    for (int i = 0; i + 1 < kDistanceSymbols; ++i)
        if (kDistanceBase[i + 1] != kDistanceBase[i] + (1u << kDistanceExtra[i])) return false;
    for (int i = 0; i + 1 < 8; ++i)
        if (kShortBase[i + 1] != kShortBase[i] + (1u << kShortExtra[i])) return false;
    return kDistanceBase[47] + (1u << kDistanceExtra[47]) == kWindowSize &&
           kShortBase[7] + (1u << kShortExtra[7]) == 256;
}
static_assert(TablesChain());

}  // namespace hedgerow::codec
