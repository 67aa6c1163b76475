// cmd_manage.cpp -- `hedgerow d`, `lock`, `unlock` and `rekey`: rewrites of an archive
// that keep every entry's data as it is.
#include <cerrno>
#include <cstdio>

#include "commands.h"
#include "entry_text.h"
#include "host.h"
#include "status_text.h"
#include "stored_names.h"
#include "system.h"

namespace hedgerow::cli {

int RunDelete(const Options& o) {
    ArchiveGuard guard;
    const OpenedArchive opened = OpenExistingArchive(o.archive);
    if (opened.exit) return *opened.exit;
    // Exact names always: an empty list would delete everything.
    SelectedEntries selected;
    if (const std::optional<int> failed = SelectEntries(o.archive, o.names, true, false, selected)) return *failed;
    // The removed entries are listed once, after the archive is rewritten.
    Host().verbose = false;
    int error = 0;
    WhenFree(o.archive, [&] {
        errno = 0;
        DeleteFileMaskListHid(&selected.masks.list);
        error = errno;
    });
    const uint16_t status = GetArchiveStatus();
    if (status == arOk && !o.quiet) {
        for (const HidFileEntry* e : selected.selection.entries) Print(stdout, "deleted %s\n", DisplayName(e->name).c_str());
        std::fflush(stdout);
    }
    return FinishRewrite(o.archive, status, error, true);
}

int RunLock(const Options& o) {
    HostContext& h = Host();
    if (!ArchiveExists(o.archive)) return ExitCodeFor(arNotFound);
    ArchiveGuard guard;
    // Opening without a header password tells whether the headers are locked already.
    HidFileSettings settings = MakeSettings(kCipherIdea, "", "", false);
    const uint16_t status = OpenWithoutHeaderPassword(o.archive, settings);
    if (status == arBadPassword) {
        Complain(o.archive, "the headers are locked already; 'hedgerow rekey' changes their password");
        return kExitHostError;
    }
    if (status != arOk) return Finish(o.archive, status);
    HidFileInfo info {};
    info.size = sizeof info;
    GetHidFileInfo(&info);
    if (info.kind == HEDGEROW_KIND_STRONG) return Finish(o.archive, arAlwaysLocked);
    std::string header;
    if (const int rc = ObtainPassword(h.header_source, true, header, h.header_prompted); rc != kExitOk) return rc;
    settings = MakeSettings(kCipherIdea, "", header, false);
    WipeSecret(header);
    WhenFree(o.archive, [&] { InitHidFile(o.archive.c_str(), &settings); });
    if (GetArchiveStatus() == arOk) WhenFree(o.archive, [&] { LockArchive(o.archive.c_str()); });
    return Finish(o.archive, GetArchiveStatus());
}

int RunUnlock(const Options& o) {
    ArchiveGuard guard;
    const OpenedArchive opened = OpenExistingArchive(o.archive, Records::kNotRead);
    if (opened.exit) return *opened.exit;
    if (opened.strong) return Finish(o.archive, arAlwaysLocked);
    if (!opened.locked) {
        if (!o.quiet) Say(o.archive + ": the headers are not locked; nothing to do");
        return kExitOk;
    }
    WhenFree(o.archive, [&] { UnlockArchive(o.archive.c_str()); });
    return Finish(o.archive, GetArchiveStatus());
}

namespace {

// A strong archive's one password: the old one is proven by listing the archive (asked
// again where it can be) before the new one is asked for; the records are sealed anew,
// the data stays as it is.
int RekeyStrong(const Options& o) {
    EntryList entries;
    BuildHidFileList(&entries.list, nullptr);
    if (GetArchiveStatus() != arOk && GetArchiveStatus() != arNoEntries) return Finish(o.archive, GetArchiveStatus());
    const PasswordSource new_source {o.new_password_file, "HEDGEROW_NEW_PASSWORD", "New password",
                                     "--new-password-file"};
    std::string fresh;
    bool prompted = false;
    if (const int rc = ObtainPassword(new_source, true, fresh, prompted); rc != kExitOk) return rc;
    ChangeArchivePassword(o.archive.c_str(), fresh.c_str());
    WipeSecret(fresh);
    return Finish(o.archive, GetArchiveStatus());
}

}  // namespace

int RunRekey(const Options& o) {
    HostContext& h = Host();
    ArchiveGuard guard;
    const OpenedArchive opened = OpenExistingArchive(o.archive);
    if (opened.exit) return *opened.exit;
    if (opened.strong) return RekeyStrong(o);
    if (!opened.locked) {
        Complain(o.archive, "the headers are not locked; 'hedgerow lock' locks them");
        return kExitHostError;
    }
    const PasswordSource new_source {o.new_header_password_file, "HEDGEROW_NEW_HEADER_PASSWORD", "New header password",
                                     "--new-header-password-file"};
    std::string fresh;
    bool prompted = false;
    if (const int rc = ObtainPassword(new_source, true, fresh, prompted); rc != kExitOk) return rc;
    // The library enciphers with the settings' header password and deciphers with the
    // one its callback gives when the settings' one fails: the old password, proven above.
    h.header_answer = opened.settings.header_password;
    h.header_fixed = true;
    h.header_fixed_used = false;
    const HidFileSettings rekey = MakeSettings(kCipherIdea, "", fresh, false);
    WipeSecret(fresh);
    RegisterCallbacks();
    WhenFree(o.archive, [&] { InitHidFile(o.archive.c_str(), &rekey); });
    if (GetArchiveStatus() == arOk) WhenFree(o.archive, [&] { LockArchive(o.archive.c_str()); });
    h.header_fixed = false;
    WipeSecret(h.header_answer);
    return Finish(o.archive, GetArchiveStatus());
}

}  // namespace hedgerow::cli
