/* dll_loader.c -- uses Hedgerow.dll as a host does: LoadLibraryA, every export found by its
 * plain name with GetProcAddress and called through a small assembly thunk that checks the
 * calling convention, and callbacks that the library calls back during real operations.
 * On 32-bit Windows the thunk pushes the arguments and measures the stack pointer around
 * the call: 0 when the callee removed them, as stdcall requires. On 64-bit Windows it
 * passes them in registers and on the stack with the 32-byte home area, and checks that the
 * callee kept the stack pointer and every callee-saved general register, as the x64
 * convention requires. A mismatch shows at once instead of as a crash later. Each callback
 * kind is registered with its own user value and checks that it comes first. The export
 * table of the loaded image must hold exactly the names of the export list, and every
 * name of the list must be called here: an export added to the list without a check in
 * this program fails.
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

/* One argument of an export: a pointer or a 32-bit value, in a machine word. */
typedef uintptr_t Word;

/* Calls fn with count arguments (at most 8) and stores what fn returned in *result.
 * Returns 0 when the callee kept the convention, else a description of what it broke:
 * on 32-bit Windows how far the stack pointer moved across the call, on 64-bit Windows a
 * bit mask of the registers it did not keep (bit 0 to 6: rbx, rsi, rdi, r12 to r15;
 * bit 8: the stack pointer). */
int32_t ConventionCheck(FARPROC fn, intptr_t count, const Word* args, Word* result);
#if defined(_WIN64)
/* The callee-saved registers are loaded with known values before the call and compared
 * after it; rbp is this thunk's frame pointer, which the callee must keep to get here. */
__asm__(
    ".text\n"
    ".globl ConventionCheck\n"
    "ConventionCheck:\n"
    "    pushq %rbp\n"
    "    movq %rsp, %rbp\n"
    "    pushq %rbx\n"
    "    pushq %rsi\n"
    "    pushq %rdi\n"
    "    pushq %r12\n"
    "    pushq %r13\n"
    "    pushq %r14\n"
    "    pushq %r15\n"         /* rsp = rbp - 56 */
    "    subq $88, %rsp\n"     /* rsp = rbp - 144, 16-byte aligned: home area and 4 stack arguments */
    "    movq %rcx, -64(%rbp)\n"  /* fn */
    "    movq %r9, -72(%rbp)\n"   /* result */
    "    movq %rdx, %r11\n"       /* count */
    "    movq %r8, %r10\n"        /* args */
    "    movq $4, %rax\n"         /* arguments 5 to 8 go above the 32-byte home area */
    "1:  cmpq %r11, %rax\n"
    "    jge 2f\n"
    "    movq (%r10,%rax,8), %rcx\n"
    "    movq %rcx, (%rsp,%rax,8)\n"
    "    incq %rax\n"
    "    jmp 1b\n"
    "2:  movq (%r10), %rcx\n"
    "    movq 8(%r10), %rdx\n"
    "    movq 16(%r10), %r8\n"
    "    movq 24(%r10), %r9\n"
    "    movabsq $0x1111111111111111, %rbx\n"
    "    movabsq $0x2222222222222222, %rsi\n"
    "    movabsq $0x3333333333333333, %rdi\n"
    "    movabsq $0x4444444444444444, %r12\n"
    "    movabsq $0x5555555555555555, %r13\n"
    "    movabsq $0x6666666666666666, %r14\n"
    "    movabsq $0x7777777777777777, %r15\n"
    "    callq *-64(%rbp)\n"
    "    movq -72(%rbp), %r10\n"
    "    movq %rax, (%r10)\n"
    "    xorl %eax, %eax\n"
    "    movabsq $0x1111111111111111, %r10\n"
    "    cmpq %r10, %rbx\n"
    "    je 3f\n"
    "    orl $1, %eax\n"
    "3:  movabsq $0x2222222222222222, %r10\n"
    "    cmpq %r10, %rsi\n"
    "    je 4f\n"
    "    orl $2, %eax\n"
    "4:  movabsq $0x3333333333333333, %r10\n"
    "    cmpq %r10, %rdi\n"
    "    je 5f\n"
    "    orl $4, %eax\n"
    "5:  movabsq $0x4444444444444444, %r10\n"
    "    cmpq %r10, %r12\n"
    "    je 6f\n"
    "    orl $8, %eax\n"
    "6:  movabsq $0x5555555555555555, %r10\n"
    "    cmpq %r10, %r13\n"
    "    je 7f\n"
    "    orl $16, %eax\n"
    "7:  movabsq $0x6666666666666666, %r10\n"
    "    cmpq %r10, %r14\n"
    "    je 8f\n"
    "    orl $32, %eax\n"
    "8:  movabsq $0x7777777777777777, %r10\n"
    "    cmpq %r10, %r15\n"
    "    je 9f\n"
    "    orl $64, %eax\n"
    "9:  leaq -144(%rbp), %r10\n"
    "    cmpq %r10, %rsp\n"
    "    je 10f\n"
    "    orl $256, %eax\n"
    "10: leaq -56(%rbp), %rsp\n"
    "    popq %r15\n"
    "    popq %r14\n"
    "    popq %r13\n"
    "    popq %r12\n"
    "    popq %rdi\n"
    "    popq %rsi\n"
    "    popq %rbx\n"
    "    popq %rbp\n"
    "    retq\n");
static const char kConvention[] = "x64";
#else
__asm__(
    ".text\n"
    ".globl _ConventionCheck\n"
    "_ConventionCheck:\n"
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
static const char kConvention[] = "stdcall";
#endif

#define ARG(x) ((Word)(x))

static int ListedIndex(const char* name) {
    for (int i = 0; i < kListedCount; ++i) {
        if (strcmp(kListed[i], name) == 0) return i;
    }
    return -1;
}

/* Calls the export name with the given arguments (each a Word: ARG); returns its result,
 * of which only the low 32 bits are defined (no export returns a pointer). */
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
    Word args[8] = {0};
    va_list list;
    va_start(list, count);
    for (int i = 0; i < count && i < 8; ++i) args[i] = va_arg(list, Word);
    va_end(list);
    Word result = 0;
    const int32_t broken = ConventionCheck(proc, count, args, &result);
    if (broken != 0) {
#if defined(_WIN64)
        fprintf(stderr, "%s: the callee did not keep the registers of mask %#lx\n", name, (unsigned long)broken);
#else
        fprintf(stderr, "%s: the stack pointer moved by %ld bytes\n", name, (long)broken);
#endif
        ++g_failures;
    }
    ++g_called[index];
    return (uint32_t)result;
}

static uint16_t Status(void) { return (uint16_t)Call("GetArchiveStatus", 0); }

/* ---- The export table of the loaded image ------------------------------------------ */

static void CheckExportTable(void) {
    const BYTE* base = (const BYTE*)g_dll;
    const IMAGE_DOS_HEADER* dos = (const IMAGE_DOS_HEADER*)base;
    const IMAGE_NT_HEADERS* nt = (const IMAGE_NT_HEADERS*)(base + dos->e_lfanew);
    CHECK(nt->OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR_MAGIC); /* the 32- or 64-bit form, as this program */
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

enum Kind { kProgress, kFileName, kSkipFile, kCryptKey, kHeadCryptKey, kOkToReplace, kNextDisk, kSfxProgress, kKinds };
static const char* const kKindNames[kKinds] = {"Progress",     "FileName",    "SkipFile", "CryptKey",
                                               "HeadCryptKey", "OkToReplace", "NextDisk", "SfxProgress"};
static const uint32_t kUserBase = 0xC0FFEE00u;
static uint32_t g_expected_user[kKinds];
static int g_callbacks[kKinds];

static void Seen(enum Kind kind, uint32_t user) {
    ++g_callbacks[kind];
    if (user != g_expected_user[kind]) {
        fprintf(stderr, "%sProc got the user value %#lx, not %#lx\n", kKindNames[kind], (unsigned long)user,
                (unsigned long)g_expected_user[kind]);
        ++g_failures;
    }
}

static int32_t HEDGEROW_CALL Progress(uint32_t user, int32_t percent, int32_t count) {
    Seen(kProgress, user);
    CHECK(percent >= 0 && count >= 0); /* percent passes 100 where padding and chain blocks count */
    return 1;
}

static int32_t HEDGEROW_CALL FileName(uint32_t user, const char* first, const char* second) {
    Seen(kFileName, user);
    CHECK(first != NULL && second != NULL);
    return 0;
}

static int32_t HEDGEROW_CALL SkipFile(uint32_t user, const char* file_name) {
    Seen(kSkipFile, user);
    CHECK(file_name != NULL && strstr(file_name, "C.TXT") != NULL);
    return 1; /* skip it */
}

/* A wrong data password first, the right one when asked again. */
static int32_t HEDGEROW_CALL CryptKey(uint32_t user, char* password, const char* entry_name) {
    Seen(kCryptKey, user);
    CHECK(entry_name != NULL && password[0] == '\0');
    strcpy(password, g_callbacks[kCryptKey] % 2 ? "wrong" : "pw");
    return 1;
}

static int32_t g_replace_answer = 1;
static int32_t HEDGEROW_CALL OkToReplace(uint32_t user, const HedgerowFindData* existing,
                                         const HedgerowFindData* replacement) {
    Seen(kOkToReplace, user);
    CHECK(existing != NULL && replacement != NULL && existing->nFileSizeLow == replacement->nFileSizeLow);
    return g_replace_answer;
}

/* The self-extractor module calls these; this build has none. */
static int32_t HEDGEROW_CALL NextDisk(uint32_t user, int32_t disk, const char* path) {
    Seen(kNextDisk, user);
    return disk > 1 && path != NULL;
}
static int32_t HEDGEROW_CALL SfxProgress(uint32_t user, int32_t percent, int32_t piece) {
    Seen(kSfxProgress, user);
    return percent >= 0 && piece > 0;
}

/* The header password: "head" for a locked archive of ours; for the round trips wrong
 * answers again and again until kRoundTrips. Each of those calls comes from the same
 * place in the library, so from the same stack depth: a callback whose arguments stayed
 * on the stack, or were removed twice, would move every later call. */
enum { kRoundTrips = 5000 };
static int g_round_trips_mode;
static const char* g_archive_name;
static int g_round_trips;
static const void* g_first_frame;
static int g_frames_moved;

static int32_t HEDGEROW_CALL HeadCryptKey(uint32_t user, char* password, const char* archive_name) {
    Seen(kHeadCryptKey, user);
    CHECK(archive_name != NULL && strcmp(archive_name, g_archive_name) == 0 && password[0] == '\0');
    if (!g_round_trips_mode) {
        strcpy(password, "head");
        return 1;
    }
    const void* frame = __builtin_frame_address(0);
    if (g_round_trips++ == 0) {
        g_first_frame = frame;
    } else if (frame != g_first_frame) {
        ++g_frames_moved;
    }
    strcpy(password, "not the password");
    return g_round_trips < kRoundTrips ? 1 : 0;
}

static void RegisterCallbacks(uint32_t base, int on) {
    static const char* const kSetters[kKinds] = {
        "SetSetProgressProc",     "SetSetFileNameProc", "SetSkipFileProc",    "SetSetCryptKeyProc",
        "SetSetHeadCryptKeyProc", "SetOkToReplaceProc", "SetGetNextDiskProc", "SetSetSfxProgressProc"};
    const Word procs[kKinds] = {ARG(Progress),     ARG(FileName),    ARG(SkipFile), ARG(CryptKey),
                                    ARG(HeadCryptKey), ARG(OkToReplace), ARG(NextDisk), ARG(SfxProgress)};
    for (int kind = 0; kind < kKinds; ++kind) {
        g_expected_user[kind] = base + (uint32_t)kind;
        Call(kSetters[kind], 2, ARG(g_expected_user[kind]), on ? procs[kind] : ARG(0));
    }
}

/* ---- Files ------------------------------------------------------------------------ */

enum { kPathCapacity = MAX_PATH + 64 };

static void Join(char* out, const char* directory, const char* name) {
    snprintf(out, kPathCapacity, "%s\\%s", directory, name);
}

static int WriteBytes(const char* path, const uint8_t* bytes, size_t n) {
    FILE* f = fopen(path, "wb");
    if (f == NULL) return 0;
    const int written = fwrite(bytes, 1, n, f) == n;
    return fclose(f) == 0 && written;
}

static int SameContent(const char* path, const uint8_t* bytes, size_t n) {
    FILE* f = fopen(path, "rb");
    if (f == NULL) return 0;
    int same = 1;
    for (size_t i = 0; i < n && same; ++i) same = fgetc(f) == bytes[i];
    same = same && fgetc(f) == EOF;
    fclose(f);
    return same;
}

static void Put32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = (uint8_t)(value >> (8 * i));
}

/* A marker record that says the records are enciphered, then bytes that no header
 * password deciphers into a record. */
static int WriteLockedGarbage(const char* path) {
    uint8_t bytes[34 + 432];
    memset(bytes, 0, sizeof bytes);
    memcpy(bytes, "Overgrown!", 10);
    Put32(bytes + 10, 0x1541524Eu);
    Put32(bytes + 14, 77);
    Put32(bytes + 18, 1);
    Put32(bytes + 22, 24);
    for (int i = 0; i < 432; ++i) bytes[34 + i] = (uint8_t)(i * 7 + 3);
    return WriteBytes(path, bytes, sizeof bytes);
}

static void Settings(HidFileSettings* s, const char* data_password, const char* header_password) {
    memset(s, 0, sizeof *s);
    s->cipher_id = 2;
    strcpy(s->data_password, data_password);
    strcpy(s->header_password, header_password);
}

struct Work {
    char root[kPathCapacity];
    char in[kPathCapacity];
    char out[kPathCapacity];
    char archive[kPathCapacity];
    char locked[kPathCapacity];
    char fresh[kPathCapacity];
    char source[3][kPathCapacity]; /* A.TXT, B.TXT, C.TXT below in */
    char extracted[2][kPathCapacity];
};
static uint8_t g_text[40000];
static const uint8_t kShort[] = "a short file";

static int PrepareWork(struct Work* w) {
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(sizeof temp, temp);
    if (length == 0 || length >= sizeof temp) return 0;
    snprintf(w->root, kPathCapacity, "%shedgerow-loader-%lu", temp, (unsigned long)GetCurrentProcessId());
    Join(w->in, w->root, "in");
    Join(w->out, w->root, "out");
    Join(w->archive, w->root, "test.arc");
    Join(w->locked, w->root, "locked.arc");
    Join(w->fresh, w->root, "new.arc");
    const char* names[3] = {"A.TXT", "B.TXT", "C.TXT"};
    for (int i = 0; i < 3; ++i) Join(w->source[i], w->in, names[i]);
    for (int i = 0; i < 2; ++i) Join(w->extracted[i], w->out, names[i]);
    static const char* const kWords[] = {"hedge ", "row ", "bramble ", "thorn ", "leaf\r\n", "sparrow "};
    size_t at = 0;
    for (uint32_t x = 1; at < sizeof g_text; x = x * 1103515245u + 12345u) {
        for (const char* word = kWords[(x >> 16) % 6]; *word && at < sizeof g_text; ++word) g_text[at++] = (uint8_t)*word;
    }
    return CreateDirectoryA(w->root, NULL) && CreateDirectoryA(w->in, NULL) && CreateDirectoryA(w->out, NULL) &&
           WriteBytes(w->source[0], g_text, sizeof g_text) && WriteBytes(w->source[1], kShort, sizeof kShort) &&
           WriteBytes(w->source[2], kShort, sizeof kShort) && WriteLockedGarbage(w->locked);
}

static void RemoveWork(const struct Work* w) {
    for (int i = 0; i < 3; ++i) DeleteFileA(w->source[i]);
    for (int i = 0; i < 2; ++i) DeleteFileA(w->extracted[i]);
    DeleteFileA(w->archive);
    DeleteFileA(w->locked);
    DeleteFileA(w->fresh);
    RemoveDirectoryA(w->in);
    RemoveDirectoryA(w->out);
    RemoveDirectoryA(w->root);
}

/* ---- Exports, as a host calls them -------------------------------------------------- */

static uint32_t EntryCount(const FileMaskList* masks) {
    HidFileList list;
    Call("InitHidFileList", 1, ARG(&list));
    CHECK(list.count == 0 && list.first == NULL);
    Call("BuildHidFileList", 2, ARG(&list), ARG(masks));
    const uint32_t count = list.count;
    if (list.first != NULL) {
        CHECK(strcmp(list.first->name, "A.TXT") == 0);
        CHECK(list.first->unpacked_size == sizeof g_text);
        if (list.first->cipher_id == 3) { /* a strong archive's records are sealed: no copy */
            CHECK(list.first->record_length == 0u && list.first->record_copy == NULL);
        } else {
            CHECK(list.first->record_length == 432u && list.first->record_copy != NULL);
        }
    }
    Call("DoneHidFileList", 1, ARG(&list));
    CHECK(list.count == 0 && list.first == NULL);
    return count;
}

/* A list of the masks of a text, separated by spaces. */
static void MakeMasks(FileMaskList* masks, const char* text) {
    Call("InitFileMaskList", 1, ARG(masks));
    CHECK(masks->first == NULL);
    char copy[64];
    snprintf(copy, sizeof copy, "%s", text);
    for (char* mask = strtok(copy, " "); mask != NULL; mask = strtok(NULL, " ")) {
        CHECK((Call("AppendFileMask", 2, ARG(mask), ARG(masks)) & 0xFF) == 1u);
    }
}

/* Create, extract (asking for the data password and for replacing), lock, open locked
 * (asking for the header password), unlock and delete: the operations and every
 * callback a host answers. */
static void ArchiveOperations(const struct Work* w) {
    memset(g_callbacks, 0, sizeof g_callbacks);
    HidFileSettings settings;
    FileMaskList masks;
    /* C.TXT is held open without sharing: compression cannot read it and asks. */
    const HANDLE held = CreateFileA(w->source[2], GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    CHECK(held != INVALID_HANDLE_VALUE);
    Settings(&settings, "pw", "");
    Call("CreateHidFile", 2, ARG(w->archive), ARG(&settings));
    CHECK(Status() == arOk);
    RegisterCallbacks(kUserBase, 1);
    Call("SetInputPath", 1, ARG(w->in));
    MakeMasks(&masks, "A.TXT B.TXT C.TXT"); /* compression takes named files only */
    Call("CompressFileMaskListHid", 1, ARG(&masks));
    CHECK(Status() == arOk);
    CloseHandle(held);
    CHECK(g_callbacks[kSkipFile] == 1);
    CHECK(g_callbacks[kProgress] > 0 && g_callbacks[kFileName] >= 2);

    /* No data password in the settings: the host is asked, and asked again. */
    Settings(&settings, "", "");
    Call("InitHidFile", 2, ARG(w->archive), ARG(&settings));
    CHECK(Status() == arOk);
    RegisterCallbacks(kUserBase + 0x10, 1);
    CHECK(EntryCount(&masks) == 2);
    Call("SetOutputPath", 1, ARG(w->out));
    Call("ExtractFileMaskListHid", 1, ARG(&masks));
    CHECK(Status() == arOk);
    CHECK(g_callbacks[kCryptKey] >= 2);
    CHECK(SameContent(w->extracted[0], g_text, sizeof g_text));
    CHECK(SameContent(w->extracted[1], kShort, sizeof kShort));
    Call("TestFileMaskListHid", 1, ARG(&masks));
    CHECK(Status() == arOk);
    const int asked_before = g_callbacks[kOkToReplace];
    g_replace_answer = 1; /* keep what is there */
    Call("ExtractFileMaskListHid", 1, ARG(&masks));
    CHECK(Status() == arOk);
    CHECK(g_callbacks[kOkToReplace] == asked_before + 2);

    /* Lock with a header password; open without one: the host is asked. */
    Settings(&settings, "pw", "head");
    Call("InitHidFile", 2, ARG(w->archive), ARG(&settings));
    Call("LockArchive", 1, ARG(w->archive));
    CHECK(Status() == arOk);
    Settings(&settings, "pw", "");
    g_archive_name = w->archive;
    g_round_trips_mode = 0;
    RegisterCallbacks(kUserBase + 0x20, 1);
    Call("InitHidFile", 2, ARG(w->archive), ARG(&settings));
    CHECK(Status() == arOk);
    CHECK(g_callbacks[kHeadCryptKey] >= 1);
    g_expected_user[kHeadCryptKey] = 0; /* reopening for the rewrite clears the user values */
    Call("UnlockArchive", 1, ARG(w->archive));
    CHECK(Status() == arOk);

    FileMaskList b;
    MakeMasks(&b, "B.TXT");
    Call("InitHidFile", 2, ARG(w->archive), ARG(&settings));
    Call("DeleteFileMaskListHid", 1, ARG(&b));
    CHECK(Status() == arOk);
    CHECK(EntryCount(&masks) == 1);
    Call("DoneFileMaskList", 1, ARG(&b));
    Call("DoneFileMaskList", 1, ARG(&masks));
    CHECK(Call("DoneHidFile", 0) == 0u);
    RegisterCallbacks(0, 0);
    CHECK(g_callbacks[kNextDisk] == 0 && g_callbacks[kSfxProgress] == 0);
}

/* A strong archive through the DLL: created, listed with its password, its password
 * changed, listed again only with the new one; a legacy archive's password is not
 * changed this way. */
static void StrongArchive(const struct Work* w) {
    HidFileSettings settings;
    FileMaskList masks;
    Settings(&settings, "first", "");
    settings.cipher_id = 3;
    DeleteFileA(w->fresh);
    Call("CreateHidFile", 2, ARG(w->fresh), ARG(&settings));
    CHECK(Status() == arOk);
    Call("SetInputPath", 1, ARG(w->in));
    MakeMasks(&masks, "A.TXT");
    Call("CompressFileMaskListHid", 1, ARG(&masks));
    CHECK(Status() == arOk);
    Call("InitHidFile", 2, ARG(w->fresh), ARG(&settings));
    CHECK(Status() == arOk);
    CHECK(EntryCount(&masks) == 1);
    HidFileInfo info;
    memset(&info, 0xA5, sizeof info);
    info.size = sizeof info;
    Call("GetHidFileInfo", 1, ARG(&info));
    CHECK(Status() == arOk && info.kind == HEDGEROW_KIND_STRONG && info.kdf_memory_kib >= 65536u &&
          info.kdf_passes >= 3u && info.kdf_lanes >= 1u);
    Call("ChangeArchivePassword", 2, ARG(w->fresh), ARG("second"));
    CHECK(Status() == arOk);
    Call("InitHidFile", 2, ARG(w->fresh), ARG(&settings));  /* the old password */
    HidFileList list;
    Call("InitHidFileList", 1, ARG(&list));
    Call("BuildHidFileList", 2, ARG(&list), ARG(&masks));
    CHECK(Status() == arBadPassword && list.count == 0);
    Settings(&settings, "second", "");
    Call("InitHidFile", 2, ARG(w->fresh), ARG(&settings));
    CHECK(EntryCount(&masks) == 1);
    Call("LockArchive", 1, ARG(w->fresh));
    CHECK(Status() == arAlwaysLocked);
    Call("SetArchiveStatus", 1, ARG(0u));
    Call("ChangeArchivePassword", 2, ARG(w->archive), ARG("x"));
    CHECK(Status() == arUnsupported);
    Call("SetArchiveStatus", 1, ARG(0u));
    Call("DoneFileMaskList", 1, ARG(&masks));
    Call("DoneHidFile", 0);
    DeleteFileA(w->fresh);
}

/* Hide A.TXT in a 24-bit BMP picture made here, recover it, and refuse a wrong password. */
static void HideOperations(const struct Work* w) {
    enum { kWidth = 256, kHeight = 128, kPixels = kWidth * 3 * kHeight };
    static uint8_t picture[54 + kPixels];
    memset(picture, 0, 54);
    picture[0] = 'B';
    picture[1] = 'M';
    Put32(picture + 2, sizeof picture);
    Put32(picture + 10, 54);
    Put32(picture + 14, 40);
    Put32(picture + 18, kWidth);
    Put32(picture + 22, kHeight);
    picture[26] = 1;
    picture[28] = 24;
    for (uint32_t i = 0, x = 7; i < kPixels; ++i, x = x * 1103515245u + 12345u) picture[54 + i] = (uint8_t)(x >> 16);
    char carrier[kPathCapacity];
    char recovered[kPathCapacity];
    Join(carrier, w->root, "carrier.bmp");
    Join(recovered, w->out, "HIDDEN.TXT");
    CHECK(WriteBytes(carrier, picture, sizeof picture));
    CHECK(Call("HideFile", 3, ARG(carrier), ARG(w->source[0]), ARG("pw")) != 0u);
    CHECK(Status() == arOk);
    CHECK(!SameContent(carrier, picture, sizeof picture));
    Call("SetOutputPath", 1, ARG(w->out));
    Call("UnhideFile", 3, ARG(carrier), ARG("HIDDEN.TXT"), ARG("pw"));
    CHECK(Status() == arOk);
    CHECK(SameContent(recovered, g_text, sizeof g_text));
    DeleteFileA(recovered);
    /* The strong form through the same carrier: unhiding tells the forms apart by itself. */
    CHECK(Call("HideFileStrong", 3, ARG(carrier), ARG(w->source[0]), ARG("pw")) != 0u);
    CHECK(Status() == arOk);
    Call("UnhideFile", 3, ARG(carrier), ARG("HIDDEN.TXT"), ARG("not it"));
    CHECK(Status() == arBadPassword);
    Call("SetArchiveStatus", 1, ARG(0u));
    Call("UnhideFile", 3, ARG(carrier), ARG("HIDDEN.TXT"), ARG("pw"));
    CHECK(Status() == arOk);
    CHECK(SameContent(recovered, g_text, sizeof g_text));
    DeleteFileA(recovered);
    CHECK(Call("HideFile", 3, ARG(carrier), ARG(w->source[0]), ARG("")) == 0u);
    CHECK(Status() == arNoPassword);
    Call("SetArchiveStatus", 1, ARG(0u));
    /* A carrier far too small: what it takes and what the file needs, in bytes. */
    CHECK(WriteBytes(carrier, picture, 200));
    CHECK(Call("HideFile", 3, ARG(carrier), ARG(w->source[0]), ARG("pw")) == 0u);
    CHECK(Status() == arCarrierTooSmall);
    HideRoom room;
    memset(&room, 0xAB, sizeof room);
    room.size = sizeof room;
    Call("GetHideRoom", 1, ARG(&room));
    CHECK(room.size == 24u && room.needed > 0u && room.room == 0u);
    Call("SetArchiveStatus", 1, ARG(0u));
    DeleteFileA(carrier);
}

static void ControlExports(void) {
    CHECK(Call("SetArchiveStatus", 1, ARG(9906u)) == 9906u);
    CHECK(Status() == arNoEntries);
    CHECK(Call("SetArchiveStatus", 1, ARG(0u)) == 0u);
    CHECK((Call("arOptionsOn", 1, ARG(0x0011u)) & 0xFFFF) == 0x0811u);
    CHECK((Call("arOptionsAreOn", 1, ARG(0x0011u)) & 0xFF) == 1u);
    CHECK((Call("arOptionsOff", 1, ARG(0x0011u)) & 0xFFFF) == 0x0800u);
    CHECK((Call("arOptionsAreOn", 1, ARG(0x0001u)) & 0xFF) == 0u);
    CHECK((Call("arOptionsOn", 1, ARG(0x8000u)) & 0xFFFF) == 0x0800u);
    Call("SetOutputPath", 1, ARG("C:\\out"));
    Call("SetInputPath", 1, ARG("C:\\in"));
    Call("SetRelativePath", 1, ARG("docs"));
    CHECK(Status() == arOk);
    char long_path[300];
    memset(long_path, 'p', sizeof long_path - 1);
    long_path[sizeof long_path - 1] = '\0';
    Call("SetOutputPath", 1, ARG(long_path));
    CHECK(Status() == arNameTooLong);
    Call("SetArchiveStatus", 1, ARG(0u));
    Call("SetRelativePath", 1, ARG(""));
    Call("CreateArcFolder", 0);
    Call("DeleteFilesAndData", 0);
    CHECK(Status() == arOk);
}

/* The cheap exports, many times over: open, list and close, masks, registration. */
static void RepeatedExports(const struct Work* w) {
    ControlExports();
    RegisterCallbacks(kUserBase, 1);
    RegisterCallbacks(0, 0);
    FileMaskList masks;
    MakeMasks(&masks, "A.*");
    char long_mask[300];
    memset(long_mask, 'm', sizeof long_mask - 1);
    long_mask[sizeof long_mask - 1] = '\0';
    CHECK((Call("AppendFileMask", 2, ARG(long_mask), ARG(&masks)) & 0xFF) == 0u);
    CHECK(Status() == arNameTooLong);
    Call("SetArchiveStatus", 1, ARG(0u));
    Call("InitHidFile", 2, ARG(w->archive), ARG(0u));
    CHECK(Status() == arOk);
    CHECK(EntryCount(&masks) == 1);
    CHECK(Call("DoneHidFile", 0) == 0u);
    Call("DoneFileMaskList", 1, ARG(&masks));
    CHECK(masks.first == NULL && masks.last == NULL);
    HidFileSettings settings;
    Settings(&settings, "data", "");
    Call("CreateHidFile", 2, ARG(w->fresh), ARG(&settings)); /* prepares only; writes nothing */
    CHECK(Status() == arOk);
    Call("DoneHidFile", 0);
}

/* The library asks the header password of a locked archive kRoundTrips times within
 * one call of InitHidFile; the host gives up at the end. */
static void HeaderPasswordRoundTrips(const struct Work* w) {
    g_archive_name = w->locked;
    g_round_trips_mode = 1;
    g_round_trips = 0;
    g_frames_moved = 0;
    RegisterCallbacks(kUserBase + 0x30, 1);
    Call("InitHidFile", 2, ARG(w->locked), ARG(0u));
    CHECK(Status() == arBadPassword);
    CHECK(g_round_trips == kRoundTrips);
    CHECK(g_frames_moved == 0);
    RegisterCallbacks(0, 0);
    Call("DoneHidFile", 0);
    Call("SetArchiveStatus", 1, ARG(0u));
}

int main(int argc, char** argv) {
    const char* dll_path = argc > 1 ? argv[1] : "Hedgerow.dll";
    struct Work work;
    if (!PrepareWork(&work)) {
        fprintf(stderr, "cannot prepare the files below %s\n", work.root);
        RemoveWork(&work);
        return 1;
    }
    int round_trips = 0;
    for (int load = 0; load < 2 && g_failures == 0; ++load) {
        g_dll = LoadLibraryA(dll_path);
        if (g_dll == NULL) {
            fprintf(stderr, "LoadLibraryA(\"%s\") failed (error %lu)\n", dll_path, (unsigned long)GetLastError());
            RemoveWork(&work);
            return 1;
        }
        /* A fresh load starts from the load-time state. */
        CHECK(Status() == arOk);
        CHECK((Call("arOptionsOn", 1, ARG(0u)) & 0xFFFF) == 0x0800u);
        if (load == 0) CheckExportTable();
        DeleteFileA(work.archive);
        DeleteFileA(work.extracted[0]);
        DeleteFileA(work.extracted[1]);
        ArchiveOperations(&work);
        StrongArchive(&work);
        HideOperations(&work);
        for (int pass = 0; pass < 200; ++pass) RepeatedExports(&work);
        HeaderPasswordRoundTrips(&work);
        round_trips += g_round_trips;
        Call("arOptionsOn", 1, ARG(0x0001u)); /* the next load must not see these */
        Call("SetArchiveStatus", 1, ARG(9999u));
        CHECK(FreeLibrary(g_dll));
    }
    RemoveWork(&work);

    int calls = 0;
    for (int i = 0; i < kListedCount; ++i) {
        if (g_called[i] == 0) {
            fprintf(stderr, "%s is in the export list but this program never calls it: add a check\n", kListed[i]);
            ++g_failures;
        }
        calls += g_called[i];
    }
    printf("%d exports, %d %s calls, %d header password round trips: %s\n", kListedCount, calls, kConvention,
           round_trips, g_failures ? "FAILED" : "all passed");
    return g_failures ? 1 : 0;
}
