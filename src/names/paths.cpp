// paths.cpp -- separators, UNC and drive splitting, the standard path split and the
// stored-name rule (see paths.h). Plain text work only: the command links this file alone.
#include "names/paths.h"

#include <algorithm>

namespace hedgerow::names {

namespace {

size_t NextSeparator(std::string_view s, size_t from) {
    for (size_t i = from; i < s.size(); ++i) {
        if (IsSeparator(s[i])) return i;
    }
    return std::string_view::npos;
}

bool IsUnc(std::string_view path) { return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]); }

// Where the share of a UNC path ends (the separator after it), or npos when the path
// stops after the server or the share.
size_t ShareEnd(std::string_view path) {
    const size_t server_end = NextSeparator(path, 2);
    return server_end == std::string_view::npos ? server_end : NextSeparator(path, server_end + 1);
}

// The part up to the next separator (or the end).
std::string_view FirstPart(std::string_view s) { return {s.data(), std::min(s.size(), NextSeparator(s, 0))}; }

}  // namespace

std::string WithBackslashes(std::string_view path) {
    std::string s(path);
    for (char& c : s) {
        if (c == '/') c = '\\';
    }
    return s;
}

size_t UncRootLength(std::string_view path) {
    if (!IsUnc(path)) return 0;
    const size_t share_end = ShareEnd(path);
    return share_end == std::string_view::npos ? path.size() : share_end + 1;
}

UncSplit SplitUncPath(std::string_view path) {
    UncSplit split;
    if (!IsUnc(path)) {
        split.rest = std::string(path);
        return split;
    }
    split.unc = true;
    const size_t share_end = ShareEnd(path);
    if (share_end == std::string_view::npos) {
        split.root = std::string(path) + '\\';
        return split;
    }
    split.root = std::string(path.substr(0, share_end + 1));
    split.rest = std::string(path.substr(share_end + 1));
    return split;
}

PathParts SplitPath(std::string_view path) {
    const std::string s = WithBackslashes(path);
    PathParts parts;
    size_t rest = 0;
    if (s.size() >= 2 && s[1] == ':') {
        parts.drive = s.substr(0, 2);
        rest = 2;
    }
    const size_t last_backslash = s.find_last_of('\\');
    if (last_backslash != std::string::npos && last_backslash >= rest) {
        parts.directory = s.substr(rest, last_backslash + 1 - rest);
        rest = last_backslash + 1;
    }
    const std::string final_part = s.substr(rest);
    const size_t dot = final_part.find_last_of('.');
    if (dot != std::string::npos) {
        parts.name = final_part.substr(0, dot);
        parts.extension = final_part.substr(dot);
    } else {
        parts.name = final_part;
    }
    return parts;
}

std::string StoredNameBody(std::string_view name) { return WithBackslashes(StoredNameBodyView(name)); }

std::string_view StoredNameBodyView(std::string_view name) {
    std::string_view rest = name;
    if (IsUnc(rest)) {
        // "\\server\share\rest" keeps "rest"; "\\server" alone keeps "server".
        const size_t server_end = NextSeparator(rest, 2);
        if (server_end == std::string_view::npos) {
            rest.remove_prefix(2);
        } else {
            const size_t share_end = NextSeparator(rest, server_end + 1);
            if (share_end == std::string_view::npos) {
                rest = std::string_view();
            } else {
                rest.remove_prefix(share_end);
            }
        }
    } else if (rest.size() >= 2 && rest[1] == ':') {
        rest.remove_prefix(2);  // a drive; the separator after it goes with the others
    }
    for (;;) {
        if (!rest.empty() && IsSeparator(rest[0])) {
            rest.remove_prefix(1);
            continue;
        }
        const std::string_view part = FirstPart(rest);
        if (part == "." || part == "..") {
            rest.remove_prefix(std::min(rest.size(), part.size() + 1));
            continue;
        }
        break;
    }
    return rest;
}

std::string StoredNameOf(std::string_view relative_path, bool names_only, std::string_view name) {
    const std::string body = StoredNameBody(name);
    std::string stored = body;
    if (!relative_path.empty()) {
        stored = std::string(relative_path);
        if (!IsSeparator(stored.back())) stored += '\\';
        stored += body;
    }
    if (names_only) {
        const PathParts parts = SplitPath(stored);
        stored = parts.name;
        if (parts.extension.size() > 1) stored += parts.extension;
    }
    return stored;
}

bool LinkTargetStaysInside(std::string_view link_path, std::string_view target) {
    if (target.empty() || IsSeparator(target[0]) || (target.size() >= 2 && target[1] == ':')) return false;
    // How deep the link's directory lies below the output directory.
    size_t depth = 0;
    for (size_t start = 0; start < link_path.size();) {
        const size_t end = std::min(link_path.size(), NextSeparator(link_path, start));
        const std::string_view part(link_path.data() + start, end - start);
        if (end < link_path.size() && !part.empty() && part != ".") ++depth;
        start = end + 1;
    }
    bool plain_seen = false;
    for (size_t start = 0; start <= target.size();) {
        const size_t end = std::min(target.size(), NextSeparator(target, start));
        const std::string_view part(target.data() + start, end - start);
        if (part == "..") {
            if (plain_seen || depth == 0) return false;
            --depth;
        } else if (!part.empty() && part != ".") {
            plain_seen = true;
        }
        start = end + 1;
    }
    return true;
}

}  // namespace hedgerow::names
