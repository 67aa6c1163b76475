// control.h -- the options word and the three paths, on a given session.
#pragma once

#include <cstdint>

#include "frame/session.h"

namespace hedgerow {

uint16_t OptionsOn(Session& session, uint16_t bits);
uint16_t OptionsOff(Session& session, uint16_t bits);
bool OptionsAreOn(const Session& session, uint16_t bits);

// Each copies the path as the setter's rule says. A path that does not fit its buffer
// leaves the path empty and marked refused, and sets kNameTooLong.
void SetOutputPath(Session& session, const char* path);
void SetInputPath(Session& session, const char* path);
void SetRelativePath(Session& session, const char* path);

// The callback procedures that opening an archive clears: all but the header password.
void ClearCallbackProcedures(Session& session);

}  // namespace hedgerow
