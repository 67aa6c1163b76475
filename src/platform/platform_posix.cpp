// platform_posix.cpp -- the platform layer on Linux and other POSIX systems.
// API strings are UTF-8; stored names use code page 850. The read-only attribute is
// the write permission bits; the whole attribute word is also kept in an extended
// attribute where the file system allows. Time stamps are converted through the C
// library's local time, so DOS stamps carry the daylight-saving rule of their date.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#if defined(__linux__)
#  include <sys/syscall.h>
#endif
#include <sys/xattr.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

namespace hedgerow::platform {

namespace {

// A path as the system takes it: backslashes become slashes. Kept on the stack, so that
// the clean-up paths (removing a temporary file in a destructor) never allocate; a path
// longer than the system allows becomes empty, which every call then refuses.
struct NativeText {
    char text[PATH_MAX];
    const char* c_str() const { return text; }
    bool empty() const { return text[0] == '\0'; }
};

NativeText NativePath(const char* path) {
    NativeText native;
    size_t i = 0;
    for (; path && path[i] != '\0'; ++i) {
        if (i + 1 >= sizeof native.text) {
            native.text[0] = '\0';
            return native;
        }
        native.text[i] = path[i] == '\\' ? '/' : path[i];
    }
    native.text[i] = '\0';
    return native;
}

constexpr const char* kAttributeXattr = "user.hedgerow.attributes";

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDifference = 116444736000000000LL;

// Seconds outside what a file time holds as a signed count (before 1601, after the year
// 30828) end at its first or last value: a file system may hold any 64-bit second, and a
// hostile archive may have set one.
uint64_t TimespecToFileTime(const struct timespec& ts) {
    constexpr int64_t kFirstSecond = -(kEpochDifference / 10000000LL);  // 1601-01-01 00:00:00
    constexpr int64_t kLastSecond = (INT64_MAX - kEpochDifference) / 10000000LL - 1;
    const int64_t seconds = ts.tv_sec < kFirstSecond  ? kFirstSecond
                            : ts.tv_sec > kLastSecond ? kLastSecond
                                                      : static_cast<int64_t>(ts.tv_sec);
    return static_cast<uint64_t>(seconds * 10000000LL + kEpochDifference + ts.tv_nsec / 100);
}

struct timespec FileTimeToTimespec(uint64_t file_time) {
    const int64_t since_1970 = static_cast<int64_t>(file_time) - kEpochDifference;
    int64_t seconds = since_1970 / 10000000LL;
    int64_t rest = since_1970 % 10000000LL;
    if (rest < 0) {
        rest += 10000000LL;
        seconds -= 1;
    }
    struct timespec ts {};
    ts.tv_sec = static_cast<time_t>(seconds);
    ts.tv_nsec = static_cast<long>(rest * 100);
    return ts;
}

bool TmToDosStamp(const struct tm& t, uint32_t* stamp) {
    const int year = t.tm_year + 1900;
    if (year < 1980 || year > 2107) return false;
    const uint32_t date = (static_cast<uint32_t>(year - 1980) << 9) | (static_cast<uint32_t>(t.tm_mon + 1) << 5) |
                          static_cast<uint32_t>(t.tm_mday);
    const uint32_t time = (static_cast<uint32_t>(t.tm_hour) << 11) | (static_cast<uint32_t>(t.tm_min) << 5) |
                          static_cast<uint32_t>(t.tm_sec / 2);
    *stamp = (date << 16) | time;
    return true;
}

// Code page 850, bytes 0x80 to 0xFF, as Unicode code points.
constexpr std::array<uint16_t, 128> kCp850High = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // 80
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // 88
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // 90
    0x00FF, 0x00D6, 0x00DC, 0x00F8, 0x00A3, 0x00D8, 0x00D7, 0x0192,  // 98
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // A0
    0x00BF, 0x00AE, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // A8
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x00C1, 0x00C2, 0x00C0,  // B0
    0x00A9, 0x2563, 0x2551, 0x2557, 0x255D, 0x00A2, 0x00A5, 0x2510,  // B8
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x00E3, 0x00C3,  // C0
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x00A4,  // C8
    0x00F0, 0x00D0, 0x00CA, 0x00CB, 0x00C8, 0x0131, 0x00CD, 0x00CE,  // D0
    0x00CF, 0x2518, 0x250C, 0x2588, 0x2584, 0x00A6, 0x00CC, 0x2580,  // D8
    0x00D3, 0x00DF, 0x00D4, 0x00D2, 0x00F5, 0x00D5, 0x00B5, 0x00FE,  // E0
    0x00DE, 0x00DA, 0x00DB, 0x00D9, 0x00FD, 0x00DD, 0x00AF, 0x00B4,  // E8
    0x00AD, 0x00B1, 0x2017, 0x00BE, 0x00B6, 0x00A7, 0x00F7, 0x00B8,  // F0
    0x00B0, 0x00A8, 0x00B7, 0x00B9, 0x00B3, 0x00B2, 0x25A0, 0x00A0,  // F8
};

char OemByteFor(uint32_t code_point) {
    if (code_point < 0x80) return static_cast<char>(code_point);
    for (size_t i = 0; i < kCp850High.size(); ++i) {
        if (kCp850High[i] == code_point) return static_cast<char>(0x80 + i);
    }
    return '_';
}

// Decodes one UTF-8 character at text; returns its length (at least 1) and the code
// point, or 0xFFFFFFFF for a malformed sequence (which then counts as one byte).
size_t DecodeUtf8(const unsigned char* text, uint32_t* code_point) {
    const unsigned char lead = text[0];
    size_t length = 0;
    uint32_t value = 0;
    if (lead < 0x80) {
        *code_point = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2;
        value = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        value = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        value = lead & 0x07;
    } else {
        *code_point = 0xFFFFFFFF;
        return 1;
    }
    for (size_t i = 1; i < length; ++i) {
        if ((text[i] & 0xC0) != 0x80) {
            *code_point = 0xFFFFFFFF;
            return 1;
        }
        value = (value << 6) | (text[i] & 0x3F);
    }
    *code_point = value;
    return length;
}

size_t EncodeUtf8(uint32_t code_point, char* out) {
    if (code_point < 0x80) {
        out[0] = static_cast<char>(code_point);
        return 1;
    }
    if (code_point < 0x800) {
        out[0] = static_cast<char>(0xC0 | (code_point >> 6));
        out[1] = static_cast<char>(0x80 | (code_point & 0x3F));
        return 2;
    }
    out[0] = static_cast<char>(0xE0 | (code_point >> 12));
    out[1] = static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (code_point & 0x3F));
    return 3;
}

struct timespec ProcessStart() {
    static const struct timespec start = [] {
        struct timespec ts {};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return ts;
    }();
    return start;
}

#ifndef HEDGEROW_COMPACT
// Taken at load so that the elapsed time counts from the start of the process. (The
// compact build, whose program never asks, counts from the first question.)
[[maybe_unused]] const struct timespec kStartAtLoad = ProcessStart();
#endif

// Looking at and opening names relative to a directory, and the permissions and times of
// open files. The compact build (the self-extractor program, linked statically against
// musl for x86-64) asks the kernel directly: the C library's wrappers carry fallbacks for
// old kernels and for descriptors opened by path that cost the program bytes it has not
// got (it must end before the archive's marker, at most 61,440 bytes in). The kernel's
// calls and its struct stat are taken as they are on x86-64 Linux only; everywhere else
// the C library's functions serve.
#if defined(HEDGEROW_COMPACT) && defined(__linux__) && defined(__x86_64__)
int StatAt(int at, const char* name, struct stat* st, int flags) {
    return static_cast<int>(::syscall(SYS_newfstatat, at, name, st, flags));
}
int OpenAt(int at, const char* name, int flags, mode_t mode = 0) {
    return static_cast<int>(::syscall(SYS_openat, at, name, flags, mode));
}
bool ChangeModeOf(int fd, mode_t mode) { return ::syscall(SYS_fchmod, fd, mode) == 0; }
bool SetTimesOf(int fd, const struct timespec times[2]) {
    return ::syscall(SYS_utimensat, fd, nullptr, times, 0) == 0;
}
#else
int StatAt(int at, const char* name, struct stat* st, int flags) { return ::fstatat(at, name, st, flags); }
int OpenAt(int at, const char* name, int flags, mode_t mode = 0) { return ::openat(at, name, flags, mode); }
bool ChangeModeOf(int fd, mode_t mode) { return ::fchmod(fd, mode) == 0; }
bool SetTimesOf(int fd, const struct timespec times[2]) { return ::futimens(fd, times) == 0; }
#endif

// Creates name (relative to the directory at, or AT_FDCWD) for writing when nothing of
// that name exists, a link included, dangling or not: private (0600) from the start.
File CreateNewAt(int at, const char* name) {
    const int fd = OpenAt(at, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return File();
    std::FILE* f = ::fdopen(fd, "wb");
    if (!f) {
        ::close(fd);
        ::unlinkat(at, name, 0);
        return File();
    }
    return File(f);
}

// The times to set for a new last-write time (the access time left as it is); false when
// the system cannot hold it.
bool ModificationTimes(int64_t seconds, uint32_t nanoseconds, struct timespec times[2]) {
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = static_cast<time_t>(seconds);
    times[1].tv_nsec = static_cast<long>(nanoseconds);
    return static_cast<int64_t>(times[1].tv_sec) == seconds && nanoseconds < 1000000000u;
}

// The process's file creation mask. /proc tells it without changing it; umask() can only
// read it by setting it, and another thread creating a file in that moment would get the
// wrong mode, so that is the fallback for systems without /proc.
mode_t CreationMask() {
#ifdef HEDGEROW_COMPACT
    // The self-extracting program has one thread, and no byte to spare.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
#else
    std::FILE* status = std::fopen("/proc/self/status", "re");
    if (status) {
        char line[128];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status)) found = std::sscanf(line, "Umask: %o", &mask) == 1;
        std::fclose(status);
        if (found) return static_cast<mode_t>(mask & 0777);
    }
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
#endif
}

}  // namespace

// ---- Buffered files -------------------------------------------------------------

File OpenFile(const char* path, const char* mode) {
    const bool writes = std::strchr(mode, 'w') || std::strchr(mode, 'a') || std::strchr(mode, '+');
    if (writes && FaultPoint(FaultKind::kCreate)) return File();
    const NativeText native = NativePath(path);
    if (native.empty()) return File();
    return File(std::fopen(native.c_str(), mode));
}

File CreateExclusive(const char* path) {
    if (FaultPoint(FaultKind::kCreate)) return File();
    const NativeText native = NativePath(path);
    if (native.empty()) return File();
    return CreateNewAt(AT_FDCWD, native.c_str());
}

File OpenScratchFile() {
    if (FaultPoint(FaultKind::kCreate)) return File();
    char directory[4096];
    if (TempDirectory(directory, sizeof directory) == 0) return File();
    std::string name = std::string(directory) + "hedgerow-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return File();
    // Unlinked at once: the data lives as long as the descriptor.
    ::unlink(name.c_str());
    std::FILE* f = ::fdopen(fd, "w+b");
    if (!f) {
        ::close(fd);
        return File();
    }
    return File(f);
}

bool SeekTo(std::FILE* f, uint64_t offset) {
    if (!f || offset > static_cast<uint64_t>(INT64_MAX)) return false;
    return ::fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
}

int64_t Tell(std::FILE* f) {
    if (!f) return -1;
    return static_cast<int64_t>(::ftello(f));
}

int64_t Length(std::FILE* f) {
    if (!f) return -1;
    const off_t here = ::ftello(f);
    if (here < 0 || ::fseeko(f, 0, SEEK_END) != 0) return -1;
    const off_t end = ::ftello(f);
    if (::fseeko(f, here, SEEK_SET) != 0) return -1;
    return static_cast<int64_t>(end);
}

bool TruncateAt(std::FILE* f, uint64_t length) {
    if (!f || std::fflush(f) != 0) return false;
    return ::ftruncate(::fileno(f), static_cast<off_t>(length)) == 0;
}

bool SyncToDisk(std::FILE* f) {
    if (!f || std::fflush(f) != 0) return false;
    return ::fsync(::fileno(f)) == 0;
}

// ---- File system ---------------------------------------------------------------

bool PathExists(const char* path) {
    if (!path || !*path) return false;
    struct stat st {};
    return StatAt(AT_FDCWD, NativePath(path).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool IsDirectory(const char* path) {
    struct stat st {};
    return path && *path && StatAt(AT_FDCWD, NativePath(path).c_str(), &st, 0) == 0 && S_ISDIR(st.st_mode);
}

bool IsSymbolicLink(const char* path) {
    struct stat st {};
    return path && *path && StatAt(AT_FDCWD, NativePath(path).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
}

bool RenamePath(const char* from, const char* to) {
    if (FaultPoint(FaultKind::kRename)) return false;
    return std::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

Renamed RenameToFreeName(const char* from, const char* to) {
    if (FaultPoint(FaultKind::kRename)) return Renamed::kFailed;
    const NativeText source = NativePath(from);
    const NativeText target = NativePath(to);
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return Renamed::kRenamed;
    if (errno == EEXIST) return Renamed::kTaken;
    if (errno != EINVAL && errno != ENOSYS) return Renamed::kFailed;
#endif
    // A C library or file system without that kind of rename: a hard link is made only
    // under a free name as well.
    if (::link(source.c_str(), target.c_str()) != 0) return errno == EEXIST ? Renamed::kTaken : Renamed::kFailed;
    (void)::unlink(source.c_str());
    return Renamed::kRenamed;
}

bool RemoveFile(const char* path) {
    if (FaultPoint(FaultKind::kRemove)) return false;
    return ::unlink(NativePath(path).c_str()) == 0;
}

bool MakeDirectory(const char* path) {
    if (FaultPoint(FaultKind::kCreate)) return false;
    return ::mkdir(NativePath(path).c_str(), 0777) == 0;
}

bool CopyAccessMode(const char* from, std::FILE* to) {
    struct stat info {};
    if (!to || StatAt(AT_FDCWD, NativePath(from).c_str(), &info, 0) != 0) return false;
    const int fd = ::fileno(to);
    // Owner first: a change of owner clears the set-user and set-group bits.
    if (::geteuid() == 0 && ::fchown(fd, info.st_uid, info.st_gid) != 0) return false;
    return ChangeModeOf(fd, info.st_mode & 07777);
}

bool SetCreationMode(std::FILE* f, bool read_only) {
    if (!f) return false;
    mode_t mode = 0666 & ~CreationMask();
    if (read_only) mode &= static_cast<mode_t>(~0222);
    return ChangeModeOf(::fileno(f), mode);
}

bool KeepAttributesOf(std::FILE* f, uint32_t attributes) {
    if (!f) return false;
    const unsigned char stored[4] = {static_cast<unsigned char>(attributes), static_cast<unsigned char>(attributes >> 8),
                                     static_cast<unsigned char>(attributes >> 16),
                                     static_cast<unsigned char>(attributes >> 24)};
    return ::fsetxattr(::fileno(f), kAttributeXattr, stored, sizeof stored, 0) == 0;
}

bool SetModificationTimeOf(std::FILE* f, int64_t seconds, uint32_t nanoseconds) {
    struct timespec times[2];
    if (!f || !ModificationTimes(seconds, nanoseconds, times) || std::fflush(f) != 0) return false;
    return SetTimesOf(::fileno(f), times);
}

bool SetPermissionsOf(std::FILE* f, uint32_t mode) {
    return f && ChangeModeOf(::fileno(f), static_cast<mode_t>(mode & 07777));
}

bool MakeRunnable(std::FILE* f) {
    struct stat info {};
    if (!f || StatAt(::fileno(f), "", &info, AT_EMPTY_PATH) != 0) return false;
    const mode_t readers = info.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
    return ChangeModeOf(::fileno(f), (info.st_mode & 07777) | (readers >> 2));
}

bool LinkTarget(const char* path, std::string* target) {
    if (!IsSymbolicLink(path)) return false;
    char* resolved = ::realpath(NativePath(path).c_str(), nullptr);
    if (!resolved) return false;
    *target = resolved;
    std::free(resolved);
    return true;
}

// ---- Directories by handle ---------------------------------------------------------

Directory::Directory(Directory&& other) noexcept : value(other.value) { other.value = -1; }

Directory& Directory::operator=(Directory&& other) noexcept {
    if (this != &other) {
        if (value != -1) ::close(static_cast<int>(value));
        value = other.value;
        other.value = -1;
    }
    return *this;
}

Directory::~Directory() {
    if (value != -1) ::close(static_cast<int>(value));
}

bool OpenDirectory(const char* path, Directory* out) {
    const NativeText native = NativePath(path && *path ? path : ".");
    if (native.empty()) return false;
    const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    Directory opened;
    opened.value = fd;
    *out = std::move(opened);
    return true;
}

EntryKind KindAt(const Directory& dir, const char* name) {
    struct stat st {};
    if (!dir.IsOpen() || StatAt(static_cast<int>(dir.value), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return EntryKind::kNone;
    }
    if (S_ISLNK(st.st_mode)) return EntryKind::kLink;
    if (S_ISDIR(st.st_mode)) return EntryKind::kDirectory;
    return S_ISREG(st.st_mode) ? EntryKind::kFile : EntryKind::kOther;
}

Opened OpenChildDirectory(const Directory& parent, const char* name, bool create, Directory* out) {
    if (!parent.IsOpen()) return Opened::kFailed;
    const int at = static_cast<int>(parent.value);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd = OpenAt(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            Directory opened;
            opened.value = fd;
            *out = std::move(opened);
            return Opened::kOpened;
        }
        // What stands in the way, seen without following it.
        switch (KindAt(parent, name)) {
            case EntryKind::kLink: return Opened::kLink;
            case EntryKind::kFile:
            case EntryKind::kOther: return Opened::kNotDirectory;
            case EntryKind::kDirectory: return Opened::kFailed;  // there, but not ours to open
            case EntryKind::kNone: break;
        }
        if (!create || attempt > 0 || FaultPoint(FaultKind::kCreate)) return Opened::kFailed;
        // Made or found by another in the meantime: the open that follows tells which.
        if (::mkdirat(at, name, 0777) != 0 && errno != EEXIST) return Opened::kFailed;
    }
    return Opened::kFailed;
}

File CreateFileAt(const Directory& dir, const char* name) {
    if (!dir.IsOpen() || FaultPoint(FaultKind::kCreate)) return File();
    return CreateNewAt(static_cast<int>(dir.value), name);
}

bool RenameAt(const Directory& dir, const char* from, const char* to) {
    if (!dir.IsOpen() || FaultPoint(FaultKind::kRename)) return false;
    const int at = static_cast<int>(dir.value);
    return ::renameat(at, from, at, to) == 0;
}

bool RemoveAt(const Directory& dir, const char* name) {
    if (!dir.IsOpen() || FaultPoint(FaultKind::kRemove)) return false;
    return ::unlinkat(static_cast<int>(dir.value), name, 0) == 0;
}

File OpenFileAt(const Directory& dir, const char* name) {
    if (!dir.IsOpen()) return File();
    const int fd = OpenAt(static_cast<int>(dir.value), name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return File();
    std::FILE* f = ::fdopen(fd, "rb");
    if (!f) {
        ::close(fd);
        return File();
    }
    return File(f);
}

bool MakeSymbolicLinkAt(const Directory& dir, const char* target, const char* name) {
    return dir.IsOpen() && ::symlinkat(target, static_cast<int>(dir.value), name) == 0;
}

bool SetTimeAndModeOf(const Directory& dir, int64_t seconds, uint32_t nanoseconds, uint32_t mode) {
    if (!dir.IsOpen()) return false;
    const int fd = static_cast<int>(dir.value);
    const bool moded = ChangeModeOf(fd, static_cast<mode_t>(mode & 07777));
    struct timespec times[2];
    return ModificationTimes(seconds, nanoseconds, times) && SetTimesOf(fd, times) && moded;
}

// ---- Advisory locks --------------------------------------------------------------

FileLock::FileLock(FileLock&& other) noexcept : value(other.value) { other.value = -1; }

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        if (value != -1) ::close(static_cast<int>(value));  // closing releases the lock
        value = other.value;
        other.value = -1;
    }
    return *this;
}

FileLock::~FileLock() {
    if (value != -1) ::close(static_cast<int>(value));
}

Locked TryLockFile(const char* path, bool exclusive, FileLock* lock) {
    const NativeText native = NativePath(path);
    if (native.empty()) return Locked::kNoFile;
    for (;;) {
        FileLock held;
        held.value = ::open(native.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (held.value < 0) return Locked::kNoFile;
        const int fd = static_cast<int>(held.value);
        if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK || errno == EINTR) return Locked::kBusy;
            *lock = FileLock();  // a file system without locks: there is nothing to wait for
            return Locked::kLocked;
        }
        struct stat locked {};
        struct stat named {};
        if (StatAt(fd, "", &locked, AT_EMPTY_PATH) != 0) return Locked::kNoFile;
        if (StatAt(AT_FDCWD, native.c_str(), &named, 0) == 0 && named.st_dev == locked.st_dev && named.st_ino == locked.st_ino) {
            *lock = std::move(held);
            return Locked::kLocked;
        }
        // A writer renamed its new file over the one locked: lock that one instead.
    }
}

void PauseMilliseconds(uint32_t milliseconds) {
    struct timespec pause {};
    pause.tv_sec = static_cast<time_t>(milliseconds / 1000);
    pause.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

// ---- Attributes ----------------------------------------------------------------

uint32_t GetAttributes(const char* path, uint32_t* attributes) {
    const NativeText native = NativePath(path);
    struct stat st {};
    if (native.empty()) return ENOENT;
    if (StatAt(AT_FDCWD, native.c_str(), &st, 0) != 0) return static_cast<uint32_t>(errno ? errno : EIO);
    uint32_t word = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
    unsigned char stored[4];
    if (::getxattr(native.c_str(), kAttributeXattr, stored, sizeof stored) == 4) {
        word = static_cast<uint32_t>(stored[0]) | (static_cast<uint32_t>(stored[1]) << 8) |
               (static_cast<uint32_t>(stored[2]) << 16) | (static_cast<uint32_t>(stored[3]) << 24);
    }
    // The permission bits and the file type are the truth; the stored word adds the rest.
    word &= ~(kAttrReadOnly | kAttrDirectory);
    if ((st.st_mode & 0222) == 0) word |= kAttrReadOnly;
    if (S_ISDIR(st.st_mode)) word |= kAttrDirectory;
    *attributes = word;
    return 0;
}

uint32_t SetAttributes(const char* path, uint32_t attributes) {
    const NativeText native = NativePath(path);
    struct stat st {};
    if (native.empty()) return ENOENT;
    if (StatAt(AT_FDCWD, native.c_str(), &st, 0) != 0) return static_cast<uint32_t>(errno ? errno : EIO);
    mode_t mode = st.st_mode & 07777;
    if (attributes & kAttrReadOnly) {
        mode &= static_cast<mode_t>(~0222);
    } else if ((mode & 0222) == 0) {
        mode |= S_IWUSR;
    }
    if (mode != (st.st_mode & 07777) && ::chmod(native.c_str(), mode) != 0) {
        return static_cast<uint32_t>(errno ? errno : EIO);
    }
    const unsigned char stored[4] = {static_cast<unsigned char>(attributes), static_cast<unsigned char>(attributes >> 8),
                                     static_cast<unsigned char>(attributes >> 16),
                                     static_cast<unsigned char>(attributes >> 24)};
    // Not every file system keeps extended attributes; the permission bits still hold.
    (void)::setxattr(native.c_str(), kAttributeXattr, stored, sizeof stored, 0);
    return 0;
}

// ---- File times ----------------------------------------------------------------

NativeFile OpenNativeForReading(const char* path) {
    NativeFile file;
    const NativeText native = NativePath(path);
    if (native.empty()) return file;
    file.value = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
    return file;
}

NativeFile OpenNativeForWriting(const char* path) {
    NativeFile file;
    const NativeText native = NativePath(path);
    if (native.empty()) return file;
    file.value = ::open(native.c_str(), O_WRONLY | O_CLOEXEC);
    return file;
}

bool CloseNative(NativeFile& file) {
    if (!file.IsOpen()) return false;
    const int result = ::close(static_cast<int>(file.value));
    file.value = -1;
    return result == 0;
}

bool GetLastWriteTime(NativeFile& file, uint64_t* utc_time) {
    struct stat st {};
    if (!file.IsOpen() || StatAt(static_cast<int>(file.value), "", &st, AT_EMPTY_PATH) != 0) return false;
    *utc_time = TimespecToFileTime(st.st_mtim);
    return true;
}

bool SetLastWriteTime(NativeFile& file, uint64_t utc_time) {
    if (!file.IsOpen()) return false;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = FileTimeToTimespec(utc_time);
    return SetTimesOf(static_cast<int>(file.value), times);
}

bool GetModificationTime(const char* path, int64_t* seconds, uint32_t* nanoseconds) {
    struct stat st {};
    if (StatAt(AT_FDCWD, NativePath(path).c_str(), &st, 0) != 0) return false;
    *seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    *nanoseconds = static_cast<uint32_t>(st.st_mtim.tv_nsec);
    return true;
}

bool SetModificationTime(const char* path, int64_t seconds, uint32_t nanoseconds) {
    struct timespec times[2];
    if (!ModificationTimes(seconds, nanoseconds, times)) return false;
    return ::utimensat(AT_FDCWD, NativePath(path).c_str(), times, 0) == 0;
}

bool GetPermissions(const char* path, uint32_t* mode) {
    struct stat st {};
    if (StatAt(AT_FDCWD, NativePath(path).c_str(), &st, 0) != 0) return false;
    *mode = static_cast<uint32_t>(st.st_mode & 07777);
    return true;
}

bool SetPermissions(const char* path, uint32_t mode) {
    return ::chmod(NativePath(path).c_str(), static_cast<mode_t>(mode & 07777)) == 0;
}

bool ReadSymbolicLink(const char* path, std::string* target, int64_t* seconds, uint32_t* nanoseconds) {
    const NativeText native = NativePath(path);
    struct stat st {};
    if (::lstat(native.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    std::string text(static_cast<size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
    const ssize_t n = ::readlink(native.c_str(), text.data(), text.size());
    if (n < 0 || static_cast<size_t>(n) >= text.size()) return false;  // changed while read
    text.resize(static_cast<size_t>(n));
    *target = std::move(text);
    *seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    *nanoseconds = static_cast<uint32_t>(st.st_mtim.tv_nsec);
    return true;
}

bool MakeSymbolicLink(const char* target, const char* path) {
    return ::symlink(target, NativePath(path).c_str()) == 0;
}

bool UtcTimeToDosStamp(uint64_t utc_time, uint32_t* stamp) {
    const struct timespec ts = FileTimeToTimespec(utc_time);
    struct tm local {};
    if (!::localtime_r(&ts.tv_sec, &local)) return false;
    return TmToDosStamp(local, stamp);
}

bool DosStampToUtcTime(uint32_t stamp, uint64_t* utc_time) {
    const uint32_t date = stamp >> 16;
    const uint32_t time = stamp & 0xFFFF;
    struct tm local {};
    local.tm_year = static_cast<int>((date >> 9) & 0x7F) + 80;
    local.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
    local.tm_mday = static_cast<int>(date & 0x1F);
    local.tm_hour = static_cast<int>((time >> 11) & 0x1F);
    local.tm_min = static_cast<int>((time >> 5) & 0x3F);
    local.tm_sec = static_cast<int>((time & 0x1F) * 2);
    local.tm_isdst = -1;
    if (local.tm_mon < 0 || local.tm_mon > 11 || local.tm_mday < 1 || local.tm_hour > 23 || local.tm_min > 59 ||
        local.tm_sec > 59) {
        return false;
    }
    const time_t seconds = ::mktime(&local);
    if (seconds == static_cast<time_t>(-1)) return false;
    struct timespec ts {};
    ts.tv_sec = seconds;
    *utc_time = TimespecToFileTime(ts);
    return true;
}

uint32_t CurrentDosStamp() {
    const time_t now = ::time(nullptr);
    struct tm local {};
    uint32_t stamp = 0;
    if (::localtime_r(&now, &local)) (void)TmToDosStamp(local, &stamp);
    return stamp;
}

// ---- Lookup ----------------------------------------------------------------------

bool FindOne(const char* path, HedgerowFindData* record) {
    const NativeText native = NativePath(path);
    struct stat st {};
    if (native.empty() || std::strpbrk(native.c_str(), "*?") != nullptr) return false;
    if (StatAt(AT_FDCWD, native.c_str(), &st, 0) != 0) return false;
    std::memset(record, 0, sizeof *record);
    uint32_t attributes = 0;
    if (GetAttributes(path, &attributes) != 0) attributes = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrArchive;
    record->dwFileAttributes = attributes;
    const uint64_t write_time = TimespecToFileTime(st.st_mtim);
    const uint64_t access_time = TimespecToFileTime(st.st_atim);
    const uint64_t change_time = TimespecToFileTime(st.st_ctim);
    record->ftLastWriteTime = {static_cast<uint32_t>(write_time), static_cast<uint32_t>(write_time >> 32)};
    record->ftLastAccessTime = {static_cast<uint32_t>(access_time), static_cast<uint32_t>(access_time >> 32)};
    // POSIX keeps no creation time; the status-change time is the closest there is.
    record->ftCreationTime = {static_cast<uint32_t>(change_time), static_cast<uint32_t>(change_time >> 32)};
    const uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    record->nFileSizeHigh = static_cast<uint32_t>(size >> 32);
    record->nFileSizeLow = static_cast<uint32_t>(size);
    // The final part, without the separators that end a directory's name.
    size_t end = std::strlen(native.c_str());
    while (end > 1 && native.text[end - 1] == '/') --end;
    size_t begin = end;
    while (begin > 0 && native.text[begin - 1] != '/') --begin;
    const size_t length = std::min(end - begin, sizeof record->cFileName - 1);
    std::memcpy(record->cFileName, native.text + begin, length);
    return true;
}

// ---- Environment -----------------------------------------------------------------

size_t TempDirectory(char* buffer, size_t capacity) {
    const char* dir = std::getenv("TMPDIR");
    if (!dir || !*dir) dir = "/tmp";
    const size_t length = std::strlen(dir);
    const bool slash = dir[length - 1] == '/';
    const size_t total = length + (slash ? 0 : 1);
    if (total + 1 > capacity) return 0;
    std::memcpy(buffer, dir, length);
    if (!slash) buffer[length] = '/';
    buffer[total] = '\0';
    return IsDirectory(buffer) ? total : 0;
}

size_t OwnModulePath(char* buffer, size_t capacity) {
#ifdef HEDGEROW_COMPACT
    // The compact build (the self-extractor program) is a program, not a loaded library,
    // and links nothing of the run-time loader.
    (void)buffer;
    (void)capacity;
    return 0;
#else
    Dl_info info {};
    if (::dladdr(reinterpret_cast<void*>(&OwnModulePath), &info) == 0 || !info.dli_fname) return 0;
    char* resolved = ::realpath(info.dli_fname, nullptr);
    const char* path = resolved ? resolved : info.dli_fname;
    const size_t length = std::strlen(path);
    const bool fits = length + 1 <= capacity;
    if (fits) std::memcpy(buffer, path, length + 1);
    std::free(resolved);
    return fits ? length : 0;
#endif
}

size_t OwnProgramPath(char* buffer, size_t capacity) {
    if (capacity == 0) return 0;
    const ssize_t n = ::readlink("/proc/self/exe", buffer, capacity - 1);
    if (n <= 0 || static_cast<size_t>(n) >= capacity - 1) return 0;
    buffer[n] = '\0';
    return static_cast<size_t>(n);
}

uint32_t CalendarSeconds() { return static_cast<uint32_t>(::time(nullptr)); }

uint32_t RandomNumber() {
    uint32_t value = 0;
    if (::getrandom(&value, sizeof value, 0) == static_cast<ssize_t>(sizeof value)) return value;
    // No random source (a kernel before 3.17): the clock's nanoseconds and the process id.
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<uint32_t>(now.tv_nsec) ^ (static_cast<uint32_t>(::getpid()) << 16);
}

uint32_t MillisecondsSinceStart() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const struct timespec start = ProcessStart();
    const int64_t ms = (static_cast<int64_t>(now.tv_sec) - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    return static_cast<uint32_t>(ms);
}

// ---- Randomness ------------------------------------------------------------------

bool RandomBytes(void* buffer, size_t n) {
    auto* out = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        const ssize_t got = ::getrandom(out, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        out += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

// ---- Terminal ----------------------------------------------------------------------

bool ReadSecret(const char* prompt, char* buffer, size_t capacity) {
    if (capacity == 0) return false;
    buffer[0] = '\0';
    if (!::isatty(STDIN_FILENO)) return false;
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    termios saved {};
    const bool quiet = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (quiet) {
        termios silent = saved;
        silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent);
    }
    const bool got = std::fgets(buffer, static_cast<int>(capacity), stdin) != nullptr;
    if (quiet) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (!got) buffer[0] = '\0';
    buffer[std::strcspn(buffer, "\r\n")] = '\0';
    std::fputs("\n", stderr);
    return buffer[0] != '\0';
}

char NativeSeparator() { return '/'; }

// ---- Run-time loading ------------------------------------------------------------

#ifdef HEDGEROW_COMPACT
// The compact build loads no modules (see OwnModulePath).
void* LoadModule(const char*) { return nullptr; }
void* FindSymbol(void*, const char*) { return nullptr; }
void FreeModule(void*) {}
#else
void* LoadModule(const char* path) {
    const NativeText native = NativePath(path);
    if (native.empty()) return nullptr;
    return ::dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindSymbol(void* module, const char* name) { return module ? ::dlsym(module, name) : nullptr; }

void FreeModule(void* module) {
    if (module) ::dlclose(module);
}
#endif

// ---- Code pages ------------------------------------------------------------------

bool AnsiIsUtf8() { return true; }

std::string AnsiToUtf8(const char* text) { return text ? text : ""; }
std::string Utf8ToAnsi(const char* text) { return text ? text : ""; }

bool Utf8ToAnsiName(const char* text, char* out, size_t capacity) {
    if (capacity == 0) return false;
    const char* in = text ? text : "";
    size_t n = std::strlen(in);
    const bool whole = n < capacity;
    if (!whole) {
        n = capacity - 1;
        while (n > 0 && (static_cast<unsigned char>(in[n]) & 0xC0u) == 0x80u) --n;
    }
    std::memcpy(out, in, n);
    out[n] = '\0';
    return whole;
}

bool AnsiToOem(const char* text, char* out, size_t capacity) {
    if (capacity == 0) return false;
    const auto* in = reinterpret_cast<const unsigned char*>(text ? text : "");
    size_t written = 0;
    while (*in) {
        uint32_t code_point = 0;
        const size_t length = DecodeUtf8(in, &code_point);
        if (written + 1 >= capacity) {
            out[written] = '\0';
            return false;
        }
        out[written++] = OemByteFor(code_point);
        in += length;
    }
    out[written] = '\0';
    return true;
}

bool OemToAnsi(const char* text, char* out, size_t capacity) {
    if (capacity == 0) return false;
    const auto* in = reinterpret_cast<const unsigned char*>(text ? text : "");
    size_t written = 0;
    for (; *in; ++in) {
        char encoded[4];
        const size_t length = *in < 0x80 ? EncodeUtf8(*in, encoded) : EncodeUtf8(kCp850High[*in - 0x80], encoded);
        if (written + length >= capacity) {
            out[written] = '\0';
            return false;
        }
        std::memcpy(out + written, encoded, length);
        written += length;
    }
    out[written] = '\0';
    return true;
}

}  // namespace hedgerow::platform
