// shown_text.cpp -- escaping of text for the terminal (see shown_text.h).
#include "names/shown_text.h"

#include <cstdint>

namespace hedgerow::names {

namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendByteEscape(std::string& out, unsigned char byte) {
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0F];
}

void AppendCodePointEscape(std::string& out, uint32_t code_point) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(code_point >> shift) & 0x0F];
}

// Characters above U+007F that a terminal or a line of text acts upon.
bool IsActingCodePoint(uint32_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
           (c >= 0x2066 && c <= 0x2069);
}

// The length (2 to 4) and code point of the valid UTF-8 sequence at the start of text, or
// 0 when it does not start with one.
size_t DecodeSequence(std::string_view text, uint32_t* code_point) {
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
    if (text.size() < length) return 0;
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

std::string ShownText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte < 0x7F) {
            out += static_cast<char>(byte);
            ++i;
            continue;
        }
        if (byte < 0x80) {
            switch (byte) {
                case '\t': out += "\\t"; break;
                case '\n': out += "\\n"; break;
                case '\r': out += "\\r"; break;
                default: AppendByteEscape(out, byte); break;
            }
            ++i;
            continue;
        }
        uint32_t code_point = 0;
        const size_t length = DecodeSequence(text.substr(i), &code_point);
        if (length == 0) {
            AppendByteEscape(out, byte);
            ++i;
        } else if (IsActingCodePoint(code_point)) {
            AppendCodePointEscape(out, code_point);
            i += length;
        } else {
            out.append(text.substr(i, length));
            i += length;
        }
    }
    return out;
}

}  // namespace hedgerow::names
