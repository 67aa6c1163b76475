// temp_names.cpp -- temporary names and the files under them.
#include "archive/temp_names.h"

#include <cstring>
#include <random>
#include <string>

#include "names/paths.h"

namespace hedgerow::archive {

namespace {

constexpr int kNameSpace = 32768;  // numbers 0 to 32767: one to five digits

}  // namespace

bool MakeTempName(const char* base, char* out, platform::File* file) {
    // The base's drive and directory, as written: everything up to its last separator
    // (or up to the colon of a bare drive).
    const std::string base_text = base;
    size_t cut = base_text.find_last_of("\\/");
    if (cut == std::string::npos && base_text.size() >= 2 && base_text[1] == ':') cut = 1;
    const std::string directory = cut == std::string::npos ? std::string() : base_text.substr(0, cut + 1);
    // Candidates start at a random number and go up from there; creating the file
    // exclusively settles races with other writers, so nothing ever waits.
    std::random_device entropy;
    const int start = static_cast<int>(entropy() % kNameSpace);
    for (int i = 0; i < kNameSpace; ++i) {
        const std::string candidate = directory + std::to_string((start + i) % kNameSpace) + ".$HW";
        if (candidate.size() + 1 > kTempNameCapacity) return false;
        if (platform::PathExists(candidate.c_str())) continue;
        platform::File created = platform::CreateExclusive(candidate.c_str());
        if (!created) {
            if (platform::PathExists(candidate.c_str())) continue;  // lost a race: try the next
            return false;                                          // the directory is not writable
        }
        std::memcpy(out, candidate.c_str(), candidate.size() + 1);
        if (file) {
            *file = std::move(created);
        } else if (!platform::Close(created)) {
            (void)platform::RemoveFile(candidate.c_str());
            return false;
        }
        return true;
    }
    return false;
}

bool MakeTempNameInTempDir(char* out, platform::File* file) {
    char directory[320];
    if (platform::TempDirectory(directory, sizeof directory) == 0) return false;
    std::string base = directory;
    if (!names::IsSeparator(base.back())) base += '\\';
    base += "thicket.123";
    return MakeTempName(base.c_str(), out, file);
}

bool TempFile::Claim(const char* base) {
    if (MakeTempName(base, name, &file)) return true;
    name[0] = '\0';
    return false;
}

bool TempFile::Finish(bool sync) {
    const bool synced = !sync || platform::SyncToDisk(file.get());
    const bool closed = platform::Close(file);
    if (synced && closed) return true;
    Discard();
    return false;
}

bool TempFile::RenameTo(const char* target) {
    if (platform::RenamePath(name, target)) {
        name[0] = '\0';
        return true;
    }
    Discard();
    return false;
}

void TempFile::Discard() {
    file.reset();
    if (name[0] != '\0') {
        (void)platform::RemoveFile(name);
        name[0] = '\0';
    }
}

bool CompareBytes(const void* a, const void* b, size_t n) { return n == 0 || std::memcmp(a, b, n) == 0; }

}  // namespace hedgerow::archive
