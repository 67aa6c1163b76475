// temp_env_win32_test.cpp -- the Windows half of the hiding tests' host (support/hide_host.h):
// the platform layer asks GetTempPathA, which looks at TMP first. No tests of its own.
#include <cstdlib>

#include "support/hide_host.h"

namespace hedgerow::testing {

TempDirectoryOverride OverrideTempDirectory(const std::string& dir) {
    TempDirectoryOverride saved;
    if (const char* old = std::getenv("TMP")) {
        saved.had_value = true;
        saved.old_value = old;
    }
    ::_putenv_s("TMP", dir.c_str());
    return saved;
}

void RestoreTempDirectory(const TempDirectoryOverride& saved) {
    // An empty value removes the variable.
    ::_putenv_s("TMP", saved.had_value ? saved.old_value.c_str() : "");
}

}  // namespace hedgerow::testing
