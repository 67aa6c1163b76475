// hide_file.cpp -- hiding and unhiding: prepared file, capacity rule, carrier kinds,
// temporary files, carrier stamp (see hide_file.h).
#include "hide/hide_file.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "archive/output_file.h"
#include "archive/temp_names.h"
#include "codec/decoder.h"
#include "codec/encoder.h"
#include "codec/stream.h"
#include "crypto/cipher.h"
#include "common/byte_order.h"
#include "hide/pcx_carrier.h"
#include "hide/strong_prepared.h"
#include "names/replace_query.h"
#include "platform/platform.h"

namespace hedgerow::hide {

namespace {

// What hiding leaves behind in the archive state, for a later archive operation that
// does not name an archive anew: IDEA, unlocked, the password as the data password.
void LeaveHidingKeyBehind(archive::ArchiveState& a, const char* password) {
    a.locked = false;
    a.cipher_id = crypto::kCipherIdea;
    const char* text = password ? password : "";
    const size_t n = strnlen(text, sizeof a.data_password - 1);
    std::memset(a.data_password, 0, sizeof a.data_password);
    std::memcpy(a.data_password, text, n);
}

// HideFile's result when it stops before the carrier is changed.
int32_t Stop(Session& s, Status code) {
    Fail(s, code);
    return 0;
}

// Removes a temporary file once the operation has succeeded: its outcome is settled, and
// an allocation that fails here must neither change it nor escape from a destructor (the
// file's own guard tries again when it goes).
void RemoveQuietly(archive::TempFile& temp) {
    try {
        temp.Discard();
    } catch (const std::bad_alloc&) {
    }
}

int64_t LengthOf(const char* name) {
    platform::File f = platform::OpenFile(name, "rb");
    return f ? platform::Length(f.get()) : -1;
}

}  // namespace

bool PackForHiding(Context& cx, const char* file_name, const char* password, char* temp_name) {
    Session& s = cx.session;
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

    uint8_t header[kPreparedHeaderSize] = {};
    if (platform::WriteBytes(out, header, kPreparedHeaderSize) != kPreparedHeaderSize) {
        return Fail(s, Status::kWriteError);
    }
    cx.stream.source_file = source.get();
    cx.stream.output = out;
    codec::BeginEntryCipher(cx.stream, crypto::kCipherIdea, password, codec::Direction::kEncipher);
    int32_t packed = 0;
    if (!codec::CompressSource(cx.encoder, cx.stream, &packed)) return false;
    const int64_t size = platform::Length(source.get());
    if (size < 0) return Fail(s, Status::kIoError);

    header[0] = static_cast<uint8_t>(~cx.stream.data_crc);
    Store16Le(header + 2, kPreparedTag);
    Store32Le(header + 4, static_cast<uint32_t>(size));
    Store32Le(header + 8, static_cast<uint32_t>(packed));
    std::memcpy(header + 12, kPreparedMagic, sizeof kPreparedMagic);
    if (!platform::SeekTo(out, 0)) return Fail(s, Status::kIoError);
    if (platform::WriteBytes(out, header, kPreparedHeaderSize) != kPreparedHeaderSize) {
        return Fail(s, Status::kIoError);
    }
    // A stored second attempt is shorter than the packed first one: cut what remains.
    if (!platform::TruncateAt(out, kPreparedHeaderSize + static_cast<uint64_t>(packed))) {
        return Fail(s, Status::kIoError);
    }
    if (!temp.Finish(false)) return Fail(s, Status::kWriteError);
    std::memcpy(temp_name, temp.name, archive::kTempNameCapacity);
    temp.name[0] = '\0';  // handed to the caller
    return true;
}

int32_t HideFile(Context& cx, const char* carrier, const char* file_name, const char* password, PreparedForm form) {
    Session& s = cx.session;
    ClearStatus(s);
    if (password == nullptr || password[0] == '\0') return Stop(s, Status::kNoPassword);
    if (carrier == nullptr || file_name == nullptr) return Stop(s, Status::kIoError);
    CarrierStamp stamp;
    (void)SaveCarrierStamp(carrier, &stamp);
    {
        // A file that cannot be read stops everything before the carrier is touched.
        const int64_t length = LengthOf(file_name);
        if (length < 0) return Stop(s, Status::kIoError);
        if (length == 0) return Stop(s, Status::kEmptyFile);
        if (length > INT32_MAX) return Stop(s, Status::kTooLarge);  // sizes are kept in 31 bits
    }
    // The new carrier takes the old one's name by a rename, which would put a plain file
    // in the place of a link and leave the picture it points to as it was: a carrier named
    // through a link is the file the link leads to, rewritten in its own directory.
    std::string linked;
    if (platform::LinkTarget(carrier, &linked)) carrier = linked.c_str();
    LeaveHidingKeyBehind(cx.archive, password);

    archive::TempFile prepared;  // removed on every way out
    const bool packed = form == PreparedForm::kStrong ? PackStrongForHiding(cx, file_name, password, prepared.name)
                                                      : PackForHiding(cx, file_name, password, prepared.name);
    if (!packed) return 0;
    const int64_t needed = LengthOf(prepared.name);
    if (needed < 0) return Stop(s, Status::kIoError);
    const int64_t carrier_size = LengthOf(carrier);
    if (carrier_size < 0) return Stop(s, Status::kIoError);
    const int64_t units_needed = 8 * needed + kCapacitySlack;
    HideState& h = cx.hide;
    h.short_of.needed = static_cast<uint64_t>(needed);
    // The most a carrier of units units takes by the length rule.
    const auto room_by_rule = [](int64_t units) {
        return static_cast<uint64_t>(std::max<int64_t>(units - kCapacitySlack - 1, 0) / 8);
    };
    if (carrier_size <= units_needed) {
        h.short_of.room = room_by_rule(carrier_size);
        return Stop(s, Status::kCarrierTooSmall);
    }

    int32_t restored = 0;
    const StampToKeep keep {&stamp, &restored};  // put on the new carrier before it takes the name
    bool hidden = false;
    if (IsPcxCarrier(s, h.pcx, carrier)) {
        hidden = HidePcx(s, h.carrier, h.pcx, carrier, prepared.name, keep, &h.short_of);
    } else {
        if (!StatusIsOk(s)) return 0;
        uint32_t unit_size = 1;
        if (!ProbeCarrier(s, h.carrier, carrier, &unit_size)) return 0;
        if (unit_size == 2 && carrier_size / 2 <= units_needed) {
            h.short_of.room = room_by_rule(carrier_size / 2);
            return Stop(s, Status::kCarrierTooSmall);
        }
        hidden = EmbedIntoCarrier(s, h.carrier, carrier, prepared.name, keep, &h.short_of);
    }
    ResetPcxState(h.pcx);
    // A failed embedding never replaced the carrier, so there is nothing to put back.
    if (!hidden) return 0;
    RemoveQuietly(prepared);
    return restored;
}

bool CreateHiddenOutput(Context& cx, const char* output_name, HidFileEntry& entry, archive::OutputRoot& root,
                        archive::OutputFile& out) {
    Session& s = cx.session;
    char path[archive::kOutputPathCapacity];
    size_t relative_start = 0;
    if (!archive::BuildOutputPath(s, output_name, path, &relative_start)) return false;
    const auto& name_slot = s.callbacks.file_name;
    if (name_slot.proc != nullptr) {
        const std::string shown = std::string("\\") + output_name;
        name_slot.proc(name_slot.user, shown.c_str(), path);
    }
    entry.valid = 1;
    std::strncpy(entry.name, output_name, sizeof entry.name - 1);
    entry.date_time = platform::CurrentDosStamp();
    entry.attributes = platform::kAttrArchive;
    entry.enciphered = 1;
    const int32_t answer = names::AskReplaceOnExtract(s, entry, path);
    if (answer == 1 || answer == 2) return Fail(s, Status::kCancelled);
    return archive::CreateOutputFile(s, root, path, relative_start, out);
}

bool UnpackHidden(Context& cx, const uint8_t header[kPreparedHeaderSize], const char* temp_name,
                  const char* output_name, const char* password) {
    if (IsStrongPreparedHeader(header)) return UnpackStrongHidden(cx, temp_name, output_name, password);
    Session& s = cx.session;
    const uint32_t file_size = Load32Le(header + 4);
    const uint32_t packed_size = Load32Le(header + 8);
    // The stream layer counts in signed 32 bits; no prepared file is made larger.
    if (file_size > INT32_MAX) return Fail(s, Status::kNothingHidden);
    platform::File packed = platform::OpenFile(temp_name, "rb");
    if (!packed) return Fail(s, Status::kIoError);
    StreamRelease release {cx};
    if (!codec::AllocDecoder(cx.decoder, cx.stream)) return false;
    if (!platform::SeekTo(packed.get(), kPreparedHeaderSize)) return Fail(s, Status::kIoError);

    HidFileEntry entry {};
    entry.packed_size = packed_size;
    entry.unpacked_size = file_size;
    entry.cipher_id = crypto::kCipherIdea;
    entry.data_crc = header[0];
    archive::OutputRoot root;
    archive::OutputFile out;
    if (!CreateHiddenOutput(cx, output_name, entry, root, out)) return false;
    codec::StreamState& stream = cx.stream;
    stream.packed_in = packed.get();
    stream.output = out.get();
    stream.packed_left = packed_size;
    stream.unpacked_left = static_cast<int32_t>(file_size);
    stream.unpacked_size = static_cast<int32_t>(file_size);
    stream.data_crc = 0xFFFFFFFFu;
    codec::BeginEntryCipher(stream, crypto::kCipherIdea, password, codec::Direction::kDecipher);
    if (!codec::ExpandEntry(cx.decoder, stream)) return false;  // `out` takes the partial file away
    // Only the low byte of the CRC travels in the header, so about one wrong password in
    // 256 passes it; the garbage such a password deciphers to often runs out before the
    // recorded size, which shows it as well.
    if (stream.unpacked_left != 0 || static_cast<uint8_t>(~stream.data_crc) != header[0]) {
        return Fail(s, Status::kBadPassword);
    }
    return out.Commit(s);
}

void UnhideFile(Context& cx, const char* carrier, const char* output_name, const char* password) {
    Session& s = cx.session;
    ClearStatus(s);
    LeaveHidingKeyBehind(cx.archive, password);
    if (carrier == nullptr || output_name == nullptr) {
        Fail(s, Status::kIoError);
        return;
    }
    archive::TempFile temp;  // removed on every way out
    if (const archive::TempClaim claim = archive::ClaimTempNameInTempDir(temp.name, nullptr);
        claim != archive::TempClaim::kClaimed) {
        temp.name[0] = '\0';
        Fail(s, archive::ClaimFailure(claim));
        return;
    }
    HideState& h = cx.hide;
    bool found = false;
    if (IsPcxCarrier(s, h.pcx, carrier)) {
        found = UnhidePcx(s, h.carrier, h.pcx, carrier, temp.name, h.header);
    } else if (StatusIsOk(s)) {
        found = ExtractFromCarrier(s, h.carrier, carrier, temp.name, h.header);
    }
    ResetPcxState(h.pcx);
    if (!found) return;
    if (UnpackHidden(cx, h.header, temp.name, output_name, password ? password : "")) RemoveQuietly(temp);
}

}  // namespace hedgerow::hide
