// extract.h -- writing the entries that masks select back to disk: decompressed,
// deciphered, checked against their CRC, with their time stamps and attributes.
#pragma once

#include "ops/context.h"
#include "hedgerow.h"

namespace hedgerow::ops {

// Extracts every selected entry below the output path. Status 0 on success; the first
// failure stops the operation (entries extracted before it stay): 9906 nothing selected,
// 5, 8, 101, 2926, 9961 (no or wrong data password), 9962 (damaged data), 9968 (a path
// too long), 9969 (a stored name that would leave the output directory).
void ExtractFileMaskListHid(Context& cx, const FileMaskList& masks);

}  // namespace hedgerow::ops
