// mask_match_fuzz.cpp -- arbitrary masks against arbitrary names. Checks the properties
// the matching rules promise: the all-files mask selects everything, a list of one mask
// selects what the mask matches (also through the hashed index), matching ignores the case of a to z, and collecting the
// named masks keeps only masks that name a file.
#include <cstdint>
#include <cstring>
#include <string>

#include "names/masks.h"
#include "names/short_string.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace hedgerow;
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t split = input.find('\0');
    if (split == std::string::npos) return 0;
    const std::string mask = input.substr(0, split);
    std::string name = input.substr(split + 1);
    name = name.substr(0, name.find('\0'));

    Session session;
    FileMaskList one {};
    if (!names::AddFileMask(session, mask.c_str(), one)) return 0;
    const bool matched = names::MatchFileMask(name.c_str(), *one.first);
    if (names::MatchFileMaskList(name.c_str(), one) != matched) __builtin_trap();
    if (names::MatchMaskIndex(name.c_str(), names::IndexMasks(one)) != matched) __builtin_trap();
    std::string upper(name.size(), '\0');
    names::UpperString(name.c_str(), upper.data());
    if (names::MatchFileMask(upper.c_str(), *one.first) != matched) __builtin_trap();

    FileMaskList all {};
    (void)names::AddFileMask(session, "*.*", all);
    if (!names::MatchFileMaskList(name.c_str(), all)) __builtin_trap();

    FileMaskList named {};
    (void)names::CollectNamedMasks(session, one, named);  // a failed append leaves named short
    for (const FileMaskRecord* r = named.first; r; r = r->next) {
        if (r->name[0] == '*') __builtin_trap();
    }
    names::DoneFileMaskList(named);
    names::DoneFileMaskList(all);
    names::DoneFileMaskList(one);
    return 0;
}
