// settings_extension.h -- the one reader of the extension block in the settings' reserved
// bytes (HidFileExtension in hedgerow.h): recognised by its tag and the tag's complement,
// so that bytes a host never set give the defaults.
#pragma once

#include <cstdint>

#include "archive/archive_state.h"
#include "common/session.h"
#include "hedgerow.h"

namespace hedgerow::archive {

// Puts the compression level (0 to 9, 0 meaning stored), the worker count (0: one per
// online core) and a new strong archive's Argon2id parameters (0: each one's default) of
// the settings into the archive state: the defaults unless the block carries the tag. False (kBadSettings, the state left at the defaults) when a
// tagged block holds a value out of range.
[[nodiscard]] bool TakeSettingsExtension(Session& session, ArchiveState& a, const HidFileSettings& settings);

}  // namespace hedgerow::archive
