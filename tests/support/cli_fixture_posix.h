// cli_fixture_posix.h -- a scratch directory with a small tree of files, and short ways
// to run the hedgerow command in it and read its JSON listing.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <string>
#include <vector>

#include "support/command_posix.h"
#include "support/temp_dir.h"

namespace hedgerow::testing {

inline std::vector<uint8_t> NoiseBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(n);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

// Seconds since 1970 (UTC) of a calendar time.
inline time_t UtcTime(int year, int month, int day, int hour = 12, int minute = 0, int second = 0) {
    std::tm t {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return ::timegm(&t);
}

inline void SetModified(const std::string& path, time_t when) {
    timespec times[2] = {{when, 0}, {when, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
}

inline time_t Modified(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mtime : 0;
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
