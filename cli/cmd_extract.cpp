// cmd_extract.cpp -- `hedgerow x` (with the stored directories) and `hedgerow e` (every
// file straight into the output directory).
#include "commands.h"
#include "entry_text.h"
#include "host.h"
#include "status_text.h"
#include "stored_names.h"
#include "system.h"

namespace hedgerow::cli {

namespace {

int Extract(const Options& o, bool with_paths) {
    HostContext& h = Host();
    h.adding = false;
    h.overwrite = o.overwrite        ? Overwrite::kAlways
                  : o.skip_existing ? Overwrite::kNever
                  : o.update        ? Overwrite::kNewer
                                    : Overwrite::kAsk;
    std::string prefix;
    if (!ReadPrefix(o.prefix, prefix)) return kExitUsage;
    ArchiveGuard guard;
    OpenedArchive opened = OpenExistingArchive(o.archive);
    if (opened.exit) return *opened.exit;

    // The selection tells whether a password is needed, and the sizes for the progress line.
    SelectedEntries selected;
    if (const std::optional<int> failed = SelectEntries(o.archive, o.names, false, false, selected)) return *failed;
    if (selected.status != arOk) return Finish(o.archive, selected.status);
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
    if (const std::optional<int> failed = ReopenWithDataPassword(o.archive, cipher, data, opened.settings)) {
        return *failed;
    }

    SetOutputPath(o.output_dir.c_str());
    if (with_paths) {
        arOptionsOn(arOptRestorePaths);
    } else {
        arOptionsOff(arOptRestorePaths);
    }
    SetRelativePath(prefix.c_str());
    if (GetArchiveStatus() != arOk) return Finish(o.archive, GetArchiveStatus());
    h.progress.Enable(!o.quiet && StderrIsTerminal());
    ExtractFileMaskListHid(&selected.masks.list);
    return Finish(o.archive, GetArchiveStatus());
}

}  // namespace

int RunExtractWithPaths(const Options& options) { return Extract(options, true); }

int RunExtractFlat(const Options& options) { return Extract(options, false); }

}  // namespace hedgerow::cli
