// create.h -- putting files into an archive: the creation of a new archive (with or
// without a program in front of it), and the per-file step that every writer of entries
// shares.
#pragma once

#include <cstdio>
#include <string>

#include "hedgerow.h"
#include "ops/context.h"

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

// A source that cannot be opened: the host may let it be skipped (SkipFileProc answers
// 1: true). False with kIoError, or kCancelled when the host answers 2.
[[nodiscard]] bool SkipOrFail(Context& cx, const char* source_path);

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
