// sfx.cpp -- BuildSelfExtractor: the program from the module, the new archive behind it,
// and the splitting over disks.
#include "ops/sfx.h"

#include <cstring>
#include <string>

#include "archive/temp_names.h"
#include "common/byte_order.h"
#include "names/masks.h"
#include "ops/create.h"
#include "platform/platform.h"
#include "sfxblocks/sfx_blocks.h"
#include "sfxblocks/sfx_module.h"

namespace hedgerow::ops {

using namespace sfxblocks;  // the module's interface and the tail sizes

namespace {

struct ModuleGuard {
    void* handle = nullptr;
    ~ModuleGuard() {
        if (handle) platform::FreeModule(handle);
    }
    template <typename Fn>
    Fn Get(const char* name) const {
        return reinterpret_cast<Fn>(platform::FindSymbol(handle, name));
    }
};

// Removes the named file on every way out unless disarmed.
struct RemoveOnExit {
    const char* path;
    ~RemoveOnExit() {
        if (path && path[0]) (void)platform::RemoveFile(path);
    }
};

bool CopyName(char* destination, size_t capacity, const char* source) {
    if (std::strlen(source) >= capacity) return false;
    std::memcpy(destination, source, std::strlen(source) + 1);
    return true;
}

bool IsFloppyName(const char* name) {
    const char c = name[0];
    return c == 'A' || c == 'a' || c == 'B' || c == 'b';
}

// Hands the module the host's callbacks for the splitting; false when it lacks any of the
// functions splitting needs.
bool HandOverCallbacks(Context& cx, const ModuleGuard& module, ResizeFileFn* resize) {
    const auto next_disk = module.Get<SetNextDiskFn>("SetGetNextDiskProc");
    const auto ok_to_replace = module.Get<SetOkToReplaceFn>("SetOkToReplaceProc");
    *resize = module.Get<ResizeFileFn>("ResizeFile");
    const auto sfx_progress = module.Get<SetSfxProgressFn>("SetSetSfxProgressProc");
    const auto progress = module.Get<SetProgressFn>("SetSetProgressProc");
    const auto file_name = module.Get<SetFileNameFn>("SetSetFileNameProc");
    if (!next_disk || !ok_to_replace || !*resize || !sfx_progress || !progress || !file_name) {
        return Fail(cx.session, Status::kSfxEntryMissing);
    }
    const Callbacks& c = cx.session.callbacks;
    next_disk(c.next_disk.user, c.next_disk.proc);
    sfx_progress(c.sfx_progress.user, c.sfx_progress.proc);
    ok_to_replace(c.ok_to_replace.user, c.ok_to_replace.proc);
    progress(c.progress.user, c.progress.proc);
    file_name(c.file_name.user, c.file_name.proc);
    return true;
}

}  // namespace

void BuildSelfExtractor(Context& cx, const char* module_directory, const char* name, FileMaskList& masks,
                        const uint8_t* parameters) {
    const std::string module_path = std::string(module_directory) + kSfxModuleName;
    char archive_name[sizeof cx.archive.name];
    if (!CopyName(archive_name, sizeof archive_name, name) || module_path.size() >= archive::kTempNameCapacity) {
        Fail(cx.session, Status::kNameTooLong);
        return;
    }
    std::memcpy(cx.archive.name, archive_name, sizeof archive_name);

    const uint32_t selector = Load32Le(parameters + 8);
    char work[archive::kTempNameCapacity] = {};
    char floppy[256] = {};
    RemoveOnExit work_in_temp {nullptr};
    uint32_t disk_size = 0;
    if (selector == 0) {
        std::memcpy(work, archive_name, sizeof work);
    } else {
        // Only the four disk sizes are known; splitting into pieces of no size is refused
        // before anything is written.
        if (selector >= std::size(kDiskSizes)) {
            Fail(cx.session, Status::kUnsupported);
            return;
        }
        disk_size = kDiskSizes[selector];
        char temp_directory[270];
        if (platform::TempDirectory(temp_directory, sizeof temp_directory) == 0) {
            Fail(cx.session, Status::kNoTempPath);
            return;
        }
        if (IsFloppyName(archive_name)) {
            // A target on a removable disk: the whole file is built in the temporary
            // directory, under a name claimed there, and only its pieces go to the disk.
            if (!CopyName(floppy, sizeof floppy, archive_name)) {
                Fail(cx.session, Status::kNameTooLong);
                return;
            }
            if (!archive::MakeTempNameInTempDir(work, nullptr)) {
                Fail(cx.session, Status::kNoTempPath);
                return;
            }
            work_in_temp.path = work;
            std::memcpy(cx.archive.name, work, sizeof work);
        } else {
            std::memcpy(work, archive_name, sizeof work);
        }
    }

    ModuleGuard module;
    module.handle = platform::LoadModule(module_path.c_str());
    if (!module.handle) {
        Fail(cx.session, Status::kNotFound);
        return;
    }
    const auto get_head = module.Get<GetSfxHead2Fn>("GetSfxHead2");
    if (!get_head) {
        Fail(cx.session, Status::kSfxEntryMissing);
        return;
    }
    char program[archive::kTempNameCapacity] = {};
    ArchivePrefix prefix;
    prefix.program_path = program;
    prefix.tail = selector != 0 ? static_cast<uint32_t>(kSpanTailSize) : 0;
    const int32_t answer = get_head(work, 1, parameters);
    if (answer != 1) {
        Fail(cx.session, answer == 0 ? Status::kIoError : Status::kSfxFailed);
        return;
    }
    // The program file is ours alone (the archive name was free, or the work file was
    // claimed in the temporary directory): it goes when the build cannot go on.
    RemoveOnExit program_file {work};
    if (!archive::MakeTempName(work, program, nullptr)) {
        Fail(cx.session, Status::kIoError);
        return;
    }
    RemoveOnExit program_copy {program};  // gone once copied into the archive; on failure too
    if (!platform::RenamePath(work, program)) {
        Fail(cx.session, Status::kIoError);
        return;
    }
    program_file.path = nullptr;

    cx.archive.sfx_stub = true;
    {
        FileMaskList files {};
        CreateNewArchive(cx, masks, files, &prefix);
        names::DoneFileMaskList(files);
    }
    if (!StatusIsOk(cx.session)) return;
    names::DoneFileMaskList(masks);
    if (selector == 0) return;

    ResizeFileFn resize = nullptr;
    if (!HandOverCallbacks(cx, module, &resize)) return;
    if (floppy[0] != '\0') {
        // The module reports in the library's status codes.
        const auto result = static_cast<uint16_t>(resize(work, floppy, disk_size));
        if (result != 0) Fail(cx.session, static_cast<Status>(result));
        return;  // the work file in the temporary directory goes with work_in_temp
    }
    char whole[archive::kTempNameCapacity];
    if (!archive::MakeTempName(work, whole, nullptr)) {
        Fail(cx.session, Status::kIoError);
        return;
    }
    RemoveOnExit whole_file {whole};
    if (!platform::RenamePath(work, whole)) {
        Fail(cx.session, Status::kIoError);
        return;
    }
    const auto result = static_cast<uint16_t>(resize(whole, work, disk_size));
    if (result != 0) Fail(cx.session, static_cast<Status>(result));
}

void BuildSelfExtractor(Context& cx, const char* name, FileMaskList& masks, const uint8_t* parameters) {
    char own[archive::kTempNameCapacity];
    const size_t length = platform::OwnModulePath(own, sizeof own);
    if (length == 0) {
        Fail(cx.session, Status::kNotFound);
        return;
    }
    size_t cut = length;
    while (cut > 0 && own[cut - 1] != '/' && own[cut - 1] != '\\' && own[cut - 1] != ':') --cut;
    own[cut] = '\0';
    BuildSelfExtractor(cx, own, name, masks, parameters);
}

}  // namespace hedgerow::ops
