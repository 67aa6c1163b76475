// main.cpp -- `hedgerow`: argument parsing and the table of subcommands. Each row names
// a subcommand, says what it does, declares its options and runs it; a new subcommand
// (hiding, self-extracting archives) is one more row.
#include <CLI/CLI.hpp>
#include <array>
#include <cstdio>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "host.h"
#include "status_text.h"
#include "system.h"

#ifndef HEDGEROW_VERSION
#define HEDGEROW_VERSION "unknown"
#endif

namespace hedgerow::cli {

namespace {

void ArchiveArgument(CLI::App& app, Options& o) {
    app.add_option("archive", o.archive, "The archive file")->required()->type_name("ARCHIVE");
}

void HeaderPasswordOption(CLI::App& app, Options& o) {
    app.add_option("--header-password-file", o.header_password_file,
                   "Read the header password from the first line of FILE")
        ->type_name("FILE");
}

void PasswordOptions(CLI::App& app, Options& o) {
    app.add_option("--password-file", o.password_file,
                   "Read the data password (a strong archive's one password) from the first line of FILE")
        ->type_name("FILE");
    HeaderPasswordOption(app, o);
}

void ThreadsOption(CLI::App& app, Options& o) {
    app.add_option("-T,--threads", o.threads, "Work on N files at once (default: one per online core)")
        ->check(CLI::Range(1, HEDGEROW_MAX_WORKERS))
        ->type_name("N");
}

// The cost of guessing a new strong archive's password: only up from the defaults.
void KdfOptions(CLI::App& app, Options& o) {
    app.add_option("--kdf-memory", o.kdf_memory_mib,
                   "Strong archive: memory of the password hash (Argon2id) in MiB, 64 (default) to 4096")
        ->check(CLI::Range(64, 4096))
        ->type_name("MIB");
    app.add_option("--kdf-passes", o.kdf_passes, "Strong archive: passes of the password hash, 3 (default) to 64")
        ->check(CLI::Range(3, 64))
        ->type_name("N");
}

void SetUpAdd(CLI::App& app, Options& o) {
    ArchiveArgument(app, o);
    app.add_option("files", o.names, "Files and directories to add (directories are walked)")
        ->required()
        ->type_name("FILE|DIR");
    app.add_option("-c,--cipher", o.cipher,
                   "chacha: a strong archive (the default for a new one); none, des, 3des or idea: a legacy archive "
                   "that older readers open (default: the archive's own)")
        ->check(CLI::IsMember({"chacha", "none", "des", "3des", "idea"}))
        ->type_name("CIPHER");
    app.add_option("--level", o.level, "Compression level: 1 (fastest) to 9 (smallest), 0 stores; default 5 (also -0 ... -9)")
        ->check(CLI::Range(0, 9))
        ->type_name("N");
    for (int level = 0; level <= 9; ++level) {
        app.add_flag_callback("-" + std::to_string(level), [&o, level] { o.level = level; })->group("");
    }
    ThreadsOption(app, o);
    KdfOptions(app, o);
    app.add_flag("--lock", o.lock, "Encipher the entry headers with a header password (names become unreadable)");
    app.add_flag("--names-only", o.names_only, "Store bare file names, without directories");
    app.add_flag("--no-links", o.no_links,
                 "Store nothing for symbolic links (by default a link is stored as a link, its target as text)");
    app.add_option("-C,--input-dir", o.input_dir, "Take the files relative to DIR")->type_name("DIR");
    app.add_option("--prefix", o.prefix, "Put PREFIX in front of every stored name")->type_name("PREFIX");
    auto* update = app.add_flag("-u,--update", o.update, "Replace an entry only when the file is newer");
    app.add_flag("-n,--skip-existing", o.skip_existing, "Keep entries that exist; add only new names")->excludes(update);
    auto* sfx = app.add_flag("--sfx", o.sfx, "Make a new self-extracting archive: a program that extracts the files when run");
    app.add_option("--split", o.split, "With --sfx: split the file into pieces for disks of SIZE (360k, 720k, 1200k, 1440k)")
        ->check(CLI::IsMember({"360k", "720k", "1200k", "1440k"}))
        ->needs(sfx)
        ->type_name("SIZE");
    PasswordOptions(app, o);
}

void SetUpList(CLI::App& app, Options& o) {
    ArchiveArgument(app, o);
    app.add_option("masks", o.names, "Entries to list (patterns: *, ?, [...], **; default: all)")->type_name("PATTERN");
    app.add_flag("--json", o.json, "Write the listing as JSON");
    PasswordOptions(app, o);
}

// `e`, and `x` with -c for standard output.
void SetUpExtractTo(CLI::App& app, Options& o, bool with_stdout) {
    ArchiveArgument(app, o);
    app.add_option("masks", o.names, "Entries to extract (patterns: *, ?, [...], **; default: all)")->type_name("PATTERN");
    ThreadsOption(app, o);
    auto* output = app.add_option("-o,--output", o.output_dir, "Extract below DIR (default: the current directory)")
                       ->type_name("DIR");
    auto* prefix = app.add_option("--prefix", o.prefix, "Remove PREFIX from the front of stored names")->type_name("PREFIX");
    auto* overwrite = app.add_flag("-y,--overwrite", o.overwrite, "Replace existing files without asking");
    auto* skip = app.add_flag("-n,--skip-existing", o.skip_existing, "Never replace existing files");
    auto* update = app.add_flag("-u,--update", o.update, "Replace existing files only with newer copies");
    overwrite->excludes(skip)->excludes(update);
    skip->excludes(update);
    auto* keep_setid = app.add_flag("--keep-setid", o.keep_setid,
                                    "Restore set-user-id and set-group-id bits (legacy archives that keep modes)");
    if (with_stdout) {
        app.add_flag("-c,--stdout", o.to_stdout,
                     "Write the entries' contents to standard output, in archive order (messages on standard error)")
            ->excludes(output)
            ->excludes(prefix)
            ->excludes(overwrite)
            ->excludes(skip)
            ->excludes(update)
            ->excludes(keep_setid);
    }
    PasswordOptions(app, o);
}

void SetUpExtract(CLI::App& app, Options& o) { SetUpExtractTo(app, o, true); }

void SetUpExtractFlat(CLI::App& app, Options& o) { SetUpExtractTo(app, o, false); }

void SetUpPrint(CLI::App& app, Options& o) {
    ArchiveArgument(app, o);
    app.add_option("patterns", o.names, "Entries to write (default: all)")->type_name("PATTERN");
    ThreadsOption(app, o);
    PasswordOptions(app, o);
}

void SetUpTest(CLI::App& app, Options& o) {
    ArchiveArgument(app, o);
    app.add_option("patterns", o.names, "Entries to check (default: all)")->type_name("PATTERN");
    ThreadsOption(app, o);
    PasswordOptions(app, o);
}

void SetUpDelete(CLI::App& app, Options& o) {
    ArchiveArgument(app, o);
    app.add_option("masks", o.names, "Entries to delete (patterns: *, ?, [...], **)")->required()->type_name("PATTERN");
    PasswordOptions(app, o);
}

void SetUpArchiveOnly(CLI::App& app, Options& o) {
    ArchiveArgument(app, o);
    HeaderPasswordOption(app, o);
}

void SetUpRekey(CLI::App& app, Options& o) {
    SetUpArchiveOnly(app, o);
    app.add_option("--password-file", o.password_file, "Strong archive: read its password from the first line of FILE")
        ->type_name("FILE");
    app.add_option("--new-password-file", o.new_password_file,
                   "Strong archive: read the new password from the first line of FILE")
        ->type_name("FILE");
    app.add_option("--new-header-password-file", o.new_header_password_file,
                   "Locked legacy archive: read the new header password from the first line of FILE")
        ->type_name("FILE");
    KdfOptions(app, o);
}

void CarrierArgument(CLI::App& app, Options& o) {
    app.add_option("carrier", o.carrier, "The carrier: a BMP or PCX picture or a WAV sound")
        ->required()
        ->type_name("CARRIER");
}

void SetUpHide(CLI::App& app, Options& o) {
    CarrierArgument(app, o);
    app.add_option("file", o.hide_file, "The file to hide")->required()->type_name("FILE");
    app.add_flag("--legacy", o.legacy,
                 "Hide in the legacy form (IDEA, a one-byte check) that older readers recover, instead of the strong one");
    app.add_flag("-y,--overwrite", o.overwrite, "Replace a file the carrier holds already without asking");
    app.add_option("--password-file", o.password_file, "Read the password from the first line of FILE")
        ->type_name("FILE");
}

void SetUpUnhide(CLI::App& app, Options& o) {
    CarrierArgument(app, o);
    app.add_option("-o,--output", o.output_file, "Write the hidden file to OUT")->required()->type_name("OUT");
    auto* overwrite = app.add_flag("-y,--overwrite", o.overwrite, "Replace OUT without asking");
    app.add_flag("-n,--skip-existing", o.skip_existing, "Never replace OUT")->excludes(overwrite);
    app.add_option("--password-file", o.password_file, "Read the password from the first line of FILE")
        ->type_name("FILE");
}

struct Subcommand {
    const char* name;
    const char* summary;
    void (*set_up)(CLI::App&, Options&);
    int (*run)(const Options&);
};

constexpr std::array<Subcommand, 12> kSubcommands {{
    {"a", "Add files to an archive, creating it when it does not exist", SetUpAdd, RunAdd},
    {"l", "List the entries of an archive", SetUpList, RunList},
    {"x", "Extract entries with their directories", SetUpExtract, RunExtractWithPaths},
    {"e", "Extract entries without their directories", SetUpExtractFlat, RunExtractFlat},
    {"p", "Write the contents of entries to standard output (x -c)", SetUpPrint, RunPrint},
    {"t", "Test entries: decode and check them, writing nothing", SetUpTest, RunTest},
    {"d", "Delete entries from an archive", SetUpDelete, RunDelete},
    {"lock", "Encipher the entry headers of a legacy archive with a header password", SetUpArchiveOnly, RunLock},
    {"unlock", "Write the entry headers of a locked legacy archive in plain", SetUpArchiveOnly, RunUnlock},
    {"rekey", "Change the password of a strong archive, or the header password of a locked one", SetUpRekey, RunRekey},
    {"hide", "Hide a file, compressed and sealed, in a BMP, WAV or PCX carrier", SetUpHide, RunHide},
    {"unhide", "Recover the file hidden in a carrier", SetUpUnhide, RunUnhide},
}};

const char* kFooter =
    "Passwords come from --password-file / --header-password-file, else from the environment\n"
    "(HEDGEROW_PASSWORD, HEDGEROW_HEADER_PASSWORD, HEDGEROW_NEW_PASSWORD, HEDGEROW_NEW_HEADER_PASSWORD), else from\n"
    "the terminal.\n"
    "Exit codes: see 'man hedgerow' or the README.";

int Main(int argc, char** argv) {
    CLI::App app {"hedgerow " HEDGEROW_VERSION " -- compressed, enciphered archives and hidden files"};
    app.name("hedgerow");
    app.footer(kFooter);
    app.require_subcommand(1);
    app.set_version_flag("--version", "hedgerow " HEDGEROW_VERSION);
    Options o;
    app.add_flag("-q,--quiet", o.quiet, "No progress line and no notes");
    app.add_flag("-v,--verbose", o.verbose, "Name each file as it is handled (on standard output)");
    std::array<CLI::App*, kSubcommands.size()> parsers {};
    for (size_t i = 0; i < kSubcommands.size(); ++i) {
        parsers[i] = app.add_subcommand(kSubcommands[i].name, kSubcommands[i].summary);
        parsers[i]->fallthrough();
        kSubcommands[i].set_up(*parsers[i], o);
    }
    // (in UTF-8, whatever code page the system handed them over in)
    const std::vector<std::string> arguments = CommandArguments(argc, argv);
    std::vector<const char*> pointers;
    for (const std::string& a : arguments) pointers.push_back(a.c_str());
    try {
        app.parse(static_cast<int>(pointers.size()), pointers.data());
    } catch (const CLI::ParseError& e) {
        // (help and usage errors go through WriteText too: they may quote an argument)
        std::ostringstream out;
        std::ostringstream err;
        const int code = app.exit(e, out, err);
        WriteText(stdout, out.str());
        WriteText(stderr, err.str());
        return code == 0 ? kExitOk : kExitUsage;
    }
    HostContext& h = Host();
    h.quiet = o.quiet;
    h.verbose = o.verbose;
    h.level = o.level == 0 ? HEDGEROW_LEVEL_STORE : o.level < 0 ? HEDGEROW_LEVEL_DEFAULT : o.level;
    h.workers = o.threads;
    h.kdf_memory_kib = o.kdf_memory_mib * 1024;
    h.kdf_passes = o.kdf_passes;
    h.data_source.file = o.password_file;
    h.header_source.file = o.header_password_file;
    // Temporary files go beside what is written: the archive, the extracted files, the
    // carrier or the recovered file.
    h.work_directory = !o.output_dir.empty()    ? o.output_dir
                       : !o.output_file.empty() ? DirectoryOf(o.output_file)
                       : !o.carrier.empty()     ? DirectoryOf(o.carrier)
                                                : DirectoryOf(o.archive);
    CatchInterrupts();
    for (size_t i = 0; i < kSubcommands.size(); ++i) {
        if (parsers[i]->parsed()) return kSubcommands[i].run(o);
    }
    return kExitUsage;
}

}  // namespace

}  // namespace hedgerow::cli

int main(int argc, char** argv) {
    try {
        return hedgerow::cli::Main(argc, argv);
    } catch (const std::exception& e) {
        hedgerow::cli::WriteText(stderr, std::string("hedgerow: ") + e.what() + "\n");
        return hedgerow::cli::kExitHostError;
    }
}
