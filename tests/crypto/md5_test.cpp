// md5_test.cpp -- MD5 against the RFC 1321 test suite, and incremental hashing split at
// every point equal to hashing in one go.

#include "crypto/md5.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/hex.h"

namespace hedgerow::crypto {
namespace {

using testing::ToHex;

struct Md5Case {
    const char* message;
    const char* digest;
};

// RFC 1321, appendix A.5.
constexpr Md5Case kRfc1321Suite[] = {
    {"", "d41d8cd98f00b204e9800998ecf8427e"},
    {"a", "0cc175b9c0f1b6a831c399e269772661"},
    {"abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
    {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
    {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
     "57edf4a22be3c955ac49da2e2107b67a"},
};

TEST(Md5Test, Rfc1321Suite) {
    for (const Md5Case& c : kRfc1321Suite) {
        SCOPED_TRACE(c.message);
        uint8_t digest[kMd5DigestSize];
        Md5(c.message, std::strlen(c.message), digest);
        EXPECT_EQ(ToHex(digest, sizeof digest), c.digest);
    }
}

TEST(Md5Test, AnySplitEqualsOneGo) {
    // 200 bytes cover the padding boundaries at 55/56 and 63/64 and several blocks.
    std::vector<uint8_t> data(200);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
    for (size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 200u}) {
        uint8_t whole[kMd5DigestSize];
        Md5(data.data(), length, whole);
        for (size_t split = 0; split <= length; ++split) {
            Md5Context context;
            Md5Init(context);
            Md5Update(context, data.data(), split);
            Md5Update(context, data.data() + split, 0);
            Md5Update(context, data.data() + split, length - split);
            uint8_t pieces[kMd5DigestSize];
            Md5Final(context, pieces);
            ASSERT_EQ(ToHex(pieces, sizeof pieces), ToHex(whole, sizeof whole)) << length << " split at " << split;
        }
    }
}

}  // namespace
}  // namespace hedgerow::crypto
