// host.h -- the command as a host of the library: one context per process that the
// callbacks answer from (prompts, overwrite policy, progress, Ctrl-C), password sources,
// mask lists, and opening archives whose headers may be locked.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <cstdio>
#include <string>
#include <vector>

#include "hedgerow.h"
#include "progress.h"
#include "selection.h"

namespace hedgerow::cli {

// How often a password is asked for on the terminal before the command gives up.
inline constexpr int kPasswordAttempts = 3;

// Where a password may come from, in this order: a file named on the command line, an
// environment variable, the terminal.
struct PasswordSource {
    std::string file;         // --...-password-file; empty when not given
    const char* env_name;     // HEDGEROW_PASSWORD, ...
    const char* label;        // "Password", "Header password", ...
    const char* file_option;  // the option that names the file, for messages
};

// What to do when an extracted file exists already, or a file to add has an entry.
enum class Overwrite {
    kAsk,     // ask on the terminal; without one keep what exists and warn
    kAlways,  // --overwrite
    kNever,   // --skip-existing
    kNewer,   // --update: only when the replacement was written later
};

struct HostContext {
    bool quiet = false;
    bool verbose = false;
    Overwrite overwrite = Overwrite::kAsk;
    bool adding = false;  // the replace query comes from an update (entry, disk file)
    int32_t level = HEDGEROW_LEVEL_DEFAULT;  // compression level for the settings' extension block
    int32_t workers = 0;                     // workers for the block; 0: one per online core
    uint32_t kdf_memory_kib = 0;             // a new strong password's Argon2id parameters; 0: default
    uint32_t kdf_passes = 0;
    bool strong = false;  // the open archive is strong: one password for all of it

    // The data password: where it comes from, and whether asking again is allowed.
    PasswordSource data_source {"", "HEDGEROW_PASSWORD", "Password", "--password-file"};
    PasswordSource header_source {"", "HEDGEROW_HEADER_PASSWORD", "Header password", "--header-password-file"};
    bool data_prompted = false;    // the data password came from the terminal
    int data_attempts = 0;
    std::string data_password;     // the last one the library was given
    bool header_prompted = false;
    int header_attempts = 0;
    std::string header_answer;     // the header password the callback gave, if any
    bool header_proven = false;    // the archive opened with the header password: no more asking
    bool header_fixed = false;     // answer the header callback with header_answer, once
    bool header_fixed_used = false;

    ProgressLine progress;
    int left_out = 0;              // files named but not stored or not extracted
    int renamed = 0;               // files stored under another name than their own
    std::set<std::string> unreadable;  // adding: files the library could not read ('/' between parts)
    bool checking = false;         // `t`: damaged entries are found, not left out
    bool to_stdout = false;        // `x -c`, `p`: entries go through a scratch directory to standard output
    std::string pending_output;    //   the file being extracted; streamed out when the next one begins
    std::string current_output;    // the file the library writes now (extraction), as the system names it
    std::vector<std::pair<std::string, std::string>> written;  // extraction: each entry's stored name and output path
    std::string stdout_failure;    //   what failed on the way out (the run is then cancelled); empty while it works
    int damaged = 0;               // `t`: entries found damaged
    bool retried_as_update = false;  // `a` found its new archive made by another program
    std::string work_directory;    // where the command's temporary files go, for messages
    bool cancelled_by_user = false;
};

HostContext& Host();

// A message for the user on standard error, after the progress line is cleared. Names in
// it are shown with their control characters escaped (Shown), so the whole text is.
void Say(const std::string& text);
// printf into standard output or error, through WriteText (UTF-16 on a Windows console).
[[gnu::format(printf, 2, 3)]] void Print(std::FILE* stream, const char* format, ...);
// "hedgerow: <subject>: <text>" on standard error.
void Complain(const std::string& subject, const std::string& text);

// Reads a password from its source; asks twice on the terminal when `confirm` is set.
// Returns kExitOk, or the exit code after a message saying why there is none.
// `prompted` tells whether it came from the terminal (and may be asked for again).
int ObtainPassword(const PasswordSource& source, bool confirm, std::string& password, bool& prompted);

// Fills a settings block; the passwords are cut to what the block holds.
HidFileSettings MakeSettings(int32_t cipher_id, const std::string& data_password, const std::string& header_password,
                             bool lock_headers);

// Registers every callback the command answers (after the archive is opened, which
// clears them).
void RegisterCallbacks();

// Runs a library call that locks the archive (opening, listing, extracting, rewriting).
// When another program is reading or writing it, says so and runs the call again, this
// time waiting until the archive is free; Ctrl-C ends the wait (arCancelled).
void WhenFree(const std::string& archive, const std::function<void()>& call);

// Owns a FileMaskList.
struct MaskList {
    FileMaskList list {};
    MaskList() { InitFileMaskList(&list); }
    ~MaskList() { DoneFileMaskList(&list); }
    MaskList(const MaskList&) = delete;
    MaskList& operator=(const MaskList&) = delete;
    // False when the library refused the mask (its status tells why).
    bool Add(const std::string& mask) { return AppendFileMask(mask.c_str(), &list) != 0; }
};

// Owns a HidFileList.
struct EntryList {
    HidFileList list {};
    EntryList() { InitHidFileList(&list); }
    ~EntryList() { DoneHidFileList(&list); }
    EntryList(const EntryList&) = delete;
    EntryList& operator=(const EntryList&) = delete;
};

// Forgets the archive when a command ends.
struct ArchiveGuard {
    ~ArchiveGuard() { (void)DoneHidFile(); }
};

// An existing archive as a command opened it.
struct OpenedArchive {
    HidFileSettings settings {};  // what opened it: the header password that worked; the data
                                  // password only for a strong archive whose records are read
    bool locked = false;          // a legacy archive whose headers are enciphered
    bool strong = false;          // a strong archive: everything opens with the data password
    HidFileInfo info {};          // its kind and, strong, its key derivation's parameters
    std::optional<int> exit;      // set when it did not open: the exit code, after the message
};

// Whether a command reads a strong archive's records (which need the data password) or
// only looks at the archive (lock, unlock).
enum class Records { kRead, kNotRead };

// Opens the archive without a header password and without the header callback. A locked
// archive does not open then (arBadPassword), which is how the command tells whether its
// headers are locked. Returns the status.
uint16_t OpenWithoutHeaderPassword(const std::string& archive, const HidFileSettings& settings);

// Opens an existing archive with InitHidFile. A locked archive gets its header password
// from the header source (asking again on the terminal when it is wrong) and is opened
// again with the password that worked in the settings, because the library enciphers new
// records with the settings' password. A strong archive whose records are read is opened
// again with the data password from its source (the library asks through the callback
// when it is wrong, and the command asks again on the terminal). Registers the callbacks
// after a successful open. The caller holds an ArchiveGuard.
OpenedArchive OpenArchive(const std::string& archive, Records records = Records::kRead);

// False after a message when the archive named on the command line is not a file.
bool ArchiveExists(const std::string& archive);

// OpenArchive for the commands that read or rewrite an archive, which must exist.
OpenedArchive OpenExistingArchive(const std::string& archive, Records records = Records::kRead);

// The data password when it is `needed`, from its source as ObtainPassword reads it;
// otherwise a stand-in: the library asks for one even for entries that are not
// enciphered, and those take any. For a strong archive that was opened with it, the
// password that worked (the one last asked for, after a wrong one).
int ObtainDataPassword(bool needed, bool confirm, std::string& password);
std::string ProvenStrongPassword();

// Opens the archive again with the data password (wiped then) and the header password
// that opened it, for commands that read or write entry data; `settings` become the ones
// it is open with. Nothing when the command goes on, else its exit code after the message.
// Registers the callbacks.
std::optional<int> ReopenWithDataPassword(const std::string& archive, int32_t cipher_id, std::string& data_password,
                                          HidFileSettings& settings);

// The --prefix option in the archive's form; false after a message when it is unusable.
bool ReadPrefix(const std::string& option, std::string& prefix);

// The entries a command's patterns select in the open archive, and the exact names the
// library is handed for them.
struct SelectedEntries {
    EntryList listing;    // every entry of the archive
    Selection selection;  // those the patterns select, in archive order
    MaskList masks;       // their stored names; empty (the library's "all") when everything
                          // is selected and the caller did not ask for exact names
    uint16_t status = arOk;  // the listing's status (arBadFormat: cut short by a damaged record)
};

// Lists the archive and selects from it. Nothing when the command goes on; else the exit
// code after the message: a pattern that selects nothing is named (exit for arNoEntries),
// as is a selected name the library would not take as itself alone (a stored name with
// the library's wildcard characters, when other entries fit it too). A listing cut short
// goes on when `partial_ok` is set (status kept in `out.status`).
std::optional<int> SelectEntries(const std::string& archive, const std::vector<std::string>& patterns,
                                 bool exact_always, bool partial_ok, SelectedEntries& out);

// `x -c`, `p`: copies the extracted file the library has just finished (pending_output)
// to standard output and removes it. A file that is not there (a damaged entry left out)
// is passed over. False after standard output failed (stdout_failure set).
bool StreamPendingOutput();

// Where a listing cut short by a damaged record ended: "the record after a/b.txt is
// damaged or the archive is cut short there, ...", for the closing message.
std::string WhereCutShort(const HidFileList& listing);

// "selected 3 of 10 entries (in/*.txt, docs)" on standard error, for -v.
void SaySelected(const std::vector<std::string>& patterns, const SelectedEntries& selected);

// Names every one of the entries whose record holds no known cipher id, as damage of the
// archive; true when there was one (the command then ends with arBadFormat's exit code).
bool ReportUnknownCiphers(const std::string& archive, const std::vector<const HidFileEntry*>& entries);

// The directory part of a path ("." for a bare name), where files beside it go.
std::string DirectoryOf(const std::string& path);

// Ends a command: the exit code for the status, after saying what went wrong.
int Finish(const std::string& subject, uint16_t status);

// The system's reason for a write that failed (error: errno as the library left it),
// "No space left on device" when the disk of path is all but full although errno no
// longer says so.
std::string WriteFailureReason(const std::string& path, int error);

// Ends a command that writes the archive anew, as Finish does; a write that failed is told
// with the system's reason and what became of the archive: "No space left on device
// while writing arc.hdg (the archive is unchanged)".
int FinishRewrite(const std::string& archive, uint16_t status, int error, bool existed);

}  // namespace hedgerow::cli
