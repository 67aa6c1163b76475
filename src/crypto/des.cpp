// des.cpp -- DES and two-key triple DES. The block is worked on as two big-endian 32-bit
// halves; the initial and final permutations are bit-group exchanges, and each round
// looks up eight tables that merge one S-box with the P permutation (the "SP tables"),
// all computed at compile time from the FIPS 46 tables below. Not constant-time.

#include "crypto/des.h"

#include <array>
#include <cstring>

#include "common/rule_tables.h"
#include "crypto/grouping.h"
#include "crypto/wipe.h"
#include "common/byte_order.h"

namespace hedgerow::crypto {
namespace {

// The eight S-boxes of FIPS 46: four rows of sixteen columns each. The row is the first
// and last bit of the 6-bit input, the column the middle four.
constexpr uint8_t kSBox[8][4][16] = {
    {{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
     {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
     {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
     {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
    {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
     {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
     {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
     {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
    {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
     {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
     {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
     {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
    {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
     {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
     {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
     {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
    {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
     {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
     {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
     {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
    {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
     {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
     {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
     {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
    {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
     {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
     {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
     {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
    {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
     {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
     {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
     {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}},
};

// The permutation P applied to the S-box outputs: output bit i is input bit kP[i - 1].
constexpr uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                            2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

// Permuted choice 1: the 56 key bits (C then D) taken from the 64-bit key.
constexpr uint8_t kPc1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
                              10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
                              63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
                              14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

// Permuted choice 2: the 48 round-key bits taken from C and D (bits 1 to 56).
constexpr uint8_t kPc2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                              26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                              51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

// Left rotations of C and D before each of the sixteen rounds.
constexpr uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

constexpr bool SBoxRowsArePermutations() {
    for (const auto& box : kSBox) {
        for (const auto& row : box) {
            unsigned seen = 0;
            for (uint8_t v : row) seen |= 1u << v;
            if (seen != 0xFFFFu) return false;
        }
    }
    return true;
}
static_assert(SBoxRowsArePermutations());

constexpr uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> ((32 - n) & 31)); }
constexpr uint32_t Rotr(uint32_t x, int n) { return (x >> n) | (x << ((32 - n) & 31)); }

// SP table of S-box `box` (0-based): for each 6-bit input in E order (first bit most
// significant), the S-box output put through P, rotated left by one bit. The halves are
// kept rotated that way during the rounds (see DesCipherBlock), so the output can be
// XORed in directly. A 32-bit word holds DES bit i at bit 32 - i.
constexpr std::array<uint32_t, 64> MakeSpTable(int box) {
    std::array<uint32_t, 64> table{};
    for (uint32_t v = 0; v < 64; ++v) {
        const uint32_t row = ((v >> 4) & 2) | (v & 1);
        const uint32_t column = (v >> 1) & 15;
        const uint32_t s = kSBox[box][row][column];
        const uint32_t placed = s << (28 - 4 * box);  // S output at DES bits 4*box+1 .. 4*box+4
        uint32_t permuted = 0;
        for (int i = 1; i <= 32; ++i) {
            if ((placed >> (32 - kP[i - 1])) & 1) permuted |= 1u << (32 - i);
        }
        table[v] = Rotl(permuted, 1);
    }
    return table;
}

constexpr std::array<std::array<uint32_t, 64>, 8> MakeSpTables() {
    std::array<std::array<uint32_t, 64>, 8> tables{};
    for (int box = 0; box < 8; ++box) tables[box] = MakeSpTable(box);
    return tables;
}

using SpTables = std::array<std::array<uint32_t, 64>, 8>;

#ifdef HEDGEROW_COMPACT
// The compact build of the self-extractor program looks up the 64-entry tables (2 KiB,
// made at their first use).
inline uint32_t Sp(int box, uint32_t index) { return RuleTable<SpTables, MakeSpTables>()[box][index & 63]; }
#else
// The SP tables widened to 256 entries indexed by a whole byte: the two bits above
// each 6-bit group are ignored by repeating the 64 entries, which saves masking them off.
// 8 KiB in all. Tables that merge two S-boxes behind one 12-bit index halve the lookups
// but need 64 KiB, more than a typical L1 data cache, and measured no faster.
constexpr std::array<std::array<uint32_t, 256>, 8> MakeByteSpTables() {
    std::array<std::array<uint32_t, 256>, 8> tables{};
    const auto sp = MakeSpTables();
    for (int box = 0; box < 8; ++box) {
        for (int i = 0; i < 256; ++i) tables[box][i] = sp[box][i & 63];
    }
    return tables;
}

constexpr auto kSpByte = MakeByteSpTables();
inline uint32_t Sp(int box, uint32_t index) { return kSpByte[box][index]; }
#endif

// The round function on a half already through the initial permutation and rotated
// left by one bit. In that form (r' = R rotated left by 1) the E groups 2, 4, 6, 8 sit in
// the low six bits of each byte of r', and groups 1, 3, 5, 7 in those of r' rotated
// right by 4; k holds the round key in the same two layouts.
inline uint32_t F(uint32_t right, const uint32_t* k) {
    const uint32_t odd = Rotr(right, 4) ^ k[0], even = right ^ k[1];
    // A balanced XOR tree: a chained one (which compilers like to form from memory
    // operands) adds four dependent steps per round, and the chain of rounds is what
    // bounds the serial speed of CBC enciphering.
    uint32_t a = Sp(6, odd & 0xFF) ^ Sp(4, (odd >> 8) & 0xFF);
    uint32_t b = Sp(2, (odd >> 16) & 0xFF) ^ Sp(0, odd >> 24);
    uint32_t c = Sp(7, even & 0xFF) ^ Sp(5, (even >> 8) & 0xFF);
    uint32_t d = Sp(3, (even >> 16) & 0xFF) ^ Sp(1, even >> 24);
    KeepGrouping(a);
    KeepGrouping(b);
    KeepGrouping(c);
    KeepGrouping(d);
    uint32_t ab = a ^ b, cd = c ^ d;
    KeepGrouping(ab);
    KeepGrouping(cd);
    return ab ^ cd;
}

// Sixteen rounds; the halves are not exchanged after the last one (see the callers).
inline void Rounds(uint32_t& left, uint32_t& right, const uint32_t* k) {
    for (int round = 0; round < 16; round += 2, k += 4) {
        left ^= F(right, k);
        right ^= F(left, k + 2);
    }
}

// The same on n independent blocks, interleaved so that their lookups overlap.
template <int N>
inline void RoundsN(uint32_t* left, uint32_t* right, const uint32_t* k) {
    for (int round = 0; round < 16; round += 2, k += 4) {
        for (int i = 0; i < N; ++i) left[i] ^= F(right[i], k);
        for (int i = 0; i < N; ++i) right[i] ^= F(left[i], k + 2);
    }
}

// The initial permutation as five exchanges of bit groups between the halves, ending
// with both halves rotated left by one bit.
inline void InitialPermutation(uint32_t& left, uint32_t& right) {
    uint32_t t = ((left >> 4) ^ right) & 0x0F0F0F0Fu;
    right ^= t;
    left ^= t << 4;
    t = ((left >> 16) ^ right) & 0x0000FFFFu;
    right ^= t;
    left ^= t << 16;
    t = ((right >> 2) ^ left) & 0x33333333u;
    left ^= t;
    right ^= t << 2;
    t = ((right >> 8) ^ left) & 0x00FF00FFu;
    left ^= t;
    right ^= t << 8;
    right = Rotl(right, 1);
    t = (left ^ right) & 0xAAAAAAAAu;
    left ^= t;
    right ^= t;
    left = Rotl(left, 1);
}

// The inverse of InitialPermutation: each exchange undoes itself, so the steps are
// repeated in reverse order with the rotations reversed.
inline void FinalPermutation(uint32_t& left, uint32_t& right) {
    left = Rotr(left, 1);
    uint32_t t = (left ^ right) & 0xAAAAAAAAu;
    left ^= t;
    right ^= t;
    right = Rotr(right, 1);
    t = ((right >> 8) ^ left) & 0x00FF00FFu;
    left ^= t;
    right ^= t << 8;
    t = ((right >> 2) ^ left) & 0x33333333u;
    left ^= t;
    right ^= t << 2;
    t = ((left >> 16) ^ right) & 0x0000FFFFu;
    right ^= t;
    left ^= t << 16;
    t = ((left >> 4) ^ right) & 0x0F0F0F0Fu;
    right ^= t;
    left ^= t << 4;
}

}  // namespace

void DesKeySchedule(const uint8_t key[8], uint32_t schedule[kDesScheduleWords], bool decipher) {
    // Key bit i (1 = most significant bit of byte 0) is bit 64 - i of k.
    const uint64_t k = (static_cast<uint64_t>(Load32Be(key)) << 32) | Load32Be(key + 4);
    uint32_t c = 0, d = 0;
    for (int i = 0; i < 28; ++i) {
        c = (c << 1) | static_cast<uint32_t>((k >> (64 - kPc1[i])) & 1);
        d = (d << 1) | static_cast<uint32_t>((k >> (64 - kPc1[i + 28])) & 1);
    }
    for (int round = 0; round < 16; ++round) {
        for (int s = 0; s < kShifts[round]; ++s) {
            c = ((c << 1) | (c >> 27)) & 0x0FFFFFFFu;
            d = ((d << 1) | (d >> 27)) & 0x0FFFFFFFu;
        }
        const uint64_t cd = (static_cast<uint64_t>(c) << 28) | d;  // bit i of C|D at 56 - i
        uint32_t groups[8] = {};
        for (int i = 0; i < 48; ++i) {
            const uint32_t bit = static_cast<uint32_t>((cd >> (56 - kPc2[i])) & 1);
            groups[i / 6] |= bit << (5 - i % 6);
        }
        const int slot = decipher ? 15 - round : round;
        schedule[2 * slot] = (groups[0] << 24) | (groups[2] << 16) | (groups[4] << 8) | groups[6];
        schedule[2 * slot + 1] = (groups[1] << 24) | (groups[3] << 16) | (groups[5] << 8) | groups[7];
        SecureWipe(groups, sizeof groups);
    }
    SecureWipe(&c, sizeof c);
    SecureWipe(&d, sizeof d);
}

void DesCipherBlock(const uint8_t in[8], uint8_t out[8], const uint32_t schedule[kDesScheduleWords]) {
    uint32_t left = Load32Be(in), right = Load32Be(in + 4);
    InitialPermutation(left, right);
    Rounds(left, right, schedule);
    // The halves are exchanged after the last round.
    FinalPermutation(right, left);
    Store32Be(out, right);
    Store32Be(out + 4, left);
}

void Des3Block(uint8_t block[8], const uint32_t a[kDesScheduleWords], const uint32_t b[kDesScheduleWords]) {
    uint32_t left = Load32Be(block), right = Load32Be(block + 4);
    InitialPermutation(left, right);
    // FP followed by IP cancels, and so does the exchange of halves between the stages.
    Rounds(left, right, a);
    Rounds(right, left, b);
    Rounds(left, right, a);
    FinalPermutation(right, left);
    Store32Be(block, right);
    Store32Be(block + 4, left);
}

namespace {

// N blocks in place through DES with schedule a, or (kTriple) through a, b, a.
template <int N, bool kTriple>
inline void CipherLanes(uint8_t* data, const uint32_t* a, const uint32_t* b) {
    uint32_t left[N], right[N];
    for (int i = 0; i < N; ++i) {
        left[i] = Load32Be(data + 8 * i);
        right[i] = Load32Be(data + 8 * i + 4);
        InitialPermutation(left[i], right[i]);
    }
    RoundsN<N>(left, right, a);
    if constexpr (kTriple) {
        RoundsN<N>(right, left, b);
        RoundsN<N>(left, right, a);
    }
    for (int i = 0; i < N; ++i) {
        FinalPermutation(right[i], left[i]);
        Store32Be(data + 8 * i, right[i]);
        Store32Be(data + 8 * i + 4, left[i]);
    }
}

// Independent blocks go four at a time: one block's rounds form a chain of dependent
// lookups, and four chains side by side keep the processor's units busy.
constexpr int kLanes = 4;

}  // namespace

void DesEcbBuffer(uint8_t* data, size_t blocks, const uint32_t schedule[kDesScheduleWords]) {
    for (; blocks >= kLanes; blocks -= kLanes, data += 8 * kLanes) CipherLanes<kLanes, false>(data, schedule, nullptr);
    for (; blocks > 0; --blocks, data += 8) CipherLanes<1, false>(data, schedule, nullptr);
}

void Des3EncipherCbc(uint8_t* data, size_t blocks, const uint32_t a[kDesScheduleWords],
                     const uint32_t b[kDesScheduleWords], uint8_t chain[8]) {
    // The initial permutation is linear, IP(P ^ V) = IP(P) ^ IP(V), so the chain is kept
    // in permuted form and the permutations stay off the serial path from block to block.
    uint32_t chain_left = Load32Be(chain), chain_right = Load32Be(chain + 4);
    InitialPermutation(chain_left, chain_right);
    for (size_t i = 0; i < blocks; ++i, data += 8) {
        uint32_t left = Load32Be(data), right = Load32Be(data + 4);
        InitialPermutation(left, right);
        left ^= chain_left;
        right ^= chain_right;
        Rounds(left, right, a);
        Rounds(right, left, b);
        Rounds(left, right, a);
        chain_left = right;  // the ciphertext before the final permutation
        chain_right = left;
        FinalPermutation(right, left);
        Store32Be(data, right);
        Store32Be(data + 4, left);
    }
    FinalPermutation(chain_left, chain_right);
    Store32Be(chain, chain_left);
    Store32Be(chain + 4, chain_right);
}

void Des3DecipherCbc(uint8_t* data, size_t blocks, const uint32_t a[kDesScheduleWords],
                     const uint32_t b[kDesScheduleWords], uint8_t chain[8]) {
    uint8_t previous[8 * (kLanes + 1)];  // the chain, then the ciphertext of the lanes
    for (; blocks > 0;) {
        const int lanes = blocks >= kLanes ? kLanes : 1;
        std::memcpy(previous, chain, 8);
        std::memcpy(previous + 8, data, 8 * static_cast<size_t>(lanes));
        if (lanes == kLanes) {
            CipherLanes<kLanes, true>(data, a, b);
        } else {
            CipherLanes<1, true>(data, a, b);
        }
        for (int j = 0; j < 8 * lanes; ++j) data[j] ^= previous[j];
        std::memcpy(chain, previous + 8 * lanes, 8);
        data += 8 * lanes;
        blocks -= static_cast<size_t>(lanes);
    }
}

}  // namespace hedgerow::crypto
