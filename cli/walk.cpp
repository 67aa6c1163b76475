// walk.cpp -- walking the inputs of `a`.
#include "walk.h"

#include <algorithm>
#include <map>

#include "host.h"
#include "stored_names.h"
#include "system.h"

namespace hedgerow::cli {

namespace fs = std::filesystem;

namespace {

struct Walker {
    const WalkRequest& request;
    WalkResult result;
    struct Seen {
        std::string mask;    // the file stored under the name
        std::string stored;  // the name as stored
    };
    std::map<std::string, Seen> stored_seen;  // by the upper-cased stored name

    void LeaveOut(const std::string& shown, const std::string& why) {
        Complain(shown, why + "; left out");
        ++result.left_out;
    }

    static std::string Upper(std::string text) {
        for (char& c : text) {
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        }
        return text;
    }

    // Takes a file (or a link, or an empty directory) under its stored name, unless
    // another one of this run has the same name once case is ignored.
    void Take(const fs::path& full, const std::string& mask, bool directory) {
        const std::string reason = UnstorableReason(mask);
        if (!reason.empty()) {
            LeaveOut(mask, reason);
            return;
        }
        InputFile file;
        file.mask = mask;
        file.directory = directory;
        file.stored = ExpectedStoredName(request.prefix, mask, request.names_only);
        const auto [seen, inserted] = stored_seen.emplace(Upper(file.stored), Seen {mask, file.stored});
        if (!inserted) {
            // The archive compares names without case: both cannot live in it.
            const Seen& first = seen->second;
            LeaveOut(mask, first.stored == file.stored
                               ? "another file is stored under the same name, " + DisplayName(file.stored) + " (" +
                                     Shown(first.mask) + ")"
                               : "its name differs only in case from " + Shown(first.mask) +
                                     ", and an archive compares names without case");
            return;
        }
        std::error_code error;
        file.size = directory ? 0 : fs::is_symlink(fs::symlink_status(full, error)) ? 0 : fs::file_size(full, error);
        result.files.push_back(std::move(file));
    }

    void AddFile(const fs::path& full, const std::string& mask) {
        std::error_code error;
        const fs::file_status own = fs::symlink_status(full, error);
        if (!error && fs::is_symlink(own)) {
            // A link is stored as a link (its target as text), or not at all.
            if (!request.no_links) Take(full, mask, false);
            return;
        }
        const fs::file_status status = fs::status(full, error);
        if (status.type() == fs::file_type::not_found) {
            LeaveOut(mask, "no such file or directory");
            return;
        }
        if (error) {
            LeaveOut(mask, error.message());
            return;
        }
        if (!fs::is_regular_file(status)) {
            LeaveOut(mask, "not a regular file");
            return;
        }
        if (!request.exclude.empty() && fs::equivalent(full, request.exclude, error)) return;
        Take(full, mask, false);
    }

    void WalkDirectory(const fs::path& full, const std::string& mask_base) {
        std::error_code error;
        std::vector<fs::directory_entry> entries;
        for (fs::directory_iterator it(full, error), end; !error && it != end; it.increment(error)) {
            entries.push_back(*it);
        }
        if (error) {
            LeaveOut(mask_base.empty() ? "." : mask_base, "the directory cannot be read (" + error.message() + ")");
            return;
        }
        std::sort(entries.begin(), entries.end(),
                  [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });
        // An empty directory is kept as one (the walk's starting point aside).
        if (entries.empty() && !mask_base.empty()) Take(full, mask_base, true);
        for (const fs::directory_entry& entry : entries) {
            const std::string name = TextOf(entry.path().filename());
            const std::string mask = mask_base.empty() ? name : mask_base + "/" + name;
            const fs::file_status link_status = entry.symlink_status(error);
            if (!error && fs::is_directory(link_status)) {
                WalkDirectory(entry.path(), mask);
            } else {
                AddFile(entry.path(), mask);
            }
        }
    }

    void WalkArgument(const std::string& argument) {
        fs::path given = PathOf(argument).lexically_normal();
        if (!request.input_dir.empty() && given.is_absolute()) {
            LeaveOut(argument, "an absolute path cannot be combined with an input directory");
            return;
        }
        const fs::path full = request.input_dir.empty() ? given : PathOf(request.input_dir) / given;
        // With --names-only the library takes masks as complete paths; otherwise they are
        // relative to the input directory.
        std::string base = GenericTextOf(request.names_only ? full.lexically_normal() : given);
        while (base.size() > 1 && base.back() == '/') base.pop_back();
        if (base == ".") base.clear();
        std::error_code error;
        if (fs::is_directory(full, error)) {
            WalkDirectory(full, base);
        } else if (request.no_links && fs::is_symlink(fs::symlink_status(full, error))) {
            // Links found in a directory are passed over quietly; one named here is told.
            LeaveOut(base.empty() ? argument : base, "a symbolic link, and --no-links leaves links out");
        } else {
            AddFile(full, base.empty() ? argument : base);
        }
    }
};

}  // namespace

WalkResult WalkInputs(const WalkRequest& request) {
    Walker walker {request, {}, {}};
    for (const std::string& path : request.paths) walker.WalkArgument(path);
    return std::move(walker.result);
}

}  // namespace hedgerow::cli
