// sfx.h -- self-extracting archives: the extractor program from the module, the new
// archive behind it, the sealed configuration blocks, and the splitting over disks.
#pragma once

#include <cstdint>
#include <cstdio>

#include "hedgerow.h"
#include "ops/context.h"

namespace hedgerow::ops {

// Disk sizes by disk-spanning selector (the third 32-bit word of the parameter block).
inline constexpr uint32_t kDiskSizes[5] = {0, 362496, 730112, 1213952, 1457664};

// Builds a self-extracting archive under name from the files the masks name, with the
// module found in module_directory (ending in a separator). The host's list is freed and
// its head cleared, as for every self-extractor build.
void BuildSelfExtractor(Context& cx, const char* module_directory, const char* name, FileMaskList& masks,
                        const uint8_t* parameters);
// The same with the module beside the library's own file.
void BuildSelfExtractor(Context& cx, const char* name, FileMaskList& masks, const uint8_t* parameters);

}  // namespace hedgerow::ops
