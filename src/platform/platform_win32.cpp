// platform_win32.cpp -- the platform layer on 32-bit Windows. API strings are in the ANSI
// code page and go to the "A" functions as they are; stored names are in the OEM code
// page. Attributes are the system's own attribute word, time stamps go through the
// system's file-time, local-time and DOS date conversions, and files are the C runtime's.
// (rand_s is declared only on request)
#define _CRT_RAND_S
#include <windows.h>

#include <bcrypt.h>

#include <conio.h>
#include <fcntl.h>
#include <io.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

namespace hedgerow::platform {

namespace {

// A path as the system takes it: slashes become backslashes. Kept on the stack, so that
// the clean-up paths (removing a temporary file in a destructor) never allocate; a path
// longer than the system's "A" functions take becomes empty, which every call refuses.
struct NativeText {
    char text[1024];
    size_t length;
    const char* c_str() const { return text; }
    bool empty() const { return length == 0; }
};

NativeText NativePath(const char* path) {
    NativeText native;
    size_t i = 0;
    for (; path && path[i] != '\0'; ++i) {
        if (i + 1 >= sizeof native.text) {
            i = 0;
            break;
        }
        native.text[i] = path[i] == '/' ? '\\' : path[i];
    }
    native.text[i] = '\0';
    native.length = i;
    return native;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Drops separators at the end of the path, keeping one after a drive ("C:\") and a lone
// root; while keep_drive_root is false, the one after a drive goes too.
void DropTrailingSeparators(NativeText& native, bool keep_drive_root) {
    while (native.length > 1 && IsSeparator(native.text[native.length - 1]) &&
           !(keep_drive_root && native.text[native.length - 2] == ':')) {
        native.text[--native.length] = '\0';
    }
}

// Appends text to native; false when it does not fit.
[[maybe_unused]] bool AppendText(NativeText& native, const char* text) {
    const size_t length = std::strlen(text);
    if (native.length + length + 1 > sizeof native.text) return false;
    std::memcpy(native.text + native.length, text, length + 1);
    native.length += length;
    return true;
}

// Appends a number in decimal; false when it does not fit.
[[maybe_unused]] bool AppendNumber(NativeText& native, uint32_t number) {
    char digits[11];
    size_t at = sizeof digits;
    digits[--at] = '\0';
    do {
        digits[--at] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    return AppendText(native, digits + at);
}

DWORD AttributesOf(const NativeText& native) {
    if (native.empty()) return INVALID_FILE_ATTRIBUTES;
    return ::GetFileAttributesA(native.c_str());
}

// 100-nanosecond units from 1601 to 1970.
constexpr int64_t kUnixEpochInFileTime = 116444736000000000;

uint64_t FromFileTime(const FILETIME& t) {
    return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

FILETIME ToFileTime(uint64_t value) {
    FILETIME t;
    t.dwLowDateTime = static_cast<DWORD>(value);
    t.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return t;
}

HANDLE HandleOf(const NativeFile& file) { return reinterpret_cast<HANDLE>(file.value); }

HANDLE HandleOf(std::FILE* f) { return reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(f))); }

// Bytes of the character at text in the given code page: a whole UTF-8 sequence, or
// two bytes for a lead byte of a double-byte page; one byte for anything malformed.
size_t CharacterLength(const char* text, UINT code_page) {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (code_page != CP_UTF8) {
        return (::IsDBCSLeadByteEx(code_page, lead) && text[1] != '\0') ? 2 : 1;
    }
    const size_t length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 1;
    for (size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) return 1;
    }
    return length;
}

constexpr size_t kMaxCharacterBytes = 4;

// Converts the one character at in (length bytes) from one code page to the other into
// out; returns the bytes written, 0 when the target page has no such character. The
// system's converters put a look-alike or '?' in that case, which a round trip exposes.
size_t ConvertCharacter(const char* in, size_t length, UINT from, UINT to, char* out) {
    const UINT ansi = ::GetACP();
#ifndef HEDGEROW_COMPACT
    // (The compact build, the self-extractor program, imports KERNEL32 alone: it converts
    // through UTF-16 on every page below, which refuses the same characters.)
    if (ansi != CP_UTF8) {
        // Single- and double-byte pages keep the character's length.
        char back[kMaxCharacterBytes] = {};
        const auto count = static_cast<DWORD>(length);
        const bool to_oem = from == ansi;
        const BOOL done = to_oem ? ::CharToOemBuffA(in, out, count) : ::OemToCharBuffA(in, out, count);
        const BOOL undone = to_oem ? ::OemToCharBuffA(out, back, count) : ::CharToOemBuffA(out, back, count);
        return done && undone && std::memcmp(back, in, length) == 0 ? length : 0;
    }
#else
    (void)ansi;
#endif
    // A UTF-8 ANSI page changes lengths, which the buffer converters cannot express.
    wchar_t wide[2];
    const int units = ::MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in, static_cast<int>(length), wide, 2);
    if (units <= 0) return 0;
    BOOL defaulted = FALSE;
    const int written = ::WideCharToMultiByte(to, to == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, units, out,
                                              static_cast<int>(kMaxCharacterBytes), nullptr,
                                              to == CP_UTF8 ? nullptr : &defaulted);
    return written > 0 && !defaulted ? static_cast<size_t>(written) : 0;
}

// A character the target page cannot hold becomes '_'; the result is cut at a character
// boundary.
bool ConvertName(const char* text, char* out, size_t capacity, UINT from, UINT to) {
    if (capacity == 0) return false;
    const char* in = text ? text : "";
    size_t written = 0;
    while (*in) {
        const size_t length = CharacterLength(in, from);
        char converted[kMaxCharacterBytes] = {};
        size_t converted_length = ConvertCharacter(in, length, from, to, converted);
        if (converted_length == 0) {
            converted[0] = '_';
            converted_length = 1;
        }
        if (written + converted_length + 1 > capacity) {
            out[written] = '\0';
            return false;
        }
        std::memcpy(out + written, converted, converted_length);
        written += converted_length;
        in += length;
    }
    out[written] = '\0';
    return true;
}

// A path in the system's wide characters, kept on the stack as NativeText is (the
// extraction path allocates nothing). Room for an output path of the longest kind
// extraction makes (512 bytes) in its long form ("\\?\C:\...") below a working directory
// as long as the system allows; a longer path becomes empty, which every call refuses.
struct WideText {
    wchar_t text[1024];
    size_t length;
    const wchar_t* c_str() const { return text; }
    bool empty() const { return length == 0; }
};

// Appends an API string (ANSI code page) to wide; false, with wide made empty, when it
// cannot be converted or does not fit.
bool AppendWide(WideText& wide, const NativeText& native) {
    const size_t room = sizeof wide.text / sizeof wide.text[0] - 1 - wide.length;
    const int n = native.empty() || room == 0
                      ? 0
                      : ::MultiByteToWideChar(CP_ACP, 0, native.text, static_cast<int>(native.length),
                                              wide.text + wide.length, static_cast<int>(room));
    if (n <= 0) {
        wide.length = 0;
        wide.text[0] = L'\0';
        return false;
    }
    wide.length += static_cast<size_t>(n);
    wide.text[wide.length] = L'\0';
    return true;
}

// An API string (ANSI code page) as the system's wide characters.
WideText Wide(const NativeText& native) {
    WideText wide;
    wide.length = 0;
    wide.text[0] = L'\0';
    (void)AppendWide(wide, native);
    return wide;
}

// Creates a file for writing when nothing of that name exists: CREATE_NEW fails on a
// file, a directory or a link, and the reparse flag makes sure that nothing is followed
// either way.
File CreateNew(const WideText& native) {
    if (native.empty()) return File();
    const HANDLE handle = ::CreateFileW(native.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return File();
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        ::DeleteFileW(native.c_str());
        return File();
    }
    std::FILE* f = ::_fdopen(fd, "wb");
    if (!f) {
        ::_close(fd);  // closes the handle too
        ::DeleteFileW(native.c_str());
        return File();
    }
    return File(f);
}

DWORD StartTick() {
    static const DWORD start = ::GetTickCount();
    return start;
}

// Taken at load so that the elapsed time counts from the start of the process.
[[maybe_unused]] const DWORD kStartAtLoad = StartTick();

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
    return CreateNew(Wide(native));
}

File OpenScratchFile() {
#ifdef HEDGEROW_COMPACT
    // The compact build (the self-extractor program) extracts on one thread and needs no
    // scratch file; every import it does without keeps it within its window.
    return File();
#else
    if (FaultPoint(FaultKind::kCreate)) return File();
    char directory[MAX_PATH + 1];
    const DWORD length = ::GetTempPathA(sizeof directory, directory);
    if (length == 0 || length > MAX_PATH) return File();
    char name[MAX_PATH + 1];
    if (::GetTempFileNameA(directory, "hdg", 0, name) == 0) return File();  // creates the file
    // Deleted by the system when the last handle closes.
    const HANDLE handle = ::CreateFileA(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        ::DeleteFileA(name);
        return File();
    }
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        return File();
    }
    std::FILE* f = ::_fdopen(fd, "w+b");
    if (!f) ::_close(fd);  // closes the handle, and the file goes
    return File(f);
#endif
}

// The runtime's long is 32 bits here; the 64-bit calls reach past 2 GiB.
bool SeekTo(std::FILE* f, uint64_t offset) {
    if (!f || offset > static_cast<uint64_t>(INT64_MAX)) return false;
    return ::_fseeki64(f, static_cast<__int64>(offset), SEEK_SET) == 0;
}

int64_t Tell(std::FILE* f) {
    if (!f) return -1;
    return static_cast<int64_t>(::_ftelli64(f));
}

int64_t Length(std::FILE* f) {
    if (!f) return -1;
    const __int64 here = ::_ftelli64(f);
    if (here < 0 || ::_fseeki64(f, 0, SEEK_END) != 0) return -1;
    const __int64 end = ::_ftelli64(f);
    if (::_fseeki64(f, here, SEEK_SET) != 0) return -1;
    return static_cast<int64_t>(end);
}

bool TruncateAt(std::FILE* f, uint64_t length) {
    if (!f || length > static_cast<uint64_t>(INT64_MAX) || std::fflush(f) != 0) return false;
    // Keeps the file position, as ftruncate does.
    return ::_chsize_s(::_fileno(f), static_cast<__int64>(length)) == 0;
}

bool SyncToDisk(std::FILE* f) {
    if (!f || std::fflush(f) != 0) return false;
    return ::FlushFileBuffers(HandleOf(f)) != 0;
}

// ---- File system ---------------------------------------------------------------

bool PathExists(const char* path) { return AttributesOf(NativePath(path)) != INVALID_FILE_ATTRIBUTES; }

bool IsDirectory(const char* path) {
    const DWORD attributes = AttributesOf(NativePath(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsSymbolicLink(const char* path) {
    NativeText native = NativePath(path);
    DropTrailingSeparators(native, false);
    const DWORD attributes = AttributesOf(native);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) return false;
    // A junction leads elsewhere just as a symbolic link does; other reparse points
    // (deduplicated or cloud files) are ordinary files.
    WIN32_FIND_DATAA data;
    const HANDLE search = ::FindFirstFileA(native.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return true;
    ::FindClose(search);
    return data.dwReserved0 == IO_REPARSE_TAG_SYMLINK || data.dwReserved0 == IO_REPARSE_TAG_MOUNT_POINT;
}

bool RenamePath(const char* from, const char* to) {
#ifdef HEDGEROW_COMPACT
    // The compact build (the self-extractor program) renames by name nothing: extracted
    // files take their names inside their directory's handle (RenameAt), and it rewrites
    // no archive.
    (void)from;
    (void)to;
    return false;
#else
    if (FaultPoint(FaultKind::kRename)) return false;
    const NativeText source = NativePath(from);
    const NativeText target = NativePath(to);
    if (source.empty() || target.empty()) return false;
    if (::MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    const DWORD error = ::GetLastError();
    if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) return false;
    // The file being replaced is still open, with delete sharing: the lock on an archive
    // (see TryLockFile), which its rewriter holds until the new file is in place. Windows
    // replaces no open file, but renames one: the old file moves aside, the new one takes
    // the name, and the old one goes once its last handle is closed.
    NativeText aside = target;
    if (!AppendText(aside, ".") || !AppendNumber(aside, ::GetCurrentProcessId()) || !AppendText(aside, "-") ||
        !AppendNumber(aside, ::GetTickCount()) || !AppendText(aside, ".$HW") ||
        !::MoveFileExA(target.c_str(), aside.c_str(), 0)) {
        return false;
    }
    if (!::MoveFileExA(source.c_str(), target.c_str(), 0)) {
        (void)::MoveFileExA(aside.c_str(), target.c_str(), 0);
        return false;
    }
    (void)::DeleteFileA(aside.c_str());
    return true;
#endif
}

Renamed RenameToFreeName(const char* from, const char* to) {
#ifdef HEDGEROW_COMPACT
    // (Nothing by name in the compact build: see RenamePath.)
    (void)from;
    (void)to;
    return Renamed::kFailed;
#else
    if (FaultPoint(FaultKind::kRename)) return Renamed::kFailed;
    if (::MoveFileExA(NativePath(from).c_str(), NativePath(to).c_str(), 0)) return Renamed::kRenamed;
    const DWORD error = ::GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? Renamed::kTaken : Renamed::kFailed;
#endif
}

bool RemoveFile(const char* path) {
    if (FaultPoint(FaultKind::kRemove)) return false;
    return ::DeleteFileA(NativePath(path).c_str()) != 0;
}

bool MakeDirectory(const char* path) {
    if (FaultPoint(FaultKind::kCreate)) return false;
    return ::CreateDirectoryA(NativePath(path).c_str(), nullptr) != 0;
}

bool CopyAccessMode(const char* from, std::FILE* to) {
    return to && ::GetFileAttributesA(NativePath(from).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SetCreationMode(std::FILE* f, bool) { return f != nullptr; }

bool MakeRunnable(std::FILE* f) { return f != nullptr; }

bool KeepAttributesOf(std::FILE* f, uint32_t attributes) {
    if (!f) return false;
    FILE_BASIC_INFO basic {};  // times of 0 stay as they are
    basic.FileAttributes = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY);
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(HandleOf(f), FileBasicInfo, &basic, sizeof basic) != 0;
}

bool SetModificationTimeOf(std::FILE* f, int64_t seconds, uint32_t nanoseconds) {
    // A FILETIME counts from 1601 in 100-nanosecond units: earlier or far later times
    // cannot be set.
    constexpr int64_t kLowest = -kUnixEpochInFileTime / 10000000;
    if (!f || nanoseconds >= 1000000000u || seconds < kLowest ||
        seconds > (INT64_MAX - kUnixEpochInFileTime) / 10000000 || std::fflush(f) != 0) {
        return false;
    }
    const FILETIME write =
        ToFileTime(static_cast<uint64_t>(seconds * 10000000 + kUnixEpochInFileTime + nanoseconds / 100));
    return ::SetFileTime(HandleOf(f), nullptr, nullptr, &write) != 0;
}

bool SetPermissionsOf(std::FILE* f, uint32_t) { return f != nullptr; }

bool LinkTarget(const char* path, std::string* target) {
#ifdef HEDGEROW_COMPACT
    // (The compact build, the self-extractor program, rewrites nothing that a link names.)
    (void)path;
    (void)target;
    return false;
#else
    if (!IsSymbolicLink(path)) return false;
    const HANDLE handle = ::CreateFileA(NativePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    char buffer[MAX_PATH + 8];
    const DWORD length = ::GetFinalPathNameByHandleA(handle, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
    ::CloseHandle(handle);
    if (length == 0 || length >= sizeof buffer) return false;
    std::string found(buffer, length);
    // The answer comes in the long form "\\?\C:\..." or "\\?\UNC\server\...".
    if (found.rfind("\\\\?\\UNC\\", 0) == 0) {
        found = "\\" + found.substr(7);
    } else if (found.rfind("\\\\?\\", 0) == 0) {
        found = found.substr(4);
    }
    *target = found;
    return true;
#endif
}

// ---- Directories by handle ---------------------------------------------------------

// Entries are reached through the path the system gives for a directory's handle, in
// its long form ("\\?\C:\..."), and with the wide functions, which take such paths
// beyond MAX_PATH: a stored name of 255 characters below a deep output directory still
// has a place.

namespace {

// A directory opened so that nobody can rename or remove it while the handle is open
// (no delete sharing); with own_links the handle is the link's, not its target's.
HANDLE OpenDirectoryHandle(const WideText& native, bool own_links) {
    if (native.empty()) return INVALID_HANDLE_VALUE;
    return ::CreateFileW(native.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | (own_links ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
}

// The path of name inside dir (empty when the handle's path cannot be had): the
// directory cannot have moved since it was opened.
WideText EntryPath(const Directory& dir, const char* name) {
    WideText path;
    constexpr DWORD kCapacity = sizeof path.text / sizeof path.text[0];
    const DWORD length =
        ::GetFinalPathNameByHandleW(reinterpret_cast<HANDLE>(dir.value), path.text, kCapacity, FILE_NAME_NORMALIZED);
    if (length == 0 || length + 1 >= kCapacity) {
        path.length = 0;
        path.text[0] = L'\0';
        return path;
    }
    path.length = length;
    if (path.text[length - 1] != L'\\') path.text[path.length++] = L'\\';
    path.text[path.length] = L'\0';
    (void)AppendWide(path, NativePath(name));
    return path;
}

// True when the path holds a wildcard character, which the find functions would expand.
bool HasWildcard(const WideText& path) {
    for (size_t i = 0; i < path.length; ++i) {
        if (path.text[i] == L'*' || path.text[i] == L'?') return true;
    }
    return false;
}

bool IsLinkTag(DWORD tag) { return tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT; }

// Clears the read-only attribute of the file at path itself (never of what a link leads
// to); true when it was set and is cleared now.
bool ClearReadOnly(const WideText& path) {
    const HANDLE existing = ::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES | FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                          nullptr);
    if (existing == INVALID_HANDLE_VALUE) return false;
    FILE_BASIC_INFO basic {};
    bool cleared = false;
    if (::GetFileInformationByHandleEx(existing, FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        basic.FileAttributes = (basic.FileAttributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) |
                               FILE_ATTRIBUTE_ARCHIVE;
        cleared = ::SetFileInformationByHandle(existing, FileBasicInfo, &basic, sizeof basic) != 0;
    }
    ::CloseHandle(existing);
    return cleared;
}

}  // namespace

Directory::Directory(Directory&& other) noexcept : value(other.value) { other.value = -1; }

Directory& Directory::operator=(Directory&& other) noexcept {
    if (this != &other) {
        if (value != -1) ::CloseHandle(reinterpret_cast<HANDLE>(value));
        value = other.value;
        other.value = -1;
    }
    return *this;
}

Directory::~Directory() {
    if (value != -1) ::CloseHandle(reinterpret_cast<HANDLE>(value));
}

bool OpenDirectory(const char* path, Directory* out) {
    const HANDLE handle = OpenDirectoryHandle(Wide(NativePath(path && *path ? path : ".")), false);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        ::CloseHandle(handle);
        return false;
    }
    Directory opened;
    opened.value = reinterpret_cast<intptr_t>(handle);
    *out = std::move(opened);
    return true;
}

EntryKind KindAt(const Directory& dir, const char* name) {
    const WideText path = EntryPath(dir, name);
    if (path.empty() || HasWildcard(path)) return EntryKind::kNone;
    WIN32_FIND_DATAW data;
    const HANDLE search = ::FindFirstFileW(path.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return EntryKind::kNone;
    ::FindClose(search);
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsLinkTag(data.dwReserved0)) {
        return EntryKind::kLink;
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EntryKind::kDirectory;
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0 ? EntryKind::kOther : EntryKind::kFile;
}

Opened OpenChildDirectory(const Directory& parent, const char* name, bool create, Directory* out) {
    if (!parent.IsOpen()) return Opened::kFailed;
    const WideText path = EntryPath(parent, name);
    if (path.empty()) return Opened::kFailed;
    if (create && KindAt(parent, name) == EntryKind::kNone) {
        if (FaultPoint(FaultKind::kCreate)) return Opened::kFailed;
        if (!::CreateDirectoryW(path.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
            return Opened::kFailed;
        }
    }
    // The checks are made on the opened handle: what it holds cannot change any more.
    const HANDLE handle = OpenDirectoryHandle(path, true);
    if (handle == INVALID_HANDLE_VALUE) {
        const EntryKind kind = KindAt(parent, name);
        if (kind == EntryKind::kLink) return Opened::kLink;
        return kind == EntryKind::kFile || kind == EntryKind::kOther ? Opened::kNotDirectory : Opened::kFailed;
    }
    FILE_ATTRIBUTE_TAG_INFO tag {};
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = ::GetFileInformationByHandle(handle, &info) &&
                       ::GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag);
    Opened outcome = Opened::kOpened;
    if (!known) {
        outcome = Opened::kFailed;
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsLinkTag(tag.ReparseTag)) {
        outcome = Opened::kLink;
    } else if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        outcome = Opened::kNotDirectory;
    }
    if (outcome != Opened::kOpened) {
        ::CloseHandle(handle);
        return outcome;
    }
    Directory opened;
    opened.value = reinterpret_cast<intptr_t>(handle);
    *out = std::move(opened);
    return Opened::kOpened;
}

File CreateFileAt(const Directory& dir, const char* name) {
    if (!dir.IsOpen() || FaultPoint(FaultKind::kCreate)) return File();
    return CreateNew(EntryPath(dir, name));
}

bool RenameAt(const Directory& dir, const char* from, const char* to) {
    if (!dir.IsOpen() || FaultPoint(FaultKind::kRename)) return false;
    const WideText source = EntryPath(dir, from);
    const WideText target = EntryPath(dir, to);
    if (source.empty() || target.empty()) return false;
    if (::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return true;
    // A read-only file refuses to be replaced: clear that and try once more.
    return ClearReadOnly(target) && ::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool RemoveAt(const Directory& dir, const char* name) {
    if (!dir.IsOpen() || FaultPoint(FaultKind::kRemove)) return false;
    const WideText path = EntryPath(dir, name);
    return !path.empty() && ::DeleteFileW(path.c_str()) != 0;
}

File OpenFileAt(const Directory& dir, const char* name) {
    if (!dir.IsOpen()) return File();
    const WideText native = EntryPath(dir, name);
    if (native.empty()) return File();
    const HANDLE handle = ::CreateFileW(native.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return File();
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(handle);
        return File();
    }
    std::FILE* f = ::_fdopen(fd, "rb");
    if (!f) {
        ::_close(fd);  // closes the handle too
        return File();
    }
    return File(f);
}

// Links are not made here (see MakeSymbolicLink): a link entry stays a file holding its target.
bool MakeSymbolicLinkAt(const Directory&, const char*, const char*) { return false; }

// Directory handles are opened for listing only, and the permission bits have no meaning.
bool SetTimeAndModeOf(const Directory&, int64_t, uint32_t, uint32_t) { return false; }

// ---- Advisory locks --------------------------------------------------------------

namespace {

// The byte that is locked: far past any data, so that the lock, which Windows enforces on
// reads and writes of its range, never stands in the way of reading the file.
constexpr DWORD kLockOffsetHigh = 0x40000000;

void ReleaseLock(intptr_t value) {
    if (value == -1) return;
    const HANDLE handle = reinterpret_cast<HANDLE>(value);
    OVERLAPPED at {};
    at.OffsetHigh = kLockOffsetHigh;
    ::UnlockFileEx(handle, 0, 1, 0, &at);
    ::CloseHandle(handle);
}

bool SameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION x;
    BY_HANDLE_FILE_INFORMATION y;
    return ::GetFileInformationByHandle(a, &x) && ::GetFileInformationByHandle(b, &y) &&
           x.dwVolumeSerialNumber == y.dwVolumeSerialNumber && x.nFileIndexHigh == y.nFileIndexHigh &&
           x.nFileIndexLow == y.nFileIndexLow;
}

HANDLE OpenForLocking(const NativeText& native) {
    if (native.empty()) return INVALID_HANDLE_VALUE;
    // Every kind of sharing, delete included: a writer renames its new file over this one.
    return ::CreateFileA(native.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

FileLock::FileLock(FileLock&& other) noexcept : value(other.value) { other.value = -1; }

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        ReleaseLock(value);
        value = other.value;
        other.value = -1;
    }
    return *this;
}

FileLock::~FileLock() { ReleaseLock(value); }

Locked TryLockFile(const char* path, bool exclusive, FileLock* lock) {
    const NativeText native = NativePath(path);
    for (;;) {
        const HANDLE handle = OpenForLocking(native);
        if (handle == INVALID_HANDLE_VALUE) return Locked::kNoFile;
        OVERLAPPED at {};
        at.OffsetHigh = kLockOffsetHigh;
        const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
        if (!::LockFileEx(handle, flags, 0, 1, 0, &at)) {
            const DWORD error = ::GetLastError();
            ::CloseHandle(handle);
            if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return Locked::kBusy;
            *lock = FileLock();  // no locks on this file system: nothing to wait for
            return Locked::kLocked;
        }
        FileLock held;
        held.value = reinterpret_cast<intptr_t>(handle);
        const HANDLE named = OpenForLocking(native);
        if (named == INVALID_HANDLE_VALUE) return Locked::kNoFile;
        const bool same = SameFile(handle, named);
        ::CloseHandle(named);
        if (same) {
            *lock = std::move(held);
            return Locked::kLocked;
        }
        // A writer renamed its new file over the one locked: lock that one instead.
    }
}

void PauseMilliseconds(uint32_t milliseconds) { ::Sleep(milliseconds); }

// ---- Attributes ----------------------------------------------------------------

uint32_t GetAttributes(const char* path, uint32_t* attributes) {
    const DWORD word = AttributesOf(NativePath(path));
    if (word == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error ? static_cast<uint32_t>(error) : static_cast<uint32_t>(ERROR_FILE_NOT_FOUND);
    }
    *attributes = static_cast<uint32_t>(word);
    return 0;
}

uint32_t SetAttributes(const char* path, uint32_t attributes) {
    const NativeText native = NativePath(path);
    if (native.empty()) return ERROR_PATH_NOT_FOUND;
    if (::SetFileAttributesA(native.c_str(), static_cast<DWORD>(attributes))) return 0;
    const DWORD error = ::GetLastError();
    return error ? static_cast<uint32_t>(error) : static_cast<uint32_t>(ERROR_ACCESS_DENIED);
}

// ---- File times ----------------------------------------------------------------

// Both share reading and writing: the library may still hold the file open through the
// runtime (which shares both) while it reads or sets the time.
NativeFile OpenNativeForReading(const char* path) {
    NativeFile file;
    const NativeText native = NativePath(path);
    if (native.empty()) return file;
    const HANDLE handle = ::CreateFileA(native.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    file.value = reinterpret_cast<intptr_t>(handle);  // INVALID_HANDLE_VALUE is -1
    return file;
}

NativeFile OpenNativeForWriting(const char* path) {
    NativeFile file;
    const NativeText native = NativePath(path);
    if (native.empty()) return file;
    const HANDLE handle = ::CreateFileA(native.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    file.value = reinterpret_cast<intptr_t>(handle);
    return file;
}

bool CloseNative(NativeFile& file) {
    if (!file.IsOpen()) return false;
    const bool closed = ::CloseHandle(HandleOf(file)) != 0;
    file.value = -1;
    return closed;
}

bool GetLastWriteTime(NativeFile& file, uint64_t* utc_time) {
    FILETIME write;
    if (!file.IsOpen() || !::GetFileTime(HandleOf(file), nullptr, nullptr, &write)) return false;
    *utc_time = FromFileTime(write);
    return true;
}

bool SetLastWriteTime(NativeFile& file, uint64_t utc_time) {
    if (!file.IsOpen()) return false;
    const FILETIME write = ToFileTime(utc_time);
    return ::SetFileTime(HandleOf(file), nullptr, nullptr, &write) != 0;
}


bool GetModificationTime(const char* path, int64_t* seconds, uint32_t* nanoseconds) {
    NativeFile file = OpenNativeForReading(path);
    uint64_t utc = 0;
    const bool got = GetLastWriteTime(file, &utc);
    CloseNative(file);
    if (!got) return false;
    const int64_t since_1970 = static_cast<int64_t>(utc) - kUnixEpochInFileTime;
    int64_t whole = since_1970 / 10000000;
    int64_t rest = since_1970 % 10000000;
    if (rest < 0) {
        rest += 10000000;
        --whole;
    }
    *seconds = whole;
    *nanoseconds = static_cast<uint32_t>(rest * 100);
    return true;
}

bool SetModificationTime(const char* path, int64_t seconds, uint32_t nanoseconds) {
    // A FILETIME counts from 1601 in 100-nanosecond units: earlier or far later times
    // cannot be set.
    constexpr int64_t kLowest = -kUnixEpochInFileTime / 10000000;
    if (nanoseconds >= 1000000000u || seconds < kLowest || seconds > (INT64_MAX - kUnixEpochInFileTime) / 10000000) {
        return false;
    }
    NativeFile file = OpenNativeForWriting(path);
    const uint64_t utc = static_cast<uint64_t>(seconds * 10000000 + kUnixEpochInFileTime + nanoseconds / 100);
    const bool set = SetLastWriteTime(file, utc);
    CloseNative(file);
    return set;
}

bool GetPermissions(const char*, uint32_t*) { return false; }

bool SetPermissions(const char*, uint32_t) { return true; }

bool ReadSymbolicLink(const char*, std::string*, int64_t*, uint32_t*) { return false; }

bool MakeSymbolicLink(const char*, const char*) { return false; }

bool UtcTimeToDosStamp(uint64_t utc_time, uint32_t* stamp) {
    const FILETIME utc = ToFileTime(utc_time);
    FILETIME local;
    WORD date = 0;
    WORD time = 0;
    if (!::FileTimeToLocalFileTime(&utc, &local) || !::FileTimeToDosDateTime(&local, &date, &time)) return false;
    *stamp = (static_cast<uint32_t>(date) << 16) | time;
    return true;
}

bool DosStampToUtcTime(uint32_t stamp, uint64_t* utc_time) {
    const auto date = static_cast<WORD>(stamp >> 16);
    const auto time = static_cast<WORD>(stamp & 0xFFFF);
    // Not every system checks the fields; a month 0 or a 25th hour is no time.
    const unsigned month = (date >> 5) & 0x0F;
    const unsigned day = date & 0x1F;
    const unsigned hour = (time >> 11) & 0x1F;
    const unsigned minute = (time >> 5) & 0x3F;
    const unsigned seconds = (time & 0x1F) * 2;
    if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || seconds > 59) return false;
    FILETIME local;
    if (!::DosDateTimeToFileTime(date, time, &local)) return false;
    FILETIME utc;
    // A failed conversion to UTC keeps the local time.
    if (!::LocalFileTimeToFileTime(&local, &utc)) utc = local;
    *utc_time = FromFileTime(utc);
    return true;
}

uint32_t CurrentDosStamp() {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    FILETIME local;
    WORD date = 0;
    WORD time = 0;
    if (!::SystemTimeToFileTime(&now, &local) || !::FileTimeToDosDateTime(&local, &date, &time)) return 0;
    return (static_cast<uint32_t>(date) << 16) | time;
}

// ---- Lookup ----------------------------------------------------------------------

bool FindOne(const char* path, HedgerowFindData* record) {
    NativeText native = NativePath(path);
    if (native.empty() || std::strpbrk(native.c_str(), "*?") != nullptr) return false;
    // The search takes no trailing separator ("C:\dir\" names nothing).
    DropTrailingSeparators(native, true);
    const HANDLE search = ::FindFirstFileA(native.c_str(), record);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    return true;
}

// ---- Environment -----------------------------------------------------------------

size_t TempDirectory(char* buffer, size_t capacity) {
    if (capacity == 0) return 0;
    const DWORD length = ::GetTempPathA(static_cast<DWORD>(capacity), buffer);
    if (length == 0 || length >= capacity) return 0;
    if (!IsSeparator(buffer[length - 1])) {
        if (length + 2 > capacity) return 0;
        buffer[length] = '\\';
        buffer[length + 1] = '\0';
        return IsDirectory(buffer) ? length + 1 : 0;
    }
    return IsDirectory(buffer) ? length : 0;
}

size_t OwnModulePath(char* buffer, size_t capacity) {
#ifdef HEDGEROW_COMPACT
    // The compact build (the self-extractor program) is a program, not a loaded library,
    // and loads no modules (see LoadModule).
    (void)buffer;
    (void)capacity;
    return 0;
#else
    HMODULE module = nullptr;
    if (capacity == 0 || !::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                                    GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                                reinterpret_cast<LPCSTR>(&OwnModulePath), &module)) {
        return 0;
    }
    const DWORD length = ::GetModuleFileNameA(module, buffer, static_cast<DWORD>(capacity));
    // A name that does not fit comes back cut, with the full capacity as its length.
    if (length == 0 || length >= capacity) return 0;
    return length;
#endif
}

size_t OwnProgramPath(char* buffer, size_t capacity) {
    if (capacity == 0) return 0;
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer, static_cast<DWORD>(capacity));
    if (length == 0 || length >= capacity) return 0;
    return length;
}

uint32_t CalendarSeconds() { return static_cast<uint32_t>(std::time(nullptr)); }

uint32_t RandomNumber() {
    // rand_s draws from the system's random source (msvcrt.dll has it on every version we
    // run on), so that no further system library is needed.
    unsigned int value = 0;
    if (rand_s(&value) == 0) return value;
    LARGE_INTEGER counter {};
    ::QueryPerformanceCounter(&counter);
    return static_cast<uint32_t>(counter.QuadPart) ^ (static_cast<uint32_t>(::GetCurrentProcessId()) << 16);
}

uint32_t MillisecondsSinceStart() { return static_cast<uint32_t>(::GetTickCount() - StartTick()); }

// ---- Randomness ------------------------------------------------------------------

bool RandomBytes(void* buffer, size_t n) {
#ifdef HEDGEROW_COMPACT
    // The compact build (the self-extractor program, which reads legacy archives only)
    // imports nothing beyond KERNEL32 and the C run-time.
    (void)buffer;
    return n == 0;
#else
    auto* out = static_cast<uint8_t*>(buffer);
    while (n > 0) {
        const ULONG piece = n > 0x10000000u ? 0x10000000u : static_cast<ULONG>(n);
        if (::BCryptGenRandom(nullptr, out, piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0) return false;  // NTSTATUS: < 0 fails
        out += piece;
        n -= piece;
    }
    return true;
#endif
}

// ---- Terminal ----------------------------------------------------------------------

bool ReadSecret(const char* prompt, char* buffer, size_t capacity) {
    if (capacity == 0) return false;
    buffer[0] = '\0';
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    size_t n = 0;
    for (int c; (c = _getch()) != '\r' && c != '\n' && c != 3 && c != EOF;) {
        if (c == '\b') {
            if (n > 0) --n;
        } else if (n + 1 < capacity) {
            buffer[n++] = static_cast<char>(c);
        }
    }
    buffer[n] = '\0';
    std::fputs("\n", stderr);
    return n > 0;
}

char NativeSeparator() { return '\\'; }

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
    return reinterpret_cast<void*>(::LoadLibraryA(native.c_str()));
}

void* FindSymbol(void* module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void FreeModule(void* module) {
    if (module) ::FreeLibrary(static_cast<HMODULE>(module));
}
#endif

// ---- Code pages ------------------------------------------------------------------

bool AnsiIsUtf8() { return ::GetACP() == CP_UTF8; }

namespace {

std::string Convert(const char* text, UINT from, UINT to) {
    if (text == nullptr || *text == '\0') return std::string();
    const int wide_length = ::MultiByteToWideChar(from, 0, text, -1, nullptr, 0);
    if (wide_length <= 0) return std::string();
    std::wstring wide(static_cast<size_t>(wide_length), L'\0');
    ::MultiByteToWideChar(from, 0, text, -1, wide.data(), wide_length);
    const int length = ::WideCharToMultiByte(to, 0, wide.c_str(), -1, nullptr, 0, to == CP_UTF8 ? nullptr : "?", nullptr);
    if (length <= 0) return std::string();
    std::string out(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(to, 0, wide.c_str(), -1, out.data(), length, to == CP_UTF8 ? nullptr : "?", nullptr);
    out.resize(static_cast<size_t>(length - 1));
    return out;
}

}  // namespace

std::string AnsiToUtf8(const char* text) { return Convert(text, CP_ACP, CP_UTF8); }
std::string Utf8ToAnsi(const char* text) { return Convert(text, CP_UTF8, CP_ACP); }

bool Utf8ToAnsiName(const char* text, char* out, size_t capacity) {
    if (capacity == 0) return false;
    out[0] = '\0';
    if (text == nullptr || *text == '\0') return true;
    wchar_t wide[512];
    const int units = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 512);
    if (units <= 0) return false;
    // Whole characters only: drop trailing UTF-16 units until the rest fits.
    for (int keep = units - 1; keep >= 0; --keep) {
        if (keep > 0 && wide[keep - 1] >= 0xD800 && wide[keep - 1] <= 0xDBFF) continue;
        const int written = ::WideCharToMultiByte(CP_ACP, 0, wide, keep, out, static_cast<int>(capacity - 1), "?", nullptr);
        if (written > 0 || keep == 0) {
            out[written > 0 ? written : 0] = '\0';
            return keep == units - 1;
        }
    }
    return false;
}

bool AnsiToOem(const char* text, char* out, size_t capacity) {
    return ConvertName(text, out, capacity, ::GetACP(), ::GetOEMCP());
}

bool OemToAnsi(const char* text, char* out, size_t capacity) {
    return ConvertName(text, out, capacity, ::GetOEMCP(), ::GetACP());
}

}  // namespace hedgerow::platform
