// selection.cpp -- pattern matching over the parts of stored names.
#include "selection.h"

#include "stored_names.h"

namespace hedgerow::cli {

namespace {

unsigned char Fold(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 'a' + 'A') : u;
}

// Bytes of the character starting at text[i]: a UTF-8 lead byte and its continuation
// bytes, or one byte of anything else.
size_t CharLength(std::string_view text, size_t i) {
    size_t n = 1;
    while (i + n < text.size() && (static_cast<unsigned char>(text[i + n]) & 0xC0) == 0x80 &&
           static_cast<unsigned char>(text[i]) >= 0xC0) {
        ++n;
    }
    return n;
}

// A bracket expression at pattern[p] ('['). Sets `end` past its ']' and returns whether
// c is in the set; returns false with end == p when the bracket is not closed (then '['
// is an ordinary character).
bool InSet(std::string_view pattern, size_t p, unsigned char c, size_t& end) {
    size_t i = p + 1;
    const bool negated = i < pattern.size() && (pattern[i] == '!' || pattern[i] == '^');
    if (negated) ++i;
    const size_t first = i;
    bool found = false;
    while (i < pattern.size() && (pattern[i] != ']' || i == first)) {
        unsigned char low = Fold(pattern[i]);
        unsigned char high = low;
        if (i + 2 < pattern.size() && pattern[i + 1] == '-' && pattern[i + 2] != ']') {
            high = Fold(pattern[i + 2]);
            i += 2;
        }
        if (c >= low && c <= high) found = true;
        ++i;
    }
    if (i >= pattern.size()) {
        end = p;
        return false;
    }
    end = i + 1;
    return found != negated;
}

// One part of a pattern against one part of a name; '*' backtracks to its last position.
bool PartMatches(std::string_view pattern, std::string_view text) {
    size_t p = 0;
    size_t t = 0;
    size_t star_p = std::string_view::npos;
    size_t star_t = 0;
    while (t < text.size()) {
        if (p < pattern.size()) {
            const char pc = pattern[p];
            if (pc == '*') {
                star_p = p++;
                star_t = t;
                continue;
            }
            if (pc == '?') {
                ++p;
                t += CharLength(text, t);
                continue;
            }
            if (pc == '[') {
                size_t end = p;
                const bool in = InSet(pattern, p, Fold(text[t]), end);
                if (end != p) {
                    if (in) {
                        p = end;
                        ++t;
                        continue;
                    }
                } else if (Fold(text[t]) == '[') {
                    ++p;
                    ++t;
                    continue;
                }
            } else if (Fold(pc) == Fold(text[t])) {
                ++p;
                ++t;
                continue;
            }
        }
        if (star_p == std::string_view::npos) return false;
        p = star_p + 1;
        t = ++star_t;
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

std::vector<std::string_view> Parts(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t slash = path.find('/', start);
        const size_t end = slash == std::string_view::npos ? path.size() : slash;
        if (end > start) parts.push_back(path.substr(start, end - start));
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    return parts;
}

// Whether the pattern's parts from pi on match the name's parts from ni on, the name
// allowed to go on below the last pattern part.
bool PartsMatch(const std::vector<std::string_view>& pattern, size_t pi, const std::vector<std::string_view>& name,
                size_t ni) {
    if (pi == pattern.size()) return ni < name.size() || pi > 0;
    if (pattern[pi] == "**") {
        for (size_t skip = ni; skip <= name.size(); ++skip) {
            if (PartsMatch(pattern, pi + 1, name, skip)) return true;
        }
        return false;
    }
    return ni < name.size() && PartMatches(pattern[pi], name[ni]) && PartsMatch(pattern, pi + 1, name, ni + 1);
}

}  // namespace

std::string NormalisePattern(std::string_view pattern) {
    std::string slashed(pattern);
    for (char& c : slashed) {
        if (c == '\\') c = '/';
    }
    std::string out;
    for (std::string_view part : Parts(slashed)) {
        if (part == ".") continue;
        if (!out.empty()) out += '/';
        out += part;
    }
    return out;
}

bool PatternSelects(std::string_view pattern, std::string_view name) {
    const std::vector<std::string_view> pattern_parts = Parts(pattern);
    const std::vector<std::string_view> name_parts = Parts(name);
    if (pattern_parts.empty() || name_parts.empty()) return false;
    return PartsMatch(pattern_parts, 0, name_parts, 0);
}

Selection Select(const HidFileList& listing, const std::vector<std::string>& patterns) {
    Selection selection;
    std::vector<std::string> normalised;
    for (const std::string& pattern : patterns) normalised.push_back(NormalisePattern(pattern));
    std::vector<bool> used(patterns.size(), false);
    size_t total = 0;
    for (const HidFileEntry* e = listing.first; e; e = e->next) {
        ++total;
        const std::string shown = DisplayName(e->name);
        bool wanted = patterns.empty();
        for (size_t i = 0; i < normalised.size(); ++i) {
            if (PatternSelects(normalised[i], shown)) {
                used[i] = true;
                wanted = true;
            }
        }
        if (wanted) selection.entries.push_back(e);
    }
    for (size_t i = 0; i < patterns.size(); ++i) {
        if (!used[i]) selection.unmatched.push_back(patterns[i]);
    }
    selection.everything = selection.entries.size() == total;
    return selection;
}

}  // namespace hedgerow::cli
