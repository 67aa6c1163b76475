// status_text.h -- what the command says about each status code of the library, and the
// exit code it ends with. One table, so that the README and the man page list the same.
#pragma once

#include <cstdint>
#include <span>

namespace hedgerow::cli {

// Exit codes of the command's own making (the library's codes follow in the table).
inline constexpr int kExitOk = 0;
inline constexpr int kExitHostError = 1;      // the command itself failed (unreadable password file, ...)
inline constexpr int kExitUsage = 2;          // wrong arguments
inline constexpr int kExitIncomplete = 3;     // finished, but some files were left out (see the warnings)
inline constexpr int kExitUnknownStatus = 40; // the library reported a code this command does not know

struct StatusInfo {
    uint16_t status;       // the library's status code
    const char* name;      // its name in hedgerow.h
    int exit_code;         // what the command exits with
    const char* sentence;  // one English sentence for the user
};

// Every status code the library publishes, in increasing order.
std::span<const StatusInfo> StatusTable();

// The sentence for a status code; a generic one for codes this command does not know.
const char* StatusSentence(uint16_t status);

// The exit code for a status code (kExitUnknownStatus for codes this command does not know).
int ExitCodeFor(uint16_t status);

}  // namespace hedgerow::cli
