/* sfx_host.c -- a self-extracting archive made through Hedgerow.dll (HEDGE32.ZZL lies
 * beside it), opened and listed by the library directly (its marker lies within the bytes
 * readers search), and then run as a Windows program: it must extract the file it holds,
 * keep an existing file unless told otherwise (exit code 3), and refuse a copy of itself
 * with one byte changed. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "hedgerow.h"

static long read_all(const char* path, char* buffer, long capacity) {
    FILE* f = fopen(path, "rb");
    if (!f) return -1;
    const long n = (long)fread(buffer, 1, (size_t)capacity, f);
    fclose(f);
    return n;
}

static int write_all(const char* path, const char* bytes, long n) {
    FILE* f = fopen(path, "wb");
    if (!f) return 0;
    const int ok = fwrite(bytes, 1, (size_t)n, f) == (size_t)n;
    return fclose(f) == 0 && ok;
}

static int check(const char* what, int ok) {
    printf("%s: %s\n", what, ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}

static char note[20000], back[20000], program[2000000];

int main(void) {
    int failures = 0;
    for (int i = 0; i < (int)sizeof note; ++i) note[i] = "hedge row sparrow\r\n"[i % 19];
    CreateDirectoryA("sfx-in", NULL);
    DeleteFileA("sfx-demo.exe");
    if (!write_all("sfx-in\\note.txt", note, (long)sizeof note)) return 1;

    HidFileSettings settings;
    memset(&settings, 0, sizeof settings);
    settings.cipher_id = 2;
    strcpy(settings.data_password, "pw");
    settings.make_self_extractor = 1;
    CreateHidFile("sfx-demo.exe", &settings);
    SetInputPath("sfx-in\\");
    FileMaskList masks;
    InitFileMaskList(&masks);
    AppendFileMask("note.txt", &masks);
    CompressFileMaskListHid(&masks);
    failures += check("self-extractor built", GetArchiveStatus() == arOk);
    DoneFileMaskList(&masks);
    DoneHidFile();

    /* The library reads the file as it is: no copy of the archive part anywhere. */
    InitHidFile("sfx-demo.exe", &settings);
    failures += check("library opens the self-extracting file", GetArchiveStatus() == arOk);
    HidFileList list;
    InitHidFileList(&list);
    BuildHidFileList(&list, NULL);
    failures += check("library lists it", GetArchiveStatus() == arOk && list.count == 1 && list.first &&
                                              strcmp(list.first->name, "note.txt") == 0);
    DoneHidFileList(&list);
    DoneHidFile();

    failures += check("program runs and extracts", system("sfx-demo.exe -d sfx-out -p pw -o") == 0);
    failures += check("existing file kept: exit code 3", system("sfx-demo.exe -d sfx-out -p pw") == 3);
    failures += check("extracted file is the original",
                      read_all("sfx-out\\note.txt", back, (long)sizeof back) == (long)sizeof note &&
                          memcmp(back, note, sizeof note) == 0);

    const long size = read_all("sfx-demo.exe", program, (long)sizeof program);
    failures += check("program read", size > 10000 && size < (long)sizeof program);
    long marker = -1;
    for (long i = 0; i + 10 <= size && marker < 0; ++i) {
        /* the signature, the marker's magic and the record tag: the program holds the
         * signature alone among its constants */
        if (i + 18 <= size && memcmp(program + i, "Overgrown!\x4e\x52\x41\x15\x4d\0\0\0", 18) == 0) marker = i;
    }
    printf("marker at %ld\n", marker);
    failures += check("whole marker record within the first 61,440 bytes", marker > 0 && marker + 34 <= 61440);
    if (size > 10000 && size < (long)sizeof program) {
        program[size - 20] ^= 0x40;
        write_all("sfx-damaged.exe", program, size);
        failures += check("damaged copy refused", system("sfx-damaged.exe -d sfx-bad -p pw") != 0);
        failures += check("nothing extracted from it", GetFileAttributesA("sfx-bad\\note.txt") == INVALID_FILE_ATTRIBUTES);
    }
    printf("self-extractor: %s\n", failures ? "FAILED" : "all passed");
    return failures ? 1 : 0;
}
