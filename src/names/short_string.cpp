// short_string.cpp -- short-string routines.
#include "names/short_string.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace hedgerow::names {

void MoveBytes(const void* source, void* destination, uint16_t count) {
    if (count > 0) std::memmove(destination, source, count);
}

uint8_t UpCaseChar(uint8_t c) {
    if (c >= 'a' && c <= 'z') return static_cast<uint8_t>(c - 0x20);
    if (c == 0xE4) return 0xC4;
    if (c == 0xF6) return 0xD6;
    return c;
}

char* UpperString(const char* source, char* destination) {
    const bool utf8 = platform::AnsiIsUtf8();
    size_t i = 0;
    for (;;) {
        const auto c = static_cast<uint8_t>(source[i]);
        if (c == 0) break;
        if (utf8) {
            // U+00E4 and U+00F6 are C3 A4 and C3 B6; their capitals C3 84 and C3 96.
            const auto next = static_cast<uint8_t>(source[i + 1]);
            if (c == 0xC3 && (next == 0xA4 || next == 0xB6)) {
                destination[i] = static_cast<char>(c);
                destination[i + 1] = static_cast<char>(next - 0x20);
                i += 2;
                continue;
            }
            destination[i] = static_cast<char>(c >= 'a' && c <= 'z' ? c - 0x20 : c);
        } else {
            destination[i] = static_cast<char>(UpCaseChar(c));
        }
        ++i;
    }
    destination[i] = '\0';
    return destination;
}

char* InsertString(const char* text, char* target, uint8_t position) {
    const size_t text_length = std::strlen(text);
    if (text_length == 0) return target;
    size_t target_length = std::strlen(target);
    if (target_length > 256) {
        target[256] = '\0';
        target_length = 256;
    }
    if (position > target_length) position = static_cast<uint8_t>(target_length);
    std::memmove(target + position + text_length, target + position, target_length - position + 1);
    std::memcpy(target + position, text, text_length);
    return target;
}

char* CopySubString(const char* source, uint8_t position, uint8_t count, char* destination) {
    const size_t length = std::strlen(source);
    if (count == 0 || position >= length) {
        destination[0] = '\0';
        return destination;
    }
    size_t n = count;
    if (length < static_cast<size_t>(position) + count) n = length - position;
    std::memmove(destination, source + position, n);
    destination[n] = '\0';
    return destination;
}

char* DeleteSubString(char* text, uint8_t position, uint8_t count) {
    if (count == 0) return text;
    const size_t length = std::strlen(text);
    if (position >= length) return text;  // deleting past the end leaves the string as it is
    const size_t end = static_cast<size_t>(position) + count;
    if (end >= length) {
        text[position] = '\0';
    } else {
        std::memmove(text + position, text + end, length - end + 1);
    }
    return text;
}

uint8_t PosChar(char c, const char* text) {
    for (size_t i = 0; text[i] != '\0' && i < kNoPosition; ++i) {
        if (text[i] == c) return static_cast<uint8_t>(i);
    }
    return kNoPosition;
}

bool AddBackslash(const char* source, char* destination, size_t capacity) {
    const size_t length = std::strlen(source);
    const char last = length > 0 ? source[length - 1] : '\\';
    const bool add = last != '\\' && last != '/' && last != ':';
    const size_t needed = length + (add ? 1 : 0) + 1;
    if (needed > capacity) {
        if (capacity > 0) destination[0] = '\0';
        return false;
    }
    std::memmove(destination, source, length);
    if (add) destination[length] = '\\';
    destination[length + (add ? 1 : 0)] = '\0';
    return true;
}

char* ExtractFileName(const char* path, char* destination) {
    const size_t length = std::strlen(path);
    size_t start = length;
    while (start > 0 && path[start - 1] != '\\' && path[start - 1] != '/' && path[start - 1] != ':') --start;
    const size_t n = length - start;
    if (n > 255) {
        destination[0] = '\0';
        return destination;
    }
    std::memmove(destination, path + start, n + 1);
    return destination;
}

bool FileExists(const char* name) {
    if (name == nullptr || name[0] == '\0') return false;
    return platform::PathExists(name);
}

bool AllocBlock(void** block, uint16_t size) {
    *block = platform::FaultPoint(platform::FaultKind::kAlloc) ? nullptr : std::malloc(size == 0 ? 1 : size);
    return *block != nullptr;
}

void FreeBlock(void** block) {
    if (block && *block) {
        std::free(*block);
        *block = nullptr;
    }
}

char* NewString(const char* text) {
    const size_t length = std::strlen(text);
    if (platform::FaultPoint(platform::FaultKind::kAlloc)) return nullptr;
    auto* copy = static_cast<char*>(std::malloc(length + 1));
    if (copy) std::memcpy(copy, text, length + 1);
    return copy;
}

void DisposeString(char** text) {
    if (text && *text) {
        std::free(*text);
        *text = nullptr;
    }
}

}  // namespace hedgerow::names
