// commands.h -- the subcommands of `hedgerow` and the options they read. main.cpp keeps
// the table that names them; a new subcommand adds a setup and a run function there.
#pragma once

#include <string>
#include <vector>

namespace hedgerow::cli {

struct Options {
    // Every subcommand.
    bool quiet = false;
    bool verbose = false;
    std::string archive;
    std::vector<std::string> names;       // files to add, or masks selecting entries
    std::string password_file;
    std::string header_password_file;
    std::string prefix;                   // stored-name prefix (a, x, e)

    // a
    std::string cipher;                   // empty: the archive's own, or chacha (strong) for a new one
    bool lock = false;
    bool names_only = false;
    bool no_links = false;                // symbolic links are not stored at all
    std::string input_dir;
    int level = -2;                       // -0 .. -9 or --level; -2: not given (the library's default)

    // a, x, e
    int threads = 0;                      // -T: workers; 0: one per online core
    uint32_t kdf_memory_mib = 0;          // a, rekey: Argon2id memory of a new strong password; 0: default
    uint32_t kdf_passes = 0;              // a, rekey: its passes; 0: default

    // l
    bool json = false;

    // x, e (and a for the last two)
    std::string output_dir;
    bool to_stdout = false;               // x -c: the entries' contents to standard output
    bool overwrite = false;
    bool skip_existing = false;
    bool update = false;
    bool keep_setid = false;              // x, e: restore set-user-id and set-group-id bits
    bool sfx = false;                     // a: make a self-extracting archive
    std::string split;                    // a --sfx: disk size of the pieces, empty: one file

    // rekey
    std::string new_header_password_file;
    std::string new_password_file;        // a strong archive's new password

    // hide
    bool legacy = false;                  // the legacy form of the prepared file

    // hide, unhide
    std::string carrier;
    std::string hide_file;
    std::string output_file;
};

int RunAdd(const Options& options);
int RunList(const Options& options);
int RunExtractWithPaths(const Options& options);
int RunExtractFlat(const Options& options);
int RunTest(const Options& options);
int RunPrint(const Options& options);
int RunDelete(const Options& options);
int RunLock(const Options& options);
int RunUnlock(const Options& options);
int RunRekey(const Options& options);
int RunHide(const Options& options);
int RunUnhide(const Options& options);

}  // namespace hedgerow::cli
