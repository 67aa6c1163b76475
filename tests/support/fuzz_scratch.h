// fuzz_scratch.h -- a scratch folder for fuzz targets that need files: in memory (/dev/shm)
// where there is one, made once per process and emptied between inputs.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace hedgerow::testing {

inline const std::filesystem::path& FuzzScratch() {
    static const std::filesystem::path dir = [] {
        std::filesystem::path base = std::filesystem::exists("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
        std::filesystem::path made = base / ("hedgerow-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(made);
        return made;
    }();
    return dir;
}

// Empties the scratch folder, making read-only files removable first.
inline void ClearFuzzScratch() {
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(FuzzScratch(), ignored)) {
        std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(entry.path(), ignored);
    }
}

inline void WriteScratchFile(const std::filesystem::path& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace hedgerow::testing
