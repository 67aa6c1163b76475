// external_tools.h -- finding and running the independent programs (ImageMagick, sox)
// that some tests use to make carriers and to read them back. A missing program is a
// test failure with a message saying how to install it, never a silent skip.
#pragma once

#include <sys/stat.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace hedgerow::testing {

// The full path of an executable on PATH, or "" when there is none.
inline std::string FindOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        struct stat st {};
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111)) return candidate;
        start = end + 1;
    }
    return "";
}

// The programs missing from PATH, named with the Debian package that brings them.
inline std::string MissingTools(const std::vector<std::pair<std::string, std::string>>& programs_and_packages) {
    std::string missing;
    for (const auto& [program, package] : programs_and_packages) {
        if (FindOnPath(program).empty()) missing += " " + program + " (package " + package + ")";
    }
    return missing;
}

// Puts a path in single quotes for the shell.
inline std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

struct ToolRun {
    int exit_code = -1;
    std::string output;  // standard output and standard error together
};

// Runs a shell command and collects what it prints.
inline ToolRun RunTool(const std::string& command) {
    ToolRun run;
    std::FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return run;
    std::array<char, 4096> buffer {};
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.output.append(buffer.data(), got);
    const int status = ::pclose(pipe);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

}  // namespace hedgerow::testing
