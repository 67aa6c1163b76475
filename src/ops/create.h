// create.h -- putting files into an archive: the creation of a new archive (with or
// without a program in front of it), and the per-file step that every writer of entries
// shares.
#pragma once

#include <cstdio>
#include <string>

#include "archive/archive_state.h"
#include "archive/metadata_extension.h"
#include "hedgerow.h"
#include "ops/context.h"
#include "platform/platform.h"

namespace hedgerow::ops {

inline constexpr size_t kSourcePathCapacity = 350;

// What goes in front of a new archive's marker: the bytes of a program file that ends in
// sealed configuration blocks (and the spanning tail, when there is one). The file is
// removed once copied; its blocks are sealed once the entries are written.
struct ArchivePrefix {
    const char* program_path = nullptr;
    uint32_t tail = 0;  // length of the spanning tail at the program's end: 0 or 28
};

// Writes a new archive holding the files the masks name, through a temporary file that
// takes the archive's name only when it is complete. files receives the named files.
// With a prefix, its program comes first and its blocks are sealed at the end.
void CreateNewArchive(Context& cx, const FileMaskList& masks, FileMaskList& files,
                      const ArchivePrefix* prefix = nullptr);

// Appends one file to the archive being written (at its current position): the entry
// record, then the compressed (or, when that does not pay, stored) and enciphered data.
// True also when the host let the file be skipped; false with the status set.
[[nodiscard]] bool CompressOneFile(Context& cx, std::FILE* archive_file, const char* source_path, const char* name);

// A source file as a writer of entries finds it: open at its start, with its stamp,
// attribute word and size.
struct SourceFile {
    platform::File file;            // null for an empty directory
    uint32_t stamp = 0;
    uint32_t attributes = 0;
    uint32_t size = 0;
    archive::UnixMetadata meta;     // mode, exact time and kind, for the metadata extension
    Status failure = Status::kOk;   // why it failed (kFailed)
};
// What a source may be besides a regular file (the session's arOptStoreLinks and
// arOptStoreDirectories): a symbolic link stored as one (its target text as the data),
// a directory stored as an empty-directory entry. Without them a link is followed and a
// directory is skipped.
struct SourceKinds {
    bool links = false;
    bool directories = false;
};
SourceKinds SourceKindsOf(const Session& session);
enum class SourceOpen {
    kOpen,
    kSkip,    // a directory, or it cannot be opened: the host may let it be skipped (SkipOrFail)
    kFailed,  // its stamp or length cannot be read (kIoError), or it is 2 GiB or more (kUnsupported)
};
// Opens a source file; touches no state and calls no host, so workers may call it.
SourceOpen OpenSource(const char* source_path, SourceKinds kinds, SourceFile& out);

// Asks the host through SkipFileProc whether a source that cannot be read may be left
// out: true when it may; else false with kIoError (no procedure, or the answer 0) or
// kCancelled (answer 2).
[[nodiscard]] bool SkipOrFail(Context& cx, const char* source_path);

// The metadata extension to write for a source, or null when there is none to write.
const archive::UnixMetadata* MetaOf(const SourceFile& source);

// Fills an entry record's fields (the rest zero) for WriteEntryRecord.
void FillRecord(uint8_t record[archive::kRecordSize], uint32_t data_crc, uint32_t packed, uint32_t unpacked,
                uint32_t stamp, uint32_t attributes);

// The source path of a named mask, as SourcePathOf makes it, without a status: false
// when it cannot be made.
[[nodiscard]] bool SourcePathFits(const Context& cx, const std::string& mask_path, std::string* source_path);

// The source path of a named mask: the input path in front (unless it is empty or
// arOptNamesOnly is on) and the mask path. False (kNameTooLong) when it does not fit
// kSourcePathCapacity bytes or the input path was refused.
[[nodiscard]] bool SourcePathOf(Context& cx, const std::string& mask_path, std::string* source_path);

// The stream buffers and encoder tables of one run of files, released on every way out.
struct Compressor {
    Context& cx;
    bool ready = false;
    explicit Compressor(Context& state) : cx(state) {}
    [[nodiscard]] bool Allocate();  // kNoMemory on failure
    void Release();
    ~Compressor();
};

// Calls FileNameProc, when registered, with the source path and "\" + the stored name.
void AnnounceSource(Context& cx, const std::string& source_path, const std::string& name);

}  // namespace hedgerow::ops
