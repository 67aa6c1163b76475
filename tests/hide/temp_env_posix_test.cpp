// temp_env_posix_test.cpp -- the POSIX half of the hiding tests' host (support/hide_host.h):
// the platform layer takes the temporary directory from TMPDIR. No tests of its own.
#include <cstdlib>

#include "support/hide_host.h"

namespace hedgerow::testing {

TempDirectoryOverride OverrideTempDirectory(const std::string& dir) {
    TempDirectoryOverride saved;
    if (const char* old = std::getenv("TMPDIR")) {
        saved.had_value = true;
        saved.old_value = old;
    }
    ::setenv("TMPDIR", dir.c_str(), 1);
    return saved;
}

void RestoreTempDirectory(const TempDirectoryOverride& saved) {
    if (saved.had_value) {
        ::setenv("TMPDIR", saved.old_value.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
}

}  // namespace hedgerow::testing
