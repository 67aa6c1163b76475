// short_string.cpp -- upper-casing, file existence, heap blocks and strings.
#include "names/short_string.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace hedgerow::names {

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
