// temp_names.cpp -- temporary names and the files under them.
#include "archive/temp_names.h"

#include <cstring>
#include <utility>

#include "names/paths.h"

namespace hedgerow::archive {

namespace {

constexpr uint32_t kShortNames = 32768;  // numbers 0 to 32767: one to five digits
constexpr int kLongAttempts = 256;       // random sixteen-digit numbers tried after them
constexpr uint64_t kLongNames = 10'000'000'000'000'000ull;

// "<number>.$HW" into out (at least kTempPartCapacity bytes), the number written with at
// least min_digits digits (zeros in front); returns its length.
size_t NumberedName(uint64_t number, size_t min_digits, char* out) {
    char digits[20];
    size_t count = 0;
    do {
        digits[count++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0 || count < min_digits);
    for (size_t i = 0; i < count; ++i) out[i] = digits[count - 1 - i];
    std::memcpy(out + count, ".$HW", 5);
    return count + 4;
}

enum class Try { kClaimed, kTaken, kRefused };

// Tries to claim one candidate name (the digits and ".$HW") for a caller.
using TryName = Try (*)(void* caller, const char* name, size_t length);

// Offers candidate names to try_name in the order described in temp_names.h. (One
// function for every caller, not a template: the self-extracting program carries it.)
TempClaim ClaimFirstFree(TryName try_name, void* caller) {
    const uint32_t start = platform::RandomNumber() % kShortNames;
    char candidate[kTempPartCapacity];
    for (uint32_t i = 0; i < kShortNames + kLongAttempts; ++i) {
        size_t length = 0;
        if (i < kShortNames) {
            length = NumberedName((start + i) % kShortNames, 1, candidate);
        } else {
            // (the slight bias of the remainder does not matter for a name)
            const uint64_t number =
                ((static_cast<uint64_t>(platform::RandomNumber()) << 32) | platform::RandomNumber()) % kLongNames;
            length = NumberedName(number, 16, candidate);
        }
        switch (try_name(caller, candidate, length)) {
            case Try::kClaimed: return TempClaim::kClaimed;
            case Try::kTaken: continue;
            case Try::kRefused: return TempClaim::kFailed;
        }
    }
    return TempClaim::kExhausted;
}

struct BesideBase {
    const char* base;  // its first `directory` bytes are the directory
    size_t directory;
    char* out;
    platform::File* file;
};

Try TryBeside(void* caller, const char* name, size_t length) {
    auto& c = *static_cast<BesideBase*>(caller);
    char candidate[kTempNameCapacity];
    if (c.directory + length + 1 > kTempNameCapacity) return Try::kRefused;
    std::memcpy(candidate, c.base, c.directory);
    std::memcpy(candidate + c.directory, name, length + 1);
    if (platform::PathExists(candidate)) return Try::kTaken;
    platform::File created = platform::CreateExclusive(candidate);
    if (!created) {
        // Lost a race: try the next. Anything else: the directory is not writable.
        return platform::PathExists(candidate) ? Try::kTaken : Try::kRefused;
    }
    std::memcpy(c.out, candidate, c.directory + length + 1);
    if (c.file) {
        *c.file = std::move(created);
    } else if (!platform::Close(created)) {
        (void)platform::RemoveFile(candidate);
        return Try::kRefused;
    }
    return Try::kClaimed;
}

struct InDirectory {
    const platform::Directory& dir;
    char* name;
    platform::File* file;
};

Try TryIn(void* caller, const char* name, size_t length) {
    auto& c = *static_cast<InDirectory*>(caller);
    if (platform::KindAt(c.dir, name) != platform::EntryKind::kNone) return Try::kTaken;
    platform::File created = platform::CreateFileAt(c.dir, name);
    if (!created) return platform::KindAt(c.dir, name) != platform::EntryKind::kNone ? Try::kTaken : Try::kRefused;
    std::memcpy(c.name, name, length + 1);
    *c.file = std::move(created);
    return Try::kClaimed;
}

}  // namespace

TempClaim ClaimTempName(const char* base, char* out, platform::File* file) {
    // The base's drive and directory, as written: everything up to its last separator
    // (or up to the colon of a bare drive).
    const size_t base_length = std::strlen(base);
    size_t directory = base_length;
    while (directory > 0 && !names::IsSeparator(base[directory - 1])) --directory;
    if (directory == 0 && base_length >= 2 && base[1] == ':') directory = 2;
    BesideBase caller {base, directory, out, file};
    return ClaimFirstFree(TryBeside, &caller);
}

bool MakeTempName(const char* base, char* out, platform::File* file) {
    return ClaimTempName(base, out, file) == TempClaim::kClaimed;
}

TempClaim ClaimTempNameInTempDir(char* out, platform::File* file) {
    constexpr char kBaseName[] = "thicket.123";
    char base[320];
    size_t length = platform::TempDirectory(base, sizeof base - sizeof kBaseName - 1);
    if (length == 0) return TempClaim::kFailed;
    if (!names::IsSeparator(base[length - 1])) base[length++] = '\\';
    std::memcpy(base + length, kBaseName, sizeof kBaseName);
    return ClaimTempName(base, out, file);
}

bool MakeTempNameInTempDir(char* out, platform::File* file) {
    return ClaimTempNameInTempDir(out, file) == TempClaim::kClaimed;
}

TempClaim ClaimTempNameAt(const platform::Directory& dir, char name[kTempPartCapacity], platform::File* file) {
    InDirectory caller {dir, name, file};
    return ClaimFirstFree(TryIn, &caller);
}

Status ClaimFailure(TempClaim claim) { return claim == TempClaim::kExhausted ? Status::kNoTempFile : Status::kIoError; }

bool TempFile::Claim(Session& session, const char* base) {
    const TempClaim claim = ClaimTempName(base, name, &file);
    if (claim == TempClaim::kClaimed) return true;
    name[0] = '\0';
    return Fail(session, ClaimFailure(claim));
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

platform::Renamed TempFile::RenameToFreeName(const char* target) {
    const platform::Renamed renamed = platform::RenameToFreeName(name, target);
    if (renamed == platform::Renamed::kRenamed) {
        name[0] = '\0';
    } else {
        Discard();
    }
    return renamed;
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
