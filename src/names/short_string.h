// short_string.h -- the small string toolkit of names and masks: the upper-casing that
// decides which names compare equal, file existence, and the heap blocks and strings
// that the host's lists are made of.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hedgerow::names {

// a-z to A-Z, and the two code-page-1252 letters 0xE4 (a umlaut) and 0xF6 (o umlaut) to
// their capitals; every other byte unchanged.
uint8_t UpCaseChar(uint8_t c);

// Upper-cases a whole string (destination may be the source). Where the API's strings
// are UTF-8 the two umlauts are recognised in their UTF-8 form instead of as bytes, so
// that a multi-byte character is never split.
char* UpperString(const char* source, char* destination);

// True when a file or directory of that name exists (false for the empty name).
bool FileExists(const char* name);

// Heap blocks and strings; failures return false or null, and set no status.
[[nodiscard]] bool AllocBlock(void** block, uint16_t size);
void FreeBlock(void** block);
char* NewString(const char* text);
void DisposeString(char** text);

}  // namespace hedgerow::names
