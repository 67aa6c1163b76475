// cli_fixture.h -- a scratch directory with a small tree of files, and short ways to run
// the hedgerow command in it and read its JSON listing; on POSIX systems and on Windows.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include "support/command_win32.h"
#else
#include "support/command_posix.h"
#endif
#include "support/temp_dir.h"

namespace hedgerow::testing {

#ifdef _WIN32
inline constexpr bool kWindows = true;
#else
inline constexpr bool kWindows = false;
#endif

inline std::vector<uint8_t> NoiseBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

// Seconds since 1970 (UTC) of a calendar time.
inline time_t UtcTime(int year, int month, int day, int hour = 12, int minute = 0, int second = 0) {
    using namespace std::chrono;
    const sys_seconds when = sys_days {std::chrono::year {year} / month / day} + hours {hour} + minutes {minute} +
                             seconds {second};
    return static_cast<time_t>(when.time_since_epoch().count());
}

inline void SetModified(const std::string& path, time_t when) {
    using namespace std::chrono;
    std::error_code ignored;
    std::filesystem::last_write_time(path, file_clock::from_sys(sys_seconds {seconds {when}}), ignored);
}

inline time_t Modified(const std::string& path) {
    using namespace std::chrono;
    std::error_code error;
    const auto stamp = std::filesystem::last_write_time(path, error);
    if (error) return 0;
    return static_cast<time_t>(floor<seconds>(file_clock::to_sys(stamp)).time_since_epoch().count());
}

class CliTest : public ::testing::Test {
protected:
    TempDir dir;
    Environment password {{"HEDGEROW_PASSWORD", "hedge pass"}};

    std::string At(const std::string& name) const { return dir / name; }

    CommandResult Run(const std::vector<std::string>& args) const { return RunCommand(args, dir.path(), password); }
    CommandResult Run(const std::vector<std::string>& args, const Environment& env) const {
        return RunCommand(args, dir.path(), env);
    }

    // in/a.txt, in/c.txt, in/sub/b.bin (incompressible) and in/sub/deeper/empty.txt.
    void MakeTree() {
        WriteFile(At("in/a.txt"), std::string(3000, 'a') + "hedgerow\n");
        WriteFile(At("in/c.txt"), "sparrow\n");
        WriteFile(At("in/sub/b.bin"), NoiseBytes(5000, 3));
        WriteFile(At("in/sub/deeper/empty.txt"), std::string());
    }

    static std::vector<std::string> TreeNames() {
        return {"in/a.txt", "in/c.txt", "in/sub/b.bin", "in/sub/deeper/empty.txt"};
    }

    // The archive's listing as JSON; empty with a failure recorded when `l` fails.
    nlohmann::json List(const std::string& archive, const Environment& env) const {
        const CommandResult r = Run({"l", "--json", archive}, env);
        EXPECT_EQ(r.exit_code, 0) << r.err;
        if (r.exit_code != 0) return {};
        return nlohmann::json::parse(r.out);
    }
    nlohmann::json List(const std::string& archive) const { return List(archive, password); }

    std::vector<std::string> Names(const std::string& archive, const Environment& env) const {
        std::vector<std::string> names;
        const nlohmann::json listing = List(archive, env);
        if (listing.contains("entries")) {
            for (const auto& entry : listing["entries"]) names.push_back(entry["name"].get<std::string>());
        }
        return names;
    }
    std::vector<std::string> Names(const std::string& archive) const { return Names(archive, password); }

    // Files below a directory, relative to it, sorted.
    std::vector<std::string> FilesBelow(const std::string& path) const {
        std::vector<std::string> files;
        std::error_code ignored;
        for (auto it = std::filesystem::recursive_directory_iterator(path, ignored);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_regular_file()) files.push_back(std::filesystem::relative(it->path(), path).generic_string());
        }
        std::sort(files.begin(), files.end());
        return files;
    }
};

}  // namespace hedgerow::testing
