// system.h -- what the command needs from the operating system beyond the library: its
// arguments, the terminal (prompts without echo, the progress line, text in the
// terminal's own encoding), interruption by Ctrl-C, and a private scratch directory.
// One implementation file per system: system_posix.cpp, system_win32.cpp.
#pragma once

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hedgerow::cli {

// The command's arguments in UTF-8 (on Windows read anew from the UTF-16 command line,
// since argv holds them in the ANSI code page, which loses what it cannot hold). Called
// once, first: on Windows it also switches standard output and error to plain bytes.
std::vector<std::string> CommandArguments(int argc, char** argv);

// A path from UTF-8 text, and back: the command's strings are UTF-8 on every system, but
// the file system library reads plain strings in the C run-time's code page on Windows.
inline std::filesystem::path PathOf(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string TextOf(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}
inline std::string GenericTextOf(const std::filesystem::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(text.begin(), text.end());
}

// The value of an environment variable in UTF-8 (on Windows read as UTF-16, so that a
// password outside ASCII is the same on every system); nothing when it is not set.
std::optional<std::string> EnvironmentText(const char* name);

// Writes UTF-8 text to standard output or standard error: to a console as UTF-16 (so
// that every character shows), to a pipe or file as the UTF-8 bytes.
void WriteText(std::FILE* stream, std::string_view utf8);

// True when the user sits at a terminal that prompts can use: standard input is a
// terminal and the process has a controlling terminal.
bool CanPrompt();

// Writes the prompt to the terminal and reads one line from it (without its line end).
// Nothing when there is no terminal, at end of input, or when Ctrl-C ends the prompt.
std::optional<std::string> PromptLine(const std::string& prompt);

// The same with echo switched off, for passwords.
std::optional<std::string> PromptSecret(const std::string& prompt);

// True when standard error is a terminal the progress line can be drawn on (it rewrites
// itself with the terminal's escape sequences; a Windows console older than Windows 10
// knows none and gets no progress line).
bool StderrIsTerminal();

// Columns of the terminal on standard error; 80 when unknown.
int StderrColumns();

// Makes Ctrl-C (and SIGTERM, SIGHUP; on Windows Ctrl-Break and closing the console) set
// a flag instead of ending the process, so that a running operation can stop at its next
// safe point and leave nothing half done; a closed output pipe is ignored for the same
// reason.
void CatchInterrupts();

// True once an interrupt has arrived.
bool Interrupted();

// How reading the first line of a password file went.
enum class FirstLine {
    kRead,         // the line is there, without its line end
    kUnreadable,   // the file cannot be opened or read
    kNotAFile,     // neither a regular file nor a pipe (a device, a directory, ...)
    kTooLong,      // no line end within the limit
    kHasNul,       // a NUL byte inside the line
    kInterrupted,  // Ctrl-C while waiting for a pipe
};
// Reads the first line of a regular file or a named pipe, at most `limit` bytes of it (a
// lone carriage return before the line end dropped), and nothing past what it needs:
// a pipe that never ends, or a device such as /dev/zero, cannot make it read on.
FirstLine ReadFirstLine(const std::string& path, size_t limit, std::string& line);

// A new private directory under the system's temporary directory; empty on failure.
std::string MakeScratchDirectory();

// A path the library reports (its separator is '\\') as the system names it.
std::string NativePath(const std::string& library_path);

// Why nothing can be created in an existing directory, in the system's words
// ("Permission denied"); empty when nothing stands in the way that can be seen from
// outside.
std::string WhyCannotWriteInto(const std::filesystem::path& directory);

// Why a file cannot be created at `path`, in the system's words ("Permission denied",
// "Not a directory"), found by looking at the nearest directory that exists on the way
// to it; empty when nothing stands in the way that can be seen from outside.
inline std::string WhyCannotCreate(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path parent = PathOf(path).parent_path();
    if (parent.empty()) parent = ".";
    for (;;) {
        std::error_code error;
        const fs::file_status status = fs::status(parent, error);
        if (fs::exists(status)) return fs::is_directory(status) ? WhyCannotWriteInto(parent) : std::strerror(ENOTDIR);
        if (!parent.has_parent_path() || parent.parent_path() == parent) return {};
        parent = parent.parent_path();
    }
}

// Overwrites a secret in memory before it is released.
void WipeSecret(std::string& secret);

// The end of ReadFirstLine on every system: the line read whole, a carriage return before
// its line end dropped, refused when it holds a NUL byte.
inline FirstLine CompleteFirstLine(std::string& line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.find('\0') != std::string::npos) {
        WipeSecret(line);
        return FirstLine::kHasNul;
    }
    return FirstLine::kRead;
}

}  // namespace hedgerow::cli
