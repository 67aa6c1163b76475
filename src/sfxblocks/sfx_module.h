// sfx_module.h -- the functions of the self-extractor module HEDGE32.ZZL, as the library
// calls them. The module is loaded at run time from the library's own directory; the
// project's own module (sfx/) is built against this header.
#pragma once

#include <cstdint>

#include "hedgerow.h"

namespace hedgerow::sfxblocks {

inline constexpr char kSfxModuleName[] = "HEDGE32.ZZL";

// Writes the extractor program to path, ending in configuration blocks 1, 2 and 3 and,
// when the parameter block asks for disk spanning, the 28-byte spanning tail. constant
// is always 1. Answers 1 on success.
using GetSfxHead2Fn = int32_t(HEDGEROW_CALL*)(const char* path, int32_t constant, const uint8_t* parameters);

// The setters store a callback pair for the splitting that follows.
using SetNextDiskFn = void(HEDGEROW_CALL*)(uint32_t user, GetNextDiskProc proc);
using SetSfxProgressFn = void(HEDGEROW_CALL*)(uint32_t user, SfxProgressProc proc);
using SetOkToReplaceFn = void(HEDGEROW_CALL*)(uint32_t user, OkToReplaceProc proc);
using SetProgressFn = void(HEDGEROW_CALL*)(uint32_t user, ProgressProc proc);
using SetFileNameFn = void(HEDGEROW_CALL*)(uint32_t user, FileNameProc proc);

// Writes source to destination in pieces of disk_size bytes: the first under the
// destination's name, piece n (2, 3, ...) as destination + ".NNN". 0 on success,
// otherwise a status code.
using ResizeFileFn = uint16_t(HEDGEROW_CALL*)(const char* source, const char* destination, uint32_t disk_size);

}  // namespace hedgerow::sfxblocks
