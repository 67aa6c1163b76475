// shown_text.cpp -- escaping of text for the terminal (see shown_text.h).
#include "names/shown_text.h"

#include <cstdint>

namespace hedgerow::names {

namespace {

constexpr char kHex[] = "0123456789abcdef";

// Characters above U+007F that a terminal or a line of text acts upon.
bool IsActingCodePoint(uint32_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

// The length (2 to 4) and code point of the valid UTF-8 sequence at the start of text, or
// 0 when it does not start with one.
size_t DecodeSequence(const char* text, size_t size, uint32_t* code_point) {
    const auto lead = static_cast<unsigned char>(text[0]);
    size_t length = 0;
    uint32_t value = 0;
    uint32_t smallest = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1Fu;
        smallest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0Fu;
        smallest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07u;
        smallest = 0x10000;
    } else {
        return 0;
    }
    if (size < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(text[i]);
        if ((next & 0xC0u) != 0x80u) return 0;
        value = (value << 6) | (next & 0x3Fu);
    }
    if (value < smallest || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
    *code_point = value;
    return length;
}

}  // namespace

void PutShownText(std::string_view text, ShownPiece put, void* to) {
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        uint32_t code_point = byte;
        size_t length = 1;  // of the character at i; 0 for a byte that begins none
        if (byte >= 0x80) length = DecodeSequence(text.data() + i, text.size() - i, &code_point);
        const bool plain = byte >= 0x80 ? length != 0 && !IsActingCodePoint(code_point) : byte >= 0x20 && byte < 0x7F;
        if (plain) {
            put(text.data() + i, length, to);
        } else {
            char escape[6] = {'\\', 'x'};
            size_t size = 4;
            int digits = 2;
            if (length > 1) {
                escape[1] = 'u';
                size = 6;
                digits = 4;
            } else if (byte == '\t' || byte == '\n' || byte == '\r') {
                escape[1] = byte == '\t' ? 't' : byte == '\n' ? 'n' : 'r';
                size = 2;
            }
            for (int d = 0; d < digits; ++d) escape[2 + d] = kHex[(code_point >> (4 * (digits - 1 - d))) & 0x0F];
            put(escape, size, to);
        }
        i += length == 0 ? 1 : length;
    }
}

std::string ShownText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    PutShownText(
        text, [](const char* piece, size_t length, void* to) { static_cast<std::string*>(to)->append(piece, length); },
        &out);
    return out;
}

}  // namespace hedgerow::names
