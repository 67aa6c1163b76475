// session.h -- what the host sets and reads, and what lives from one call to the next:
// status word, options word, the three paths and the eight callback slots. Every module
// reads these; only the control exports and the operations named by each field change
// them. Also the status word's discipline: the first failure stays.
#pragma once

#include <cstdint>

#include "common/status.h"
#include "hedgerow.h"

namespace hedgerow {

inline constexpr uint16_t kOptionsAtLoad = 0x0800;
inline constexpr uint16_t kLockedOptionBits = 0x8000;
inline constexpr uint16_t kOptRestorePaths = 0x0001;
inline constexpr uint16_t kOptNamesOnly = 0x0010;
inline constexpr uint16_t kOptStoreLinks = 0x0002;
inline constexpr uint16_t kOptStoreDirectories = 0x0004;
inline constexpr uint16_t kOptKeepSetId = 0x0008;
inline constexpr uint16_t kOptNoWait = 0x4000;

inline constexpr int kOutputPathCapacity = 256;   // bytes, terminator included
inline constexpr int kInputPathCapacity = 261;
inline constexpr int kRelativePathCapacity = 261;

template <typename Proc>
struct CallbackSlot {
    uint32_t user = 0;     // handed back as the first argument of every call
    Proc proc = nullptr;   // null: not registered, the caller's default applies
};

struct Callbacks {
    CallbackSlot<ProgressProc> progress;
    CallbackSlot<FileNameProc> file_name;
    CallbackSlot<SkipFileProc> skip_file;
    CallbackSlot<CryptKeyProc> crypt_key;
    CallbackSlot<HeadCryptKeyProc> head_crypt_key;
    CallbackSlot<OkToReplaceProc> ok_to_replace;
    CallbackSlot<GetNextDiskProc> next_disk;
    CallbackSlot<SfxProgressProc> sfx_progress;
};

struct Session {
    uint16_t status = 0;                        // first failure since an entry point cleared it; 0 = ok
    uint16_t options = kOptionsAtLoad;          // arOpt* bits
    char output_path[kOutputPathCapacity] = {};     // ends in a backslash or colon unless empty
    char input_path[kInputPathCapacity] = {};       // ends in a backslash when longer than 3
    char relative_path[kRelativePathCapacity] = {}; // stored-name prefix
    // A path the host gave that did not fit: operations that would use it stop with
    // kNameTooLong instead of silently working somewhere else.
    bool output_path_refused = false;
    bool input_path_refused = false;
    bool relative_path_refused = false;
    Callbacks callbacks;
};

// The status word keeps the first failure: a later one (a cancel after a short write, a
// cleanup that fails after the step that failed) never hides it. Records code unless a
// failure is already there, and returns false, so that a step can end with
// `return Fail(...)`.
inline bool Fail(uint16_t& status, Status code) {
    if (status == 0) status = static_cast<uint16_t>(code);
    return false;
}
inline bool Fail(Session& session, Status code) { return Fail(session.status, code); }

inline bool StatusIsOk(const Session& session) { return session.status == 0; }
inline bool StatusIs(const Session& session, Status code) { return session.status == static_cast<uint16_t>(code); }

// Only an operation's entry point clears the word, as it begins; nothing below it does.
inline void ClearStatus(Session& session) { session.status = 0; }

// The callback procedures that opening an archive clears: all but the header password.
inline void ClearCallbackProcedures(Session& session) {
    Callbacks& c = session.callbacks;
    c.progress.proc = nullptr;
    c.file_name.proc = nullptr;
    c.skip_file.proc = nullptr;
    c.crypt_key.proc = nullptr;
    c.ok_to_replace.proc = nullptr;
    c.next_disk.proc = nullptr;
    c.sfx_progress.proc = nullptr;
}

inline bool OptionOn(const Session& session, uint16_t bit) { return (session.options & bit) == bit; }

}  // namespace hedgerow
