/* host.c -- a minimal Hedgerow host: packs one file into an IDEA-enciphered archive,
 * lists the archive and extracts it again, checking the status after every call. */
#include <hedgerow.h>
#include <stdio.h>
#include <string.h>

static int check(const char* step) {
    uint16_t status = GetArchiveStatus();
    if (status != arOk) fprintf(stderr, "%s failed with status %u\n", step, (unsigned)status);
    return status == arOk;
}

/* Progress arrives from inside the library's calls; answering 0 would cancel. */
static int32_t HEDGEROW_CALL on_progress(uint32_t user, int32_t percent, int32_t count) {
    (void)user; (void)count;
    printf("  %d%%\n", (int)percent);
    return 1;
}

int main(void) {
    const char* text = "Hawthorn, blackthorn, hazel and holly.\n";
    FILE* f = fopen("hedge.txt", "wb");
    if (!f) return 1;
    fputs(text, f);
    fclose(f);
    remove("example.hdg"); /* CreateHidFile never overwrites an archive */

    HidFileSettings settings;
    memset(&settings, 0, sizeof settings);
    settings.cipher_id = 2; /* IDEA */
    strcpy(settings.data_password, "correct horse");

    /* Create: name the archive, register callbacks (opening clears them), add a mask. */
    CreateHidFile("example.hdg", &settings);
    if (!check("CreateHidFile")) return 1;
    SetSetProgressProc(0, on_progress);
    FileMaskList masks;
    InitFileMaskList(&masks);
    AppendFileMask("hedge.txt", &masks);
    CompressFileMaskListHid(&masks);
    DoneFileMaskList(&masks);
    if (!check("CompressFileMaskListHid")) return 1;

    /* List: open the archive that now exists; an empty mask list selects everything. */
    InitHidFile("example.hdg", &settings);
    if (!check("InitHidFile")) return 1;
    HidFileList list;
    InitHidFileList(&list);
    BuildHidFileList(&list, NULL);
    for (HidFileEntry* e = list.first; e; e = e->next)
        printf("%s: %u bytes, %u packed\n", e->name, (unsigned)e->unpacked_size, (unsigned)e->packed_size);
    DoneHidFileList(&list);
    if (!check("BuildHidFileList")) return 1;

    /* Extract below restored/, with the stored directories. */
    SetOutputPath("restored");
    arOptionsOn(arOptRestorePaths);
    InitFileMaskList(&masks);
    ExtractFileMaskListHid(&masks);
    DoneHidFile();
    if (!check("ExtractFileMaskListHid")) return 1;

    char back[128] = {0};
    f = fopen("restored/hedge.txt", "rb");
    if (!f || !fgets(back, sizeof back, f) || strcmp(back, text) != 0) return 1;
    fclose(f);
    printf("restored/hedge.txt matches\n");
    return 0;
}
