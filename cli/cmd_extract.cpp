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

constexpr const char* kUnusedPassword = "unused";

int Extract(const Options& o, bool with_paths) {
    HostContext& h = Host();
    h.adding = false;
    h.overwrite = o.overwrite        ? Overwrite::kAlways
                  : o.skip_existing ? Overwrite::kNever
                  : o.update        ? Overwrite::kNewer
                                    : Overwrite::kAsk;
    std::string error;
    const std::string prefix = NormalisePrefix(o.prefix, error);
    if (!error.empty()) {
        Complain(o.prefix, error);
        return kExitUsage;
    }
    if (!ArchiveExists(o.archive)) return ExitCodeFor(arNotFound);
    ArchiveGuard guard;
    HidFileSettings settings = MakeSettings(kCipherIdea, "", "", false);
    bool locked = false;
    int rc = kExitOk;
    uint16_t status = OpenArchive(o.archive, settings, locked, rc);
    if (rc != kExitOk) return rc;
    if (status != arOk) return Finish(o.archive, status);

    MaskList masks;
    for (const std::string& mask : o.names) {
        if (!masks.Add(mask)) return Finish(mask, GetArchiveStatus());
    }
    // The selection tells whether a password is needed, and the sizes for the progress line.
    bool any_enciphered = false;
    {
        EntryList selected;
        BuildHidFileList(&selected.list, &masks.list);
        status = GetArchiveStatus();
        if (status != arOk) return Finish(o.archive, status);
        for (const HidFileEntry* e = selected.list.first; e; e = e->next) {
            any_enciphered = any_enciphered || e->enciphered != 0;
            h.progress.Expect(e->name, e->unpacked_size);
        }
    }
    // Without a data password the library asks for one even for entries that are not
    // enciphered; those take any.
    std::string data = kUnusedPassword;
    if (any_enciphered && (rc = ObtainPassword(h.data_source, false, data, h.data_prompted)) != kExitOk) return rc;
    h.data_password = data;
    h.data_attempts = 1;
    const std::string header = settings.header_password;
    settings = MakeSettings(kCipherIdea, data, header, false);
    WipeSecret(data);
    InitHidFile(o.archive.c_str(), &settings);
    if (GetArchiveStatus() != arOk) return Finish(o.archive, GetArchiveStatus());
    RegisterCallbacks();

    SetOutputPath(o.output_dir.c_str());
    if (with_paths) {
        arOptionsOn(arOptRestorePaths);
    } else {
        arOptionsOff(arOptRestorePaths);
    }
    SetRelativePath(prefix.c_str());
    if (GetArchiveStatus() != arOk) return Finish(o.archive, GetArchiveStatus());
    h.progress.Enable(!o.quiet && StderrIsTerminal());
    ExtractFileMaskListHid(&masks.list);
    return Finish(o.archive, GetArchiveStatus());
}

}  // namespace

int RunExtractWithPaths(const Options& options) { return Extract(options, true); }

int RunExtractFlat(const Options& options) { return Extract(options, false); }

}  // namespace hedgerow::cli
