// control.h -- the options word and the three paths, on a given session.
#pragma once

#include <cstdint>

#include "common/session.h"

namespace hedgerow {

uint16_t OptionsOn(Session& session, uint16_t bits);
uint16_t OptionsOff(Session& session, uint16_t bits);
bool OptionsAreOn(const Session& session, uint16_t bits);

// Each copies the path as the setter's rule says. A path that does not fit its buffer
// leaves the path empty and marked refused, and sets kNameTooLong.
void SetOutputPath(Session& session, const char* path);
void SetInputPath(Session& session, const char* path);
void SetRelativePath(Session& session, const char* path);

}  // namespace hedgerow
