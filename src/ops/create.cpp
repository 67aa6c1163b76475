// create.cpp -- CreateNewArchive and CompressOneFile.
#include "ops/create.h"

#include <cstring>

#include "archive/records.h"
#include "codec/encoder.h"
#include "codec/stream.h"
#include "common/byte_order.h"
#include "names/masks.h"
#include "names/replace_query.h"
#include "ops/data_key.h"
#include "ops/rewrite.h"
#include "platform/platform.h"
#include "sfxblocks/sfx_blocks.h"

namespace hedgerow::ops {

namespace {

constexpr size_t kProgramCopyPiece = 32768;

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

bool SkipOrFail(Context& cx, const char* source_path) {
    const auto& slot = cx.session.callbacks.skip_file;
    if (slot.proc == nullptr) return Fail(cx.session, Status::kIoError);
    const int32_t answer = slot.proc(slot.user, source_path);
    if (answer == 1) return true;
    return Fail(cx.session, answer == 2 ? Status::kCancelled : Status::kIoError);
}

bool Compressor::Allocate() {
    cx.encoder.level = cx.archive.level;
    if (!codec::AllocOutputBuffer(cx.stream)) return false;
    if (!codec::AllocEncoderTables(cx.encoder, cx.stream)) {
        codec::FreeOutputBuffer(cx.stream);
        return false;
    }
    ready = true;
    return true;
}

void Compressor::Release() {
    if (!ready) return;
    codec::FreeEncoderTables(cx.encoder);
    codec::FreeOutputBuffer(cx.stream);
    ready = false;
}

Compressor::~Compressor() { Release(); }

void AnnounceSource(Context& cx, const std::string& source_path, const std::string& name) {
    const auto& slot = cx.session.callbacks.file_name;
    if (slot.proc == nullptr) return;
    const std::string shown = "\\" + name;
    slot.proc(slot.user, source_path.c_str(), shown.c_str());
}

bool SourcePathOf(Context& cx, const std::string& mask_path, std::string* source_path) {
    const bool with_input = cx.session.input_path[0] != '\0' && !OptionOn(cx.session, kOptNamesOnly);
    if (cx.session.input_path_refused && !OptionOn(cx.session, kOptNamesOnly)) {
        return Fail(cx.session, Status::kNameTooLong);
    }
    *source_path = (with_input ? std::string(cx.session.input_path) : std::string()) + mask_path;
    if (source_path->size() + 1 > kSourcePathCapacity) return Fail(cx.session, Status::kNameTooLong);
    return true;
}

bool CompressOneFile(Context& cx, std::FILE* archive_file, const char* source_path, const char* name) {
    uint32_t attributes = 0;
    (void)platform::GetAttributes(source_path, &attributes);
    if (platform::IsDirectory(source_path)) return SkipOrFail(cx, source_path);
    platform::NativeFile handle = platform::OpenNativeForReading(source_path);
    if (!handle.IsOpen()) return SkipOrFail(cx, source_path);
    uint32_t stamp = 0;
    const bool stamped = names::GetFileStamp(handle, &stamp);
    platform::CloseNative(handle);
    if (!stamped) return Fail(cx.session, Status::kIoError);

    platform::File source = platform::OpenFile(source_path, "rb");
    if (!source) return Fail(cx.session, Status::kIoError);
    const int64_t length = platform::Length(source.get());
    if (length < 0) return Fail(cx.session, Status::kIoError);
    // Sizes are 32-bit in the records and signed in the stream's arithmetic.
    if (length > INT32_MAX) return Fail(cx.session, Status::kUnsupported);
    const auto size = static_cast<uint32_t>(length);

    uint8_t record[archive::kRecordSize];
    if (size == 0) {
        FillRecord(record, 0, 0, 0, stamp, attributes);
        return archive::WriteEntryRecord(cx.session, cx.archive, archive_file, record, name);
    }
    const int64_t record_position = platform::Tell(archive_file);
    FillRecord(record, 0, 0, size, stamp, attributes);
    if (record_position < 0) return Fail(cx.session, Status::kIoError);
    if (!archive::WriteEntryRecord(cx.session, cx.archive, archive_file, record, name)) return false;
    const auto data_position = static_cast<uint64_t>(record_position) + archive::kRecordSize;

    codec::StreamState& stream = cx.stream;
    StreamFiles release {stream};
    stream.source_file = source.get();
    stream.output = archive_file;
    BeginEnciphering(cx);
    int32_t packed_size = 0;
    if (!codec::CompressSource(cx.encoder, stream, &packed_size)) return false;
    const auto packed = static_cast<uint32_t>(packed_size);
    FillRecord(record, ~stream.data_crc, packed, size, stamp, attributes);
    if (!platform::SeekTo(archive_file, static_cast<uint64_t>(record_position))) {
        return Fail(cx.session, Status::kIoError);
    }
    if (!archive::WriteEntryRecord(cx.session, cx.archive, archive_file, record, name)) return false;
    // Nothing of a longer compressed attempt may stay behind a stored copy.
    const uint64_t end = data_position + packed;
    if (!platform::SeekTo(archive_file, end) || !platform::TruncateAt(archive_file, end)) {
        return Fail(cx.session, Status::kWriteError);
    }
    return true;
}

namespace {

// Copies the program of a prefix into the new archive (right after it was created) and
// removes the program file; plan receives what sealing its blocks needs.
bool CopyPrefix(Context& cx, const ArchivePrefix& prefix, std::FILE* archive_file, sfxblocks::SealPlan* plan) {
    platform::File program = platform::OpenFile(prefix.program_path, "rb");
    if (!program) return Fail(cx.session, Status::kIoError);
    plan->tail = prefix.tail;
    switch (sfxblocks::ReadProgramBlocks(program.get(), plan)) {
        case sfxblocks::ProgramRead::kRead: break;
        case sfxblocks::ProgramRead::kUnreadable: return Fail(cx.session, Status::kIoError);
        // A program too short to end in the blocks is not one the module should have written.
        case sfxblocks::ProgramRead::kTooShort: return Fail(cx.session, Status::kSfxFailed);
    }
    if (!CopyArchiveBytes(cx, program.get(), archive_file, 0, plan->length, kProgramCopyPiece)) return false;
    program.reset();
    (void)platform::RemoveFile(prefix.program_path);  // (the owner of the name tries again on failure)
    return true;
}

}  // namespace

void CreateNewArchive(Context& cx, const FileMaskList& masks, FileMaskList& files, const ArchivePrefix* prefix) {
    if (!names::CollectNamedMasks(cx.session, masks, files)) return;
    if (files.first == nullptr) {
        Fail(cx.session, Status::kNothingToDo);
        return;
    }
    NewArchiveFile out;
    if (!out.Create(cx, cx.archive.name)) return;
    sfxblocks::SealPlan plan;
    if (prefix && !CopyPrefix(cx, *prefix, out.get(), &plan)) return;
    const uint64_t marker_offset = prefix ? plan.length : 0;
    Compressor compressor(cx);
    if (!compressor.Allocate()) return;
    uint8_t marker[archive::kMarkerSize];
    archive::MakeMarkerRecord(cx.archive.settings.lock_headers != 0, marker);
    if (platform::WriteBytes(out.get(), marker, sizeof marker) != sizeof marker) {
        Fail(cx.session, Status::kWriteError);
        return;
    }
    uint32_t files_handled = 0;  // files the host let be skipped count as well
    for (const FileMaskRecord* mask = files.first; mask; mask = mask->next) {
        if (mask->name[0] == '\0' && mask->extension[0] == '\0') continue;
        const std::string name = names::MaskPath(*mask);
        std::string source_path;
        if (!SourcePathOf(cx, name, &source_path)) return;
        AnnounceSource(cx, source_path, name);
        if (!CompressOneFile(cx, out.get(), source_path.c_str(), name.c_str())) return;
        ++files_handled;
    }
    if (prefix) {
        compressor.Release();
        if (!SealPrefix(cx, plan, out, files_handled)) return;
    }
    if (!out.Commit(cx, cx.archive.name)) return;
    if (prefix) (void)platform::MakeRunnable(cx.archive.name);
    // The new archive can be listed at once: its marker is where it was written, its
    // first record right behind it.
    cx.archive.marker_offset = static_cast<uint32_t>(marker_offset);
    cx.archive.marker_body_offset = static_cast<uint32_t>(marker_offset + 10);
    cx.archive.marker_body_length = archive::kMarkerBodyLength;
    cx.archive.first_entry_offset = static_cast<uint32_t>(marker_offset + archive::kMarkerSize);
    cx.archive.read_position = cx.archive.first_entry_offset;
}

}  // namespace hedgerow::ops
