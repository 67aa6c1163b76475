// platform.h -- everything that differs between Windows and POSIX: buffered files, the
// file system, attributes, file times and DOS stamps, one-path lookup, the temporary
// directory, the library's own module path, run-time loading and code-page conversion.
// Paths are API strings (UTF-8 outside Windows) in which backslash and slash both
// separate parts; the implementation turns backslashes into the native separator.
// All file I/O of the library goes through here, so that a test build can make any
// single call fail (see FaultPoint).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "hedgerow.h"

#if defined(_WIN32)
// The system headers keep an old alias of FreeLibrary under this name.
#  undef FreeModule
#endif

namespace hedgerow::platform {

// This system's programs are PE images (Windows), not ELF ones.
#if defined(_WIN32)
inline constexpr bool kPeExecutables = true;
#else
inline constexpr bool kPeExecutables = false;
#endif

// ---- Buffered files -------------------------------------------------------------

struct FileCloser {
    void operator()(std::FILE* f) const;
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// Opens with a runtime mode ("rb", "wb", "r+b"). Null on failure.
File OpenFile(const char* path, const char* mode);
// Opens for writing only when no file, directory or link of that name exists (exclusive
// create), readable and writable by its owner only (POSIX mode 0600; on Windows the
// directory's access rules). Null when the name is taken or the file cannot be made.
File CreateExclusive(const char* path);
// A nameless file for scratch data, open for reading and writing, in the temporary
// directory; the system removes it when it is closed (or the process ends), so none is
// ever left behind. Null when none can be made.
File OpenScratchFile();
// Bytes actually read or written; fewer than asked means end of file or failure.
size_t ReadBytes(std::FILE* f, void* buffer, size_t count);
size_t WriteBytes(std::FILE* f, const void* buffer, size_t count);
bool SeekTo(std::FILE* f, uint64_t offset);
int64_t Tell(std::FILE* f);                 // -1 on failure
int64_t Length(std::FILE* f);               // -1 on failure; keeps the position
bool TruncateAt(std::FILE* f, uint64_t length);
// Flushes the runtime buffer and asks the system to put the data on disk.
bool SyncToDisk(std::FILE* f);
// Closes and reports whether buffered data reached the file.
bool Close(File& f);

// ---- File system ---------------------------------------------------------------

bool PathExists(const char* path);          // file or directory, no access check
bool IsDirectory(const char* path);
bool IsSymbolicLink(const char* path);      // the path itself (not what it points to)
// Renames, replacing a file that already has the new name.
bool RenamePath(const char* from, const char* to);
enum class Renamed { kRenamed, kTaken, kFailed };
// Renames only when nothing has the new name (kTaken otherwise), in one step: a file
// that another program put there in the meantime is never replaced.
Renamed RenameToFreeName(const char* from, const char* to);
bool RemoveFile(const char* path);
bool MakeDirectory(const char* path);       // one level
// Files that will replace another one are made private (CreateExclusive, CreateFileAt)
// and get their final access rules while still open, before they take their name:
// Gives the open file the access permissions of the file `from` names (POSIX mode bits,
// and its owner and group when the process runs as root), so that a replacement is
// exactly as private as what it replaces. Nothing to do on Windows, where a new file
// inherits its directory's access rules. False when from cannot be read.
[[nodiscard]] bool CopyAccessMode(const char* from, std::FILE* to);
// Gives the open file the permissions a newly created file gets (POSIX: 0666 less the
// process's umask), without write permission when read_only is set. True on Windows.
[[nodiscard]] bool SetCreationMode(std::FILE* f, bool read_only = false);
// Keeps the attribute word with the open file as SetAttributes keeps it with a named one
// (the read-only bit aside, which is the permissions' business on POSIX:
// SetCreationMode). False when the file system cannot keep it.
[[nodiscard]] bool KeepAttributesOf(std::FILE* f, uint32_t attributes);
// Sets the last-write time of the open file (after flushing what is buffered), as
// SetModificationTime sets a named one.
[[nodiscard]] bool SetModificationTimeOf(std::FILE* f, int64_t seconds, uint32_t nanoseconds);
// Sets the Unix permission bits of the open file; true without a change on Windows.
[[nodiscard]] bool SetPermissionsOf(std::FILE* f, uint32_t mode);
// Lets whoever may read the open file also run it (POSIX; always true on Windows).
[[nodiscard]] bool MakeRunnable(std::FILE* f);
// The file a symbolic link (or junction) leads to, as a full path; false when path is no
// link or what it leads to cannot be found.
[[nodiscard]] bool LinkTarget(const char* path, std::string* target);

// ---- Directories by handle ---------------------------------------------------------

// Extraction below an output directory works on handles, not names: the directory is
// opened once, each part below it is opened relative to the handle of its parent and
// never through a symbolic link, files are created and renamed inside the handle of the
// directory that holds them. Another user who can write in the output tree may change
// its names as he likes while that goes on: no step resolves a name that he could turn
// into a way out of it. On Windows each handle also keeps its directory from being
// renamed or removed while it is open.
struct Directory {
    intptr_t value = -1;  // the descriptor (POSIX) or handle (Windows); -1 when closed
    Directory() = default;
    Directory(Directory&& other) noexcept;
    Directory& operator=(Directory&& other) noexcept;
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    ~Directory();
    bool IsOpen() const { return value != -1; }
};

// Opens an existing directory named by path (an empty path is the current directory).
// Links on the way are followed: the host chose the path.
[[nodiscard]] bool OpenDirectory(const char* path, Directory* out);

enum class EntryKind { kNone, kFile, kDirectory, kLink, kOther };
// What the one-part name is inside dir, a link seen as a link.
EntryKind KindAt(const Directory& dir, const char* name);

enum class Opened { kOpened, kLink, kNotDirectory, kFailed };
// Opens the directory called name (one part) inside parent, creating it first when it
// is missing and create is set; never through a symbolic link or junction (kLink).
Opened OpenChildDirectory(const Directory& parent, const char* name, bool create, Directory* out);

// Creates name inside dir exclusively, never through a link, private as CreateExclusive
// makes files. Null when the name is taken or the file cannot be made.
File CreateFileAt(const Directory& dir, const char* name);
// Renames from to to inside dir, replacing what to names (a link there is replaced, not
// followed; a read-only file is replaced too).
[[nodiscard]] bool RenameAt(const Directory& dir, const char* from, const char* to);
[[nodiscard]] bool RemoveAt(const Directory& dir, const char* name);
// Opens name inside dir for reading, never through a link. Null when it cannot.
File OpenFileAt(const Directory& dir, const char* name);
// Makes name inside dir a symbolic link to target (taken as text, not resolved). False
// when name is taken or no link can be made (Windows here makes none).
[[nodiscard]] bool MakeSymbolicLinkAt(const Directory& dir, const char* target, const char* name);
// Gives the open directory its last-write time and permission bits. False when either
// cannot be set (on Windows a directory keeps the time it was made at).
[[nodiscard]] bool SetTimeAndModeOf(const Directory& dir, int64_t seconds, uint32_t nanoseconds, uint32_t mode);

// ---- Advisory locks --------------------------------------------------------------

// A lock on a file that cooperating programs take before they read it (shared) or
// rewrite it (exclusive) and hold for the whole operation: flock on POSIX, LockFileEx
// on one byte far past the data on Windows (so that reads through other handles are not
// blocked). Released when the value goes.
struct FileLock {
    intptr_t value = -1;
    FileLock() = default;
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock();
};

enum class Locked {
    kLocked,    // the lock is held, on the file that path names now
    kBusy,      // another holder's lock stands in the way; try again later
    kNoFile,    // path names no file that can be opened
};
// One attempt, without waiting. A rewrite replaces the file under its name, so a lock
// won on a file that the name no longer leads to is dropped and taken again on the new one.
Locked TryLockFile(const char* path, bool exclusive, FileLock* lock);

// Lets the calling thread sleep for a while.
void PauseMilliseconds(uint32_t milliseconds);

// ---- Attributes ----------------------------------------------------------------

inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;

// 0 and the attribute word, or the platform's error code (the word untouched).
uint32_t GetAttributes(const char* path, uint32_t* attributes);
// 0, or the platform's error code.
uint32_t SetAttributes(const char* path, uint32_t attributes);

// ---- File times ----------------------------------------------------------------

// File times are 100-nanosecond units since 1 January 1601, UTC unless named local.
// A native handle for reading or setting a file's last-write time.
struct NativeFile {
    intptr_t value = -1;
    bool IsOpen() const { return value != -1; }
};
NativeFile OpenNativeForReading(const char* path);   // existing file, read sharing
NativeFile OpenNativeForWriting(const char* path);   // existing file, write sharing
// Closes the handle; true when the system reports success.
bool CloseNative(NativeFile& file);
bool GetLastWriteTime(NativeFile& file, uint64_t* utc_time);
bool SetLastWriteTime(NativeFile& file, uint64_t utc_time);

// The last-write time of a file as seconds since 1970 (UTC, signed) and nanoseconds, in
// the precision the file system keeps; false when the file cannot be looked at.
[[nodiscard]] bool GetModificationTime(const char* path, int64_t* seconds, uint32_t* nanoseconds);
// Sets it; false when the file system refuses (or cannot hold the time).
[[nodiscard]] bool SetModificationTime(const char* path, int64_t seconds, uint32_t nanoseconds);
// Unix permission bits (07777) of a file; Windows has none to give (false).
[[nodiscard]] bool GetPermissions(const char* path, uint32_t* mode);
// Sets them; true without a change where there are none (Windows).
[[nodiscard]] bool SetPermissions(const char* path, uint32_t mode);

// ---- Symbolic links ------------------------------------------------------------

// The target text of a symbolic link and the link's own last-write time; false when path
// is no symbolic link or cannot be read (always on Windows, whose links are not kept).
[[nodiscard]] bool ReadSymbolicLink(const char* path, std::string* target, int64_t* seconds, uint32_t* nanoseconds);
// Makes a symbolic link at path with the given target text (path must not exist);
// false when it cannot be made (always on Windows).
[[nodiscard]] bool MakeSymbolicLink(const char* target, const char* path);

// DOS stamps: time in the low 16 bits, date in the high 16 bits, local time.
bool UtcTimeToDosStamp(uint64_t utc_time, uint32_t* stamp);
bool DosStampToUtcTime(uint32_t stamp, uint64_t* utc_time);
// The current local time as a DOS stamp.
uint32_t CurrentDosStamp();

// ---- Lookup ----------------------------------------------------------------------

// Fills a find-data record for one path (no wildcards). False when nothing is there.
bool FindOne(const char* path, HedgerowFindData* record);

// ---- Environment -----------------------------------------------------------------

// The system's temporary directory, ending in a separator. Returns its length,
// 0 when there is none or it does not fit.
size_t TempDirectory(char* buffer, size_t capacity);
// The full path of the file the library itself was loaded from. Returns its
// length, 0 when unknown or when it does not fit.
size_t OwnModulePath(char* buffer, size_t capacity);
// The full path of the running program's file. Returns its length, 0 when unknown or
// when it does not fit.
size_t OwnProgramPath(char* buffer, size_t capacity);
// Whole seconds of the calendar clock, and milliseconds since the process started.
uint32_t CalendarSeconds();
uint32_t MillisecondsSinceStart();
// 32 bits from the system's random source (unpredictable to other processes; not for
// keys): where names or starting points must not be guessed.
uint32_t RandomNumber();

// ---- Randomness ------------------------------------------------------------------

// Fills buffer with n bytes from the operating system's random source (getrandom on
// Linux, BCryptGenRandom on Windows), for salts, keys and nonces. False when the source
// fails; the buffer is then not to be used.
[[nodiscard]] bool RandomBytes(void* buffer, size_t n);

// ---- Terminal ----------------------------------------------------------------------

// Asks for a secret at the terminal without echoing it: the prompt on standard error, the
// answer (without its line end, at most capacity - 1 bytes) from the terminal on standard
// input. False when standard input is no terminal or the answer is empty.
bool ReadSecret(const char* prompt, char* buffer, size_t capacity);

// The separator of native paths, for showing a stored name as the system writes paths.
char NativeSeparator();

// ---- Run-time loading ------------------------------------------------------------

void* LoadModule(const char* path);           // null on failure
void* FindSymbol(void* module, const char* name);
void FreeModule(void* module);

// ---- Code pages ------------------------------------------------------------------

// True when the API's strings are UTF-8 (every platform but Windows).
bool AnsiIsUtf8();
// API string to the OEM code page of stored names. A character the OEM page cannot
// hold becomes '_'. The result is cut at a character boundary so that it fits into
// capacity bytes with its terminator; returns false when it had to be cut.
bool AnsiToOem(const char* text, char* out, size_t capacity);
// Stored OEM name to an API string, under the same cutting rule.
bool OemToAnsi(const char* text, char* out, size_t capacity);
// API string to UTF-8 and back (the identity where the API's strings are UTF-8). A
// character the API's code page cannot hold becomes '?'.
std::string AnsiToUtf8(const char* text);
std::string Utf8ToAnsi(const char* text);
// A stored UTF-8 name (at most 255 bytes) to an API string in the caller's buffer, with
// no allocation: cut at a character boundary to fit (false then); a character the API's
// code page cannot hold becomes '?'.
bool Utf8ToAnsiName(const char* text, char* out, size_t capacity);

// ---- Fault injection (test builds) -----------------------------------------------

// Every call of the kinds below passes one numbered fault point. A test can make
// the n-th point of a kind fail (as the system call would fail). In normal builds
// nothing is armed and a point costs one comparison.
enum class FaultKind : int { kRead, kWrite, kCreate, kRename, kRemove, kAlloc, kCount };
struct FaultPlan {
    int64_t fail_at[static_cast<int>(FaultKind::kCount)] = {-1, -1, -1, -1, -1, -1};
    int64_t seen[static_cast<int>(FaultKind::kCount)] = {};
};
// Replaces the plan (counters restart); returns the previous one.
FaultPlan SetFaultPlan(const FaultPlan& plan);
const FaultPlan& CurrentFaultPlan();
// True when this point should fail.
bool FaultPoint(FaultKind kind);

}  // namespace hedgerow::platform
