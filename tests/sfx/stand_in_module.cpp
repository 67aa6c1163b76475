// stand_in_module.cpp -- small self-extractor modules for the tests, each built with a
// piece missing (STANDIN_NO_HEAD: no GetSfxHead2; STANDIN_NO_SPLIT: no SetSetFileNameProc).
// Every call is appended to the file named by HEDGEROW_STANDIN_LOG; GetSfxHead2 answers
// HEDGEROW_STANDIN_ANSWER (default 1) and ResizeFile HEDGEROW_STANDIN_RESIZE (default 0).
// The program it writes is a fixed text (kStandInProgram, repeated), not a real program.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hedgerow.h"
#include "sfxblocks/sfx_blocks.h"

#ifdef _WIN32
#  define STANDIN_EXPORT extern "C" __declspec(dllexport)
#else
#  define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

constexpr char kStandInProgram[] = "STAND-IN PROGRAM\n";
constexpr int kProgramRepeats = 100;

void Log(const std::string& line) {
    const char* path = std::getenv("HEDGEROW_STANDIN_LOG");
    if (path == nullptr) return;
    if (std::FILE* f = std::fopen(path, "ab")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

int EnvNumber(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text ? std::atoi(text) : fallback;
}

std::string Native(const char* path) {
    std::string p = path;
#ifndef _WIN32
    for (char& c : p) {
        if (c == '\\') c = '/';
    }
#endif
    return p;
}

}  // namespace

#ifndef STANDIN_NO_HEAD
STANDIN_EXPORT int32_t HEDGEROW_CALL GetSfxHead2(const char* path, int32_t constant, const uint8_t* parameters) {
    const uint32_t selector = parameters[8] | parameters[9] << 8 | parameters[10] << 16 | static_cast<uint32_t>(parameters[11]) << 24;
    Log("head|" + std::string(path) + "|" + std::to_string(constant) + "|" + std::to_string(selector));
    const int answer = EnvNumber("HEDGEROW_STANDIN_ANSWER", 1);
    if (answer != 1) return answer;
    using namespace hedgerow::sfxblocks;
    std::FILE* f = std::fopen(Native(path).c_str(), "wb");
    if (!f) return 0;
    for (int i = 0; i < kProgramRepeats; ++i) std::fputs(kStandInProgram, f);
    static uint8_t blocks[kBlocksSize];
    std::memset(blocks, 0, sizeof blocks);
    std::memcpy(blocks, kSfxBlockMagic, sizeof kSfxBlockMagic);
    blocks[kTailLengthOffset] = selector ? kSpanTailSize : 0;
    std::memcpy(blocks + kBlock1Size + kBlock2Size, kSfxBlockMagic, sizeof kSfxBlockMagic);
    std::fwrite(blocks, 1, sizeof blocks, f);
    if (selector) {
        uint8_t tail[kSpanTailSize] = {'T', 'A', 'I', 'L'};
        std::fwrite(tail, 1, sizeof tail, f);
    }
    return std::fclose(f) == 0 ? 1 : 0;
}
#endif

STANDIN_EXPORT void HEDGEROW_CALL SetGetNextDiskProc(uint32_t, GetNextDiskProc) { Log("set|next-disk"); }
STANDIN_EXPORT void HEDGEROW_CALL SetSetSfxProgressProc(uint32_t, SfxProgressProc) { Log("set|sfx-progress"); }
STANDIN_EXPORT void HEDGEROW_CALL SetOkToReplaceProc(uint32_t, OkToReplaceProc) { Log("set|ok-to-replace"); }
STANDIN_EXPORT void HEDGEROW_CALL SetSetProgressProc(uint32_t, ProgressProc) { Log("set|progress"); }
#ifndef STANDIN_NO_SPLIT
STANDIN_EXPORT void HEDGEROW_CALL SetSetFileNameProc(uint32_t, FileNameProc) { Log("set|file-name"); }
#endif

STANDIN_EXPORT uint16_t HEDGEROW_CALL ResizeFile(const char* source, const char* destination, uint32_t disk_size) {
    long size = -1;
    if (std::FILE* f = std::fopen(Native(source).c_str(), "rb")) {
        std::fseek(f, 0, SEEK_END);
        size = std::ftell(f);
        std::fclose(f);
    }
    Log("resize|" + std::string(source) + "|" + destination + "|" + std::to_string(disk_size) + "|" +
        std::to_string(size));
    return static_cast<uint16_t>(EnvNumber("HEDGEROW_STANDIN_RESIZE", 0));
}
