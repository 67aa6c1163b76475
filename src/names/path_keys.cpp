// path_keys.cpp -- the rules of paths.h that depend on how the archive compares names:
// name keys and the output path of a stored name.
#include "names/paths.h"

#include <cstring>

#include "names/short_string.h"

namespace hedgerow::names {

namespace {

constexpr size_t kKeyCapacity = 1024;

// The key of name (as NameKey forms it) into key; false when it does not fit.
bool KeyInto(std::string_view name, char (&key)[kKeyCapacity]) {
    const std::string_view body = StoredNameBodyView(name);
    if (body.size() >= kKeyCapacity) return false;
    for (size_t i = 0; i < body.size(); ++i) key[i] = body[i] == '/' ? '\\' : body[i];
    key[body.size()] = '\0';
    UpperString(key, key);
    return true;
}

}  // namespace

bool SameNameKey(std::string_view a, std::string_view b) {
    char key_a[kKeyCapacity];
    char key_b[kKeyCapacity];
    return KeyInto(a, key_a) && KeyInto(b, key_b) && std::strcmp(key_a, key_b) == 0;
}

std::string NameKey(std::string_view name) {
    const std::string body = StoredNameBody(name);
    std::string key(body.size(), '\0');
    UpperString(body.c_str(), key.data());
    key.resize(std::char_traits<char>::length(key.c_str()));
    return key;
}

OutputName OutputPathOf(std::string_view stored_name, std::string_view relative_path, bool restore_paths, char* out,
                        size_t capacity) {
    std::string_view name = stored_name;
    if (!restore_paths) {
        for (size_t i = name.size(); i > 0; --i) {
            if (IsSeparator(name[i - 1]) || name[i - 1] == ':') {
                name.remove_prefix(i);
                break;
            }
        }
    } else {
        if (!name.empty() && IsSeparator(name[0])) name.remove_prefix(1);
        // The relative path was put in front of the names when they were stored: it goes
        // again from the names that begin with it, and only from those.
#ifdef HEDGEROW_COMPACT
        std::string_view prefix;
        (void)relative_path;
#else
        std::string_view prefix = relative_path;
#endif
        while (!prefix.empty() && IsSeparator(prefix.back())) prefix.remove_suffix(1);
        if (!prefix.empty() && name.size() > prefix.size() && IsSeparator(name[prefix.size()]) &&
            SameNameKey({name.data(), prefix.size()}, prefix)) {
            name.remove_prefix(prefix.size() + 1);
        }
        while (!name.empty() && IsSeparator(name[0])) name.remove_prefix(1);
        if (name.size() >= 2 && name[1] == ':') name.remove_prefix(2);
    }
    // Every part is looked at, so that a ".." part refuses the name however long it is.
    size_t written = 0;
    bool fits = true;
    for (;;) {
        size_t end = 0;
        while (end < name.size() && !IsSeparator(name[end])) ++end;
        const std::string_view part(name.data(), end);
        if (part == "..") return OutputName::kRefused;
        if (!part.empty() && part != ".") {
            const size_t at = written > 0 ? written + 1 : 0;
            if (fits && at + part.size() < capacity) {
                if (written > 0) out[written] = '\\';
                std::memcpy(out + at, part.data(), part.size());
            } else {
                fits = false;
            }
            written = at + part.size();
        }
        if (end == name.size()) break;
        name.remove_prefix(end + 1);
    }
    if (written == 0) return OutputName::kRefused;
    if (!fits) return OutputName::kTooLong;
    out[written] = '\0';
    return OutputName::kWritten;
}

}  // namespace hedgerow::names
