// code_page.h -- picks the spelling of a test text in the code page of the library's API:
// UTF-8 everywhere but on Windows, where it is the ANSI code page. Under Windows the tests
// assume the pages of a western system and of a default Wine prefix: ANSI 1252, OEM 437.
#pragma once

#include "platform/platform.h"

namespace hedgerow::testing {

// The API spelling: utf8 where the API is UTF-8, else cp1252.
inline const char* Api(const char* utf8, const char* cp1252) { return platform::AnsiIsUtf8() ? utf8 : cp1252; }

}  // namespace hedgerow::testing
