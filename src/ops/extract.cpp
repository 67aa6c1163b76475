// extract.cpp -- ExtractFileMaskListHid.
#include "ops/extract.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "archive/open_list.h"
#include "codec/decoder.h"
#include "codec/stream.h"
#include "names/replace_query.h"
#include "ops/output_file.h"
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
    LibraryState& st;
    ~DecoderGuard() { codec::FreeDecoder(st); }
};

enum class Outcome { kDone, kSkipped, kRetry, kStop };

// Asks the host for another data password after a failed check. kRetry when it gave
// one; kDone when it accepts the file as written; kStop with the status set otherwise.
Outcome AskAgainAfterBadData(LibraryState& st, const HidFileEntry& entry) {
    if (entry.cipher_id == -1) {
        Fail(st.session, Status::kCrcError);
        return Outcome::kStop;
    }
    const auto& slot = st.session.callbacks.crypt_key;
    if (slot.proc == nullptr) {
        Fail(st.session, Status::kBadPassword);
        return Outcome::kStop;
    }
    char password[codec::kKeyBufferSize] = {};
    const std::string name = entry.name;
    const int32_t answer = slot.proc(slot.user, password, name.c_str());
    if (answer == 0) {
        Fail(st.session, Status::kBadPassword);
        return Outcome::kStop;
    }
    if (answer == 1) {
        const size_t n = strnlen(password, sizeof st.archive.data_password - 1);
        std::memset(st.archive.data_password, 0, sizeof st.archive.data_password);
        std::memcpy(st.archive.data_password, password, n);
        return Outcome::kRetry;
    }
    return Outcome::kDone;
}

// Restores the entry's time stamp and attributes on the finished file.
bool RestoreStampAndAttributes(LibraryState& st, const HidFileEntry& entry, const char* path) {
    platform::NativeFile handle = platform::OpenNativeForWriting(path);
    if (!handle.IsOpen()) return Fail(st.session, Status::kIoError);
    const bool stamped = names::SetFileStamp(handle, entry.date_time) == 0;
    platform::CloseNative(handle);
    if (!stamped) return Fail(st.session, Status::kIoError);
    (void)platform::SetAttributes(path, entry.attributes);
    return true;
}

// One attempt at one entry. After the host has agreed to replace an existing file, a
// retry with another password does not ask again.
Outcome ExtractEntry(LibraryState& st, std::FILE* archive_file, const HidFileEntry& entry, bool* replace_agreed) {
    // Sizes of 2 GiB or more are beyond the stream's signed arithmetic; our writer never
    // makes them, and taking one would let a record claim data it does not hold.
    if (entry.unpacked_size > static_cast<uint32_t>(INT32_MAX)) {
        Fail(st.session, Status::kUnsupported);
        return Outcome::kStop;
    }
    codec::StreamState& stream = st.stream;
    stream.data_crc = 0xFFFFFFFFu;
    stream.unpacked_size = static_cast<int32_t>(entry.unpacked_size);
    st.archive.cipher_id = entry.cipher_id;
    stream.cipher_id = entry.cipher_id;
    if (!codec::ObtainDataKey(st, entry.name)) {
        Fail(st.session, Status::kBadPassword);
        return Outcome::kStop;
    }
    char path[kOutputPathCapacity];
    size_t relative_start = 0;
    if (!BuildOutputPath(st, entry.name, path, &relative_start)) return Outcome::kStop;
    const auto& name_slot = st.session.callbacks.file_name;
    if (name_slot.proc != nullptr) {
        const std::string shown = std::string("\\") + entry.name;
        name_slot.proc(name_slot.user, shown.c_str(), path);
    }
    if (!*replace_agreed) {
        const int32_t answer = names::AskReplaceOnExtract(st.session, entry, path);
        if (answer == 1) return Outcome::kSkipped;
        if (answer == 2) {
            Fail(st.session, Status::kCancelled);
            return Outcome::kStop;
        }
        *replace_agreed = true;
    }
    OutputFile out;
    if (!CreateOutputFile(st, path, relative_start, out)) return Outcome::kStop;
    if (!platform::SeekTo(archive_file, static_cast<uint64_t>(entry.record_offset) + entry.record_length)) {
        Fail(st.session, Status::kIoError);
        return Outcome::kStop;
    }
    stream.packed_in = archive_file;
    stream.packed_left = entry.packed_size;
    stream.unpacked_left = static_cast<int32_t>(entry.unpacked_size);
    stream.output = out.get();
    const bool expanded = codec::ExpandEntry(st);
    stream.output = nullptr;
    if (!expanded || !StatusIsOk(st.session)) return Outcome::kStop;
    // Data that ran out before the recorded size is damaged however its CRC comes out
    // (the CRC of nothing is the 0 that an empty entry records).
    if (stream.unpacked_left != 0 || ~stream.data_crc != entry.data_crc) {
        const Outcome next = AskAgainAfterBadData(st, entry);
        if (next != Outcome::kDone) return next;  // the partial file goes with `out`
    }
    if (!out.Commit(st)) return Outcome::kStop;
    if (!RestoreStampAndAttributes(st, entry, path)) return Outcome::kStop;
    return Outcome::kDone;
}

void ExtractList(LibraryState& st, const HidFileList& list) {
    platform::File archive_file = platform::OpenFile(st.archive.name, "rb");
    if (!archive_file) {
        Fail(st.session, Status::kIoError);
        return;
    }
    if (!codec::AllocDecoder(st)) return;
    DecoderGuard decoder {st};
    StreamFiles release {st.stream};
    for (const HidFileEntry* entry = list.first; entry; entry = entry->next) {
        Outcome outcome;
        bool replace_agreed = false;
        do {
            outcome = ExtractEntry(st, archive_file.get(), *entry, &replace_agreed);
        } while (outcome == Outcome::kRetry);
        if (outcome == Outcome::kStop) return;
    }
}

}  // namespace

void ExtractFileMaskListHid(LibraryState& st, const FileMaskList& masks) {
    SetStatus(st.session, Status::kOk);
    if (st.session.output_path_refused || st.session.relative_path_refused) {
        Fail(st.session, Status::kNameTooLong);
        return;
    }
    EntryList entries;
    archive::BuildHidFileList(st, entries.list, masks);
    if (!StatusIsOk(st.session)) return;
    ExtractList(st, entries.list);
}

}  // namespace hedgerow::ops
