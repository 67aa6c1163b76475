// settings_extension.cpp -- TakeSettingsExtension (see settings_extension.h).
#include "archive/settings_extension.h"

#include <cstring>

namespace hedgerow::archive {

static_assert(sizeof(HidFileExtension) == sizeof(HidFileSettings::reserved1), "the block fills the reserved bytes");

namespace {

// Argon2id's parameters: each zero (its default) or within the limits every reader of a
// strong archive accepts.
bool KdfInRange(const HidFileExtension& block) {
    const uint32_t lanes = block.kdf_lanes == 0 ? 1 : block.kdf_lanes;
    const bool memory_ok =
        block.kdf_memory_kib == 0 || (block.kdf_memory_kib >= 8 * lanes && block.kdf_memory_kib <= HEDGEROW_MAX_KDF_MEMORY_KIB);
    return memory_ok && block.kdf_passes <= 64 && block.kdf_lanes <= 64;
}

}  // namespace

bool TakeSettingsExtension(Session& session, ArchiveState& a, const HidFileSettings& settings) {
    a.level = kDefaultLevel;
    a.workers = 0;
    a.strong_argon2_memory_kib = a.strong_argon2_passes = a.strong_argon2_lanes = 0;
    HidFileExtension block;
    std::memcpy(&block, settings.reserved1, sizeof block);
    if (block.tag != HEDGEROW_EXTENSION_TAG || block.tag_check != ~uint32_t{HEDGEROW_EXTENSION_TAG}) return true;
    const bool size_ok = block.size == 0 || block.size == sizeof block;
    const bool level_ok = block.level >= HEDGEROW_LEVEL_STORE && block.level <= kBestLevel;
    const bool workers_ok = block.workers >= 0 && block.workers <= HEDGEROW_MAX_WORKERS;
    if (!size_ok || !level_ok || !workers_ok || !KdfInRange(block)) return Fail(session, Status::kBadSettings);
    if (block.level == HEDGEROW_LEVEL_STORE) {
        a.level = 0;
    } else if (block.level != HEDGEROW_LEVEL_DEFAULT) {
        a.level = block.level;
    }
    a.workers = block.workers;
    a.strong_argon2_memory_kib = block.kdf_memory_kib;
    a.strong_argon2_passes = block.kdf_passes;
    a.strong_argon2_lanes = block.kdf_lanes;
    return true;
}

}  // namespace hedgerow::archive
