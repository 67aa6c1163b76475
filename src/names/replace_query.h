// replace_query.h -- attributes and DOS time stamps of disk files, and the question the
// host is asked before extraction overwrites a file or an update replaces an entry.
#pragma once

#include <cstdint>

#include "common/session.h"
#include "hedgerow.h"
#include "platform/platform.h"

namespace hedgerow::names {

// Last-write time of an open file as a local DOS stamp; false (stamp untouched) when it
// cannot be read or has no DOS form.
[[nodiscard]] bool GetFileStamp(platform::NativeFile& file, uint32_t* stamp);
// The local DOS stamp of a time in seconds since 1970 (UTC), clamped to the years a
// stamp holds (1980 to 2107): earlier times take the first stamp, later ones the last.
uint32_t DosStampOf(int64_t seconds);
// Sets the last-write time from a local DOS stamp; false when that fails.
[[nodiscard]] bool SetFileStamp(platform::NativeFile& file, uint32_t stamp);

// The find-data record that stands for an archive entry: its attributes, its stamp as
// UTC in all three times, its unpacked size, its name.
void EntryFindData(const HidFileEntry& entry, HedgerowFindData* record);

// 0 replace, 1 keep what exists, 2 cancel; other answers of the host come back as they
// are. A path with nothing on it, or no registered procedure, answers 0. The existing
// file is only looked at: a read-only one is replaced all the same when the new file
// takes its name (platform::RenameAt), so its attributes need no change beforehand, and
// none is made by a name that could lead elsewhere.
int32_t AskReplaceOnExtract(Session& session, const HidFileEntry& entry, const char* path);
int32_t AskReplaceOnUpdate(Session& session, const HidFileEntry& entry, const char* name);

}  // namespace hedgerow::names
