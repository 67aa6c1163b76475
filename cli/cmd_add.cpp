// cmd_add.cpp -- `hedgerow a`: creates an archive, or adds files to an existing one.
#include <cerrno>
#include <filesystem>
#include <set>

#include "commands.h"
#include "entry_text.h"
#include "host.h"
#include "status_text.h"
#include "stored_names.h"
#include "system.h"
#include "walk.h"

namespace hedgerow::cli {

namespace fs = std::filesystem;

namespace {

// Extracts the smallest enciphered entry into a scratch directory, which proves the data
// password (the data password callback asks again when the password came from the
// terminal). New entries enciphered with another password than the old ones would make
// an archive that no single password opens.
uint16_t CheckDataPassword(const std::string& archive, const HidFileSettings& opened, const std::string& entry,
                           std::string& password) {
    HostContext& h = Host();
    const std::string scratch = MakeScratchDirectory();
    if (scratch.empty()) return arNoTempPath;
    const HidFileSettings with_password = MakeSettings(opened.cipher_id, password, opened.header_password, false);
    WhenFree(archive, [&] { InitHidFile(archive.c_str(), &with_password); });
    uint16_t status = GetArchiveStatus();
    if (status == arOk) {
        RegisterCallbacks();
        h.data_password = password;
        h.data_attempts = 1;
        const bool saved_verbose = h.verbose;
        const bool saved_adding = h.adding;
        const Overwrite saved_overwrite = h.overwrite;
        h.verbose = false;
        h.adding = false;
        h.overwrite = Overwrite::kAlways;
        SetOutputPath(scratch.c_str());
        arOptionsOff(arOptRestorePaths);
        MaskList masks;
        if (masks.Add(entry)) {
            WhenFree(archive, [&] { ExtractFileMaskListHid(&masks.list); });
            status = GetArchiveStatus();
        }
        h.verbose = saved_verbose;
        h.adding = saved_adding;
        h.overwrite = saved_overwrite;
        password = h.data_password;
    }
    std::error_code ignored;
    fs::remove_all(PathOf(scratch), ignored);
    return status;
}

// Lists the archive after an addition and reports files whose stored name is not the
// one they were given: names with characters outside the archive's character set. The
// archive is opened again first: a new archive is only listed after opening it.
void ReportChangedNames(const std::string& archive, const HidFileSettings& settings,
                        const std::vector<InputFile>& files) {
    WhenFree(archive, [&] { InitHidFile(archive.c_str(), &settings); });
    if (GetArchiveStatus() != arOk) {
        SetArchiveStatus(arOk);
        return;
    }
    RegisterCallbacks();
    EntryList entries;
    WhenFree(archive, [&] { BuildHidFileList(&entries.list, nullptr); });
    std::set<std::string> stored;
    for (const HidFileEntry* e = entries.list.first; e; e = e->next) stored.insert(e->name);
    for (const InputFile& file : files) {
        if (stored.count(file.stored) == 0 && Host().unreadable.count(file.mask) == 0) {
            Complain(file.mask, "its name has characters that archives cannot hold, so it was stored under another name");
            ++Host().renamed;
        }
    }
    SetArchiveStatus(arOk);
}

// The disk-spanning selector of the self-extractor parameter block for a --split size.
uint32_t SplitSelector(const std::string& size) {
    if (size == "360k") return 1;
    if (size == "720k") return 2;
    if (size == "1200k") return 3;
    if (size == "1440k") return 4;
    return 0;
}

// While a self-extracting file is split, each further piece is announced; the pieces
// are files beside the first, so there is no disk to change.
int32_t HEDGEROW_CALL OnNextPiece(uint32_t, int32_t piece, const char* path) {
    if (Interrupted()) return 0;
    if (!Host().quiet) {
        Host().progress.Clear();
        Print(stdout, "piece %d: %s\n", static_cast<int>(piece), Shown(path ? path : "?").c_str());
    }
    return 1;
}

int32_t HEDGEROW_CALL OnSplitProgress(uint32_t, int32_t, int32_t) { return Interrupted() ? 0 : 1; }

// What the addition writes with once the archive is open or made.
struct Target {
    HidFileSettings settings {};
    std::string lock_password;  // locks an existing archive afterwards (--lock); empty: leave it
};

// An existing archive's entries as far as adding to it goes.
struct Survey {
    uint16_t status = arOk;
    int32_t cipher = kCipherIdea;  // the first entry's: new entries take it unless told otherwise
    std::string proof_entry;       // the smallest enciphered entry, to prove the data password with
    bool unknown_cipher = false;   // an entry names no known cipher: the archive is damaged
};

// Files to add replace entries unless told otherwise; the library asks about every one.
void AnswerReplaceQueries(const Options& o) {
    HostContext& h = Host();
    h.adding = true;
    h.overwrite = o.update ? Overwrite::kNewer : o.skip_existing ? Overwrite::kNever : Overwrite::kAlways;
}

// Nothing when the archive may be made or added to, else the exit code after saying why.
std::optional<int> RefuseArchivePath(const Options& o, bool exists) {
    std::error_code ignored;
    if (exists && fs::is_directory(PathOf(o.archive), ignored)) {
        Complain(o.archive, "is a directory, not an archive");
        return kExitHostError;
    }
    if (exists && o.sfx) {
        Complain(o.archive, "exists; --sfx makes a new self-extracting archive (add to it without --sfx)");
        return kExitUsage;
    }
    return std::nullopt;
}

// The files named on the command line, directories walked; what cannot be stored is
// counted as left out. An existing archive is not added to itself.
WalkResult GatherInputs(const Options& o, const std::string& prefix, bool exists) {
    const WalkRequest request {o.names,  o.input_dir, o.names_only, o.no_links,
                               prefix,   exists ? PathOf(o.archive) : fs::path()};
    WalkResult walk = WalkInputs(request);
    Host().left_out = walk.left_out;
    return walk;
}

// A legacy archive keeps entry sizes in 31 bits: larger files are named and left out
// before anything is written (a strong archive takes them).
void LeaveOutTooLarge(WalkResult& walk) {
    constexpr uint64_t kLargestLegacyEntry = 0x7FFFFFFF;
    std::erase_if(walk.files, [](const InputFile& file) {
        if (file.size <= kLargestLegacyEntry) return false;
        Complain(file.mask, "it is 2 GiB or larger, and legacy archives hold only smaller files; left out");
        ++Host().left_out;
        return true;
    });
}

int32_t CipherForNewEntries(const Options& o, int32_t otherwise) {
    return o.cipher.empty() ? otherwise : CipherIdFromName(o.cipher).value_or(kCipherChacha);
}

// What only legacy archives have: a header password of its own (--lock) and the
// self-extractor (--sfx). Nothing when the options fit the kind, else the exit code after
// saying why.
std::optional<int> RefuseLegacyOnlyOptions(const Options& o, bool strong) {
    if (!strong) return std::nullopt;
    if (o.sfx) {
        Complain(o.archive, "self-extracting archives are legacy archives: choose their cipher with -c idea, 3des, "
                            "des or none");
        return kExitUsage;
    }
    if (o.lock) {
        Complain(o.archive, "a strong archive keeps its names enciphered under its one password already; --lock "
                            "is for legacy archives (-c idea, 3des, des or none)");
        return kExitUsage;
    }
    return std::nullopt;
}

// A new archive: its passwords are asked for twice on the terminal, and --lock locks its
// headers from the first record on. Without -c it is a strong archive.
std::optional<int> CreateArchive(const Options& o, Target& target) {
    HostContext& h = Host();
    const int32_t cipher = CipherForNewEntries(o, kCipherChacha);
    if (const std::optional<int> refused = RefuseLegacyOnlyOptions(o, cipher == kCipherChacha)) return refused;
    std::string data;
    if (const int rc = ObtainDataPassword(cipher != kCipherNone, true, data); rc != kExitOk) return rc;
    std::string header;
    if (o.lock) {
        if (const int rc = ObtainPassword(h.header_source, true, header, h.header_prompted); rc != kExitOk) return rc;
    }
    HidFileSettings& settings = target.settings;
    settings = MakeSettings(cipher, data, header, o.lock);
    WipeSecret(data);
    WipeSecret(header);
    if (o.sfx) {
        settings.make_self_extractor = 1;
        const uint32_t selector = SplitSelector(o.split);
        for (int i = 0; i < 4; ++i) settings.sfx_parameters[8 + i] = static_cast<uint8_t>(selector >> (8 * i));
    }
    CreateHidFile(o.archive.c_str(), &settings);
    if (GetArchiveStatus() != arOk) return Finish(o.archive, GetArchiveStatus());
    RegisterCallbacks();
    if (o.sfx) {
        SetGetNextDiskProc(0, OnNextPiece);
        SetSetSfxProgressProc(0, OnSplitProgress);
    }
    return std::nullopt;
}

Survey SurveyEntries(const std::string& archive) {
    Survey survey;
    EntryList entries;
    WhenFree(archive, [&] { BuildHidFileList(&entries.list, nullptr); });
    survey.status = GetArchiveStatus();
    std::vector<const HidFileEntry*> all;
    for (const HidFileEntry* e = entries.list.first; e; e = e->next) all.push_back(e);
    survey.unknown_cipher = ReportUnknownCiphers(archive, all);
    if (entries.list.first) survey.cipher = entries.list.first->cipher_id;
    uint32_t smallest_size = 0;
    for (const HidFileEntry* e = entries.list.first; e; e = e->next) {
        // An empty entry proves nothing: its check holds for any password.
        if (e->enciphered && e->unpacked_size > 0 && (survey.proof_entry.empty() || e->packed_size < smallest_size)) {
            survey.proof_entry = e->name;
            smallest_size = e->packed_size;
        }
    }
    return survey;
}

// The data password for new entries; when the archive has enciphered entries, only
// the one they were enciphered with.
std::optional<int> ObtainProvenDataPassword(const Options& o, const Survey& survey, int32_t cipher,
                                            const HidFileSettings& opened, std::string& data) {
    const bool nothing_to_check = survey.proof_entry.empty();
    if (const int rc = ObtainDataPassword(cipher != kCipherNone, nothing_to_check, data); rc != kExitOk) return rc;
    if (cipher == kCipherNone || nothing_to_check) return std::nullopt;
    HidFileSettings settings = opened;
    settings.cipher_id = cipher;
    const uint16_t status = CheckDataPassword(o.archive, settings, survey.proof_entry, data);
    if (status != arOk) return Finish(o.archive, status);
    return std::nullopt;
}

// An existing archive: new entries keep to its cipher and data password unless told
// otherwise. Its headers are locked after the files are in, with a header password asked
// for before they go in.
std::optional<int> OpenForAdding(const Options& o, Target& target) {
    HostContext& h = Host();
    OpenedArchive opened = OpenArchive(o.archive);
    if (opened.exit) return opened.exit;
    if (const std::optional<int> refused = RefuseLegacyOnlyOptions(o, opened.strong)) return refused;
    if (opened.strong != (CipherForNewEntries(o, opened.strong ? kCipherChacha : kCipherIdea) == kCipherChacha)) {
        Complain(o.archive, opened.strong ? "is a strong archive: all its entries are enciphered with chacha (make a "
                                            "new archive for entries that older readers must open)"
                                          : "is a legacy archive: chacha entries live in strong archives only (make "
                                            "a new archive for them)");
        return kExitUsage;
    }
    const Survey survey = SurveyEntries(o.archive);
    if (survey.status != arOk && survey.status != arNoEntries) return Finish(o.archive, survey.status);
    // New entries would take over a cipher id that names no cipher: refused before a
    // password is asked for.
    if (survey.unknown_cipher) return Finish(o.archive, arBadFormat);
    if (opened.strong) {
        // The listing proved the password (asking again where it could).
        std::string data = ProvenStrongPassword();
        target.settings = opened.settings;
        return ReopenWithDataPassword(o.archive, kCipherChacha, data, target.settings);
    }
    const int32_t cipher = CipherForNewEntries(o, survey.cipher);
    std::string data;
    if (const std::optional<int> failed = ObtainProvenDataPassword(o, survey, cipher, opened.settings, data)) {
        return failed;
    }
    if (o.lock && !opened.locked) {
        if (const int rc = ObtainPassword(h.header_source, true, target.lock_password, h.header_prompted);
            rc != kExitOk) {
            return rc;
        }
    }
    target.settings = opened.settings;
    return ReopenWithDataPassword(o.archive, cipher, data, target.settings);
}

// Paths and options after opening: opening clears the stored-name prefix. Returns the
// status.
uint16_t SetPaths(const Options& o, const std::string& prefix) {
    if (o.names_only) {
        arOptionsOn(arOptNamesOnly);
        SetInputPath("");
    } else {
        // The library adds a separator only to paths longer than three characters (so
        // that a root such as "E:\" stays as it is); short ones get theirs here.
        std::string input_dir = o.input_dir;
        if (!input_dir.empty() && input_dir.size() <= 3 && input_dir.back() != '/') input_dir += '/';
        arOptionsOff(arOptNamesOnly);
        SetInputPath(input_dir.c_str());
    }
    SetRelativePath(prefix.c_str());
    // Empty directories are stored as such; symbolic links as links unless left out (the
    // walk leaves them out then).
    arOptionsOn(arOptStoreDirectories | arOptStoreLinks);
    return GetArchiveStatus();
}

// Hands the library the gathered files, each as a mask, and the progress line their
// sizes. Nothing when every file was taken, else the exit code after saying which was not.
std::optional<int> NameFiles(const WalkResult& walk, MaskList& masks) {
    for (const InputFile& file : walk.files) {
        if (!masks.Add(file.mask)) return Finish(file.mask, GetArchiveStatus());
        Host().progress.Expect(file.stored, file.size);
    }
    return std::nullopt;
}

// Compresses the named files into the archive (waiting for any other program that uses
// an existing one). Returns the status; *error is errno as the library left it.
uint16_t Compress(const Options& o, const MaskList& masks, bool exists, int* error) {
    HostContext& h = Host();
    h.progress.Enable(!o.quiet && StderrIsTerminal());
    const auto call = [&] {
        errno = 0;
        CompressFileMaskListHid(&masks.list);
        *error = errno;
    };
    if (exists) {
        WhenFree(o.archive, call);
    } else {
        call();
    }
    const uint16_t status = GetArchiveStatus();
    h.progress.Finish();
    if (o.sfx && status == arNotFound) {
        Complain(o.archive, "cannot be made: the self-extractor module HEDGE32.ZZL is not in the library's directory");
    }
    return status;
}

// Locks an existing archive's headers once the files are in. Returns the status.
uint16_t LockAfterAdding(const std::string& archive, Target& target) {
    const HidFileSettings lock_settings = MakeSettings(target.settings.cipher_id, "", target.lock_password, false);
    WipeSecret(target.lock_password);
    WhenFree(archive, [&] { InitHidFile(archive.c_str(), &lock_settings); });
    if (GetArchiveStatus() == arOk) WhenFree(archive, [&] { LockArchive(archive.c_str()); });
    return GetArchiveStatus();
}

}  // namespace

int RunAdd(const Options& o) {
    AnswerReplaceQueries(o);
    std::string prefix;
    if (!ReadPrefix(o.prefix, prefix)) return kExitUsage;
    std::error_code ignored;
    const bool exists = fs::exists(PathOf(o.archive), ignored);
    if (const std::optional<int> refused = RefuseArchivePath(o, exists)) return *refused;
    WalkResult walk = GatherInputs(o, prefix, exists);
    if (walk.files.empty()) return Finish(o.archive, arNothingToDo);

    ArchiveGuard guard;
    Target target;
    if (const std::optional<int> failed = exists ? OpenForAdding(o, target) : CreateArchive(o, target)) return *failed;
    if (target.settings.cipher_id != kCipherChacha) {
        LeaveOutTooLarge(walk);
        if (walk.files.empty()) return Finish(o.archive, arNothingToDo);
    }
    if (const uint16_t status = SetPaths(o, prefix); status != arOk) return Finish(o.archive, status);
    MaskList masks;
    if (const std::optional<int> refused = NameFiles(walk, masks)) return *refused;
    int error = 0;
    uint16_t status = Compress(o, masks, exists, &error);
    if (!exists && !o.sfx && status == arArchiveBusy && !Host().retried_as_update) {
        // Another program made the archive while this one was being made (it was left as
        // it is): the files go into it as into any existing archive.
        Complain(o.archive, "was made by another program in the meantime; adding to it");
        Host().retried_as_update = true;
        Host().progress = ProgressLine();
        return RunAdd(o);
    }
    if (status == arWriteError) return FinishRewrite(o.archive, status, error, exists);
    // (The pieces of a split file are read only once they are joined again.)
    if (status == arOk && o.split.empty()) ReportChangedNames(o.archive, target.settings, walk.files);
    if (status == arOk && !target.lock_password.empty()) status = LockAfterAdding(o.archive, target);
    return Finish(o.archive, status);
}

}  // namespace hedgerow::cli
