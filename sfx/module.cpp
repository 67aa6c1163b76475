// module.cpp -- HEDGE32.ZZL, the self-extractor module the library loads at run time.
// GetSfxHead2 writes the extractor program (built into this module) followed by the
// three configuration blocks and, for a file to be split over disks, the spanning tail;
// ResizeFile splits a finished file into pieces of a disk's size; the five setters take
// the host's callbacks for the splitting.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "hedgerow.h"
#include "sfxblocks/sfx_blocks.h"

#ifdef _WIN32
#  define SFX_EXPORT extern "C"
#else
#  define SFX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

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

// Paths come in the library's form; on POSIX, backslashes separate parts as well.
std::string Native(const char* path) {
    std::string p = path;
#ifndef _WIN32
    for (char& c : p) {
        if (c == '\\') c = '/';
    }
#endif
    return p;
}

struct FileGuard {
    std::FILE* f = nullptr;
    ~FileGuard() {
        if (f) std::fclose(f);
    }
};

bool WriteAll(std::FILE* f, const void* bytes, size_t n) { return n == 0 || std::fwrite(bytes, 1, n, f) == n; }

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

int64_t ExistingSize(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return -1;
    int64_t size = -1;
    if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
    std::fclose(f);
    return size;
}

}  // namespace

SFX_EXPORT int32_t HEDGEROW_CALL GetSfxHead2(const char* path, int32_t constant, const uint8_t* parameters) {
    if (path == nullptr || constant != 1 || parameters == nullptr) return 0;
    const uint32_t selector = static_cast<uint32_t>(parameters[8] | parameters[9] << 8 | parameters[10] << 16) |
                              static_cast<uint32_t>(parameters[11]) << 24;
    const std::string native = Native(path);
    uint8_t blocks[kBlocksSize] = {};
    std::memcpy(blocks, kSfxBlockMagic, sizeof kSfxBlockMagic);
    blocks[kTailLengthOffset] = selector != 0 ? static_cast<uint8_t>(kSpanTailSize) : 0;
    std::memcpy(blocks + kBlock1Size + kBlock2Size, kSfxBlockMagic, sizeof kSfxBlockMagic);
    uint8_t tail[kSpanTailSize] = {};
    std::memcpy(tail, kSpanTailMagic, sizeof kSpanTailMagic);
    tail[8] = static_cast<uint8_t>(selector);

    bool written = false;
    {
        FileGuard out {std::fopen(native.c_str(), "wb")};
        if (!out.f) return 0;
        const auto program_size = static_cast<size_t>(hedgerow_sfx_program_end - hedgerow_sfx_program);
        written = WriteAll(out.f, hedgerow_sfx_program, program_size) && WriteAll(out.f, blocks, sizeof blocks) &&
                  (selector == 0 || WriteAll(out.f, tail, sizeof tail)) && std::fflush(out.f) == 0;
        written = std::fclose(out.f) == 0 && written;
        out.f = nullptr;
    }
    if (!written) {
        std::remove(native.c_str());
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
    const std::string from = Native(source);
    FileGuard in {std::fopen(from.c_str(), "rb")};
    if (!in.f || std::fseek(in.f, 0, SEEK_END) != 0) return arIoError;
    const long total_signed = std::ftell(in.f);
    if (total_signed < 0 || std::fseek(in.f, 0, SEEK_SET) != 0) return arIoError;
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
        const std::string native = Native(name.c_str());
        const uint64_t size = total - done < disk_size ? total - done : disk_size;
        const int64_t existing = ExistingSize(native);
        if (existing >= 0 && g_ok_to_replace.proc) {
            HedgerowFindData old_file, new_file;
            Describe(&old_file, name.c_str(), static_cast<uint64_t>(existing));
            Describe(&new_file, name.c_str(), size);
            if (g_ok_to_replace.proc(g_ok_to_replace.user, &old_file, &new_file) != 0) return arCancelled;
        }
        if (g_file_name.proc) g_file_name.proc(g_file_name.user, source, name.c_str());
        FileGuard out {std::fopen(native.c_str(), "wb")};
        uint16_t failure = out.f ? 0 : arIoError;
        for (uint64_t left = size; failure == 0 && left > 0;) {
            const size_t n = static_cast<size_t>(left < kCopyPiece ? left : kCopyPiece);
            if (std::fread(buffer, 1, n, in.f) != n) {
                failure = arIoError;
            } else if (!WriteAll(out.f, buffer, n)) {
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
        if (out.f && std::fclose(out.f) != 0 && failure == 0) failure = arWriteError;
        out.f = nullptr;
        if (failure != 0) {
            std::remove(native.c_str());
            return failure;
        }
    }
    return 0;
}
