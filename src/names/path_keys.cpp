// path_keys.cpp -- the rules of paths.h that depend on how the archive compares names:
// name keys and the output parts of a stored name.
#include "names/paths.h"

#include "names/short_string.h"

namespace hedgerow::names {

std::string NameKey(std::string_view name) {
    const std::string body = StoredNameBody(name);
    std::string key(body.size(), '\0');
    UpperString(body.c_str(), key.data());
    key.resize(std::char_traits<char>::length(key.c_str()));
    return key;
}

bool OutputParts(std::string_view stored_name, std::string_view relative_path, bool restore_paths,
                 std::vector<std::string>* parts) {
    parts->clear();
    std::string name = WithBackslashes(stored_name);
    if (!restore_paths) {
        const size_t cut = name.find_last_of("\\:");
        if (cut != std::string::npos) name.erase(0, cut + 1);
    } else {
        if (!name.empty() && name[0] == '\\') name.erase(0, 1);
        // The relative path was put in front of the names when they were stored: it goes
        // again from the names that begin with it, and only from those.
        std::string prefix = WithBackslashes(relative_path);
        while (!prefix.empty() && prefix.back() == '\\') prefix.pop_back();
        if (!prefix.empty() && name.size() > prefix.size() && name[prefix.size()] == '\\' &&
            NameKey(name.substr(0, prefix.size())) == NameKey(prefix)) {
            name.erase(0, prefix.size() + 1);
        }
        while (!name.empty() && name[0] == '\\') name.erase(0, 1);
        if (name.size() >= 2 && name[1] == ':') name.erase(0, 2);
    }
    std::string part;
    for (size_t i = 0; i <= name.size(); ++i) {
        if (i == name.size() || name[i] == '\\') {
            if (part == "..") return false;
            if (!part.empty() && part != ".") parts->push_back(part);
            part.clear();
        } else {
            part += name[i];
        }
    }
    return !parts->empty();
}

}  // namespace hedgerow::names
