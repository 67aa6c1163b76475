// masks.cpp -- mask parsing and matching.
#include "names/masks.h"

#include <cstdlib>
#include <cstring>

#include "names/short_string.h"
#include "platform/platform.h"

namespace hedgerow::names {

namespace {

// Puts record at the end of the list.
void Append(FileMaskList& list, FileMaskRecord* record) {
    record->next = nullptr;
    if (list.first == nullptr) {
        list.first = record;
    } else {
        list.last->next = record;
    }
    list.last = record;
}

std::string Upper(const std::string& text) {
    std::string out(text.size(), '\0');
    UpperString(text.c_str(), out.data());
    return out;
}

// Name part, extension (without its dot) and joined drive and directory, upper-cased.
struct MatchParts {
    std::string directory;
    std::string name;
    std::string extension;
};

MatchParts UpperParts(const char* path) {
    const PathParts parts = SplitPath(path ? path : "");
    MatchParts out;
    out.directory = Upper(parts.drive + parts.directory);
    out.name = Upper(parts.name);
    out.extension = Upper(parts.extension.empty() ? std::string() : parts.extension.substr(1));
    return out;
}

// '?' matches one character; the lengths are checked by the caller.
bool SamePattern(const std::string& mask, const std::string& text) {
    for (size_t i = 0; i < mask.size(); ++i) {
        if (mask[i] != '?' && mask[i] != text[i]) return false;
    }
    return true;
}

}  // namespace

void InitFileMaskList(FileMaskList& list) {
    list.first = nullptr;
    list.last = nullptr;
}

bool AddFileMask(Session& session, const char* mask, FileMaskList& list) {
    const char* text = mask ? mask : "";
    if (std::strlen(text) > 255) return Fail(session, Status::kNameTooLong);
    const PathParts parts = SplitPath(text ? text : "");
    const std::string directory = parts.drive + parts.directory;
    char* heap_directory = NewString(directory.c_str());
    if (!heap_directory) return Fail(session, Status::kNoMemory);
    void* block = nullptr;
    if (!AllocBlock(&block, sizeof(FileMaskRecord))) {
        DisposeString(&heap_directory);
        return false;
    }
    auto* record = static_cast<FileMaskRecord*>(block);
    std::memset(record, 0, sizeof *record);
    record->directory = heap_directory;
    std::memcpy(record->name, parts.name.c_str(), parts.name.size() + 1);
    if (!parts.extension.empty()) {
        std::memcpy(record->extension, parts.extension.c_str() + 1, parts.extension.size());
    }
    Append(list, record);
    return true;
}

void DoneFileMaskList(FileMaskList& list) {
    FileMaskRecord* record = list.first;
    while (record) {
        FileMaskRecord* next = record->next;
        DisposeString(&record->directory);
        std::free(record);
        record = next;
    }
    list.first = nullptr;
    list.last = nullptr;
}

bool MatchFileMask(const char* name, const FileMaskRecord& mask) {
    const MatchParts n = UpperParts(name);
    const std::string mask_directory = Upper(mask.directory ? mask.directory : "");
    const std::string mask_name = Upper(mask.name);
    const std::string mask_extension = Upper(mask.extension);
    const bool any_name = !mask_name.empty() && mask_name[0] == '*';
    const bool any_extension = !mask_extension.empty() && mask_extension[0] == '*';

    if (any_name && any_extension) {
        if (mask_directory.empty()) return true;
        if (n.directory.find(mask_directory) != std::string::npos) {
            // The mask's directory occurs in the name's; compare the character at the
            // mask directory's last index. For a leading match this is always equal, so
            // the mask selects its directory and everything below it.
            const size_t k = mask_directory.size() <= 1 ? 0 : mask_directory.size() - 1;
            return k < n.directory.size() && n.directory[k] == mask_directory[k];
        }
    }
    if ((!n.directory.empty() || !mask_directory.empty()) && n.directory != mask_directory) return false;
    if (!any_name && n.name.size() != mask_name.size()) return false;
    if (!any_extension && n.extension.size() != mask_extension.size()) return false;
    if (!any_name && !SamePattern(mask_name, n.name)) return false;
    if (!any_extension && !SamePattern(mask_extension, n.extension)) return false;
    return true;
}

bool MatchFileMaskList(const char* name, const FileMaskList& list) {
    if (list.first == nullptr) return true;
    const std::string key = Upper(WithBackslashes(name ? name : ""));
    for (const FileMaskRecord* record = list.first; record; record = record->next) {
        if (MatchFileMask(key.c_str(), *record)) return true;
    }
    return false;
}

namespace {

// The parts joined by a byte no part can hold (names are zero-terminated), so that no two
// different triples give the same key.
std::string ExactKey(const std::string& directory, const std::string& name, const std::string& extension) {
    std::string key = directory;
    key += '\0';
    key += name;
    key += '\0';
    key += extension;
    return key;
}

bool HasWildcard(const std::string& part) {
    return (!part.empty() && part[0] == '*') || part.find('?') != std::string::npos;
}

}  // namespace

bool AppendMaskCopy(const FileMaskRecord& mask, FileMaskList& list) {
    char* directory = NewString(mask.directory ? mask.directory : "");
    if (!directory) return false;
    void* block = nullptr;
    if (!AllocBlock(&block, sizeof(FileMaskRecord))) {
        DisposeString(&directory);
        return false;
    }
    auto* record = static_cast<FileMaskRecord*>(block);
    std::memcpy(record, &mask, sizeof *record);
    record->directory = directory;
    Append(list, record);
    return true;
}

MaskIndex IndexMasks(const FileMaskList& list) {
    MaskIndex index;
    index.accepts_all = list.first == nullptr;
    for (const FileMaskRecord* record = list.first; record; record = record->next) {
        const std::string name = Upper(record->name);
        const std::string extension = Upper(record->extension);
        if (HasWildcard(name) || HasWildcard(extension)) {
            index.patterns.push_back(record);
        } else {
            index.exact.insert(ExactKey(Upper(record->directory ? record->directory : ""), name, extension));
        }
    }
    return index;
}

bool MatchMaskIndex(const char* name, const MaskIndex& index) {
    if (index.accepts_all) return true;
    const std::string key = Upper(WithBackslashes(name ? name : ""));
    if (!index.exact.empty()) {
        const MatchParts parts = UpperParts(key.c_str());
        if (index.exact.count(ExactKey(parts.directory, parts.name, parts.extension)) > 0) return true;
    }
    for (const FileMaskRecord* record : index.patterns) {
        if (MatchFileMask(key.c_str(), *record)) return true;
    }
    return false;
}

bool CollectNamedMasks(Session& session, const FileMaskList& source, FileMaskList& destination) {
    for (const FileMaskRecord* record = source.first; record; record = record->next) {
        // A name part that is empty names a file only when the extension is all there is,
        // as in ".profile"; a leading '*' in either part never names one.
        const bool named = record->name[0] != '\0' ? record->name[0] != '*'
                                                   : record->extension[0] != '\0' && record->extension[0] != '*';
        if (!named) continue;
        // The copy is the record that the path directory + name + "." + extension parses
        // back into; copying it keeps a name of 255 characters from growing by its dot.
        if (!AppendMaskCopy(*record, destination)) return Fail(session, Status::kNoMemory);
    }
    return true;
}

std::string MaskPath(const FileMaskRecord& mask) {
    std::string path = mask.directory ? mask.directory : "";
    path += mask.name;
    if (mask.extension[0] != '\0') {
        path += '.';
        path += mask.extension;
    }
    return path;
}

}  // namespace hedgerow::names
