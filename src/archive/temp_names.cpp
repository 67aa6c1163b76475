// temp_names.cpp -- temporary names and the files under them.
#include "archive/temp_names.h"

#include <cstring>
#include <utility>

#include "names/paths.h"

namespace hedgerow::archive {

namespace {

constexpr uint32_t kNameSpace = 32768;  // numbers 0 to 32767: one to five digits

// "<number>.$HW" into out (at least 16 bytes); returns its length.
size_t NumberedName(uint32_t number, char* out) {
    char digits[10];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    for (size_t i = 0; i < count; ++i) out[i] = digits[count - 1 - i];
    std::memcpy(out + count, ".$HW", 5);
    return count + 4;
}

}  // namespace

bool MakeTempName(const char* base, char* out, platform::File* file) {
    // The base's drive and directory, as written: everything up to its last separator
    // (or up to the colon of a bare drive).
    const size_t base_length = std::strlen(base);
    size_t directory = base_length;
    while (directory > 0 && !names::IsSeparator(base[directory - 1])) --directory;
    if (directory == 0 && base_length >= 2 && base[1] == ':') directory = 2;
    // Candidates start at a random number and go up from there; creating the file
    // exclusively settles races with other writers, so nothing ever waits.
    const uint32_t start = platform::RandomNumber() % kNameSpace;
    char candidate[kTempNameCapacity];
    for (uint32_t i = 0; i < kNameSpace; ++i) {
        char number[16];
        const size_t length = NumberedName((start + i) % kNameSpace, number);
        if (directory + length + 1 > kTempNameCapacity) return false;
        std::memcpy(candidate, base, directory);
        std::memcpy(candidate + directory, number, length + 1);
        if (platform::PathExists(candidate)) continue;
        platform::File created = platform::CreateExclusive(candidate);
        if (!created) {
            if (platform::PathExists(candidate)) continue;  // lost a race: try the next
            return false;                                  // the directory is not writable
        }
        std::memcpy(out, candidate, std::strlen(candidate) + 1);
        if (file) {
            *file = std::move(created);
        } else if (!platform::Close(created)) {
            (void)platform::RemoveFile(candidate);
            return false;
        }
        return true;
    }
    return false;
}

bool MakeTempNameInTempDir(char* out, platform::File* file) {
    constexpr char kBaseName[] = "thicket.123";
    char base[320];
    size_t length = platform::TempDirectory(base, sizeof base - sizeof kBaseName - 1);
    if (length == 0) return false;
    if (!names::IsSeparator(base[length - 1])) base[length++] = '\\';
    std::memcpy(base + length, kBaseName, sizeof kBaseName);
    return MakeTempName(base, out, file);
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
