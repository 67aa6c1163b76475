// module.cpp -- HEDGE32.ZZL, the self-extractor module the library loads at run time.
// GetSfxHead2 writes the extractor program (built into this module) followed by the
// three configuration blocks and, for a file to be split over disks, the spanning tail;
// ResizeFile splits a finished file into pieces of a disk's size; the five setters take
// the host's callbacks for the splitting.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/byte_order.h"
#include "hedgerow.h"
#include "platform/platform.h"
#include "sfxblocks/sfx_blocks.h"

// The exports: the module is built with default visibility (everything of the library it
// links stays hidden), and a module-definition file lists them on Windows.
#define SFX_EXPORT extern "C"

// The extractor program, put into this module by sfx/program.S.
extern "C" const unsigned char hedgerow_sfx_program[];
extern "C" const unsigned char hedgerow_sfx_program_end[];

namespace {

using namespace hedgerow::sfxblocks;

constexpr size_t kCopyPiece = 32768;

template <typename Proc>
struct Pair {
    uint32_t user = 0;
    Proc proc = nullptr;
};

Pair<GetNextDiskProc> g_next_disk;
Pair<SfxProgressProc> g_sfx_progress;
Pair<OkToReplaceProc> g_ok_to_replace;
Pair<ProgressProc> g_progress;
Pair<FileNameProc> g_file_name;

bool WriteAll(std::FILE* f, const void* bytes, size_t n) {
    return n == 0 || hedgerow::platform::WriteBytes(f, bytes, n) == n;
}

const char* BaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '/' || *p == '\\' || *p == ':') base = p + 1;
    }
    return base;
}

void Describe(HedgerowFindData* record, const char* path, uint64_t size) {
    std::memset(record, 0, sizeof *record);
    record->nFileSizeHigh = static_cast<uint32_t>(size >> 32);
    record->nFileSizeLow = static_cast<uint32_t>(size);
    std::snprintf(record->cFileName, sizeof record->cFileName, "%s", BaseName(path));
}

int64_t ExistingSize(const char* path) {
    const hedgerow::platform::File f = hedgerow::platform::OpenFile(path, "rb");
    return f ? hedgerow::platform::Length(f.get()) : -1;
}

}  // namespace

SFX_EXPORT int32_t HEDGEROW_CALL GetSfxHead2(const char* path, int32_t constant, const uint8_t* parameters) {
    if (path == nullptr || constant != 1 || parameters == nullptr) return 0;
    const uint32_t selector = hedgerow::Load32Le(parameters + 8);
    uint8_t blocks[kBlocksSize] = {};
    std::memcpy(blocks, kSfxBlockMagic, sizeof kSfxBlockMagic);
    blocks[kTailLengthOffset] = selector != 0 ? static_cast<uint8_t>(kSpanTailSize) : 0;
    std::memcpy(blocks + kBlock1Size + kBlock2Size, kSfxBlockMagic, sizeof kSfxBlockMagic);
    uint8_t tail[kSpanTailSize] = {};
    std::memcpy(tail, kSpanTailMagic, sizeof kSpanTailMagic);
    tail[8] = static_cast<uint8_t>(selector);

    bool written = false;
    {
        hedgerow::platform::File out = hedgerow::platform::OpenFile(path, "wb");
        if (!out) return 0;
        const auto program_size = static_cast<size_t>(hedgerow_sfx_program_end - hedgerow_sfx_program);
        written = WriteAll(out.get(), hedgerow_sfx_program, program_size) && WriteAll(out.get(), blocks, sizeof blocks) &&
                  (selector == 0 || WriteAll(out.get(), tail, sizeof tail));
        written = hedgerow::platform::Close(out) && written;
    }
    if (!written) {
        (void)hedgerow::platform::RemoveFile(path);
        return 0;
    }
    return 1;
}

SFX_EXPORT void HEDGEROW_CALL SetGetNextDiskProc(uint32_t user, GetNextDiskProc proc) { g_next_disk = {user, proc}; }
SFX_EXPORT void HEDGEROW_CALL SetSetSfxProgressProc(uint32_t user, SfxProgressProc proc) {
    g_sfx_progress = {user, proc};
}
SFX_EXPORT void HEDGEROW_CALL SetOkToReplaceProc(uint32_t user, OkToReplaceProc proc) {
    g_ok_to_replace = {user, proc};
}
SFX_EXPORT void HEDGEROW_CALL SetSetProgressProc(uint32_t user, ProgressProc proc) { g_progress = {user, proc}; }
SFX_EXPORT void HEDGEROW_CALL SetSetFileNameProc(uint32_t user, FileNameProc proc) { g_file_name = {user, proc}; }

// Writes source in pieces of disk_size bytes: the first under destination, piece n as
// destination + ".NNN" (.002, .003, ...). Before each further piece the host is asked for
// the next disk; an existing piece is replaced only when the host agrees (or registered
// no procedure to ask). A piece that cannot be completed is removed.
SFX_EXPORT uint16_t HEDGEROW_CALL ResizeFile(const char* source, const char* destination, uint32_t disk_size) {
    if (source == nullptr || destination == nullptr || disk_size == 0) return arUnsupported;
    hedgerow::platform::File in = hedgerow::platform::OpenFile(source, "rb");
    if (!in) return arIoError;
    const int64_t total_signed = hedgerow::platform::Length(in.get());
    if (total_signed < 0) return arIoError;
    const auto total = static_cast<uint64_t>(total_signed);
    const uint64_t pieces = total == 0 ? 1 : (total + disk_size - 1) / disk_size;
    static unsigned char buffer[kCopyPiece];
    uint64_t done = 0;
    for (uint64_t piece = 1; piece <= pieces; ++piece) {
        std::string name = destination;
        if (piece > 1) {
            char suffix[16];
            std::snprintf(suffix, sizeof suffix, ".%03u", static_cast<unsigned>(piece));
            name += suffix;
            if (g_next_disk.proc && g_next_disk.proc(g_next_disk.user, static_cast<int32_t>(piece), name.c_str()) == 0) {
                return arCancelled;
            }
        }
        const uint64_t size = total - done < disk_size ? total - done : disk_size;
        const int64_t existing = ExistingSize(name.c_str());
        if (existing >= 0 && g_ok_to_replace.proc) {
            HedgerowFindData old_file, new_file;
            Describe(&old_file, name.c_str(), static_cast<uint64_t>(existing));
            Describe(&new_file, name.c_str(), size);
            if (g_ok_to_replace.proc(g_ok_to_replace.user, &old_file, &new_file) != 0) return arCancelled;
        }
        if (g_file_name.proc) g_file_name.proc(g_file_name.user, source, name.c_str());
        hedgerow::platform::File out = hedgerow::platform::OpenFile(name.c_str(), "wb");
        uint16_t failure = out ? 0 : arIoError;
        for (uint64_t left = size; failure == 0 && left > 0;) {
            const size_t n = static_cast<size_t>(left < kCopyPiece ? left : kCopyPiece);
            if (hedgerow::platform::ReadBytes(in.get(), buffer, n) != n) {
                failure = arIoError;
            } else if (!WriteAll(out.get(), buffer, n)) {
                failure = arWriteError;
            } else {
                left -= n;
                done += n;
                const auto whole = static_cast<int32_t>(total ? done * 100 / total : 100);
                const auto part = static_cast<int32_t>((size - left) * 100 / (size ? size : 1));
                if (g_sfx_progress.proc && g_sfx_progress.proc(g_sfx_progress.user, whole, static_cast<int32_t>(piece)) == 0) {
                    failure = arCancelled;
                } else if (g_progress.proc && g_progress.proc(g_progress.user, part, static_cast<int32_t>(n)) == 0) {
                    failure = arCancelled;
                }
            }
        }
        if (out && !hedgerow::platform::Close(out) && failure == 0) failure = arWriteError;
        if (failure != 0) {
            (void)hedgerow::platform::RemoveFile(name.c_str());
            return failure;
        }
    }
    return 0;
}
