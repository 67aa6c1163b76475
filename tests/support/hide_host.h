// hide_host.h -- a scratch directory and a library state of its own for hiding tests,
// with the temporary directory pointed into the scratch directory so that a test can see
// every file an operation leaves behind.
#pragma once

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "api/library_state.h"
#include "hide/hide_file.h"
#include "names/replace_query.h"
#include "platform/platform.h"
#include "support/temp_dir.h"
#include "support/test_call.h"

namespace hedgerow::testing {

// Points the system's temporary directory (as the platform layer finds it) at dir for
// this process, and back. The environment is set differently on each platform: see
// hide/temp_env_posix_test.cpp and hide/temp_env_win32_test.cpp.
struct TempDirectoryOverride {
    std::string old_value;
    bool had_value = false;
};
TempDirectoryOverride OverrideTempDirectory(const std::string& dir);
void RestoreTempDirectory(const TempDirectoryOverride& saved);

struct HideHost {
    TempDir dir;
    std::unique_ptr<LibraryState> st = std::make_unique<LibraryState>();
    TempDirectoryOverride saved;

    HideHost() {
        std::filesystem::create_directories(tmp());
        saved = OverrideTempDirectory(tmp());
    }
    ~HideHost() { RestoreTempDirectory(saved); }
    HideHost(const HideHost&) = delete;
    HideHost& operator=(const HideHost&) = delete;

    std::string tmp() const { return dir / "tmp"; }
    std::string operator/(const std::string& name) const { return dir / name; }

    hide::HideFigures short_of;  // the last Hide's, when the carrier was too small

    // Status and result of HideFile.
    uint16_t Hide(const std::string& carrier, const std::string& file, const char* password = "secret",
                  int32_t* result = nullptr, hide::PreparedForm form = hide::PreparedForm::kLegacy) {
        const auto call = HideCall(*st);
        const int32_t r = hide::HideFile(*call, (dir / carrier).c_str(), (dir / file).c_str(), password, form);
        short_of = call->hide.short_of;
        if (result) *result = r;
        return st->session.status;
    }
    // Unhides into the scratch directory (the output path) under output_name.
    uint16_t Unhide(const std::string& carrier, const std::string& output_name, const char* password = "secret") {
        const std::string out = dir.path() + "/";
        std::strncpy(st->session.output_path, out.c_str(), sizeof st->session.output_path - 1);
        hide::UnhideFile(*HideCall(*st), (dir / carrier).c_str(), output_name.c_str(), password);
        return st->session.status;
    }
    // Files in the scratch directory and its temporary directory, the latter marked.
    std::vector<std::string> Files() const {
        std::vector<std::string> names = ListDir(dir.path());
        for (const std::string& t : ListDir(tmp())) names.push_back("tmp/" + t);
        return names;
    }
};

inline uint32_t StampOf(const std::string& path) {
    platform::NativeFile f = platform::OpenNativeForReading(path.c_str());
    uint32_t stamp = 0;
    (void)names::GetFileStamp(f, &stamp);
    platform::CloseNative(f);
    return stamp;
}

inline void SetStamp(const std::string& path, uint32_t stamp) {
    platform::NativeFile f = platform::OpenNativeForWriting(path.c_str());
    (void)names::SetFileStamp(f, stamp);
    platform::CloseNative(f);
}

inline uint32_t AttributesOf(const std::string& path) {
    uint32_t a = 0;
    (void)platform::GetAttributes(path.c_str(), &a);
    return a;
}

}  // namespace hedgerow::testing
