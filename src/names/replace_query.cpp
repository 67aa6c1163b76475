// replace_query.cpp -- time stamps, attributes and the replace queries.
#include "names/replace_query.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "names/short_string.h"

namespace hedgerow::names {

bool GetFileStamp(platform::NativeFile& file, uint32_t* stamp) {
    uint64_t utc = 0;
    uint32_t dos = 0;
    if (!platform::GetLastWriteTime(file, &utc) || !platform::UtcTimeToDosStamp(utc, &dos)) return false;
    *stamp = dos;
    return true;
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
