// extractor.cpp -- the program at the front of every self-extracting archive. It finds
// its configuration blocks at the end of its own executable image, checks the seal
// (file count, total length, checksum), and extracts the archive behind them with the
// library's own extraction, under the same rules: nothing outside the target directory,
// no partial files.
//
//   NAME [-d DIR] [-p PASSWORD] [-o] [-l]
//
// Kept small on purpose: the archive's marker must lie within the first 61,440 bytes of
// the file, so that the library (and the hedgerow command) can still read and update it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "archive/archive_state.h"
#include "archive/temp_names.h"
#include "common/byte_order.h"
#include "hedgerow.h"
#include "platform/platform.h"
#include "sfxblocks/sfx_blocks.h"

namespace {

using namespace hedgerow::sfxblocks;
using hedgerow::Load32Le;
using hedgerow::Load64Le;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;    // the library reported a failure
constexpr int kExitDamaged = 2;   // not a sound self-extracting file, or wrong usage
constexpr int kPasswordTries = 3;

struct Options {
    const char* directory = nullptr;
    const char* password = nullptr;
    bool overwrite = false;
    bool list_only = false;
};

int g_tries = 0;
const Options* g_options = nullptr;

void Say(const char* a, const char* b = "", const char* c = "") { std::fprintf(stderr, "%s%s%s\n", a, b, c); }

// A stored name as this system writes paths.
void PrintName(bool with_size, uint32_t size, const char* name) {
    char shown[260];
    std::snprintf(shown, sizeof shown, "%s", name[0] == '\\' ? name + 1 : name);
    const char separator = hedgerow::platform::NativeSeparator();
    for (char* p = shown; *p; ++p) {
        if (*p == '\\') *p = separator;
    }
    if (with_size) {
        std::printf("%12u  %s\n", size, shown);
    } else {
        std::printf("  %s\n", shown);
    }
}

bool ReadAt(std::FILE* f, uint64_t at, void* out, size_t n) {
    return hedgerow::platform::SeekTo(f, at) && hedgerow::platform::ReadBytes(f, out, n) == n;
}

// The length of the executable image that begins the file: everything the loader's
// headers describe. The configuration blocks follow right behind it.
uint64_t ImageLength(std::FILE* f) {
    uint8_t h[64];
    if (!ReadAt(f, 0, h, sizeof h)) return 0;
    uint64_t end = 0;
    if (std::memcmp(h, "\177ELF", 4) == 0) {
        const bool wide = h[4] == 2;
        const uint64_t ph = wide ? Load64Le(h + 32) : Load32Le(h + 28);
        const uint64_t sh = wide ? Load64Le(h + 40) : Load32Le(h + 32);
        const unsigned ph_size = wide ? (h[54] | h[55] << 8) : (h[42] | h[43] << 8);
        const unsigned ph_count = wide ? (h[56] | h[57] << 8) : (h[44] | h[45] << 8);
        const unsigned sh_size = wide ? (h[58] | h[59] << 8) : (h[46] | h[47] << 8);
        const unsigned sh_count = wide ? (h[60] | h[61] << 8) : (h[48] | h[49] << 8);
        end = sh + static_cast<uint64_t>(sh_size) * sh_count;
        for (unsigned i = 0; i < ph_count && i < 64; ++i) {
            uint8_t p[56];
            if (ph_size > sizeof p || !ReadAt(f, ph + static_cast<uint64_t>(i) * ph_size, p, ph_size)) return 0;
            const uint64_t off = wide ? Load64Le(p + 8) : Load32Le(p + 4);
            const uint64_t size = wide ? Load64Le(p + 32) : Load32Le(p + 16);
            if (off + size > end) end = off + size;
        }
        return end;
    }
    if (h[0] == 'M' && h[1] == 'Z') {
        const uint32_t pe = Load32Le(h + 60);
        uint8_t coff[24];
        if (!ReadAt(f, pe, coff, sizeof coff) || std::memcmp(coff, "PE\0\0", 4) != 0) return 0;
        const unsigned sections = coff[6] | coff[7] << 8;
        const unsigned optional = coff[20] | coff[21] << 8;
        for (unsigned i = 0; i < sections && i < 96; ++i) {
            uint8_t s[40];
            if (!ReadAt(f, pe + 24 + optional + 40ull * i, s, sizeof s)) return 0;
            const uint64_t last = static_cast<uint64_t>(Load32Le(s + 20)) + Load32Le(s + 16);
            if (last > end) end = last;
        }
        return end;
    }
    return 0;
}

// Reads and checks the seal; prints why a file is refused. archive_offset: where the
// archive begins, behind the blocks and the spanning tail.
bool CheckSeal(const char* self, uint32_t* files, uint64_t* archive_offset) {
    hedgerow::platform::File file = hedgerow::platform::OpenFile(self, "rb");
    if (!file) {
        Say("cannot read the program's own file: ", self);
        return false;
    }
    const int64_t length = hedgerow::platform::Length(file.get());
    const uint64_t image = ImageLength(file.get());
    uint8_t stored[kBlocksSize];
    uint8_t plain[kBlocksSize];
    if (length < 0 || image == 0 || image + kBlocksSize > static_cast<uint64_t>(length) ||
        !ReadAt(file.get(), image, stored, sizeof stored)) {
        Say("this file is damaged or truncated: its configuration blocks are missing");
        return false;
    }
    uint8_t* const block2 = plain + kBlock1Size;
    uint8_t* const block3 = block2 + kBlock2Size;
    uint32_t tail = 0;
    if (!RevealSealedBlocks(stored, plain, &tail)) {
        Say("this file is damaged: its configuration blocks do not read back");
        return false;
    }
    const uint64_t end = static_cast<uint64_t>(length);
    if (end < tail || end - tail != GetField(block2, kLengthField)) {
        Say("this file is truncated or damaged: its length is not the one it was made with",
            tail ? " (were all its pieces joined?)" : "");
        return false;
    }
    const uint32_t expected = GetField(block2, kChecksumField);
    uint32_t checksum = 0;
    if (!SealChecksum(file.get(), image, image + kBlocksSize + tail, end, plain, block2, block3, &checksum) ||
        checksum != expected) {
        Say("this file is damaged: its checksum does not match");
        return false;
    }
    *files = GetField(block2, kCountField);
    *archive_offset = image + kBlocksSize + tail;
    return true;
}

// A copy of the archive part in the temporary directory, for a program too large for the
// archive to begin within the bytes the library searches for it (the Windows build,
// which carries its C++ run-time). Removed when the program ends.
struct ArchiveCopy {
    char path[hedgerow::archive::kTempNameCapacity] = {};
    ~ArchiveCopy() {
        if (path[0]) (void)hedgerow::platform::RemoveFile(path);
    }
    bool Make(const char* self, uint64_t offset) {
        hedgerow::platform::File out;
        if (!hedgerow::archive::MakeTempNameInTempDir(path, &out)) {
            path[0] = '\0';
            return false;
        }
        hedgerow::platform::File in = hedgerow::platform::OpenFile(self, "rb");
        if (!in || !hedgerow::platform::SeekTo(in.get(), offset)) return false;
        static uint8_t buffer[32768];
        for (size_t n; (n = hedgerow::platform::ReadBytes(in.get(), buffer, sizeof buffer)) > 0;) {
            if (hedgerow::platform::WriteBytes(out.get(), buffer, n) != n) return false;
        }
        return hedgerow::platform::Close(out);
    }
};

int32_t HEDGEROW_CALL AskDataPassword(uint32_t, char* password, const char* entry) {
    if (g_tries == 0 && g_options->password) {
        ++g_tries;
        std::strncpy(password, g_options->password, 249);
        return 1;
    }
    if (g_tries++ > 0) Say("wrong password for ", entry);
    if (g_tries > kPasswordTries) return 0;
    return hedgerow::platform::ReadSecret("Password: ", password, 250) ? 1 : 0;
}

int32_t HEDGEROW_CALL AskHeaderPassword(uint32_t, char* password, const char*) {
    static int tries = 0;
    if (tries++ >= kPasswordTries) return 0;
    return hedgerow::platform::ReadSecret("Header password: ", password, 256) ? 1 : 0;
}

int32_t HEDGEROW_CALL Announce(uint32_t, const char*, const char* name) {
    PrintName(false, 0, name);
    return 1;
}

int32_t HEDGEROW_CALL Replace(uint32_t, const HedgerowFindData* existing, const HedgerowFindData*) {
    if (g_options->overwrite) return 0;
    Say("kept the existing file ", existing->cFileName, " (use -o to replace it)");
    return 1;
}

int Usage(const char* self) {
    Say("usage: ", self, " [-d DIRECTORY] [-p PASSWORD] [-o] [-l]\n"
        "  -d DIR   extract into DIR (default: the current directory)\n"
        "  -p PASS  the data password (or set HEDGEROW_PASSWORD; asked when neither is given)\n"
        "           (the header password of a locked archive: HEDGEROW_HEADER_PASSWORD, or asked)\n"
        "  -o       replace existing files\n"
        "  -l       list the contents only");
    return kExitDamaged;
}

int Report(const char* what) {
    const uint16_t status = GetArchiveStatus();
    if (status == 0) return kExitOk;
    std::fprintf(stderr, "%s failed: status %u\n", what, status);
    return kExitFailed;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    options.password = std::getenv("HEDGEROW_PASSWORD");
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strcmp(a, "-d") == 0 && i + 1 < argc) {
            options.directory = argv[++i];
        } else if (std::strcmp(a, "-p") == 0 && i + 1 < argc) {
            options.password = argv[++i];
        } else if (std::strcmp(a, "-o") == 0) {
            options.overwrite = true;
        } else if (std::strcmp(a, "-l") == 0) {
            options.list_only = true;
        } else {
            return Usage(argv[0]);
        }
    }
    g_options = &options;
    char self[1024];
    if (hedgerow::platform::OwnProgramPath(self, sizeof self) == 0) {
        Say("cannot find the program's own file");
        return kExitDamaged;
    }
    uint32_t files = 0;
    uint64_t archive_offset = 0;
    if (!CheckSeal(self, &files, &archive_offset)) return kExitDamaged;
    const char* archive = self;
    ArchiveCopy copy;
    if (archive_offset + hedgerow::archive::kMarkerSize > hedgerow::archive::kMarkerSearchLimit) {
        if (!copy.Make(self, archive_offset)) {
            Say("cannot copy the archive into the temporary directory");
            return kExitFailed;
        }
        archive = copy.path;
    }

    static HidFileSettings settings;
    if (options.password) std::strncpy(settings.data_password, options.password, sizeof settings.data_password - 1);
    if (const char* header = std::getenv("HEDGEROW_HEADER_PASSWORD")) {
        std::strncpy(settings.header_password, header, sizeof settings.header_password - 1);
    }
    InitHidFile(archive, &settings);
    if (GetArchiveStatus() != 0) {
        if (GetArchiveStatus() == arNotAnArchive) Say("this file is damaged: no archive follows the program");
        return Report("opening the archive");
    }
    SetSetHeadCryptKeyProc(0, AskHeaderPassword);
    HidFileList list;
    InitHidFileList(&list);
    const FileMaskList all {};
    BuildHidFileList(&list, &all);
    uint32_t entries = 0;
    uint64_t bytes = 0;
    for (const HidFileEntry* e = list.first; e; e = e->next) {
        ++entries;
        bytes += e->unpacked_size;
        if (options.list_only) PrintName(true, e->unpacked_size, e->name);
    }
    DoneHidFileList(&list);
    if (GetArchiveStatus() != 0 && GetArchiveStatus() != arNoEntries) return Report("listing the archive");
    // The count covers every file named when it was made, those then left out included.
    if (entries > files) {
        Say("this file is damaged: it holds more entries than it was made with");
        return kExitDamaged;
    }
    if (options.list_only) {
        std::printf("%12llu  %u files\n", static_cast<unsigned long long>(bytes), entries);
        return kExitOk;
    }

    char output[256] = {};
    if (options.directory) {
        const size_t n = std::strlen(options.directory);
        if (n + 2 > sizeof output) {
            Say("the directory name is too long");
            return kExitDamaged;
        }
        std::memcpy(output, options.directory, n);
        if (n > 0 && output[n - 1] != '/' && output[n - 1] != '\\') output[n] = '\\';
    }
    SetOutputPath(output);
    arOptionsOn(arOptRestorePaths);
    SetSetCryptKeyProc(0, AskDataPassword);
    SetSetFileNameProc(0, Announce);
    SetOkToReplaceProc(0, Replace);
    std::printf("Extracting %u files into %s\n", entries, options.directory ? options.directory : ".");
    ExtractFileMaskListHid(&all);
    const int code = Report("extraction");
    DoneHidFile();
    return code;
}
