/* dll_loader.c -- uses Hedgerow.dll as a host does: LoadLibraryA, every export found by its
 * plain name with GetProcAddress and called with the stdcall convention, and stdcall
 * callbacks that the library calls back. A small assembly thunk makes each call and
 * measures the stack pointer around it, so a convention mismatch shows at once instead
 * of as a crash later. The export table of the loaded image must hold exactly the names
 * of the export list, and every name of the list must be called here: an export added to
 * the list without a check in this program fails the test.
 * Usage: hedgerow_dll_loader [path of Hedgerow.dll] */
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "hedgerow.h" /* types, codes and callback types; the exports are reached by name */

static const char* const kListed[] = {
#include "hedgerow_exports.inc"
};
enum { kListedCount = sizeof kListed / sizeof kListed[0] };

static int g_failures;
static int g_called[kListedCount];
static HMODULE g_dll;

#define CHECK(condition)                                                          \
    do {                                                                          \
        if (!(condition)) {                                                       \
            fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            ++g_failures;                                                         \
        }                                                                         \
    } while (0)

/* Calls fn with count 32-bit arguments, pushed right to left; stores what fn returned
 * in *result and returns how far the stack pointer moved across the call: 0 when the
 * callee removed its arguments, as stdcall requires. */
int32_t StackDelta(FARPROC fn, int32_t count, const uint32_t* args, uint32_t* result);
__asm__(
    ".text\n"
    ".globl _StackDelta\n"
    "_StackDelta:\n"
    "    pushl %ebp\n"
    "    movl %esp, %ebp\n"
    "    pushl %esi\n"
    "    pushl %edi\n"
    "    pushl %ebx\n"
    "    movl %esp, %esi\n"      /* callee-saved: the stack pointer before the arguments */
    "    movl 12(%ebp), %ecx\n"  /* count */
    "    movl 16(%ebp), %edx\n"  /* args */
    "1:  testl %ecx, %ecx\n"
    "    jz 2f\n"
    "    decl %ecx\n"
    "    pushl (%edx,%ecx,4)\n"
    "    jmp 1b\n"
    "2:  call *8(%ebp)\n"
    "    movl 20(%ebp), %ecx\n"
    "    movl %eax, (%ecx)\n"
    "    movl %esp, %eax\n"
    "    subl %esi, %eax\n"
    "    movl %esi, %esp\n"
    "    popl %ebx\n"
    "    popl %edi\n"
    "    popl %esi\n"
    "    popl %ebp\n"
    "    ret\n");

#define ARG(x) ((uint32_t)(uintptr_t)(x))

static int ListedIndex(const char* name) {
    for (int i = 0; i < kListedCount; ++i) {
        if (strcmp(kListed[i], name) == 0) return i;
    }
    return -1;
}

/* Calls the export name with the given 32-bit arguments; returns its result. */
static uint32_t Call(const char* name, int count, ...) {
    const int index = ListedIndex(name);
    if (index < 0) {
        fprintf(stderr, "%s is called here but is not in the export list\n", name);
        ++g_failures;
        return 0;
    }
    const FARPROC proc = GetProcAddress(g_dll, name);
    if (proc == NULL) {
        fprintf(stderr, "GetProcAddress(\"%s\") failed (error %lu)\n", name, (unsigned long)GetLastError());
        ++g_failures;
        return 0;
    }
    uint32_t args[8] = {0};
    va_list list;
    va_start(list, count);
    for (int i = 0; i < count && i < 8; ++i) args[i] = va_arg(list, uint32_t);
    va_end(list);
    uint32_t result = 0;
    const int32_t delta = StackDelta(proc, count, args, &result);
    if (delta != 0) {
        fprintf(stderr, "%s: the stack pointer moved by %ld bytes\n", name, (long)delta);
        ++g_failures;
    }
    ++g_called[index];
    return result;
}

static uint16_t Status(void) { return (uint16_t)Call("GetArchiveStatus", 0); }

/* ---- The export table of the loaded image ------------------------------------------ */

static void CheckExportTable(void) {
    const BYTE* base = (const BYTE*)g_dll;
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)base;
    const IMAGE_NT_HEADERS32* nt = (const IMAGE_NT_HEADERS32*)(base + dos->e_lfanew);
    CHECK(nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR32_MAGIC);
    const IMAGE_DATA_DIRECTORY* directory = &nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const IMAGE_EXPORT_DIRECTORY* exports = (const IMAGE_EXPORT_DIRECTORY*)(base + directory->VirtualAddress);
    const DWORD* names = (const DWORD*)(base + exports->AddressOfNames);
    CHECK(exports->NumberOfFunctions == exports->NumberOfNames); /* nothing exported by ordinal alone */
    int found[kListedCount] = {0};
    for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
        const char* name = (const char*)(base + names[i]);
        const int index = ListedIndex(name);
        if (index < 0) {
            fprintf(stderr, "the image exports %s, which the export list does not name\n", name);
            ++g_failures;
        } else {
            ++found[index];
        }
    }
    for (int i = 0; i < kListedCount; ++i) {
        if (found[i] != 1) {
            fprintf(stderr, "%s of the export list is exported %d times\n", kListed[i], found[i]);
            ++g_failures;
        }
        CHECK(GetProcAddress(g_dll, kListed[i]) != NULL);
    }
}

/* ---- Callbacks ------------------------------------------------------------------- */

enum { kRoundTrips = 5000 };
static const uint32_t kUser = 0xC0FFEE42u;
static const char* g_archive_name;
static int g_head_calls;
static const void* g_first_frame;
static int g_frames_moved;

/* The header password is asked again and again (wrong answers) until kRoundTrips. Each
 * call must come from the same stack depth: a callback whose arguments stayed on the
 * stack, or were removed twice, would move every later call. */
static int32_t HEDGEROW_CALL AskHeadPassword(uint32_t user, char* password, const char* archive_name) {
    const void* frame = __builtin_frame_address(0);
    if (g_head_calls++ == 0) {
        g_first_frame = frame;
    } else if (frame != g_first_frame) {
        ++g_frames_moved;
    }
    if (user != kUser || archive_name == NULL || strcmp(archive_name, g_archive_name) != 0 || password[0] != '\0') {
        ++g_failures;
        fprintf(stderr, "AskHeadPassword: user %#lx, archive %s\n", (unsigned long)user,
                archive_name ? archive_name : "(null)");
        return 0;
    }
    strcpy(password, "not the password");
    return g_head_calls < kRoundTrips ? 1 : 0;
}

/* Registered only; no export calls them yet. */
static int32_t HEDGEROW_CALL Progress(uint32_t user, int32_t percent, int32_t count) {
    return (int32_t)(user + (uint32_t)percent + (uint32_t)count);
}
static int32_t HEDGEROW_CALL FileName(uint32_t user, const char* first, const char* second) {
    return (int32_t)user + (first != second);
}
static int32_t HEDGEROW_CALL SkipFile(uint32_t user, const char* file_name) { return (int32_t)user + (file_name != NULL); }
static int32_t HEDGEROW_CALL CryptKey(uint32_t user, char* password, const char* entry_name) {
    return (int32_t)user + (password != entry_name);
}
static int32_t HEDGEROW_CALL OkToReplace(uint32_t user, const HedgerowFindData* a, const HedgerowFindData* b) {
    return (int32_t)user + (a != b);
}
static int32_t HEDGEROW_CALL NextDisk(uint32_t user, int32_t disk, const char* path) {
    return (int32_t)user + disk + (path != NULL);
}
static int32_t HEDGEROW_CALL SfxProgress(uint32_t user, int32_t percent, int32_t piece) {
    return (int32_t)user + percent + piece;
}

/* ---- Archives written byte by byte ---------------------------------------------------- */

static void Put32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = (uint8_t)(value >> (8 * i));
}

static uint32_t Crc32(const uint8_t* data, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

/* The marker record, then one plain entry record of an empty file "A.TXT" (locked:
 * then bytes that no header password deciphers into a record). */
static int WriteArchive(const char* path, int locked) {
    uint8_t bytes[34 + 432];
    memset(bytes, 0, sizeof bytes);
    memcpy(bytes, "Overgrown!", 10);
    Put32(bytes + 10, 0x1541524Eu);
    Put32(bytes + 14, 77);
    Put32(bytes + 18, locked ? 1u : 0u);
    Put32(bytes + 22, 24);
    uint8_t* record = bytes + 34;
    if (locked) {
        for (int i = 0; i < 432; ++i) record[i] = (uint8_t)(i * 7 + 3);
    } else {
        Put32(record + 0, 0xFFFFFFFFu); /* not enciphered */
        Put32(record + 8, 77);
        memcpy(record + 76, "A.TXT", 5);
        Put32(record + 336, 432);
        Put32(record + 356, 0x2C210A00u); /* 1 January 2002, 01:16:00 */
        Put32(record + 360, 0x20);
        Put32(record + 364, 30);
        Put32(record + 4, Crc32(record + 8, 424));
    }
    FILE* f = fopen(path, "wb");
    if (f == NULL) return 0;
    const int written = fwrite(bytes, 1, sizeof bytes, f) == sizeof bytes;
    return fclose(f) == 0 && written;
}

/* ---- One pass over every export --------------------------------------------------------- */

static void ControlExports(void) {
    CHECK(Call("SetArchiveStatus", 1, 9906u) == 9906u);
    CHECK(Status() == arNoEntries);
    CHECK(Call("SetArchiveStatus", 1, 0u) == 0u);
    CHECK((Call("arOptionsOn", 1, 0x0011u) & 0xFFFF) == 0x0811u);
    CHECK((Call("arOptionsAreOn", 1, 0x0011u) & 0xFF) == 1u);
    CHECK((Call("arOptionsOff", 1, 0x0011u) & 0xFFFF) == 0x0800u);
    CHECK((Call("arOptionsAreOn", 1, 0x0001u) & 0xFF) == 0u);
    CHECK((Call("arOptionsOn", 1, 0x8000u) & 0xFFFF) == 0x0800u);
    Call("SetOutputPath", 1, ARG("C:\\out"));
    Call("SetInputPath", 1, ARG("C:\\in"));
    Call("SetRelativePath", 1, ARG("docs"));
    CHECK(Status() == arOk);
    char long_path[300];
    memset(long_path, 'p', sizeof long_path - 1);
    long_path[sizeof long_path - 1] = '\0';
    Call("SetOutputPath", 1, ARG(long_path));
    CHECK(Status() == arNameTooLong);
    Call("SetArchiveStatus", 1, 0u);
    Call("SetRelativePath", 1, ARG(""));
    Call("CreateArcFolder", 0);
    Call("DeleteFilesAndData", 0);
    CHECK(Status() == arOk);
}

static void RegisterCallbacks(uint32_t user, int on) {
    Call("SetSetProgressProc", 2, user, on ? ARG(Progress) : 0u);
    Call("SetSetFileNameProc", 2, user, on ? ARG(FileName) : 0u);
    Call("SetSkipFileProc", 2, user, on ? ARG(SkipFile) : 0u);
    Call("SetSetCryptKeyProc", 2, user, on ? ARG(CryptKey) : 0u);
    Call("SetSetHeadCryptKeyProc", 2, user, on ? ARG(AskHeadPassword) : 0u);
    Call("SetOkToReplaceProc", 2, user, on ? ARG(OkToReplace) : 0u);
    Call("SetGetNextDiskProc", 2, user, on ? ARG(NextDisk) : 0u);
    Call("SetSetSfxProgressProc", 2, user, on ? ARG(SfxProgress) : 0u);
}

static void MaskAndListExports(const char* plain_archive, const char* new_archive) {
    FileMaskList masks;
    Call("InitFileMaskList", 1, ARG(&masks));
    CHECK(masks.first == NULL);
    CHECK((Call("AppendFileMask", 2, ARG("A.*"), ARG(&masks)) & 0xFF) == 1u);
    CHECK(masks.first != NULL);
    char long_mask[300];
    memset(long_mask, 'm', sizeof long_mask - 1);
    long_mask[sizeof long_mask - 1] = '\0';
    CHECK((Call("AppendFileMask", 2, ARG(long_mask), ARG(&masks)) & 0xFF) == 0u);
    CHECK(Status() == arNameTooLong);
    Call("SetArchiveStatus", 1, 0u);

    Call("InitHidFile", 2, ARG(plain_archive), 0u);
    CHECK(Status() == arOk);
    HidFileList list;
    Call("InitHidFileList", 1, ARG(&list));
    CHECK(list.count == 0 && list.first == NULL);
    Call("BuildHidFileList", 2, ARG(&list), ARG(&masks));
    CHECK(Status() == arOk);
    CHECK(list.count == 1);
    if (list.first != NULL) {
        CHECK(strcmp(list.first->name, "A.TXT") == 0);
        CHECK(list.first->date_time == 0x2C210A00u);
        CHECK(list.first->attributes == 0x20u);
        CHECK(list.first->record_length == 432u);
        CHECK(list.first->record_copy != NULL && list.first->next == NULL);
    }
    Call("DoneHidFileList", 1, ARG(&list));
    CHECK(list.count == 0 && list.first == NULL);
    CHECK(Call("DoneHidFile", 0) == 0u);
    Call("DoneFileMaskList", 1, ARG(&masks));
    CHECK(masks.first == NULL && masks.last == NULL);

    HidFileSettings settings;
    memset(&settings, 0, sizeof settings);
    settings.cipher_id = 2;
    strcpy(settings.data_password, "data");
    Call("CreateHidFile", 2, ARG(new_archive), ARG(&settings));
    CHECK(Status() == arOk);
    Call("DoneHidFile", 0);
}

/* The library asks the header password of a locked archive kRoundTrips times within one
 * call of InitHidFile; the host gives up at the end. */
static void HeaderPasswordRoundTrips(const char* locked_archive) {
    g_archive_name = locked_archive;
    g_head_calls = 0;
    g_frames_moved = 0;
    RegisterCallbacks(kUser, 1);
    Call("InitHidFile", 2, ARG(locked_archive), 0u);
    CHECK(Status() == arBadPassword);
    CHECK(g_head_calls == kRoundTrips);
    CHECK(g_frames_moved == 0);
    RegisterCallbacks(0, 0);
    Call("DoneHidFile", 0);
    Call("SetArchiveStatus", 1, 0u);
}

int main(int argc, char** argv) {
    const char* dll_path = argc > 1 ? argv[1] : "Hedgerow.dll";
    char directory[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof directory, directory);
    CHECK(length > 0 && length < sizeof directory);
    char plain[MAX_PATH + 32];
    char locked[MAX_PATH + 32];
    char fresh[MAX_PATH + 32];
    snprintf(plain, sizeof plain, "%shedgerow-loader-%lu-plain.arc", directory, (unsigned long)GetCurrentProcessId());
    snprintf(locked, sizeof locked, "%shedgerow-loader-%lu-locked.arc", directory, (unsigned long)GetCurrentProcessId());
    snprintf(fresh, sizeof fresh, "%shedgerow-loader-%lu-new.arc", directory, (unsigned long)GetCurrentProcessId());
    if (!WriteArchive(plain, 0) || !WriteArchive(locked, 1)) {
        fprintf(stderr, "cannot write the test archives in %s\n", directory);
        return 1;
    }

    int calls = 0;
    for (int load = 0; load < 2 && g_failures == 0; ++load) {
        g_dll = LoadLibraryA(dll_path);
        if (g_dll == NULL) {
            fprintf(stderr, "LoadLibraryA(\"%s\") failed (error %lu)\n", dll_path, (unsigned long)GetLastError());
            return 1;
        }
        /* A fresh load starts from the load-time state. */
        CHECK(Status() == arOk);
        CHECK((Call("arOptionsOn", 1, 0u) & 0xFFFF) == 0x0800u);
        if (load == 0) CheckExportTable();
        for (int pass = 0; pass < 200; ++pass) {
            ControlExports();
            RegisterCallbacks(kUser + (uint32_t)pass, 1);
            RegisterCallbacks(0, 0);
            MaskAndListExports(plain, fresh);
        }
        HeaderPasswordRoundTrips(locked);
        Call("arOptionsOn", 1, 0x0001u); /* the next load must not see this */
        Call("SetArchiveStatus", 1, 9999u);
        CHECK(FreeLibrary(g_dll));
    }
    DeleteFileA(plain);
    DeleteFileA(locked);
    DeleteFileA(fresh);

    for (int i = 0; i < kListedCount; ++i) {
        if (g_called[i] == 0) {
            fprintf(stderr, "%s is in the export list but this program never calls it: add a check\n", kListed[i]);
            ++g_failures;
        }
        calls += g_called[i];
    }
    printf("%d exports, %d stdcall calls, %d callback round trips: %s\n", kListedCount, calls, 2 * kRoundTrips,
           g_failures ? "FAILED" : "all passed");
    return g_failures ? 1 : 0;
}
