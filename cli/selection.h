// selection.h -- the command's own selection of entries: shell-like patterns matched
// against stored names as the user sees them ('/' between parts), turned into the exact
// names the library is handed. The library's masks follow the format's older rules; the
// command never hands a user's pattern to them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "hedgerow.h"

namespace hedgerow::cli {

// A pattern as the command reads it: '\' taken as '/', "./" parts, empty parts and a
// leading or trailing '/' dropped. "./src//x/" becomes "src/x".
std::string NormalisePattern(std::string_view pattern);

// Whether `pattern` (normalised) selects the stored name `name` ('/' between parts).
// Within a part, '*' matches any run of characters, '?' one character (a whole UTF-8
// sequence), "[abc]", "[a-z]" and "[!a-z]" (or "[^a-z]") one character of a set; a part
// "**" matches any number of parts, none included. Letters match without regard to case,
// as the archive compares names. A pattern that matches the leading parts of a name
// selects it: a directory selects everything below it. "[*]" and "[?]" match the
// character itself.
bool PatternSelects(std::string_view pattern, std::string_view name);

// The entries of a listing that the patterns select, in archive order; all of them when
// there are no patterns. `unmatched` gets the patterns (as given) that select nothing.
struct Selection {
    std::vector<const HidFileEntry*> entries;
    std::vector<std::string> unmatched;
    bool everything = false;  // every entry of the listing is selected
};
Selection Select(const HidFileList& listing, const std::vector<std::string>& patterns);

}  // namespace hedgerow::cli
