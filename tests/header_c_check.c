/* header_c_check.c -- proves that the public header compiles as plain C. */
#include "hedgerow.h"

_Static_assert(sizeof(HidFileSettings) == 3128, "settings block size");
_Static_assert(sizeof(FileMaskList) == 2 * sizeof(void*), "mask list head");

int hedgerow_header_compiles_as_c(void) { return arOk; }
