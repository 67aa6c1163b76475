// replace_query.cpp -- time stamps, attributes and the replace queries.
#include "names/replace_query.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "names/short_string.h"

namespace hedgerow::names {

namespace {

constexpr uint64_t kUnixEpochInFileTime = 116444736000000000;
constexpr uint32_t kFirstDosStamp = 0x00210000;  // 1 January 1980, 00:00:00
constexpr uint32_t kLastDosStamp = 0xFF9FBF7D;   // 31 December 2107, 23:59:58

// The DOS stamp of a file time, clamped to the years a stamp holds: a time before 1980
// takes the first stamp, one after 2107 the last (the exact time lives elsewhere).
uint32_t ClampedStamp(uint64_t utc) {
    uint32_t dos = 0;
    if (platform::UtcTimeToDosStamp(utc, &dos)) return dos;
    constexpr uint64_t kYear2044 = kUnixEpochInFileTime + 2335219200ull * 10000000ull;  // the middle of the range
    return utc < kYear2044 ? kFirstDosStamp : kLastDosStamp;
}

}  // namespace

bool GetFileStamp(platform::NativeFile& file, uint32_t* stamp) {
    uint64_t utc = 0;
    uint32_t dos = 0;
    if (!platform::GetLastWriteTime(file, &utc) || !platform::UtcTimeToDosStamp(utc, &dos)) return false;
    *stamp = dos;
    return true;
}

uint32_t DosStampOf(int64_t seconds) {
    // File times count from 1601 and are unsigned: earlier times take the first stamp.
    constexpr int64_t kFileTimeStart = -11644473600;
    if (seconds < kFileTimeStart) return kFirstDosStamp;
    if (seconds > INT64_MAX / 10000000 - 11644473600) return kLastDosStamp;
    return ClampedStamp(static_cast<uint64_t>(seconds + 11644473600) * 10000000ull);
}

bool SetFileStamp(platform::NativeFile& file, uint32_t stamp) {
    uint64_t utc = 0;
    return platform::DosStampToUtcTime(stamp, &utc) && platform::SetLastWriteTime(file, utc);
}

void EntryFindData(const HidFileEntry& entry, HedgerowFindData* record) {
    std::memset(record, 0, sizeof *record);
    record->dwFileAttributes = entry.attributes;
    uint64_t utc = 0;
    (void)platform::DosStampToUtcTime(entry.date_time, &utc);
    const auto low = static_cast<uint32_t>(utc);
    const auto high = static_cast<uint32_t>(utc >> 32);
    record->ftCreationTime.dwLowDateTime = low;
    record->ftCreationTime.dwHighDateTime = high;
    record->ftLastAccessTime.dwLowDateTime = low;
    record->ftLastAccessTime.dwHighDateTime = high;
    record->ftLastWriteTime.dwLowDateTime = low;
    record->ftLastWriteTime.dwHighDateTime = high;
    record->nFileSizeHigh = 0;
    record->nFileSizeLow = entry.unpacked_size;
    std::strncpy(record->cFileName, entry.name, sizeof record->cFileName - 1);
}

int32_t AskReplaceOnExtract(Session& session, const HidFileEntry& entry, const char* path) {
    HedgerowFindData disk {};
    if (!platform::FindOne(path, &disk)) return 0;
    const auto& slot = session.callbacks.ok_to_replace;
    if (slot.proc == nullptr) return 0;
    HedgerowFindData candidate {};
    EntryFindData(entry, &candidate);
    return slot.proc(slot.user, &disk, &candidate);
}

int32_t AskReplaceOnUpdate(Session& session, const HidFileEntry& entry, const char* name) {
    std::string disk_path = name;
    const size_t relative_length = std::strlen(session.relative_path);
    if (relative_length > 0 && relative_length < disk_path.size()) {
        disk_path.erase(0, std::min(disk_path.size(), relative_length + 1));
    }
    if (session.input_path[0] != '\0' && !OptionOn(session, kOptNamesOnly)) {
        disk_path.insert(0, session.input_path);
    }
    HedgerowFindData disk {};
    if (!platform::FindOne(disk_path.c_str(), &disk)) return 0;
    const auto& slot = session.callbacks.ok_to_replace;
    if (slot.proc == nullptr) return 0;
    HedgerowFindData stored {};
    EntryFindData(entry, &stored);
    return slot.proc(slot.user, &stored, &disk);
}

}  // namespace hedgerow::names
