// temp_names.cpp -- temporary names and UNC paths.
#include "archive/temp_names.h"

#include <cstring>
#include <random>
#include <string>


namespace hedgerow::archive {

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsUnc(const char* path) { return IsSeparator(path[0]) && IsSeparator(path[1]); }

// Index of the next separator at or after from, or npos.
size_t NextSeparator(const std::string& s, size_t from) {
    for (size_t i = from; i < s.size(); ++i) {
        if (IsSeparator(s[i])) return i;
    }
    return std::string::npos;
}

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
    if (!IsSeparator(base.back())) base += '\\';
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

bool SplitUncPath(const char* path, char* rest, char* root) {
    const std::string s = path;
    root[0] = '\0';
    if (!IsUnc(path)) {
        std::memcpy(rest, path, s.size() + 1);
        return false;
    }
    const size_t server_end = NextSeparator(s, 2);
    const size_t share_end = server_end == std::string::npos ? std::string::npos : NextSeparator(s, server_end + 1);
    if (share_end == std::string::npos) {
        std::memcpy(root, path, s.size());
        root[s.size()] = '\\';
        root[s.size() + 1] = '\0';
        rest[0] = '\0';
        return true;
    }
    std::memcpy(root, path, share_end + 1);
    root[share_end + 1] = '\0';
    std::memcpy(rest, path + share_end + 1, s.size() - share_end);
    return true;
}

void StripUncPrefix(const char* path, char* out) {
    const std::string s = path;
    if (!IsUnc(path)) {
        std::memcpy(out, path, s.size() + 1);
        return;
    }
    const size_t server_end = NextSeparator(s, 2);
    if (server_end == std::string::npos) {
        std::memcpy(out, path + 2, s.size() - 1);
        return;
    }
    const size_t share_end = NextSeparator(s, server_end + 1);
    if (share_end == std::string::npos) {
        out[0] = '\0';
        return;
    }
    std::memcpy(out, path + share_end, s.size() - share_end + 1);
}

}  // namespace hedgerow::archive
