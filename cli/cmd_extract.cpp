// cmd_extract.cpp -- `hedgerow x` (with the stored directories), `hedgerow e` (every
// file straight into the output directory) and `hedgerow t` (every entry checked,
// nothing written).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <vector>

#include "commands.h"
#include "entry_text.h"
#include "host.h"
#include "status_text.h"
#include "stored_names.h"
#include "system.h"

namespace hedgerow::cli {

namespace fs = std::filesystem;

namespace {

// The directories an extraction would make for the selected files (the output directory
// and, with paths, those of the stored names) that do not exist yet, deepest first.
// Directories that are entries of their own are not among them.
std::vector<std::filesystem::path> DirectoriesToMake(const Options& o, const SelectedEntries& selected,
                                                     bool with_paths) {
    namespace fs = std::filesystem;
    const fs::path root = PathOf(o.output_dir.empty() ? "." : o.output_dir);
    std::set<fs::path> wanted {root};
    std::set<fs::path> entries;
    for (const HidFileEntry* e : selected.selection.entries) {
        const fs::path name = PathOf(SlashedName(e->name));
        if ((e->attributes & 0x10u) != 0) entries.insert(root / name);
        if (!with_paths) continue;
        for (fs::path parent = name.parent_path(); !parent.empty(); parent = parent.parent_path()) {
            wanted.insert(root / parent);
        }
    }
    std::vector<fs::path> missing;
    std::error_code ignored;
    for (const fs::path& dir : wanted) {
        if (entries.count(dir) == 0 && !fs::exists(dir, ignored)) missing.push_back(dir);
    }
    std::sort(missing.begin(), missing.end(), [](const fs::path& a, const fs::path& b) {
        return a.native().size() > b.native().size();
    });
    return missing;
}

// Ends a command whose selection was made from a listing cut short (status arBadFormat).
int FinishCutShort(const Options& o, const SelectedEntries& selected, const char* done) {
    HostContext& h = Host();
    h.progress.Finish();
    Complain(o.archive, WhereCutShort(selected.listing.list) + "; " + done);
    return ExitCodeFor(arBadFormat);
}

// Opens the archive, selects the entries and opens it again with the data password (a
// strong archive's proven one). Nothing when the command goes on, else its exit code.
std::optional<int> OpenAndSelect(const Options& o, bool partial_ok, SelectedEntries& selected) {
    HostContext& h = Host();
    OpenedArchive opened = OpenExistingArchive(o.archive);
    if (opened.exit) return opened.exit;
    // The selection tells whether a password is needed, and the sizes for the progress line.
    if (const std::optional<int> failed = SelectEntries(o.archive, o.names, false, partial_ok, selected)) return failed;
    if (selected.status != arOk && !partial_ok) return Finish(o.archive, selected.status);
    bool any_enciphered = false;
    for (const HidFileEntry* e : selected.selection.entries) {
        any_enciphered = any_enciphered || e->enciphered != 0;
        h.progress.Expect(e->name, EntrySize(*e));
    }
    if (o.verbose) SaySelected(o.names, selected);
    // A strong archive was opened with its password, proven by the listing; the library
    // keeps the key derived from it while the archive is opened again with it.
    std::string data;
    if (opened.strong) {
        data = ProvenStrongPassword();
    } else if (const int rc = ObtainDataPassword(any_enciphered, false, data); rc != kExitOk) {
        return rc;
    }
    h.data_password = data;
    h.data_attempts = 1;
    const int32_t cipher = opened.strong ? kCipherChacha : kCipherIdea;
    return ReopenWithDataPassword(o.archive, cipher, data, opened.settings);
}

// Symbolic links that were not made because their target leads outside the output
// directory (the library leaves nothing in their place): named, and counted as left out.
void ReportLinksLeftOut(const SelectedEntries& selected) {
    HostContext& h = Host();
    std::set<std::string> links;
    for (const HidFileEntry* e : selected.selection.entries) {
        if (e->entry_kind == HEDGEROW_ENTRY_SYMLINK) links.insert(e->name);
    }
    if (links.empty()) return;
    for (const auto& [stored, path] : h.written) {
        std::error_code ignored;
        if (links.count(stored) == 0 || fs::symlink_status(PathOf(path), ignored).type() != fs::file_type::not_found) {
            continue;
        }
        Complain(DisplayName(stored), "a symbolic link whose target leads outside the output directory; not restored");
        ++h.left_out;
    }
}

int Extract(const Options& o, bool with_paths) {
    HostContext& h = Host();
    h.adding = false;
    h.overwrite = o.overwrite        ? Overwrite::kAlways
                  : o.skip_existing ? Overwrite::kNever
                  : o.update        ? Overwrite::kNewer
                                    : Overwrite::kAsk;
    if (o.output_dir == "-") {
        Complain("-o -", "names no directory; 'hedgerow p' (or 'x -c') writes the entries to standard output");
        return kExitUsage;
    }
    std::string prefix;
    if (!ReadPrefix(o.prefix, prefix)) return kExitUsage;
    ArchiveGuard guard;
    SelectedEntries selected;
    if (const std::optional<int> failed = OpenAndSelect(o, true, selected)) return *failed;

    SetOutputPath(o.output_dir.c_str());
    if (with_paths) {
        arOptionsOn(arOptRestorePaths);
    } else {
        arOptionsOff(arOptRestorePaths);
    }
    if (o.keep_setid) {
        arOptionsOn(arOptKeepSetId);
    } else {
        arOptionsOff(arOptKeepSetId);
    }
    SetRelativePath(prefix.c_str());
    if (GetArchiveStatus() != arOk) return Finish(o.archive, GetArchiveStatus());
    h.progress.Enable(!o.quiet && StderrIsTerminal());
    h.written.clear();
    const std::vector<std::filesystem::path> new_directories = DirectoriesToMake(o, selected, with_paths);
    WhenFree(o.archive, [&] { ExtractFileMaskListHid(&selected.masks.list); });
    const uint16_t status = GetArchiveStatus();
    if (status == arBadPassword) {
        // Nothing came out under a wrong password: the directories made for it go too
        // (only when empty; deepest first, so that their parents empty in turn).
        std::error_code ignored;
        for (const std::filesystem::path& dir : new_directories) std::filesystem::remove(dir, ignored);
    }
    ReportLinksLeftOut(selected);
    if ((status == arIoError || status == arWriteError) && !h.current_output.empty()) {
        // The library tells the kind of failure; the file it was writing and the
        // system's reason come from here.
        const std::string why = status == arWriteError ? "the disk is full or the file too large"
                                                       : WhyCannotCreate(h.current_output);
        if (!why.empty()) {
            h.progress.Finish();
            Complain((status == arWriteError ? "cannot write " : "cannot create ") + h.current_output, why);
            return ExitCodeFor(status);
        }
    }
    if (status == arBadFormat && selected.status == arBadFormat) {
        return FinishCutShort(o, selected, "the entries before it were extracted, except any named above");
    }
    if (status == arDamagedEntries) {
        h.progress.Finish();
        const size_t n = selected.selection.entries.size();
        Complain(o.archive, std::to_string(h.left_out) + " of " + std::to_string(n) + (n == 1 ? " entry" : " entries") +
                                " damaged and left out; every other entry was extracted");
        return ExitCodeFor(status);
    }
    return Finish(o.archive, status);
}

// Removes the scratch directory of `x -c` and `p` however the command ends.
struct ScratchGuard {
    std::string path;
    ~ScratchGuard() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(PathOf(path), ignored);
    }
};

// `x -c`, `p`: the entries in archive order on standard output and nothing else there.
// The library writes files only, so each entry is extracted into a private scratch
// directory, checked as any extraction checks it, copied out when the next entry begins
// (or the run ends) and removed: what reaches standard output is always a whole, checked
// entry, and the scratch directory never holds more than one extracted file.
int ExtractToStdout(const Options& o) {
    HostContext& h = Host();
    h.adding = false;
    h.overwrite = Overwrite::kAlways;  // (the scratch directory starts empty)
    ArchiveGuard guard;
    SelectedEntries selected;
    if (const std::optional<int> failed = OpenAndSelect(o, true, selected)) return *failed;
    ScratchGuard scratch {MakeScratchDirectory()};
    if (scratch.path.empty()) return Finish(o.archive, arNoTempPath);
    h.to_stdout = true;
    SetOutputPath(scratch.path.c_str());
    arOptionsOn(arOptRestorePaths);  // entries of the same name in different directories stay apart
    SetRelativePath("");
    if (GetArchiveStatus() != arOk) return Finish(o.archive, GetArchiveStatus());
    h.progress.Enable(!o.quiet && StderrIsTerminal());
    WhenFree(o.archive, [&] { ExtractFileMaskListHid(&selected.masks.list); });
    const uint16_t status = GetArchiveStatus();
    (void)StreamPendingOutput();
    if (!h.stdout_failure.empty()) {
        h.progress.Finish();
        Complain(o.archive, h.stdout_failure);
        return kExitHostError;
    }
    if (status == arBadFormat && selected.status == arBadFormat) {
        return FinishCutShort(o, selected, "the entries before it were written out, except any named above");
    }
    return Finish(o.archive, status);
}

}  // namespace

int RunExtractWithPaths(const Options& options) {
    return options.to_stdout ? ExtractToStdout(options) : Extract(options, true);
}

int RunPrint(const Options& options) { return ExtractToStdout(options); }

int RunExtractFlat(const Options& options) { return Extract(options, false); }

int RunTest(const Options& o) {
    HostContext& h = Host();
    h.adding = false;
    h.checking = true;
    ArchiveGuard guard;
    SelectedEntries selected;
    if (const std::optional<int> failed = OpenAndSelect(o, true, selected)) return *failed;
    h.progress.Enable(!o.quiet && StderrIsTerminal());
    WhenFree(o.archive, [&] { TestFileMaskListHid(&selected.masks.list); });
    const uint16_t status = GetArchiveStatus();
    h.progress.Finish();
    const size_t checked = selected.selection.entries.size();
    const std::string entries = std::to_string(checked) + (checked == 1 ? " entry" : " entries");
    if (status == arOk) {
        if (!o.quiet) Print(stdout, "%s: %s checked, all whole\n", o.archive.c_str(), entries.c_str());
        return kExitOk;
    }
    if (status == arDamagedEntries) {
        Complain(o.archive, std::to_string(h.damaged) + " of " + entries + " damaged; the others are whole");
        return ExitCodeFor(status);
    }
    if (h.damaged > 0) Complain(o.archive, std::to_string(h.damaged) + " of " + entries + " damaged");
    if (status == arBadFormat && selected.status == arBadFormat) {
        return FinishCutShort(o, selected, "the entries before it were checked");
    }
    return Finish(o.archive, status);
}

}  // namespace hedgerow::cli
