// strong_prepared.cpp -- the strong form of the prepared file (see strong_prepared.h).
#include "hide/strong_prepared.h"

#include <cstring>
#include <span>
#include <string_view>

#include "archive/temp_names.h"
#include "common/byte_order.h"
#include "crypto/crc32.h"
#include "crypto/wipe.h"
#include "hide/hide_file.h"
#include "strong/entry_data.h"
#include "strong/format.h"

namespace hedgerow::hide {

namespace {

constexpr size_t kHeadSize = kPreparedHeaderSize + kStrongPayloadHead;  // all before the data
constexpr size_t kSaltAt = kPreparedHeaderSize;
constexpr size_t kArgon2At = kSaltAt + strong::kSaltSize;
constexpr size_t kNonceAt = kPreparedHeaderSize + 28;
constexpr size_t kInfoAt = kPreparedHeaderSize + 40;
constexpr size_t kInfoSize = 64;
constexpr size_t kTagAt = kInfoAt + kInfoSize;
constexpr size_t kCrcAt = kTagAt + strong::kTagSize;
constexpr std::string_view kInfoKeyLabel = "hedgerow strong v1 hidden";

// What the info block holds.
struct Info {
    uint64_t file_size = 0;
    uint64_t stream_size = 0;
    uint8_t flags = 0;
    strong::Key data_key;
};

// The key of the info block under password, with the salt and parameters of head.
[[nodiscard]] bool InfoKey(const uint8_t head[kHeadSize], const char* password, strong::Key* key) {
    strong::Header kdf;
    std::memcpy(kdf.salt.data(), head + kSaltAt, strong::kSaltSize);
    kdf.argon2 = {Load32Le(head + kArgon2At), Load32Le(head + kArgon2At + 4), Load32Le(head + kArgon2At + 8)};
    strong::Key master;
    if (!strong::DeriveMasterKey(kdf, password, &master)) return false;
    const auto label = std::span(reinterpret_cast<const uint8_t*>(kInfoKeyLabel.data()), kInfoKeyLabel.size());
    return strong::HkdfSha256(master.bytes, kdf.salt, label, key->bytes);
}

std::span<const uint8_t> InfoAssociated(const uint8_t head[kHeadSize]) { return {head, kInfoAt}; }

}  // namespace

bool PackStrongForHiding(Context& cx, const char* file_name, const char* password, char* temp_name) {
    Session& s = cx.session;
    if (!strong::InitCryptoLibrary()) return Fail(s, Status::kUnsupported);
    archive::TempFile temp;
    if (const archive::TempClaim claim = archive::ClaimTempNameInTempDir(temp.name, &temp.file);
        claim != archive::TempClaim::kClaimed) {
        temp.name[0] = '\0';
        return Fail(s, archive::ClaimFailure(claim));
    }
    std::FILE* out = temp.file.get();
    StreamRelease release {cx};
    if (!codec::AllocOutputBuffer(cx.stream) || !codec::AllocEncoderTables(cx.encoder, cx.stream)) return false;
    platform::File source = platform::OpenFile(file_name, "rb");
    if (!source) return Fail(s, Status::kIoError);
    const int64_t size = platform::Length(source.get());
    if (size < 0) return Fail(s, Status::kIoError);

    uint8_t head[kHeadSize] = {};
    if (platform::WriteBytes(out, head, kHeadSize) != kHeadSize) return Fail(s, Status::kWriteError);
    strong::DataSealer sealer;
    strong::Record data;
    data.unpacked_size = static_cast<uint64_t>(size);
    if (!strong::SealFileData(s.status, cx.encoder, cx.stream, source.get(), data.unpacked_size, out, sealer, &data)) {
        return false;
    }
    const uint64_t length = kStrongPayloadHead + sealer.SealedBytes();
    // Far more than any carrier can take at one bit per unit.
    if (length > UINT32_MAX) return Fail(s, Status::kCarrierTooSmall);

    Store16Le(head + 2, kPreparedTag);
    Store32Le(head + 8, static_cast<uint32_t>(length));
    std::memcpy(head + 12, kStrongPreparedMagic, sizeof kStrongPreparedMagic);
    const strong::Argon2Parameters argon2 = strong::NewArgon2Parameters(cx.archive);
    Store32Le(head + kArgon2At, argon2.memory_kib);
    Store32Le(head + kArgon2At + 4, argon2.passes);
    Store32Le(head + kArgon2At + 8, argon2.lanes);
    if (!platform::RandomBytes(head + kSaltAt, strong::kSaltSize) ||
        !platform::RandomBytes(head + kNonceAt, strong::kNonceSize)) {
        return Fail(s, Status::kIoError);
    }
    uint8_t info[kInfoSize] = {};
    crypto::WipeOnExit wipe_info {info};
    Store64Le(info, data.unpacked_size);
    Store64Le(info + 8, data.stream_size);
    info[16] = data.flags;
    std::memcpy(info + 32, sealer.key.bytes.data(), strong::kKeySize);
    strong::Key key;
    strong::Aead aead;
    if (!InfoKey(head, password, &key) || !aead.SetKey(key) ||
        !aead.Seal(head + kNonceAt, InfoAssociated(head), info, std::span(head + kInfoAt, kInfoSize), head + kTagAt)) {
        return Fail(s, Status::kNoMemory);
    }
    Store32Le(head + kCrcAt, crypto::Crc32(head, kCrcAt));

    const uint64_t end = kPreparedHeaderSize + length;
    if (!platform::SeekTo(out, 0) || platform::WriteBytes(out, head, kHeadSize) != kHeadSize) {
        return Fail(s, Status::kWriteError);
    }
    // A stored second attempt is shorter than the compressed first one: cut what remains.
    if (!platform::TruncateAt(out, end)) return Fail(s, Status::kIoError);
    if (!temp.Finish(false)) return Fail(s, Status::kWriteError);
    std::memcpy(temp_name, temp.name, archive::kTempNameCapacity);
    temp.name[0] = '\0';  // handed to the caller
    return true;
}

bool UnpackStrongHidden(Context& cx, const char* temp_name, const char* output_name, const char* password) {
    Session& s = cx.session;
    if (!strong::InitCryptoLibrary()) return Fail(s, Status::kUnsupported);
    platform::File packed = platform::OpenFile(temp_name, "rb");
    if (!packed) return Fail(s, Status::kIoError);
    uint8_t head[kHeadSize];
    if (platform::ReadBytes(packed.get(), head, kHeadSize) != kHeadSize) return Fail(s, Status::kNothingHidden);
    if (Load32Le(head + kCrcAt) != crypto::Crc32(head, kCrcAt)) return Fail(s, Status::kCrcError);
    const strong::Argon2Parameters argon2 {Load32Le(head + kArgon2At), Load32Le(head + kArgon2At + 4),
                                           Load32Le(head + kArgon2At + 8)};
    if (!strong::Argon2ParametersAccepted(argon2)) return Fail(s, Status::kCrcError);

    // Hiding refuses an empty password, so it cannot be the right one.
    if (password == nullptr || password[0] == '\0') return Fail(s, Status::kBadPassword);
    uint8_t info[kInfoSize];
    crypto::WipeOnExit wipe_info {info};
    strong::Key key;
    strong::Aead aead;
    if (!InfoKey(head, password, &key) || !aead.SetKey(key)) return Fail(s, Status::kNoMemory);
    if (!aead.Open(head + kNonceAt, InfoAssociated(head), std::span<const uint8_t>(head + kInfoAt, kInfoSize), info,
                   head + kTagAt)) {
        return Fail(s, Status::kBadPassword);
    }
    strong::Record data;
    data.unpacked_size = Load64Le(info);
    data.stream_size = Load64Le(info + 8);
    data.flags = info[16];
    std::memcpy(data.data_key.bytes.data(), info + 32, strong::kKeySize);
    // The info block is authentic: a length that disagrees with it is damage.
    const uint64_t length = Load32Le(head + 8);
    if (length != kStrongPayloadHead + strong::SealedLength(data.stream_size, strong::kChunkSize)) {
        return Fail(s, Status::kCrcError);
    }

    StreamRelease release {cx};
    if (data.Compressed() && !codec::AllocDecoder(cx.decoder, cx.stream)) return false;
    strong::DataOpener opener;
    if (!opener.Begin(packed.get(), data, strong::kChunkSize)) return Fail(s, Status::kNoMemory);
    HidFileEntry entry {};
    entry.packed_size = static_cast<uint32_t>(length);
    entry.unpacked_size = static_cast<uint32_t>(data.unpacked_size);
    entry.unpacked_size_high = static_cast<uint32_t>(data.unpacked_size >> 32);
    entry.cipher_id = archive::kCipherIdStrong;
    archive::OutputRoot root;
    archive::OutputFile out;
    if (!CreateHiddenOutput(cx, output_name, entry, root, out)) return false;
    switch (strong::UnsealFileData(s.status, s.callbacks.progress, cx.decoder, cx.stream, opener, data, out.get())) {
        case strong::Unsealed::kWhole: return out.Commit(s);
        case strong::Unsealed::kDamaged: return Fail(s, Status::kCrcError);  // `out` takes the file away
        case strong::Unsealed::kStop: return false;
    }
    return false;
}

}  // namespace hedgerow::hide
