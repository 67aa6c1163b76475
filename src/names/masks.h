// masks.h -- file mask lists and the library's own wildcard matching: '*' means
// anything only as the first character of the name or extension part, '?' is exactly
// one character, and an all-files mask with a directory also selects everything below it.
#pragma once

#include <string>
#include <unordered_set>
#include <vector>

#include "common/session.h"
#include "names/paths.h"
#include "hedgerow.h"

// One mask, as the host's list holds it (the public header keeps it opaque).
struct FileMaskRecord {
    char* directory;       // heap string: drive and directory as written ("X:\DATA\", "DATA\", "")
    char name[256];        // name part without the extension, as written
    char extension[256];   // extension without its dot; all zero when there is none
    FileMaskRecord* next;  // null at the end
};

namespace hedgerow::names {

void InitFileMaskList(FileMaskList& list);
// Parses and appends a mask. False on failure: kNoMemory for the directory string (the
// record allocation failing leaves the status as it was), kNameTooLong for a mask of
// more than 255 bytes.
[[nodiscard]] bool AddFileMask(Session& session, const char* mask, FileMaskList& list);
void DoneFileMaskList(FileMaskList& list);

bool MatchFileMask(const char* name, const FileMaskRecord& mask);
// True for an empty list, or when any mask matches.
bool MatchFileMaskList(const char* name, const FileMaskList& list);

// A mask list prepared for matching many names: masks without wildcards ('?' anywhere, or
// '*' at the start of the name or extension) are found by one hashed lookup of the
// name's upper-cased parts, the others are tried in turn. Matches exactly what
// MatchFileMaskList matches.
struct MaskIndex {
    bool accepts_all = false;                           // the list is empty
    std::unordered_set<std::string> exact;              // directory, name and extension keys
    std::vector<const FileMaskRecord*> patterns;        // masks with wildcards
};
MaskIndex IndexMasks(const FileMaskList& list);
bool MatchMaskIndex(const char* name, const MaskIndex& index);

// Appends a copy of one mask record; false when memory runs out (no status).
[[nodiscard]] bool AppendMaskCopy(const FileMaskRecord& mask, FileMaskList& list);

// Appends to destination every source mask that names a file (name part neither empty
// nor starting with '*'; or, for a name such as ".profile", an empty name part and an
// extension not starting with '*'), as the record that directory + name + '.' +
// extension parses into. False (kNoMemory) after a failed append.
[[nodiscard]] bool CollectNamedMasks(Session& session, const FileMaskList& source, FileMaskList& destination);

// The mask's path: directory, name and, when the extension is not empty, '.' and it.
std::string MaskPath(const FileMaskRecord& mask);

}  // namespace hedgerow::names
