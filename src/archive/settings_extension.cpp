// settings_extension.cpp -- TakeSettingsExtension (see settings_extension.h).
#include "archive/settings_extension.h"

#include <cstring>

namespace hedgerow::archive {

static_assert(sizeof(HidFileExtension) == sizeof(HidFileSettings::reserved1), "the block fills the reserved bytes");

bool TakeSettingsExtension(Session& session, ArchiveState& a, const HidFileSettings& settings) {
    a.level = kDefaultLevel;
    a.workers = 0;
    HidFileExtension block;
    std::memcpy(&block, settings.reserved1, sizeof block);
    if (block.tag != HEDGEROW_EXTENSION_TAG || block.tag_check != ~uint32_t{HEDGEROW_EXTENSION_TAG}) return true;
    const bool size_ok = block.size == 0 || block.size == sizeof block;
    const bool level_ok = block.level >= HEDGEROW_LEVEL_STORE && block.level <= kBestLevel;
    const bool workers_ok = block.workers >= 0 && block.workers <= HEDGEROW_MAX_WORKERS;
    if (!size_ok || !level_ok || !workers_ok) return Fail(session, Status::kBadSettings);
    if (block.level == HEDGEROW_LEVEL_STORE) {
        a.level = 0;
    } else if (block.level != HEDGEROW_LEVEL_DEFAULT) {
        a.level = block.level;
    }
    a.workers = block.workers;
    return true;
}

}  // namespace hedgerow::archive
