// shown_text.h -- text from outside (stored names, file names, paths) made safe to print
// on a terminal: every byte a terminal would act on, and every byte that is not part of
// valid UTF-8, is written as a visible escape. The one function through which the
// command and the self-extracting program print names. Plain text work, linked with the
// path rules.
#pragma once

#include <string>
#include <string_view>

namespace hedgerow::names {

// The text with these written as escapes, everything else as it is:
//   tab, line feed, carriage return         \t  \n  \r
//   other C0 controls and DEL               \xHH                 ("\x1b", "\x7f")
//   C1 controls U+0080 to U+009F            \u0080 to \u009f
//   line and paragraph separators, bidirectional embeddings, overrides and isolates
//   (U+2028, U+2029, U+202A-U+202E, U+2066-U+2069), which reorder or break a line
//                                           \u2028 ...
//   a byte that is not part of valid UTF-8  \xHH                 (overlong forms, surrogates
//                                                                 and code points past
//                                                                 U+10FFFF included)
// Backslashes stay as they are (they separate paths on some systems), so an escape cannot
// be told from the same characters typed in a name; what matters is that nothing reaches
// the terminal that it would act upon. The result holds only printable characters, so
// escaping it again changes nothing.
std::string ShownText(std::string_view text);

// The same escaping handed out in pieces (characters as they are, escapes) to put, with
// no allocation: for the self-extracting program, which has no C++ strings.
using ShownPiece = void (*)(const char* piece, size_t length, void* to);
void PutShownText(std::string_view text, ShownPiece put, void* to);

}  // namespace hedgerow::names
