// create.cpp -- CompressFileMaskListHid, CreateNewArchive and CompressOneFile.
#include "ops/create.h"

#include <cstring>

#include "archive/records.h"
#include "codec/encoder.h"
#include "codec/stream.h"
#include "frame/byte_order.h"
#include "names/masks.h"
#include "names/replace_query.h"
#include "ops/rewrite.h"
#include "ops/sfx.h"
#include "ops/update.h"
#include "platform/platform.h"

namespace hedgerow::ops {

namespace {

struct MaskListGuard {
    FileMaskList list {};
    ~MaskListGuard() { names::DoneFileMaskList(list); }
};

// A source that cannot be opened: the host may let it be skipped.
bool SkipOrFail(LibraryState& st, const char* source_path) {
    const auto& slot = st.session.callbacks.skip_file;
    if (slot.proc == nullptr) return Fail(st.session, Status::kIoError);
    const int32_t answer = slot.proc(slot.user, source_path);
    if (answer == 1) return true;
    return Fail(st.session, answer == 2 ? Status::kCancelled : Status::kIoError);
}

void FillRecord(uint8_t record[archive::kRecordSize], uint32_t data_crc, uint32_t packed, uint32_t unpacked,
                uint32_t stamp, uint32_t attributes) {
    std::memset(record, 0, archive::kRecordSize);
    Store32Le(record + archive::kFieldDataCrc, data_crc);
    Store32Le(record + archive::kFieldPackedSize, packed);
    Store32Le(record + archive::kFieldUnpackedSize, unpacked);
    Store32Le(record + archive::kFieldDateTime, stamp);
    Store32Le(record + archive::kFieldAttributes, attributes);
}

// Releases the stream layer's hold on the files of one entry.
struct StreamFiles {
    codec::StreamState& stream;
    ~StreamFiles() {
        stream.source_file = nullptr;
        stream.output = nullptr;
    }
};

}  // namespace

bool Compressor::Allocate() {
    if (!codec::AllocOutputBuffer(st)) return false;
    if (!codec::AllocEncoderTables(st)) {
        codec::FreeOutputBuffer(st);
        return false;
    }
    ready = true;
    return true;
}

void Compressor::Release() {
    if (!ready) return;
    codec::FreeEncoderTables(st);
    codec::FreeOutputBuffer(st);
    ready = false;
}

Compressor::~Compressor() { Release(); }

void AnnounceSource(LibraryState& st, const std::string& source_path, const std::string& name) {
    const auto& slot = st.session.callbacks.file_name;
    if (slot.proc == nullptr) return;
    const std::string shown = "\\" + name;
    slot.proc(slot.user, source_path.c_str(), shown.c_str());
}

bool SourcePathOf(LibraryState& st, const std::string& mask_path, std::string* source_path) {
    const bool with_input = st.session.input_path[0] != '\0' && !OptionOn(st.session, kOptNamesOnly);
    if (st.session.input_path_refused && !OptionOn(st.session, kOptNamesOnly)) {
        return Fail(st.session, Status::kNameTooLong);
    }
    *source_path = (with_input ? std::string(st.session.input_path) : std::string()) + mask_path;
    if (source_path->size() + 1 > kSourcePathCapacity) return Fail(st.session, Status::kNameTooLong);
    return true;
}

bool CompressOneFile(LibraryState& st, std::FILE* archive_file, const char* source_path, const char* name) {
    uint32_t attributes = 0;
    (void)platform::GetAttributes(source_path, &attributes);
    if (platform::IsDirectory(source_path)) return SkipOrFail(st, source_path);
    platform::NativeFile handle = platform::OpenNativeForReading(source_path);
    if (!handle.IsOpen()) return SkipOrFail(st, source_path);
    uint32_t stamp = 0;
    const bool stamped = names::GetFileStamp(handle, &stamp) == 0;
    platform::CloseNative(handle);
    if (!stamped) return Fail(st.session, Status::kIoError);

    platform::File source = platform::OpenFile(source_path, "rb");
    if (!source) return Fail(st.session, Status::kIoError);
    const int64_t length = platform::Length(source.get());
    if (length < 0) return Fail(st.session, Status::kIoError);
    // Sizes are 32-bit in the records and signed in the stream's arithmetic.
    if (length > INT32_MAX) return Fail(st.session, Status::kUnsupported);
    const auto size = static_cast<uint32_t>(length);

    uint8_t record[archive::kRecordSize];
    if (size == 0) {
        FillRecord(record, 0, 0, 0, stamp, attributes);
        return archive::WriteEntryRecord(st, archive_file, record, name);
    }
    const int64_t record_position = platform::Tell(archive_file);
    FillRecord(record, 0, 0, size, stamp, attributes);
    if (record_position < 0 || !archive::WriteEntryRecord(st, archive_file, record, name)) {
        if (StatusIsOk(st.session)) Fail(st.session, Status::kIoError);
        return false;
    }
    const auto data_position = static_cast<uint64_t>(record_position) + archive::kRecordSize;

    codec::StreamState& stream = st.stream;
    StreamFiles release {stream};
    stream.source_file = source.get();
    stream.output = archive_file;
    int32_t packed_size = 0;
    if (!codec::CompressSource(st, &packed_size)) return false;
    const auto packed = static_cast<uint32_t>(packed_size);
    FillRecord(record, ~stream.data_crc, packed, size, stamp, attributes);
    if (!platform::SeekTo(archive_file, static_cast<uint64_t>(record_position))) {
        return Fail(st.session, Status::kIoError);
    }
    if (!archive::WriteEntryRecord(st, archive_file, record, name)) return false;
    // Nothing of a longer compressed attempt may stay behind a stored copy.
    const uint64_t end = data_position + packed;
    if (!platform::SeekTo(archive_file, end) || !platform::TruncateAt(archive_file, end)) {
        return Fail(st.session, Status::kWriteError);
    }
    return true;
}

void CreateNewArchive(LibraryState& st, const FileMaskList& masks, FileMaskList& files, StubPlan* stub, bool patch) {
    names::CollectNamedMasks(st.session, masks, files);
    if (!StatusIsOk(st.session)) return;
    if (files.first == nullptr) {
        Fail(st.session, Status::kNothingToDo);
        return;
    }
    NewArchiveFile out;
    if (!out.Create(st, st.archive.name)) return;
    if (stub && !CopyStubInto(st, *stub, patch, out.get())) return;
    const uint64_t marker_offset = stub ? stub->length : 0;
    Compressor compressor(st);
    if (!compressor.Allocate()) return;
    uint8_t marker[archive::kMarkerSize];
    archive::MakeMarkerRecord(st.archive.settings.lock_headers != 0, marker);
    if (platform::WriteBytes(out.get(), marker, sizeof marker) != sizeof marker) {
        Fail(st.session, Status::kWriteError);
        return;
    }
    uint32_t files_handled = 0;  // files the host let be skipped count as well
    for (const FileMaskRecord* mask = files.first; mask; mask = mask->next) {
        if (mask->name[0] == '\0' && mask->extension[0] == '\0') continue;
        const std::string name = names::MaskPath(*mask);
        std::string source_path;
        if (!SourcePathOf(st, name, &source_path)) return;
        AnnounceSource(st, source_path, name);
        if (!CompressOneFile(st, out.get(), source_path.c_str(), name.c_str())) return;
        ++files_handled;
    }
    if (stub && patch) {
        compressor.Release();
        if (!SealBlocks(st, *stub, out, files_handled)) return;
    }
    if (!out.Commit(st, st.archive.name)) return;
    if (stub) (void)platform::MakeRunnable(st.archive.name);
    // The new archive can be listed at once: its marker is where it was written, its
    // first record right behind it.
    st.archive.marker_offset = static_cast<uint32_t>(marker_offset);
    st.archive.marker_body_offset = static_cast<uint32_t>(marker_offset + 10);
    st.archive.marker_body_length = archive::kMarkerBodyLength;
    st.archive.first_entry_offset = static_cast<uint32_t>(marker_offset + archive::kMarkerSize);
    st.archive.read_position = st.archive.first_entry_offset;
}

void CompressFileMaskListHid(LibraryState& st, FileMaskList& masks) {
    if (!StatusIsOk(st.session)) return;
    if (st.session.relative_path_refused) {
        Fail(st.session, Status::kNameTooLong);
        return;
    }
    if (st.archive.name[0] == '\0') {
        // Nothing was named (or the name was refused): there is nothing to write to.
        Fail(st.session, Status::kNotFound);
        return;
    }
    if (st.archive.new_archive && st.archive.settings.make_self_extractor == 1) {
        char name[sizeof st.archive.name];
        std::memcpy(name, st.archive.name, sizeof name);
        BuildSelfExtractor(st, name, masks, st.archive.settings.sfx_parameters);
        return;
    }
    if (st.archive.new_archive) {
        MaskListGuard files;
        CreateNewArchive(st, masks, files.list);
        return;
    }
    UpdateArchive(st, masks);
}

}  // namespace hedgerow::ops
