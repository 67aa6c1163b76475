// extract.cpp -- ExtractFileMaskListHid.
#include "ops/extract.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "archive/open_list.h"
#include "archive/output_file.h"
#include "codec/decoder.h"
#include "codec/stream.h"
#include "names/replace_query.h"
#include "ops/data_key.h"
#include "ops/strong_archive.h"
#include "platform/platform.h"

namespace hedgerow::ops {

namespace {

struct EntryList {
    HidFileList list {};
    ~EntryList() { archive::DoneHidFileList(list); }
};

// Releases the stream layer's hold on files that are about to close.
struct StreamFiles {
    codec::StreamState& stream;
    ~StreamFiles() {
        stream.packed_in = nullptr;
        stream.output = nullptr;
    }
};

struct DecoderGuard {
    codec::DecoderState& decoder;
    ~DecoderGuard() { codec::FreeDecoder(decoder); }
};

enum class Outcome { kDone, kSkipped, kRetry, kStop };

// Restores the entry's time stamp and attributes on the finished file.
bool RestoreStampAndAttributes(Context& cx, const HidFileEntry& entry, const char* path) {
    platform::NativeFile handle = platform::OpenNativeForWriting(path);
    if (!handle.IsOpen()) return Fail(cx.session, Status::kIoError);
    const bool stamped = names::SetFileStamp(handle, entry.date_time);
    platform::CloseNative(handle);
    if (!stamped) return Fail(cx.session, Status::kIoError);
    (void)platform::SetAttributes(path, entry.attributes);
    return true;
}

// One attempt at one entry. After the host has agreed to replace an existing file, a
// retry with another password does not ask again.
Outcome ExtractEntry(Context& cx, std::FILE* archive_file, const HidFileEntry& entry, bool* replace_agreed) {
    // Sizes of 2 GiB or more are beyond the stream's signed arithmetic; our writer never
    // makes them, and taking one would let a record claim data it does not hold.
    if (entry.unpacked_size > static_cast<uint32_t>(INT32_MAX)) {
        Fail(cx.session, Status::kUnsupported);
        return Outcome::kStop;
    }
    codec::StreamState& stream = cx.stream;
    stream.data_crc = 0xFFFFFFFFu;
    stream.unpacked_size = static_cast<int32_t>(entry.unpacked_size);
    cx.archive.cipher_id = entry.cipher_id;  // an update that follows keeps to it
    if (!BeginDeciphering(cx, entry.cipher_id, entry.name)) {
        Fail(cx.session, Status::kBadPassword);
        return Outcome::kStop;
    }
    char path[archive::kOutputPathCapacity];
    size_t relative_start = 0;
    if (!archive::BuildOutputPath(cx.session, entry.name, path, &relative_start)) return Outcome::kStop;
    const auto& name_slot = cx.session.callbacks.file_name;
    if (name_slot.proc != nullptr) {
        const std::string shown = std::string("\\") + entry.name;
        name_slot.proc(name_slot.user, shown.c_str(), path);
    }
    if (!*replace_agreed) {
        const int32_t answer = names::AskReplaceOnExtract(cx.session, entry, path);
        if (answer == 1) return Outcome::kSkipped;
        if (answer == 2) {
            Fail(cx.session, Status::kCancelled);
            return Outcome::kStop;
        }
        *replace_agreed = true;
    }
    archive::OutputFile out;
    if (!archive::CreateOutputFile(cx.session, path, relative_start, out)) return Outcome::kStop;
    if (!platform::SeekTo(archive_file, static_cast<uint64_t>(entry.record_offset) + entry.record_length)) {
        Fail(cx.session, Status::kIoError);
        return Outcome::kStop;
    }
    stream.packed_in = archive_file;
    stream.packed_left = entry.packed_size;
    stream.unpacked_left = static_cast<int32_t>(entry.unpacked_size);
    stream.output = out.get();
    const bool expanded = codec::ExpandEntry(cx.decoder, cx.stream);
    stream.output = nullptr;
    if (!expanded || !StatusIsOk(cx.session)) return Outcome::kStop;
    // Data that ran out before the recorded size is damaged however its CRC comes out
    // (the CRC of nothing is the 0 that an empty entry records).
    if (stream.unpacked_left != 0 || ~stream.data_crc != entry.data_crc) {
        // The partial file goes with `out` unless the host accepts it.
        switch (AskAgainAfterBadData(cx, entry)) {
            case BadData::kRetry: return Outcome::kRetry;
            case BadData::kStop: return Outcome::kStop;
            case BadData::kAccept: break;
        }
    }
    if (!out.Commit(cx.session)) return Outcome::kStop;
    if (!RestoreStampAndAttributes(cx, entry, path)) return Outcome::kStop;
    return Outcome::kDone;
}

void ExtractList(Context& cx, const HidFileList& list) {
    platform::File archive_file = platform::OpenFile(cx.archive.name, "rb");
    if (!archive_file) {
        Fail(cx.session, Status::kIoError);
        return;
    }
    if (!codec::AllocDecoder(cx.decoder, cx.stream)) return;
    DecoderGuard decoder {cx.decoder};
    StreamFiles release {cx.stream};
    for (const HidFileEntry* entry = list.first; entry; entry = entry->next) {
        Outcome outcome;
        bool replace_agreed = false;
        do {
            outcome = ExtractEntry(cx, archive_file.get(), *entry, &replace_agreed);
        } while (outcome == Outcome::kRetry);
        if (outcome == Outcome::kStop) return;
    }
}

}  // namespace

void ExtractFileMaskListHid(Context& cx, const FileMaskList& masks) {
    if (cx.archive.strong) {
        ExtractStrongArchive(cx, masks);
        return;
    }
    ClearStatus(cx.session);
    if (cx.session.output_path_refused || cx.session.relative_path_refused) {
        Fail(cx.session, Status::kNameTooLong);
        return;
    }
    EntryList entries;
    archive::BuildHidFileList(cx.session, cx.archive, entries.list, masks);
    if (!StatusIsOk(cx.session)) return;
    ExtractList(cx, entries.list);
}

}  // namespace hedgerow::ops
