// stored_names.cpp -- checks and forms of stored names.
#include "stored_names.h"

#include "names/paths.h"
#include "names/shown_text.h"

namespace hedgerow::cli {

namespace {

// Stored names and masks hold at most 255 bytes.
constexpr size_t kNameCapacity = 255;

std::string_view LastPart(std::string_view path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Code points of UTF-8 text: the archive keeps one byte for each.
size_t CodePoints(std::string_view text) {
    size_t count = 0;
    for (const char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0u) != 0x80u) ++count;
    }
    return count;
}

}  // namespace

std::string UnstorableReason(std::string_view path) {
    if (path.empty()) return "the name is empty";
    if (path.find('\\') != std::string_view::npos) {
        return "its name holds a backslash, which archives take for a directory separator";
    }
    if (path.size() >= 2 && path[1] == ':') return "its name would be taken for a drive letter";
    const std::string_view last = LastPart(path);
    // The library splits a name at its last dot into name and extension, and takes a file
    // when its name part, or for a name such as ".profile" its extension, does not begin
    // with '*'.
    if (last == "." || last.rfind(".*", 0) == 0) return "archives cannot hold a name that is a dot or begins with \".*\"";
    if (last[0] == '*') return "archives cannot hold a name that begins with '*'";
    if (path.size() > kNameCapacity) return "its path is longer than 255 bytes";
    return {};
}

std::string NormalisePrefix(std::string_view prefix, std::string& error) {
    std::string result;
    size_t start = 0;
    while (start <= prefix.size()) {
        size_t end = start;
        while (end < prefix.size() && !names::IsSeparator(prefix[end])) ++end;
        const std::string_view part = prefix.substr(start, end - start);
        if (part == "..") {
            error = "a stored-name prefix cannot hold '..'";
            return {};
        }
        if (!part.empty() && part != ".") {
            if (!result.empty()) result += '\\';
            result += part;
        }
        start = end + 1;
    }
    if (result.size() >= 2 && result[1] == ':') {
        error = "a stored-name prefix cannot start with a drive";
        return {};
    }
    if (CodePoints(result) > kNameCapacity) {
        error = "the stored-name prefix is longer than 255 characters";
        return {};
    }
    return result;
}

std::string ExpectedStoredName(std::string_view prefix, std::string_view mask, bool names_only) {
    return names::StoredNameOf(prefix, names_only, mask);
}

std::string SlashedName(std::string_view stored) {
    std::string name(stored);
    for (char& c : name) {
        if (c == '\\') c = '/';
    }
    return name;
}

std::string DisplayName(std::string_view stored) { return names::ShownText(SlashedName(stored)); }

std::string Shown(std::string_view text) { return names::ShownText(text); }

}  // namespace hedgerow::cli
