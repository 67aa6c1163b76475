// pack_files.h -- putting a list of files into the archive being written, by one worker
// (the calling thread) or several: each worker compresses and enciphers whole files into
// spill files of its own, and the calling thread writes records and data in list order,
// so the archive comes out the same for any number of workers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ops/context.h"

namespace hedgerow::ops {

// One file to put into the archive: where it is read from and the name it is stored as.
struct FileToPack {
    std::string source_path;
    std::string name;
};

// Writes an entry for every file, in list order, at the archive's current position. For
// each file the host hears, from the calling thread and in list order: FileNameProc (the
// source and the stored name), then SkipFileProc when the file cannot be read, or
// ProgressProc (with several workers, once the file is written: 100 percent). A failure
// or a cancel stops the run: false with the status set. files_handled counts the files
// written or left out with the host's consent.
[[nodiscard]] bool PackFiles(Context& cx, std::FILE* archive_file, const std::vector<FileToPack>& files,
                             uint32_t* files_handled);

}  // namespace hedgerow::ops
