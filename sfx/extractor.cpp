// extractor.cpp -- the program at the front of every self-extracting archive. It finds
// its configuration blocks at the end of its own executable image, checks the seal
// (file count, total length, checksum), checks every entry (deciphered, expanded and
// compared with its CRC, written nowhere) and only then extracts them with the library's
// own extraction, under the same rules: nothing outside the target directory, no partial
// files.
//
//   NAME [-d DIR] [-p PASSWORD] [-o] [-l]
//
// It is a host of the library's modules on a session of its own (not of the exports),
// and needs no C++ run-time: no exceptions, no RTTI, nothing but C library calls, so
// that it is small (the archive's marker must lie within the first 61,440 bytes of the
// file) and runs with no library beside it.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "api/control.h"
#include "archive/archive_state.h"
#include "archive/open_list.h"
#include "common/status.h"
#include "crypto/cipher.h"
#include "hedgerow.h"
#include "names/shown_text.h"
#include "ops/context.h"
#include "ops/extract.h"
#include "platform/platform.h"
#include "sfxblocks/sfx_blocks.h"

namespace {

using namespace hedgerow;
using namespace hedgerow::sfxblocks;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;    // the archive could not be read or written as asked
constexpr int kExitDamaged = 2;   // not a sound self-extracting file, or wrong usage
constexpr int kExitKept = 3;      // finished, but existing files were kept
constexpr int kPasswordTries = 3;
constexpr char kDamaged[] = "this file is damaged: ";

struct Options {
    const char* directory = nullptr;
    const char* password = nullptr;
    bool overwrite = false;
    bool list_only = false;
};

// What the callbacks need; the program has one run, so one instance.
struct Run {
    const Options* options = nullptr;
    int data_tries = 0;
    int header_tries = 0;
};
Run g_run;

// Output goes through fputs and fputc only: the formatted printing of the C library
// would double the size of a program that prints a few words and numbers.
void Say(const char* a, const char* b = "", const char* c = "") {
    std::fputs(a, stderr);
    std::fputs(b, stderr);
    std::fputs(c, stderr);
    std::fputc('\n', stderr);
}

// A number in decimal, right-aligned in width characters.
void ShowNumber(std::FILE* to, uint64_t value, int width) {
    char digits[24];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = count; i < width; ++i) std::fputc(' ', to);
    while (count > 0) std::fputc(digits[--count], to);
}

// A stored name as this system writes paths, escaped as the command shows names (see
// names::ShownText), so that a name cannot move the cursor, change the terminal or
// reorder the line.
void ShowName(std::FILE* to, const char* name) {
    const auto put = [](const char* piece, size_t length, void* file) {
        std::fwrite(piece, 1, length, static_cast<std::FILE*>(file));
    };
    const char* part = name[0] == '\\' ? name + 1 : name;
    for (;;) {
        size_t length = 0;
        while (part[length] != '\0' && part[length] != '\\') ++length;
        names::PutShownText(std::string_view(part, length), put, to);
        if (part[length] == '\0') return;
        std::fputc(platform::NativeSeparator(), to);
        part += length + 1;
    }
}

// One line of plain words for a status of the library.
void SayStatus(const char* doing, uint16_t status, const char* after = "") {
    const std::string_view text = StatusMessage(status);
    std::fputs(doing, stderr);
    std::fputs(": ", stderr);
    std::fwrite(text.data(), 1, text.size(), stderr);
    Say(after);
}

// Reads and checks the seal; prints why a file is refused.
bool CheckSeal(const char* self, uint32_t* files) {
    platform::File file = platform::OpenFile(self, "rb");
    if (!file) {
        Say("cannot read the program's own file: ", self);
        return false;
    }
    uint32_t tail = 0;
    const uint64_t image = platform::kPeExecutables ? PeImageLength(file.get()) : ElfImageLength(file.get());
    switch (CheckSealedFile(file.get(), image, &tail, files)) {
        case SealCheck::kSound:
            return true;
        case SealCheck::kUnreadable:
            Say("cannot read the program's own file: ", self);
            return false;
        case SealCheck::kNoBlocks:
            Say("this file is damaged or truncated: its configuration blocks are missing");
            return false;
        case SealCheck::kForeignBlocks:
            Say(kDamaged, "its configuration blocks do not read back");
            return false;
        case SealCheck::kWrongLength:
            Say("this file is truncated or damaged: its length is not the one it was made with",
                tail ? " (were all its pieces joined?)" : "");
            return false;
        case SealCheck::kWrongChecksum:
            break;
    }
    Say(kDamaged, "its checksum does not match");
    return false;
}

int32_t HEDGEROW_CALL AskDataPassword(uint32_t, char* password, const char* entry) {
    // Called with an empty password (none given) or after an entry failed its check.
    if (g_run.data_tries++ > 0 || g_run.options->password) {
        std::fputs("wrong password for ", stderr);
        ShowName(stderr, entry);
        std::fputc('\n', stderr);
    }
    if (g_run.data_tries > kPasswordTries) return 0;
    return platform::ReadSecret("Password: ", password, codec::kKeyBufferSize) ? 1 : 0;
}

int32_t HEDGEROW_CALL AskHeaderPassword(uint32_t, char* password, const char*) {
    if (g_run.header_tries++ >= kPasswordTries) return 0;
    if (g_run.header_tries > 1) Say("wrong header password");
    return platform::ReadSecret("Header password: ", password, 256) ? 1 : 0;
}

int32_t HEDGEROW_CALL Announce(uint32_t, const char*, const char* name) {
    std::fputs("  ", stdout);
    ShowName(stdout, name);
    std::fputc('\n', stdout);
    return 1;
}

int32_t HEDGEROW_CALL Replace(uint32_t, const HedgerowFindData* existing, const HedgerowFindData*) {
    if (g_run.options->overwrite) return 0;
    std::fputs("kept the existing file ", stderr);
    ShowName(stderr, existing->cFileName);
    std::fputc('\n', stderr);
    return 1;
}

int Usage(const char* self) {
    Say("usage: ", self, " [-d DIRECTORY] [-p PASSWORD] [-o] [-l]\n"
        "  -d DIR   extract into DIR (default: the current directory)\n"
        "  -p PASS  the data password (or set HEDGEROW_PASSWORD; asked when neither is given)\n"
        "           (the header password of a locked archive: HEDGEROW_HEADER_PASSWORD, or asked)\n"
        "  -o       replace existing files\n"
        "  -l       list the contents only\n"
        "exit codes: 0 done, 1 failed, 2 damaged file or wrong usage, 3 existing files kept");
    return kExitDamaged;
}

struct EntryList {
    HidFileList list {};
    ~EntryList() { archive::DoneHidFileList(list); }
};

bool EveryEntryPlain(const HidFileList& list) {
    for (const HidFileEntry* e = list.first; e; e = e->next) {
        if (e->cipher_id != crypto::kCipherNone) return false;
    }
    return true;
}

int List(const HidFileList& list) {
    uint64_t bytes = 0;
    for (const HidFileEntry* e = list.first; e; e = e->next) {
        bytes += e->unpacked_size;
        ShowNumber(stdout, e->unpacked_size, 12);
        std::fputs("  ", stdout);
        ShowName(stdout, e->name);
        std::fputc('\n', stdout);
    }
    ShowNumber(stdout, bytes, 12);
    std::fputs("  ", stdout);
    ShowNumber(stdout, list.count, 0);
    std::fputs(" files\n", stdout);
    return kExitOk;
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
    g_run.options = &options;
    char self[1024];
    if (platform::OwnProgramPath(self, sizeof self) == 0) {
        // Where the system cannot say (a bare root without /proc), the path it was
        // started by, when that is one.
        const char* started = argc > 0 ? argv[0] : "";
        const size_t length = std::strlen(started);
        if (std::strpbrk(started, "/\\") == nullptr || length >= sizeof self) {
            Say("cannot find the program's own file");
            return kExitDamaged;
        }
        std::memcpy(self, started, length + 1);
    }
    uint32_t files = 0;
    if (!CheckSeal(self, &files)) return kExitDamaged;

    // (on the stack: as initialised variables they would take their size in the file)
    Session session;
    archive::ArchiveState archive;
    HidFileSettings settings {};
    if (options.password) std::strncpy(settings.data_password, options.password, sizeof settings.data_password - 1);
    if (const char* header = std::getenv("HEDGEROW_HEADER_PASSWORD")) {
        std::strncpy(settings.header_password, header, sizeof settings.header_password - 1);
    }
    session.callbacks.head_crypt_key = {0, AskHeaderPassword};
    archive::InitHidFile(session, archive, self, &settings);
    if (StatusIs(session, Status::kNotAnArchive)) {
        Say(kDamaged, "no archive follows the program");
        return kExitDamaged;
    }
    if (StatusIs(session, Status::kBadPassword)) {
        Say("the header password is wrong (or none was given)");
        return kExitFailed;
    }
    if (!StatusIsOk(session)) {
        SayStatus("cannot open the archive", session.status);
        return kExitFailed;
    }
    EntryList entries;
    if (!archive::ListAllEntries(session, archive, entries.list)) {
        SayStatus("this file is damaged: its list of files cannot be read", session.status);
        return kExitDamaged;
    }
    const HidFileList& list = entries.list;
    // The count covers every file named when it was made, those then left out included.
    if (list.count > files) {
        Say(kDamaged, "it holds more entries than it was made with");
        return kExitDamaged;
    }
    if (options.list_only) return List(list);

    // An archive made without a cipher needs no password; any key reads its entries.
    if (EveryEntryPlain(list)) archive.data_password[0] = '-';
    session.callbacks.crypt_key = {0, AskDataPassword};
    ops::Context cx(session, archive);
    // The seal catches a changed length and most damage, but not every change (it is a
    // fold of words, blind to their order): every entry is checked before the first file
    // is written, so that a damaged file writes nothing.
    if (const HidFileEntry* failed = ops::CheckEntries(cx, list)) {
        if (StatusIs(session, Status::kCrcError) || StatusIs(session, Status::kBadFormat)) {
            std::fputs(kDamaged, stderr);
            ShowName(stderr, failed->name);
            std::fputs(" does not pass its check; nothing was written\n", stderr);
            return kExitDamaged;
        }
        if (StatusIs(session, Status::kBadPassword)) {
            Say("the password is wrong (or none was given); nothing was written");
            return kExitFailed;
        }
        SayStatus("checking the files failed", session.status, " Nothing was written.");
        return kExitFailed;
    }

    SetOutputPath(session, options.directory ? options.directory : "");
    if (!StatusIsOk(session)) {
        Say("the directory name is too long");
        return kExitDamaged;
    }
    OptionsOn(session, arOptRestorePaths);
    session.callbacks.file_name = {0, Announce};
    session.callbacks.ok_to_replace = {0, Replace};
    std::fputs("Extracting ", stdout);
    ShowNumber(stdout, list.count, 0);
    std::fputs(" files into ", stdout);
    std::fputs(options.directory ? options.directory : ".", stdout);
    std::fputc('\n', stdout);
    uint32_t kept = 0;
    ops::ExtractEntries(cx, list, &kept);
    if (!StatusIsOk(session)) {
        SayStatus("extraction stopped", session.status);
        return kExitFailed;
    }
    if (kept > 0) {
        std::fputs("kept ", stderr);
        ShowNumber(stderr, kept, 0);
        Say(kept == 1 ? " existing file" : " existing files", " (use -o to replace them)");
        return kExitKept;
    }
    return kExitOk;
}
