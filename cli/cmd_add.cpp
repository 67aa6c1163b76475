// cmd_add.cpp -- `hedgerow a`: creates an archive, or adds files to an existing one.
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

// Cipher-less archives need no password, but the library wants one all the same.
constexpr const char* kUnusedPassword = "unused";

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
    InitHidFile(archive.c_str(), &with_password);
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
            ExtractFileMaskListHid(&masks.list);
            status = GetArchiveStatus();
        }
        h.verbose = saved_verbose;
        h.adding = saved_adding;
        h.overwrite = saved_overwrite;
        password = h.data_password;
    }
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    return status;
}

// Lists the archive after an addition and reports files whose stored name is not the
// one they were given: names with characters outside the archive's character set. The
// archive is opened again first: a new archive is only listed after opening it.
void ReportChangedNames(const std::string& archive, const HidFileSettings& settings,
                        const std::vector<InputFile>& files) {
    InitHidFile(archive.c_str(), &settings);
    if (GetArchiveStatus() != arOk) {
        SetArchiveStatus(arOk);
        return;
    }
    RegisterCallbacks();
    EntryList entries;
    BuildHidFileList(&entries.list, nullptr);
    std::set<std::string> stored;
    for (const HidFileEntry* e = entries.list.first; e; e = e->next) stored.insert(e->name);
    for (const InputFile& file : files) {
        if (stored.count(file.stored) == 0) {
            Complain(file.mask, "its name has characters that archives cannot hold, so it was stored under another name");
            ++Host().left_out;
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
        std::printf("piece %d: %s\n", static_cast<int>(piece), path ? path : "?");
    }
    return 1;
}

int32_t HEDGEROW_CALL OnSplitProgress(uint32_t, int32_t, int32_t) { return Interrupted() ? 0 : 1; }

}  // namespace

int RunAdd(const Options& o) {
    HostContext& h = Host();
    h.adding = true;
    h.overwrite = o.update ? Overwrite::kNewer : o.skip_existing ? Overwrite::kNever : Overwrite::kAlways;
    std::string error;
    const std::string prefix = NormalisePrefix(o.prefix, error);
    if (!error.empty()) {
        Complain(o.prefix, error);
        return kExitUsage;
    }
    std::error_code fs_error;
    const bool exists = fs::exists(o.archive, fs_error);
    if (exists && fs::is_directory(o.archive, fs_error)) {
        Complain(o.archive, "is a directory, not an archive");
        return kExitHostError;
    }
    if (exists && o.sfx) {
        Complain(o.archive, "exists; --sfx makes a new self-extracting archive (add to it without --sfx)");
        return kExitUsage;
    }

    WalkRequest request {o.names, o.input_dir, o.names_only, prefix, exists ? fs::path(o.archive) : fs::path()};
    const WalkResult walk = WalkInputs(request);
    h.left_out = walk.left_out;
    if (walk.files.empty()) return Finish(o.archive, arNothingToDo);

    ArchiveGuard guard;
    HidFileSettings settings {};
    std::string header_for_lock;
    int rc = kExitOk;
    if (!exists) {
        const int32_t cipher = o.cipher.empty() ? kCipherIdea : CipherIdFromName(o.cipher).value_or(kCipherIdea);
        std::string data = kUnusedPassword;
        if (cipher != kCipherNone && (rc = ObtainPassword(h.data_source, true, data, h.data_prompted)) != kExitOk) return rc;
        std::string header;
        if (o.lock && (rc = ObtainPassword(h.header_source, true, header, h.header_prompted)) != kExitOk) return rc;
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
    } else {
        bool locked = false;
        uint16_t status = OpenArchive(o.archive, settings, locked, rc);
        if (rc != kExitOk) return rc;
        if (status != arOk) return Finish(o.archive, status);
        // New entries take the archive's cipher unless another is asked for.
        int32_t cipher = kCipherIdea;
        std::string smallest_enciphered;
        uint32_t smallest_size = 0;
        {
            EntryList entries;
            BuildHidFileList(&entries.list, nullptr);
            status = GetArchiveStatus();
            if (status != arOk && status != arNoEntries) return Finish(o.archive, status);
            if (entries.list.first) cipher = entries.list.first->cipher_id;
            for (const HidFileEntry* e = entries.list.first; e; e = e->next) {
                // An empty entry proves nothing: its check holds for any password.
                if (e->enciphered && e->unpacked_size > 0 && (smallest_enciphered.empty() || e->packed_size < smallest_size)) {
                    smallest_enciphered = e->name;
                    smallest_size = e->packed_size;
                }
            }
        }
        if (!o.cipher.empty()) cipher = CipherIdFromName(o.cipher).value_or(kCipherIdea);
        std::string data = kUnusedPassword;
        if (cipher != kCipherNone) {
            const bool nothing_to_check = smallest_enciphered.empty();
            if ((rc = ObtainPassword(h.data_source, nothing_to_check, data, h.data_prompted)) != kExitOk) return rc;
            if (!nothing_to_check) {
                settings.cipher_id = cipher;
                status = CheckDataPassword(o.archive, settings, smallest_enciphered, data);
                if (status != arOk) return Finish(o.archive, status);
            }
        }
        if (o.lock && !locked) {
            if ((rc = ObtainPassword(h.header_source, true, header_for_lock, h.header_prompted)) != kExitOk) return rc;
        }
        const std::string header = settings.header_password;
        settings = MakeSettings(cipher, data, header, false);
        WipeSecret(data);
        InitHidFile(o.archive.c_str(), &settings);
        if (GetArchiveStatus() != arOk) return Finish(o.archive, GetArchiveStatus());
        RegisterCallbacks();
    }

    // Paths and options after opening: opening clears the stored-name prefix.
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
    if (GetArchiveStatus() != arOk) return Finish(o.archive, GetArchiveStatus());
    MaskList masks;
    for (const InputFile& file : walk.files) {
        if (!masks.Add(file.mask)) return Finish(file.mask, GetArchiveStatus());
        h.progress.Expect(file.stored, file.size);
    }
    h.progress.Enable(!o.quiet && StderrIsTerminal());
    CompressFileMaskListHid(&masks.list);
    uint16_t status = GetArchiveStatus();
    h.progress.Finish();
    if (o.sfx && status == arNotFound) {
        Complain(o.archive, "cannot be made: the self-extractor module HEDGE32.ZZL is not in the library's directory");
    }
    // (The pieces of a split file are read only once they are joined again.)
    if (status == arOk && o.split.empty()) ReportChangedNames(o.archive, settings, walk.files);
    if (status == arOk && !header_for_lock.empty()) {
        const HidFileSettings lock_settings = MakeSettings(settings.cipher_id, "", header_for_lock, false);
        WipeSecret(header_for_lock);
        InitHidFile(o.archive.c_str(), &lock_settings);
        if (GetArchiveStatus() == arOk) LockArchive(o.archive.c_str());
        status = GetArchiveStatus();
    }
    return Finish(o.archive, status);
}

}  // namespace hedgerow::cli
