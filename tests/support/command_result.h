// command_result.h -- what a run of the hedgerow command under test gives back, and the
// environment it is run with; shared by the POSIX and Windows ways of running it.
#pragma once

#include <map>
#include <string>

#ifndef HEDGEROW_CLI_PATH
#error "HEDGEROW_CLI_PATH names the hedgerow command under test"
#endif

namespace hedgerow::testing {

struct CommandResult {
    int exit_code = -1;  // on POSIX systems 128 + signal number when a signal ended it
    bool timed_out = false;  // it ran past its time and was killed
    std::string out;
    std::string err;
};

using Environment = std::map<std::string, std::string>;

// The variables a command under test never inherits from the user's environment.
inline constexpr const char* kPasswordVariables[] = {"HEDGEROW_PASSWORD", "HEDGEROW_HEADER_PASSWORD",
                                                     "HEDGEROW_NEW_PASSWORD", "HEDGEROW_NEW_HEADER_PASSWORD"};

}  // namespace hedgerow::testing
