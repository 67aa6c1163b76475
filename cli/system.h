// system.h -- what the command needs from the operating system beyond the library: the
// terminal (prompts without echo, the progress line), interruption by Ctrl-C, and a
// private scratch directory. One implementation file per system.
#pragma once

#include <optional>
#include <string>

namespace hedgerow::cli {

// True when the user sits at a terminal that prompts can use: standard input is a
// terminal and the process has a controlling terminal.
bool CanPrompt();

// Writes the prompt to the terminal and reads one line from it (without its line end).
// Nothing when there is no terminal, at end of input, or when Ctrl-C ends the prompt.
std::optional<std::string> PromptLine(const std::string& prompt);

// The same with echo switched off, for passwords.
std::optional<std::string> PromptSecret(const std::string& prompt);

// True when standard error is a terminal (the progress line goes there).
bool StderrIsTerminal();

// Columns of the terminal on standard error; 80 when unknown.
int StderrColumns();

// Makes Ctrl-C (and SIGTERM, SIGHUP) set a flag instead of ending the process, so that a
// running operation can stop at its next safe point and leave nothing half done; a
// closed output pipe is ignored for the same reason.
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

// Why a file cannot be created at `path`, in the system's words ("Permission denied",
// "Not a directory"), found by looking at the nearest directory that exists on the way
// to it; empty when nothing stands in the way that can be seen from outside.
std::string WhyCannotCreate(const std::string& path);

// Overwrites a secret in memory before it is released.
void WipeSecret(std::string& secret);

}  // namespace hedgerow::cli
