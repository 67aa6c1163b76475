// entry_text.cpp -- formatting of entry fields and the --update time comparison.
#include "entry_text.h"

#include <array>
#include <ctime>
#include <cstdio>

namespace hedgerow::cli {

namespace {

struct CipherNameRow {
    int32_t id;
    const char* name;
};
constexpr std::array<CipherNameRow, 5> kCipherNames {{
    {kCipherNone, "none"},
    {kCipherDes, "des"},
    {kCipherTripleDes, "3des"},
    {kCipherIdea, "idea"},
    {kCipherChacha, "chacha"},
}};

// File times count 100-nanosecond steps; archive stamps keep every second second.
constexpr uint64_t kTwoSeconds = 20'000'000;

uint64_t LastWrite(const HedgerowFindData& data) {
    return (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
}

}  // namespace

const char* CipherName(int32_t cipher_id) {
    for (const CipherNameRow& row : kCipherNames) {
        if (row.id == cipher_id) return row.name;
    }
    return "damaged";
}

bool IsKnownCipher(int32_t cipher_id) { return CipherIdFromName(CipherName(cipher_id)).has_value(); }

std::optional<int32_t> CipherIdFromName(std::string_view name) {
    for (const CipherNameRow& row : kCipherNames) {
        if (name == row.name) return row.id;
    }
    return std::nullopt;
}

std::string FormatDosStamp(uint32_t date_time, bool iso) {
    const uint32_t time = date_time & 0xFFFFu;
    const uint32_t date = date_time >> 16;
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u%c%02u:%02u:%02u", 1980 + (date >> 9), (date >> 5) & 15u,
                  date & 31u, iso ? 'T' : ' ', time >> 11, (time >> 5) & 63u, (time & 31u) * 2);
    return text;
}

std::string FormatEntryTime(const HidFileEntry& entry, bool iso) {
    if ((entry.metadata_flags & HEDGEROW_META_KEPT) == 0) return FormatDosStamp(entry.date_time, iso);
    const auto seconds = static_cast<int64_t>(static_cast<uint64_t>(entry.mtime_low) |
                                              (static_cast<uint64_t>(entry.mtime_high) << 32));
    const auto t = static_cast<std::time_t>(seconds);
    // (the command's one thread: the shared buffer of localtime is safe here)
    const std::tm* local = static_cast<int64_t>(t) == seconds ? std::localtime(&t) : nullptr;
    char text[40];
    if (local == nullptr || std::strftime(text, sizeof text, iso ? "%Y-%m-%dT%H:%M:%S" : "%Y-%m-%d %H:%M:%S", local) == 0) {
        return FormatDosStamp(entry.date_time, iso);
    }
    return text;
}

std::string AttributeLetters(uint32_t attributes) {
    std::string letters = "----";
    if (attributes & 0x01u) letters[0] = 'R';
    if (attributes & 0x02u) letters[1] = 'H';
    if (attributes & 0x04u) letters[2] = 'S';
    if (attributes & 0x20u) letters[3] = 'A';
    return letters;
}

std::string FormatBytes(uint64_t bytes) {
    static constexpr std::array<const char*, 5> kUnits {"B", "KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < kUnits.size()) {
        value /= 1024.0;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
    return text;
}

std::string FormatRatio(uint64_t packed, uint64_t size) {
    if (size == 0) return "-";
    return std::to_string((packed * 100 + size / 2) / size) + "%";
}

bool IsNewer(const HedgerowFindData& candidate, const HedgerowFindData& current) {
    return LastWrite(candidate) / kTwoSeconds > LastWrite(current) / kTwoSeconds;
}

}  // namespace hedgerow::cli
