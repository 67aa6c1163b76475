/* dll_link.c -- a host linked against Hedgerow.dll through its import library, calling the
 * exports as the header declares them (dllimport, stdcall). Proves that the import
 * library binds the decorated names the compiler asks for to the DLL's plain ones. */
#include <stdio.h>
#include <string.h>

#include "hedgerow.h"

int main(void) {
    int failures = 0;
    FileMaskList masks;
    InitFileMaskList(&masks);
    failures += SetArchiveStatus(arNoEntries) != arNoEntries;
    failures += GetArchiveStatus() != arNoEntries;
    failures += arOptionsOn(arOptRestorePaths) != (arOptDefault | arOptRestorePaths);
    failures += arOptionsAreOn(arOptRestorePaths) != 1;
    failures += AppendFileMask("*.TXT", &masks) != 1;
    failures += masks.first == NULL;
    DoneFileMaskList(&masks);
    failures += masks.first != NULL;
    printf("import library: %s\n", failures ? "FAILED" : "all passed");
    return failures ? 1 : 0;
}
