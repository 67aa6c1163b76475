// sfx.h -- self-extracting archives: the extractor program from the module, the new
// archive behind it, the sealed configuration blocks, and the splitting over disks.
#pragma once

#include <cstdint>
#include <cstdio>

#include "ops/context.h"
#include "ops/rewrite.h"
#include "sfxblocks/sfx_blocks.h"

namespace hedgerow::ops {

// Disk sizes by disk-spanning selector (the third 32-bit word of the parameter block).
inline constexpr uint32_t kDiskSizes[5] = {0, 362496, 730112, 1213952, 1457664};

// The program file a new archive is written behind.
struct StubPlan {
    char path[archive::kTempNameCapacity] = {};
    uint32_t tail = 0;             // spanning tail length T: 0 or 28
    uint64_t length = 0;           // S, the program's length with blocks and tail
    uint8_t blocks[sfxblocks::kBlocksSize] = {};  // blocks 1, 2, 3 as the module wrote them
    uint64_t BlockOffset() const { return length - tail - sfxblocks::kBlocksSize; }
};

// Builds a self-extracting archive under name from the files the masks name, with the
// module found in module_directory (ending in a separator). The host's list is freed and
// its head cleared, as for every self-extractor build.
void BuildSelfExtractor(Context& cx, const char* module_directory, const char* name, FileMaskList& masks,
                        const uint8_t* parameters);
// The same with the module beside the library's own file.
void BuildSelfExtractor(Context& cx, const char* name, FileMaskList& masks, const uint8_t* parameters);

// Runs the creation of a new archive with the stub's program copied in front and, with
// patch set, the blocks sealed behind it.
void CreateNewArchiveBehindStub(Context& cx, const FileMaskList& masks, FileMaskList& files, StubPlan& stub,
                                bool patch);

// The steps CreateNewArchive runs for a stub: the copy of the program into the new
// archive (right after it was created), and the sealing of the blocks (before it is
// closed). False with the status set.
bool CopyStubInto(Context& cx, StubPlan& stub, bool patch, std::FILE* archive);
bool SealBlocks(Context& cx, const StubPlan& stub, NewArchiveFile& out, uint32_t files_handled);

// When the archive being rewritten has our self-extractor program in front (its sealed
// blocks end where the marker begins), seals the blocks of the new file anew: its new
// length, its checksum, and the count raised by added. True without a change for an
// archive without such a program; false with the status set.
bool ResealSelfExtractor(Context& cx, const char* archive_name, NewArchiveFile& out, uint32_t added);

}  // namespace hedgerow::ops
