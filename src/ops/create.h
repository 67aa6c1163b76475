// create.h -- putting files into an archive: the export's dispatch (new archive, update
// of an existing one), the creation of a new archive, and the per-file step that every
// writer of entries shares.
#pragma once

#include <cstdio>
#include <string>

#include "ops/context.h"
#include "hedgerow.h"

namespace hedgerow::ops {

inline constexpr size_t kSourcePathCapacity = 350;

struct StubPlan;

// Creates the archive that CreateHidFile prepared (a self-extracting one when its settings
// ask for it; the host's list is then freed), or updates the one InitHidFile opened.
// Does nothing unless the status word is 0.
void CompressFileMaskListHid(Context& cx, FileMaskList& masks);

// Writes a new archive holding the files the masks name, through a temporary file that
// takes the archive's name only when it is complete. files receives the named files.
// With a stub, its program comes first and, with patch set, its blocks are sealed once
// the entries are written.
void CreateNewArchive(Context& cx, const FileMaskList& masks, FileMaskList& files, StubPlan* stub = nullptr,
                      bool patch = false);

// Appends one file to the archive being written (at its current position): the entry
// record, then the compressed (or, when that does not pay, stored) and enciphered data.
// True also when the host let the file be skipped; false with the status set.
bool CompressOneFile(Context& cx, std::FILE* archive_file, const char* source_path, const char* name);

// The source path of a named mask: the input path in front (unless it is empty or
// arOptNamesOnly is on) and the mask path. False (kNameTooLong) when it does not fit
// kSourcePathCapacity bytes or the input path was refused.
bool SourcePathOf(Context& cx, const std::string& mask_path, std::string* source_path);

// The stream buffers and encoder tables of one run of files, released on every way out.
struct Compressor {
    Context& cx;
    bool ready = false;
    explicit Compressor(Context& state) : cx(state) {}
    bool Allocate();  // kNoMemory on failure
    void Release();
    ~Compressor();
};

// Calls FileNameProc, when registered, with the source path and "\" + the stored name.
void AnnounceSource(Context& cx, const std::string& source_path, const std::string& name);

}  // namespace hedgerow::ops
