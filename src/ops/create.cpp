// create.cpp -- CreateNewArchive and CompressOneFile.
#include "ops/create.h"

#include <cstring>
#include <vector>

#include "archive/records.h"
#include "codec/encoder.h"
#include "codec/stream.h"
#include "common/byte_order.h"
#include "crypto/cipher.h"
#include "names/masks.h"
#include "names/replace_query.h"
#include "archive/metadata_extension.h"
#include "ops/data_key.h"
#include "ops/pack_files.h"
#include "ops/rewrite.h"
#include "platform/platform.h"
#include "sfxblocks/sfx_blocks.h"

namespace hedgerow::ops {

namespace {

constexpr size_t kProgramCopyPiece = 32768;

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

bool SourcePathFits(const Context& cx, const std::string& mask_path, std::string* source_path) {
    const bool with_input = cx.session.input_path[0] != '\0' && !OptionOn(cx.session, kOptNamesOnly);
    if (cx.session.input_path_refused && !OptionOn(cx.session, kOptNamesOnly)) return false;
    *source_path = (with_input ? std::string(cx.session.input_path) : std::string()) + mask_path;
    return source_path->size() + 1 <= kSourcePathCapacity;
}

bool SourcePathOf(Context& cx, const std::string& mask_path, std::string* source_path) {
    return SourcePathFits(cx, mask_path, source_path) || Fail(cx.session, Status::kNameTooLong);
}

SourceKinds SourceKindsOf(const Session& session) {
    return {OptionOn(session, kOptStoreLinks), OptionOn(session, kOptStoreDirectories)};
}

namespace {

// Writers without Unix modes give these: what a new file gets under the usual umask.
constexpr uint32_t kPlainMode = 0644;
constexpr uint32_t kReadOnlyMode = 0444;
constexpr uint32_t kDirectoryMode = 0755;
constexpr uint32_t kLinkMode = 0777;

uint32_t ModeOf(const char* path, uint32_t attributes, uint32_t otherwise) {
    uint32_t mode = 0;
    if (platform::GetPermissions(path, &mode)) return mode;
    return (attributes & platform::kAttrReadOnly) != 0 ? kReadOnlyMode & otherwise : otherwise;
}

// A symbolic link as an entry: its target text is the data, in a scratch file.
SourceOpen OpenLink(const char* source_path, SourceFile& out) {
    std::string target;
    archive::UnixMetadata& meta = out.meta;
    out.failure = Status::kIoError;
    if (!platform::ReadSymbolicLink(source_path, &target, &meta.seconds, &meta.nanoseconds)) return SourceOpen::kSkip;
    meta.present = true;
    meta.flags = archive::kMetaSymlink;
    meta.mode = kLinkMode;
    out.attributes = platform::kAttrArchive;
    out.stamp = names::DosStampOf(meta.seconds);
    out.size = static_cast<uint32_t>(target.size());
    out.file = platform::OpenScratchFile();
    if (!out.file || platform::WriteBytes(out.file.get(), target.data(), target.size()) != target.size() ||
        !platform::SeekTo(out.file.get(), 0)) {
        return SourceOpen::kFailed;
    }
    return SourceOpen::kOpen;
}

}  // namespace

SourceOpen OpenSource(const char* source_path, SourceKinds kinds, SourceFile& out) {
    out.attributes = 0;
    if (kinds.links && platform::IsSymbolicLink(source_path)) return OpenLink(source_path, out);
    (void)platform::GetAttributes(source_path, &out.attributes);
    archive::UnixMetadata& meta = out.meta;
    if (platform::IsDirectory(source_path)) {
        if (!kinds.directories) return SourceOpen::kSkip;
        out.failure = Status::kIoError;
        if (!platform::GetModificationTime(source_path, &meta.seconds, &meta.nanoseconds)) return SourceOpen::kSkip;
        meta.present = true;
        meta.flags = archive::kMetaDirectory;
        meta.mode = ModeOf(source_path, out.attributes, kDirectoryMode);
        out.attributes = platform::kAttrDirectory | (out.attributes & ~platform::kAttrArchive);
        out.stamp = names::DosStampOf(meta.seconds);
        out.size = 0;
        return SourceOpen::kOpen;
    }
    platform::NativeFile handle = platform::OpenNativeForReading(source_path);
    if (!handle.IsOpen()) return SourceOpen::kSkip;
    const bool stamped = names::GetFileStamp(handle, &out.stamp);
    platform::CloseNative(handle);
    out.failure = Status::kIoError;
    meta.present = platform::GetModificationTime(source_path, &meta.seconds, &meta.nanoseconds);
    // A time before 1980 or after 2107 has no DOS stamp: the stamp is clamped, the
    // extension keeps the time itself.
    if (!stamped && !meta.present) return SourceOpen::kFailed;
    if (!stamped) out.stamp = names::DosStampOf(meta.seconds);
    out.file = platform::OpenFile(source_path, "rb");
    if (!out.file) return SourceOpen::kFailed;
    const int64_t length = platform::Length(out.file.get());
    if (length < 0) return SourceOpen::kFailed;
    // Sizes are 32-bit in the records and signed in the stream's arithmetic.
    out.failure = Status::kTooLarge;
    if (length > INT32_MAX) return SourceOpen::kFailed;
    out.size = static_cast<uint32_t>(length);
    meta.mode = ModeOf(source_path, out.attributes, kPlainMode);
    return SourceOpen::kOpen;
}

bool SkipOrFail(Context& cx, const char* source_path) {
    const auto& slot = cx.session.callbacks.skip_file;
    if (slot.proc == nullptr) return Fail(cx.session, Status::kIoError);
    const int32_t answer = slot.proc(slot.user, source_path);
    if (answer == 1) return true;
    return Fail(cx.session, answer == 2 ? Status::kCancelled : Status::kIoError);
}

const archive::UnixMetadata* MetaOf(const SourceFile& source) {
    return source.meta.present ? &source.meta : nullptr;
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

bool CompressOneFile(Context& cx, std::FILE* archive_file, const char* source_path, const char* name) {
    SourceFile opened;
    switch (OpenSource(source_path, SourceKindsOf(cx.session), opened)) {
        case SourceOpen::kOpen: break;
        case SourceOpen::kSkip: return SkipOrFail(cx, source_path);
        case SourceOpen::kFailed: return Fail(cx.session, opened.failure);
    }
    platform::File& source = opened.file;
    const uint32_t size = opened.size;
    const uint32_t stamp = opened.stamp;
    const uint32_t attributes = opened.attributes;

    uint8_t record[archive::kRecordSize];
    if (size == 0) {
        FillRecord(record, 0, 0, 0, stamp, attributes);
        return archive::WriteEntryRecord(cx.session, cx.archive, archive_file, record, name, MetaOf(opened));
    }
    const int64_t record_position = platform::Tell(archive_file);
    FillRecord(record, 0, 0, size, stamp, attributes);
    if (record_position < 0) return Fail(cx.session, Status::kIoError);
    if (!archive::WriteEntryRecord(cx.session, cx.archive, archive_file, record, name, MetaOf(opened))) return false;
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
    if (!archive::WriteEntryRecord(cx.session, cx.archive, archive_file, record, name, MetaOf(opened))) return false;
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
    if (!crypto::IsKnownCipher(cx.archive.cipher_id)) {
        Fail(cx.session, Status::kUnsupported);  // the host asked for a cipher there is none of
        return;
    }
    NewArchiveFile out;
    if (!out.Create(cx, cx.archive.name)) return;
    sfxblocks::SealPlan plan;
    if (prefix && !CopyPrefix(cx, *prefix, out.get(), &plan)) return;
    const uint64_t marker_offset = prefix ? plan.length : 0;
    uint8_t marker[archive::kMarkerSize];
    archive::MakeMarkerRecord(cx.archive.settings.lock_headers != 0, marker);
    if (platform::WriteBytes(out.get(), marker, sizeof marker) != sizeof marker) {
        Fail(cx.session, Status::kWriteError);
        return;
    }
    std::vector<FileToPack> list;
    bool path_refused = false;  // the list stops at a source path that cannot be made
    for (const FileMaskRecord* mask = files.first; mask; mask = mask->next) {
        if (mask->name[0] == '\0' && mask->extension[0] == '\0') continue;
        FileToPack file;
        file.name = names::MaskPath(*mask);
        if (!SourcePathFits(cx, file.name, &file.source_path)) {
            path_refused = true;
            break;
        }
        list.push_back(std::move(file));
    }
    uint32_t files_handled = 0;  // files the host let be skipped count as well
    if (!PackFiles(cx, out.get(), list, &files_handled)) return;
    if (path_refused) {
        Fail(cx.session, Status::kNameTooLong);
        return;
    }
    if (prefix && !SealPrefix(cx, plan, out, files_handled)) return;
    if (!out.CommitNew(cx, prefix != nullptr)) return;
    // The new archive can be listed at once: its marker is where it was written, its
    // first record right behind it.
    cx.archive.marker_offset = static_cast<uint32_t>(marker_offset);
    cx.archive.marker_body_offset = static_cast<uint32_t>(marker_offset + 10);
    cx.archive.marker_body_length = archive::kMarkerBodyLength;
    cx.archive.first_entry_offset = static_cast<uint32_t>(marker_offset + archive::kMarkerSize);
    cx.archive.read_position = cx.archive.first_entry_offset;
}

}  // namespace hedgerow::ops
