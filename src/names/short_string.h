// short_string.h -- the small string toolkit of names, masks and paths: zero-terminated
// byte strings of at most 255 characters in 256-byte buffers, 8-bit positions where 255
// means "none", and the upper-casing that decides which names compare equal.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hedgerow::names {

inline constexpr uint8_t kNoPosition = 255;
inline constexpr size_t kShortStringCapacity = 256;  // 255 characters and the terminator

// Copies count bytes; the areas may overlap.
void MoveBytes(const void* source, void* destination, uint16_t count);

// a-z to A-Z, and the two code-page-1252 letters 0xE4 (a umlaut) and 0xF6 (o umlaut) to
// their capitals; every other byte unchanged.
uint8_t UpCaseChar(uint8_t c);

// Upper-cases a whole string (destination may be the source). Where the API's strings
// are UTF-8 the two umlauts are recognised in their UTF-8 form instead of as bytes, so
// that a multi-byte character is never split.
char* UpperString(const char* source, char* destination);

// Inserts text before position; target must hold both lengths and a terminator.
char* InsertString(const char* text, char* target, uint8_t position);

// At most count characters of source from position (empty when count is 0 or the
// position is past the end).
char* CopySubString(const char* source, uint8_t position, uint8_t count, char* destination);

// Removes count characters from position, in place.
char* DeleteSubString(char* text, uint8_t position, uint8_t count);

// Position of the first c in text, or kNoPosition.
uint8_t PosChar(char c, const char* text);

// destination = source with a trailing backslash unless it is empty or already ends in
// a separator or a colon. False (destination empty) when the result would not fit into
// capacity bytes.
bool AddBackslash(const char* source, char* destination, size_t capacity);

// The part after the last backslash, slash or colon; empty when it is longer than 255.
char* ExtractFileName(const char* path, char* destination);

// True when a file or directory of that name exists (false for the empty name).
bool FileExists(const char* name);

// Heap blocks and strings; failures return false or null, and set no status.
bool AllocBlock(void** block, uint16_t size);
void FreeBlock(void** block);
char* NewString(const char* text);
void DisposeString(char** text);

}  // namespace hedgerow::names
