// primitives_test.cpp -- the strong archives' primitives against the published vectors:
// ChaCha20-Poly1305 (RFC 8439, 2.8.2), Argon2id (RFC 9106, 5.3), HKDF-SHA-256 (RFC 5869,
// test case 1); and the properties sealing relies on: a changed byte, nonce or associated
// data fails the tag.
#include "strong/primitives.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/hex.h"

namespace hedgerow::strong {
namespace {

using testing::FromHex;
using Bytes = std::vector<uint8_t>;

Key KeyOf(const Bytes& bytes) {
    Key key;
    std::copy(bytes.begin(), bytes.end(), key.bytes.begin());
    return key;
}

struct AeadVector {
    const char* key;
    const char* nonce;
    const char* associated;
    const char* plaintext;  // text
    const char* ciphertext;
    const char* tag;
};
// RFC 8439, section 2.8.2.
constexpr AeadVector kRfc8439 {
    "808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f",
    "070000004041424344454647",
    "50515253c0c1c2c3c4c5c6c7",
    "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the future, sunscreen would be it.",
    "d31a8d34648e60db7b86afbc53ef7ec2a4aded51296e08fea9e2b5a736ee62d63dbea45e8ca9671282fafb69da92728b1a71de0a9e060b2905d6"
    "a5b67ecd3b3692ddbd7f2d778b8c9803aee328091b58fab324e4fad675945585808b4831d7bc3ff4def08e4b7a9de576d26586cec64b6116",
    "1ae10b594f09e26a7e902ecbd0600691",
};

TEST(PrimitivesTest, ChaCha20Poly1305Vector) {
    const AeadVector& v = kRfc8439;
    Aead aead;
    ASSERT_TRUE(aead.SetKey(KeyOf(FromHex(v.key))));
    const Bytes nonce = FromHex(v.nonce);
    const Bytes ad = FromHex(v.associated);
    const std::string text = v.plaintext;
    const Bytes plain(text.begin(), text.end());
    Bytes sealed(plain.size());
    uint8_t tag[kTagSize];
    ASSERT_TRUE(aead.Seal(nonce.data(), ad, plain, sealed, tag));
    EXPECT_EQ(sealed, FromHex(v.ciphertext));
    EXPECT_EQ(Bytes(tag, tag + kTagSize), FromHex(v.tag));

    Bytes opened(sealed.size());
    ASSERT_TRUE(aead.Open(nonce.data(), ad, sealed, opened, tag));
    EXPECT_EQ(opened, plain);
    // In place, as the archive's code seals and opens.
    Bytes in_place = plain;
    ASSERT_TRUE(aead.Seal(nonce.data(), ad, in_place, in_place, tag));
    EXPECT_EQ(in_place, sealed);

    // Every change is caught: a ciphertext bit, the tag, the nonce, the associated data.
    Bytes flipped = sealed;
    flipped[17] ^= 1;
    EXPECT_FALSE(aead.Open(nonce.data(), ad, flipped, opened, tag));
    uint8_t bad_tag[kTagSize];
    std::copy(tag, tag + kTagSize, bad_tag);
    bad_tag[0] ^= 0x80;
    EXPECT_FALSE(aead.Open(nonce.data(), ad, sealed, opened, bad_tag));
    Bytes other_nonce = nonce;
    other_nonce[11] ^= 1;
    EXPECT_FALSE(aead.Open(other_nonce.data(), ad, sealed, opened, tag));
    Bytes other_ad = ad;
    other_ad.push_back(0);
    EXPECT_FALSE(aead.Open(nonce.data(), other_ad, sealed, opened, tag));
}

TEST(PrimitivesTest, Argon2idVector) {
    // RFC 9106, section 5.3: 32 KiB, 3 passes, 4 lanes, with a secret and associated data.
    const Bytes password(32, 0x01);
    const Bytes salt(16, 0x02);
    const Bytes secret(8, 0x03);
    const Bytes associated(12, 0x04);
    Bytes tag(32);
    ASSERT_TRUE(Argon2id(password, salt, {32, 3, 4}, tag, secret, associated));
    EXPECT_EQ(tag, FromHex("0d640df58d78766c08c037a34a8b53c9d01ef0452d75b65eb52520e96b01e659"));
    // Parameters a reader must refuse.
    EXPECT_FALSE(Argon2id(password, salt, {32, 0, 4}, tag));
    EXPECT_FALSE(Argon2id(password, salt, {16, 3, 4}, tag));  // less than 8 KiB per lane
}

TEST(PrimitivesTest, HkdfVector) {
    // RFC 5869, test case 1.
    Bytes out(42);
    ASSERT_TRUE(HkdfSha256(FromHex("0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b"), FromHex("000102030405060708090a0b0c"),
                           FromHex("f0f1f2f3f4f5f6f7f8f9"), out));
    EXPECT_EQ(out, FromHex("3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865"));
}

}  // namespace
}  // namespace hedgerow::strong
