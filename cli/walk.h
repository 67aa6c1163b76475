// walk.h -- turns the files and directories named for `a` into the list of files the
// library is asked to store: directories walked in name order, one mask per file,
// relative to the input directory, and every file the archive cannot hold reported.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace hedgerow::cli {

struct InputFile {
    std::string mask;    // handed to AppendFileMask ('/' between parts)
    std::string stored;  // the name the library will store it under ('\' between parts)
    uint64_t size = 0;
    bool directory = false;  // an empty directory, stored as one
};

struct WalkRequest {
    std::vector<std::string> paths;  // as given on the command line
    std::string input_dir;           // -C; empty for the current directory
    bool names_only = false;         // masks become full paths, stored names bare file names
    bool no_links = false;           // symbolic links are left out (else stored as links)
    std::string prefix;              // stored-name prefix, already normalised
    std::filesystem::path exclude;   // the archive itself, never stored into itself
};

struct WalkResult {
    std::vector<InputFile> files;  // in command-line order, each directory's files sorted
    int left_out = 0;              // named files that cannot be stored (each reported)
};

WalkResult WalkInputs(const WalkRequest& request);

}  // namespace hedgerow::cli
